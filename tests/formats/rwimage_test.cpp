#include "formats/rwimage.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "engine/image.h"

namespace {

// A minimal format class to exercise the shared byte-level operations.
class ProbeRW : public vxRWImage {
 public:
  int Read(const char*, int*, vxBitmapInfoHeader**, vxRGBA**, unsigned char**, void*) override {
    return -2;
  }
  int Write(const char*, vxBitmapInfoHeader*, vxRGBA*, unsigned char*, void*) override { return 0; }
  int GetFileInfo(const char*, vxFileInfo*) override { return -2; }
};

TEST(ByteOperations, WordsAndLongsInBothByteOrders) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputc(0x34, f);
  std::fputc(0x12, f);
  ProbeRW rw;
  std::rewind(f);
  EXPECT_EQ(rw.ReadWord(f), 0x1234);
  rw.bigEndian = 1;
  std::rewind(f);
  EXPECT_EQ(rw.ReadWord(f), 0x3412);

  for (int order = 0; order < 2; ++order) {
    rw.bigEndian = order;
    std::rewind(f);
    rw.WriteLong(f, 0x36);
    rw.WriteLong(f, 0xA1B2C3D4);
    rw.WriteWord(f, 0xBEEF);
    std::rewind(f);
    EXPECT_EQ(rw.ReadLong(f), 0x36u);
    EXPECT_EQ(rw.ReadLong(f), 0xA1B2C3D4u);
    EXPECT_EQ(rw.ReadWord(f), 0xBEEF);
    EXPECT_EQ(rw.ReadByte(f), EOF);
  }
  std::fclose(f);
}

}  // namespace

// The vector path stores sixteen bytes for every five pixels: every length
// around its step must come out exact and write nothing past the last pixel.
TEST(ByteOperations, SwapRedBlueEveryLength) {
  for (size_t pixels = 0; pixels <= 40; ++pixels) {
    std::vector<unsigned char> in(3 * pixels);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(7 * i + 1);
    std::vector<unsigned char> out(3 * pixels + 16, 0xEE);
    vxSwapRedBlue(in.data(), out.data(), pixels);
    for (size_t p = 0; p < pixels; ++p) {
      ASSERT_EQ(out[3 * p], in[3 * p + 2]) << pixels;
      ASSERT_EQ(out[3 * p + 1], in[3 * p + 1]) << pixels;
      ASSERT_EQ(out[3 * p + 2], in[3 * p]) << pixels;
    }
    for (size_t i = 3 * pixels; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << pixels;
  }
}
