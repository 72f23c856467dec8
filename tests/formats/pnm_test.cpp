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

// Maxima of 7 to 65535 (two-byte samples, most significant first);
// comments between every field; a blank as the one separator after the
// maximum while the first sample is a line feed.
TEST(PnmRead, AgreesWithNetpbmOnEveryVariant) {
  TempDir dir;
  const std::string ppm = Crop(dir, "chelsea.ppm", 37, 23, 101, 57);
  const std::string pgm = Crop(dir, "camera.pgm", 37, 23, 101, 57);
  const std::string c = Quote(ppm), g = Quote(pgm);
  ExpectToolFilesLoadLike(dir,
                          {{"odd.ppm", "cat " + c},
                           {"max65535.ppm", "pamdepth 65535 " + c},
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
  EXPECT_EQ(InfoOf(dir.File("blank.ppm")), Info(37, 23, 24, dir.File("blank.ppm")));
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

// A grey palette other than the ramp is written by its grey levels, not its indices.
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
}

}  // namespace
