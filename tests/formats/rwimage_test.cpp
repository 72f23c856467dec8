#include <gtest/gtest.h>

#include <cstdio>

#include "engine/image.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

namespace {

// A minimal format class to exercise the shared byte-level operations.
class ProbeRW : public vxRWImage {
 public:
  int Read(const char*, int*, vxBitmapInfoHeader**, vxRGBA**, unsigned char**, void*) override { return -2; }
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

TEST(ByteOperations, DefaultsOfAFreshObject) {
  ProbeRW rw;
  EXPECT_EQ(rw.bigEndian, 0);
  EXPECT_EQ(rw.status, 0);
  EXPECT_EQ(rw.InOptions(), nullptr);
  EXPECT_EQ(rw.OutOptions(), nullptr);
}

TEST(ByteOperations, CloseWrittenReportsFailedWrites) {
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::vector<char> data(1 << 16, 'x');
  std::fwrite(data.data(), 1, data.size(), full);
  EXPECT_EQ(vxCloseWritten(full), -1);

  testing_support::TempDir dir;
  FILE* ok = std::fopen(dir.File("ok").c_str(), "wb");
  std::fputs("fine", ok);
  EXPECT_EQ(vxCloseWritten(ok), 0);
}

}  // namespace
