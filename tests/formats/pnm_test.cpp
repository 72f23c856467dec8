#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "engine/threads.h"
#include "format_util.h"
#include "formats/registry.h"

namespace {

using namespace format_test;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(PnmRead, AgreesWithNetpbmOnEveryVariant) {
  TempDir dir;
  const std::string crop = "pamcut -left 101 -top 57 -width 37 -height 23 ";
  Shell(crop + Quote(DataPath("chelsea.ppm")) + " > " + Quote(dir.File("odd.ppm")));
  Shell(crop + Quote(DataPath("camera.pgm")) + " > " + Quote(dir.File("odd.pgm")));
  // Maxima of 100 and 65535 (two-byte samples, most significant first).
  for (auto [from, depth, to] : {std::tuple{"odd.ppm", "100", "max100.ppm"},
                                 {"odd.ppm", "65535", "max65535.ppm"},
                                 {"odd.pgm", "1000", "max1000.pgm"},
                                 {"odd.pgm", "7", "max7.pgm"}}) {
    Shell(std::string("pamdepth ") + depth + " " + Quote(dir.File(from)) + " > " +
          Quote(dir.File(to)));
  }
  Shell("convert " + Quote(dir.File("odd.ppm")) + " -depth 16 " + Quote(dir.File("im16.ppm")));

  // Comments between every field, and a blank as the one separator after the
  // maximum value while the first sample is a line feed.
  const auto raw = ReadFileBytes(dir.File("odd.ppm"));
  const std::string head = "P6\n37 23\n255\n";
  ASSERT_EQ(std::string(raw.begin(), raw.begin() + head.size()), head);
  std::vector<uint8_t> samples(raw.begin() + head.size(), raw.end());
  WriteFileBytes(dir.File("comments.ppm"),
                 Concat(Bytes("P6 # colour\n# whole line 12 34\n37\n#w\n 23 #h\n255\n"), samples));
  samples[0] = '\n';
  WriteFileBytes(dir.File("blank.ppm"), Concat(Bytes("P6 37 23 255 "), samples));

  for (const char* name : {"odd.ppm", "odd.pgm", "max100.ppm", "max65535.ppm", "max1000.pgm",
                           "max7.pgm", "im16.ppm", "comments.ppm", "blank.ppm"}) {
    SCOPED_TRACE(name);
    ExpectLoadsLike(dir.File(name), "pamdepth 255 " + Quote(dir.File(name)), dir);
  }
  Picture blank;
  ASSERT_EQ(LoadPicture(dir.File("blank.ppm"), blank), 0);
  EXPECT_EQ(blank.rgb[0], '\n');

  // A minus sign is not a digit and is skipped; tabs and carriage returns
  // separate; the byte count is the sample bytes alone.
  WriteFileBytes(dir.File("minus.pgm"), Concat(Bytes("P5 -1 4\t15\r"), {0, 5, 10, 15}));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(dir.File("minus.pgm").c_str()), 0);
  EXPECT_EQ(image.Width(), 1);
  EXPECT_EQ(image.Height(), 4);
  EXPECT_EQ(image.loadedBytes, 4);
  // Sizes are reported by magic; the width is held in 16 bits.
  WriteFileBytes(dir.File("c.ppm"), Bytes("P6\n300 2\n255\n"));
  WriteFileBytes(dir.File("g.pgm"), Bytes("P5\n70000 3\n255\n"));
  EXPECT_EQ(InfoOf(dir.File("c.ppm")), "300 x 2, 24 bits, 13 bytes");
  EXPECT_EQ(InfoOf(dir.File("g.pgm")), Info(70000 & 0xFFFF, 3, 8, dir.File("g.pgm")));
}

TEST(PnmRead, RefusesBadHeadersAndClosesTheFile) {
  TempDir dir;
  const std::string path = dir.File("bad.pgm");
  const int before = OpenDescriptors();
  for (const std::string& text :
       {std::string("P5 2 2 0\n\x01\x02\x03\x04"), std::string("P5 0 2 255\n\x01\x02"),
        std::string("P6 2 2 70000\n"), std::string("P5 2 2"), std::string("P5 2 2 # open"),
        std::string("P5 2 2 255"), std::string("P5 99999999999 2 255\n"), std::string("P")}) {
    SCOPED_TRACE(text);
    WriteFileBytes(path, Bytes(text));
    Picture p;
    EXPECT_LT(LoadPicture(path, p), 0);
    EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
    std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(TypePGM));
    vxFileInfo info{};
    EXPECT_LT(rw->GetFileInfo(path.c_str(), &info), 0);
  }
  // A P6 file handed to the PGM class is not recognised either.
  WriteFileBytes(path, Bytes("P6 1 1 255\nabc"));
  EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PnmRead, AbsurdAndShortFiles) {
  TempDir dir;
  const std::string path = dir.File("huge.pgm");
  Picture p;
  WriteFileBytes(path, Bytes("P6 2147483647 2147483647 255\nabcd"));
  EXPECT_LT(LoadPicture(path, p), 0);
  // A small picture cut short is still shown.
  WriteFileBytes(path, Bytes("P5 100 100 255\nabcd"));
  ASSERT_EQ(LoadPicture(path, p), 0);
  EXPECT_EQ(p.rgb[0], 'a');
  EXPECT_EQ(p.rgb[3 * 4], 0);
}

// Pictures this large are read by halves on two threads when the process may
// use them; the odd sizes make the halves unequal and pad the rows in memory.
TEST(PnmRead, LargeFilesGiveTheSamePixelsOnOneThreadAndOnTwo) {
  TempDir dir;
  uint32_t state = 1;
  auto noise = [&](size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
  };
  const std::vector<uint8_t> colour = noise(size_t{2731} * 2049 * 3);
  const std::vector<uint8_t> grey = noise(size_t{4099} * 4097);
  WriteFileBytes(dir.File("big.ppm"), Concat(Bytes("P6 2731 2049 255\n"), colour));
  WriteFileBytes(dir.File("big.pgm"), Concat(Bytes("P5 4099 4097 255\n"), grey));
  std::vector<uint8_t> greyRgb(grey.size() * 3);
  for (size_t i = 0; i < grey.size(); ++i) std::memset(&greyRgb[3 * i], grey[i], 3);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    vxSetWorkerThreads(threads);
    Picture p;
    ASSERT_EQ(LoadPicture(dir.File("big.ppm"), p), 0);
    EXPECT_TRUE(p.rgb == colour);
    ASSERT_EQ(LoadPicture(dir.File("big.pgm"), p), 0);
    EXPECT_TRUE(p.rgb == greyRgb);
  }
  vxSetWorkerThreads(0);
}

TEST(PnmWrite, NetpbmReadsWhatWeWrite) {
  TempDir dir;
  for (int bitCount : {24, 8}) {
    vxScopedImage image;
    MakePattern(image, 37, 23, bitCount, 5);
    const std::string path = dir.File(bitCount == 24 ? "w.ppm" : "w.pgm");
    ASSERT_EQ(image.SaveImage(path.c_str(), bitCount == 24 ? TypePPM : TypePGM), 0);
    Picture theirs;
    ASSERT_TRUE(ToolPicture("pamdepth 255 " + Quote(path), dir, theirs));
    EXPECT_EQ(theirs.width, 37);
    EXPECT_EQ(theirs.rgb, TopDownRGB(image));
    const auto bytes = ReadFileBytes(path);
    const std::string head = bitCount == 24 ? "P6 37 23 255\n" : "P5 37 23 255\n";
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + head.size()), head);
  }
}

// Grey palettes other than the ramp are written by their grey levels, not
// their indices; indices beyond a short palette are black.
TEST(PnmWrite, GreyPalettesThatAreNotTheRamp) {
  TempDir dir;
  const std::string path = dir.File("t.pgm");
  vxScopedImage image;
  ASSERT_EQ(image.Create(3, 2, 8, 256), 1);
  const unsigned char top[3] = {1, 2, 3}, bottom[3] = {4, 5, 250};
  std::memcpy(image.Row(1), top, 3);
  std::memcpy(image.Row(0), bottom, 3);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i);
    image.palette[i] = vxRGBA{v, v, v, 0};
  }
  ASSERT_EQ(image.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 3 2 255\n"), {254, 253, 252, 251, 250, 5}));

  vxScopedImage grey64;
  ASSERT_EQ(grey64.Create(2, 1, 8, 64), 1);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(i * 4 + 3);
    grey64.palette[i] = vxRGBA{v, v, v, 0};
  }
  grey64.Row(0)[0] = 10;
  grey64.Row(0)[1] = 63;
  ASSERT_EQ(grey64.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 2 1 255\n"), {43, 255}));
}

}  // namespace
