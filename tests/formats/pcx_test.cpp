#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "format_util.h"
#include "formats/registry.h"

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
  h.push_back(0);
  h.push_back(static_cast<uint8_t>(f.planes));
  Put16(h, static_cast<unsigned>(f.bytesPerLine));
  Put16(h, 1);
  h.resize(128, 0);
  return h;
}

// The run-length data of a file Lunark wrote (between header and palette).
std::vector<uint8_t> EncodedData(const std::string& path, bool withPalette) {
  auto bytes = ReadFileBytes(path);
  return std::vector<uint8_t>(bytes.begin() + 128, bytes.end() - (withPalette ? 769 : 0));
}

TEST(PcxRead, AgreesWithPcxtoppmOnEveryVariant) {
  TempDir dir;
  const std::string src = dir.File("src.ppm");
  Shell("pamcut -left 101 -top 57 -width 37 -height 23 " + Quote(DataPath("chelsea.ppm")) + " > " +
        Quote(src));
  const std::string s = Quote(src);
  auto f = [&](const char* name) { return Quote(dir.File(name)); };
  Shell("pnmquant 16 " + s + " > " + f("q16.ppm"));
  Shell("pnmquant 4 " + s + " > " + f("q4.ppm"));
  Shell("pnmquant 2 " + s + " > " + f("q2.ppm"));
  Shell("ppmtopcx " + f("q16.ppm") + " > " + f("planes4x1.pcx"));  // 1 bit, 4 planes
  Shell("ppmtopcx -packed " + f("q16.ppm") + " > " + f("packed4.pcx"));
  Shell("ppmtopcx -8bit " + f("q16.ppm") + " > " + f("eight.pcx"));
  Shell("ppmtopcx -24bit " + s + " > " + f("true.pcx"));
  Shell("ppmtopcx " + f("q4.ppm") + " > " + f("planes2x1.pcx"));
  Shell("ppmtopcx -packed " + f("q4.ppm") + " > " + f("packed2.pcx"));
  Shell("ppmtopcx " + f("q2.ppm") + " > " + f("mono.pcx"));
  Shell("convert " + s + " -colors 256 " + f("im8.pcx"));
  Shell("convert " + s + " " + f("im24.pcx"));
  Shell("convert " + s + " -alpha on " + f("imrgba.pcx"));  // four 8-bit planes

  for (const char* name : {"planes4x1.pcx", "packed4.pcx", "eight.pcx", "true.pcx", "planes2x1.pcx",
                           "packed2.pcx", "mono.pcx", "im8.pcx", "im24.pcx"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vxImage::GetFileType(dir.File(name).c_str()), TypePCX);
    ExpectLoadsLike(dir.File(name), "pcxtoppm " + Quote(dir.File(name)), dir);
  }
  // pcxtoppm darkens four-plane files (every channel comes out as v x 255 /
  // 256), so the opaque RGBA file is judged by ImageMagick and by its source.
  ExpectLoadsLike(dir.File("imrgba.pcx"), "convert " + f("imrgba.pcx") + " ppm:-", dir);
  ExpectLoadsLike(dir.File("imrgba.pcx"), "cat " + s, dir);

  vxScopedImage mono;
  ASSERT_EQ(mono.LoadImage(dir.File("mono.pcx").c_str()), 0);
  EXPECT_EQ(mono.BitCount(), 8);
  EXPECT_EQ(mono.ColoursUsed(), 16);  // the header's map
  EXPECT_EQ(InfoOf(dir.File("planes4x1.pcx")), Info(37, 23, 4, dir.File("planes4x1.pcx")));
}

TEST(PcxRead, MalformedHeadersAreRefused) {
  TempDir dir;
  const std::string path = dir.File("bad.pcx");
  const struct {
    const char* name;
    PcxFields fields;
    int result;
    const char* says;  // part of the error message, or ""
  } kCases[] = {
      {"x min past x max", {.xMin = 5, .xMax = 4}, vxNotRecognised, "X max"},
      {"y min past y max", {.yMin = 1}, vxNotRecognised, ""},
      {"no planes", {.planes = 0}, vxNotRecognised, ""},
      // 100 pixels need 100 bytes.
      {"short lines", {.xMax = 99, .bytesPerLine = 50}, vxNotRecognised, "bytes per line"},
      {"4 bits in 50 bytes", {.bitsPerPixel = 4, .xMax = 99, .bytesPerLine = 50}, 0, ""},
      {"3 bits", {.bitsPerPixel = 3, .xMax = 99, .bytesPerLine = 50}, vxNotRecognised, ""},
      {"16 bits per index",
       {.bitsPerPixel = 4, .xMax = 99, .planes = 4, .bytesPerLine = 50},
       vxNotRecognised,
       ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(path, Concat(PcxHeader(c.fields), std::vector<uint8_t>(64, 1)));
    Picture p;
    vxClearLastError();
    EXPECT_EQ(LoadPicture(path, p), c.result);
    EXPECT_NE(vxLastError().find(c.says), std::string::npos) << vxLastError();
  }
  WriteFileBytes(path, std::vector<uint8_t>(100, 10));
  Picture p;
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);  // header cut short
}

TEST(PcxRead, RunsPastTheLineOrTheFileEnd) {
  TempDir dir;
  PcxFields f{.xMax = 3, .yMax = 2, .bytesPerLine = 4};
  // A run of 63 on the first line: its rest is dropped at the line's end.
  // A 0xC0 count gives nothing. The file ends inside the third line.
  const std::vector<uint8_t> data = {0xFF, 7, 0xC0, 9, 1, 2, 3, 4, 0xC2, 5};
  const std::string path = dir.File("runs.pcx");
  WriteFileBytes(path, Concat(PcxHeader(f), data));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  const unsigned char expected[3][4] = {{7, 7, 7, 7}, {1, 2, 3, 4}, {5, 5, 0, 0}};
  for (int r = 0; r < 3; ++r) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Row(2 - r)[x], expected[r][x]) << r << "," << x;
  }
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

TEST(PcxWrite, PcxtoppmReadsWhatWeWrite) {
  TempDir dir;
  for (int bitCount : {24, 8, 4, 1}) {
    vxScopedImage image;
    std::vector<uint8_t> expected;  // top-down RGB
    if (bitCount >= 8) {
      MakePattern(image, 37, 23, bitCount, 9);
      for (int i = 0; bitCount == 8 && i < 256; ++i)
        image.palette[i] = vxRGBA{uint8_t(i), 9, 200, 0};
      expected = TopDownRGB(image);
    } else {
      const int colours = bitCount == 4 ? 16 : 2;
      ASSERT_EQ(image.Create(37, 23, bitCount, colours), 1);
      for (int i = 0; i < colours; ++i)
        image.palette[i] = vxRGBA{uint8_t(i * 9), 77, uint8_t(255 - i), 0};
      for (int y = 22; y >= 0; --y) {
        for (int x = 0; x < 37; ++x) {
          const int v = (x * 3 + y * 5) % colours;
          unsigned char& b = image.Row(y)[bitCount == 4 ? x / 2 : x];  // 4-bit pixels are packed
          b = static_cast<unsigned char>(bitCount == 1 ? v
                                         : (x & 1)     ? (b & 0xF0) | v
                                                       : (b & 0x0F) | (v << 4));
          expected.insert(expected.end(),
                          {image.palette[v].red, image.palette[v].green, image.palette[v].blue});
        }
      }
    }
    const std::string path = dir.File("w" + std::to_string(bitCount) + ".pcx");
    ASSERT_EQ(image.SaveImage(path.c_str(), TypePCX), 0) << bitCount;
    Picture theirs;
    ASSERT_TRUE(ToolPicture("pcxtoppm " + Quote(path), dir, theirs)) << bitCount;
    EXPECT_EQ(theirs.rgb, expected) << bitCount;
    Picture ours;
    ASSERT_EQ(LoadPicture(path, ours), 0);
    EXPECT_EQ(ours.rgb, expected) << bitCount;

    const auto bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes[1], bitCount == 24 ? 3 : 5);
    EXPECT_EQ(bytes[65], bitCount == 24 ? 3 : 1);
    EXPECT_EQ(bytes[66], 38);  // 37 pixels padded to an even count
    if (bitCount != 24) {
      EXPECT_EQ(bytes[bytes.size() - 769], 12);
      // Entries beyond the image's palette are written as black.
      if (bitCount == 1) {
        EXPECT_EQ(bytes[bytes.size() - 769 + 1 + 3 * 2], 0);
      }
    }
  }
}

TEST(PcxWrite, RunLengthCoding) {
  TempDir dir;
  vxScopedImage image;
  // 200 equal bytes; then a single 0xC5, a single 0x40 and the pad byte.
  ASSERT_EQ(image.Create(200, 1, 8, 256), 1);
  std::fill(image.Row(0), image.Row(0) + 200, 5);
  const std::string path = dir.File("run.pcx");
  ASSERT_EQ(image.SaveImage(path.c_str(), TypePCX), 0);
  EXPECT_EQ(EncodedData(path, true), (std::vector<uint8_t>{0xFF, 5, 0xFF, 5, 0xFF, 5, 0xCB, 5}));

  vxScopedImage small;
  ASSERT_EQ(small.Create(3, 1, 8, 256), 1);
  small.Row(0)[0] = 0xC5;
  small.Row(0)[1] = 0x40;
  small.Row(0)[2] = 0x40;
  ASSERT_EQ(small.SaveImage(path.c_str(), TypePCX), 0);
  EXPECT_EQ(EncodedData(path, true), (std::vector<uint8_t>{0xC1, 0xC5, 0xC2, 0x40, 0x00}));
  small.Row(0)[2] = 0x41;
  ASSERT_EQ(small.SaveImage(path.c_str(), TypePCX), 0);
  EXPECT_EQ(EncodedData(path, true), (std::vector<uint8_t>{0xC1, 0xC5, 0x40, 0x41, 0x00}));
}

}  // namespace
