// PCX: netpbm's and ImageMagick's files agree with pcxtoppm, hand-made
// headers and runs that lie are refused or cut, and pcxtoppm reads what we
// write, run-length coded as the format wants.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "format_util.h"

namespace {

using namespace format_test;

struct PcxFields {
  int bitsPerPixel = 8, xMin = 0, yMin = 0, xMax = 0, yMax = 0, planes = 1, bytesPerLine = 2;
  std::vector<uint8_t> colourMap = {};  // up to 48 bytes
};

std::vector<uint8_t> PcxHeader(const PcxFields& f) {
  std::vector<uint8_t> h = {10, 5, 1, static_cast<uint8_t>(f.bitsPerPixel)};
  for (int v : {f.xMin, f.yMin, f.xMax, f.yMax, 72, 72}) Put16(h, static_cast<unsigned>(v));
  std::vector<uint8_t> map = f.colourMap;
  map.resize(48);
  h.insert(h.end(), map.begin(), map.end());
  h.insert(h.end(), {0, static_cast<uint8_t>(f.planes)});
  for (int v : {f.bytesPerLine, 1}) Put16(h, static_cast<unsigned>(v));
  h.resize(128, 0);
  return h;
}

// pcxtoppm darkens four-plane files, so the opaque RGBA one is judged by its source.
TEST(PcxRead, AgreesWithPcxtoppmOnEveryVariant) {
  TempDir dir;
  const std::string s = Quote(Crop(dir, "chelsea.ppm", 37, 23, 101, 57));
  const std::string q16 = "pnmquant 16 " + s + " | ppmtopcx",
                    q4 = "pnmquant 4 " + s + " | ppmtopcx";
  ExpectToolFilesLoadLike(dir,
                          {{"planes4x1.pcx", q16},  // 1 bit, 4 planes
                           {"packed4.pcx", q16 + " -packed"},
                           {"eight.pcx", q16 + " -8bit"},
                           {"true.pcx", "ppmtopcx -24bit " + s},
                           {"planes2x1.pcx", q4},
                           {"mono.pcx", "pnmquant 2 " + s + " | ppmtopcx"},
                           {"im24.pcx", "convert " + s + " pcx:-"}},
                          "pcxtoppm", TypePCX);
  const std::string rgba = dir.File("imrgba.pcx");
  Shell("convert " + s + " -alpha on " + Quote(rgba));  // four 8-bit planes
  ExpectLoadsLike(rgba, "cat " + s, dir);
  EXPECT_EQ(InfoOf(dir.File("planes4x1.pcx")), Info(37, 23, 4, dir.File("planes4x1.pcx")));
}

TEST(PcxRead, MalformedHeadersAreRefused) {
  TempDir dir;
  const std::string path = dir.File("bad.pcx");
  const struct {
    const char* name;
    PcxFields fields;
    int result;
  } kCases[] = {{"x min past x max", {.xMin = 5, .xMax = 4}, vxNotRecognised},
                {"no planes", {.planes = 0}, vxNotRecognised},
                // 100 pixels need 100 bytes.
                {"short lines", {.xMax = 99, .bytesPerLine = 50}, vxNotRecognised},
                {"4 bits in 50 bytes", {.bitsPerPixel = 4, .xMax = 99, .bytesPerLine = 50}, 0},
                {"3 bits", {.bitsPerPixel = 3, .xMax = 99, .bytesPerLine = 50}, vxNotRecognised},
                {"16 bits per index", {4, 0, 0, 99, 0, 4, 50}, vxNotRecognised}};
  Picture p;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(path, Concat(PcxHeader(c.fields), std::vector<uint8_t>(64, 1)));
    EXPECT_EQ(LoadPicture(path, p), c.result);
  }
  WriteFileBytes(path, std::vector<uint8_t>(100, 10));
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);  // header cut short
}

// A run of 63 on the first line: its rest is dropped at the line's end. A
// 0xC0 count gives nothing. The file ends inside the third line.
TEST(PcxRead, RunsPastTheLineOrTheFileEnd) {
  TempDir dir;
  const std::string path = dir.File("runs.pcx");
  WriteFileBytes(path, Concat(PcxHeader({.xMax = 3, .yMax = 2, .bytesPerLine = 4}),
                              {0xFF, 7, 0xC0, 9, 1, 2, 3, 4, 0xC2, 5}));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  const unsigned char expected[3][4] = {{7, 7, 7, 7}, {1, 2, 3, 4}, {5, 5, 0, 0}};
  for (int r = 0; r < 3; ++r)
    EXPECT_TRUE(std::equal(expected[r], expected[r] + 4, image.Row(2 - r))) << "row " << r;
}

TEST(PcxRead, TrailingPaletteIsFoundByItsMarker) {
  TempDir dir;
  PcxFields f{.xMax = 1, .colourMap = {1, 2, 3, 4, 5, 6}};
  std::vector<uint8_t> palette(769, 0);
  palette[0] = 12;
  palette[1 + 3 * 1] = 250;  // entry 1 red
  const std::string path = dir.File("pal.pcx");
  WriteFileBytes(path, Concat(Concat(PcxHeader(f), {0, 1}), palette));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 256);
  EXPECT_EQ(image.palette[1].red, 250);
  // Without the marker the header's 16 entries serve.
  palette[0] = 11;
  WriteFileBytes(path, Concat(Concat(PcxHeader(f), {0, 1}), palette));
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 16);
  EXPECT_EQ(image.palette[1].red, 4);
}

// Every depth; 37 pixels are padded to an even count of bytes a line.
TEST(PcxWrite, PcxtoppmReadsWhatWeWrite) {
  TempDir dir;
  for (int bitCount : {24, 8, 4, 1}) {
    SCOPED_TRACE(bitCount);
    vxScopedImage image;
    MakePattern(image, 37, 23, 24, 9);
    const std::vector<uint8_t> expected =
        bitCount == 24 ? TopDownRGB(image)
                       : MakeIndexed(image, 37, 23, bitCount, std::min(256, 1 << bitCount));
    const auto bytes = ExpectSavedFileReads(image, TypePCX, "pcxtoppm", dir, expected);
    EXPECT_EQ(bytes[66], 38);
  }
}

// Runs of at most 63; single bytes of 0xC0 and above as runs of one; the pad byte.
TEST(PcxWrite, RunLengthCoding) {
  TempDir dir;
  const std::string path = dir.File("run.pcx");
  auto encoded = [&path](int width, const std::vector<uint8_t>& row) {
    vxScopedImage image;
    image.Create(width, 1, 8, 256);
    std::copy(row.begin(), row.end(), image.Row(0));
    EXPECT_EQ(image.SaveImage(path.c_str(), TypePCX), 0);
    const auto bytes = ReadFileBytes(path);
    return std::vector<uint8_t>(bytes.begin() + 128, bytes.end() - 769);
  };
  EXPECT_EQ(encoded(200, std::vector<uint8_t>(200, 5)),
            (std::vector<uint8_t>{0xFF, 5, 0xFF, 5, 0xFF, 5, 0xCB, 5}));
  EXPECT_EQ(encoded(3, {0xC5, 0x40, 0x41}), (std::vector<uint8_t>{0xC1, 0xC5, 0x40, 0x41, 0x00}));
}

}  // namespace
