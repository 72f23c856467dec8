// Portable maps: every form netpbm writes, headers made by hand, large
// files read on two threads, and netpbm reading what we write.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "engine/threads.h"
#include "format_util.h"

namespace {

using namespace format_test;

// Maxima of 100 to 65535 (two-byte samples, most significant first);
// comments between every field; a blank as the one separator after the
// maximum while the first sample is a line feed.
TEST(PnmRead, AgreesWithNetpbmOnEveryVariant) {
  TempDir dir;
  const std::string ppm = Crop(dir, "chelsea.ppm", 37, 23, 101, 57);
  const std::string pgm = Crop(dir, "camera.pgm", 37, 23, 101, 57);
  const std::string c = Quote(ppm), g = Quote(pgm);
  ExpectToolFilesLoadLike(dir,
                          {{"odd.ppm", "cat " + c},
                           {"max100.ppm", "pamdepth 100 " + c},
                           {"max65535.ppm", "pamdepth 65535 " + c},
                           {"im16.ppm", "convert " + c + " -depth 16 ppm:-"},
                           {"odd.pgm", "cat " + g},
                           {"max1000.pgm", "pamdepth 1000 " + g},
                           {"max7.pgm", "pamdepth 7 " + g}},
                          "pamdepth 255");

  const auto raw = ReadFileBytes(ppm);
  const std::string head = "P6\n37 23\n255\n";
  ASSERT_EQ(std::string(raw.begin(), raw.begin() + head.size()), head);
  std::vector<uint8_t> samples(raw.begin() + head.size(), raw.end());
  WriteFileBytes(dir.File("comments.ppm"),
                 Concat(Bytes("P6 # colour\n# whole line 12 34\n37\n#w\n 23 #h\n255\n"), samples));
  samples[0] = '\n';
  WriteFileBytes(dir.File("blank.ppm"), Concat(Bytes("P6 37 23 255 "), samples));
  for (const char* name : {"comments.ppm", "blank.ppm"}) {
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

// Bad headers are refused by the engine, the class and its information, and
// the file is closed; a P6 file is not a PGM; a small picture cut short is
// still shown.
TEST(PnmRead, RefusesBadHeadersAndShowsShortFiles) {
  TempDir dir;
  const std::string path = dir.File("bad.pgm");
  const int before = OpenDescriptors();
  Picture p;
  for (const std::string& text :
       {std::string("P5 2 2 0\n\x01\x02\x03\x04"), std::string("P5 0 2 255\n\x01\x02"),
        std::string("P6 2 2 70000\n"), std::string("P5 2 2"), std::string("P5 2 2 # open"),
        std::string("P5 2 2 255"), std::string("P5 99999999999 2 255\n"), std::string("P")}) {
    SCOPED_TRACE(text);
    WriteFileBytes(path, Bytes(text));
    EXPECT_LT(LoadPicture(path, p), 0);
    EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
    EXPECT_LT(ClassInfo(TypePGM, path), 0);
  }
  WriteFileBytes(path, Bytes("P6 1 1 255\nabc"));
  EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
  EXPECT_EQ(OpenDescriptors(), before);

  WriteFileBytes(path, Bytes("P6 2147483647 2147483647 255\nabcd"));
  EXPECT_LT(LoadPicture(path, p), 0);
  WriteFileBytes(path, Bytes("P5 100 100 255\nabcd"));
  ASSERT_EQ(LoadPicture(path, p), 0);
  EXPECT_EQ(p.rgb[0], 'a');
  EXPECT_EQ(p.rgb[3 * 4], 0);
}

// Pictures this large are read by halves on two threads when the process may
// use them; the odd sizes make the halves unequal and pad the rows in memory.
TEST(PnmRead, LargeFilesGiveTheSamePixelsOnOneThreadAndOnTwo) {
  TempDir dir;
  std::mt19937 rng(1);
  auto noise = [&rng](size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
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
    const auto bytes =
        ExpectSavedFileReads(image, bitCount == 24 ? TypePPM : TypePGM, "pamdepth 255", dir);
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

  image.Delete();
  ASSERT_EQ(image.Create(2, 1, 8, 64), 1);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(i * 4 + 3);
    image.palette[i] = vxRGBA{v, v, v, 0};
  }
  image.Row(0)[0] = 10;
  image.Row(0)[1] = 63;
  ASSERT_EQ(image.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 2 1 255\n"), {43, 255}));
}

}  // namespace
