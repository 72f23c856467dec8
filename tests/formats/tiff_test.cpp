// The TIFF class against libtiff's tools, netpbm and ImageMagick, and on
// broken and hostile files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <chrono>
#include <string>
#include <vector>

#include "format_util.h"

namespace {

using namespace format_test;

// Writes `image` (8-bit or 24-bit) with libtiff the way Lunark's earlier
// writer did: its tags, the top row first, ColorMap values 0..255. Without
// `earlyNames` the two name tags are left out.
void WriteOldStyle(const std::string& path, const vxImage& image, bool earlyNames = true,
                   int orientation = 4) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  const bool rgb = image.BitCount() == 24, grey = !rgb && image.IsGrayScale();
  const int w = image.Width(), h = image.Height(), bytesPerRow = w * (rgb ? 3 : 1);
  const int photometric = rgb    ? PHOTOMETRIC_RGB
                          : grey ? PHOTOMETRIC_MINISBLACK
                                 : PHOTOMETRIC_PALETTE;
  const int tags[][2] = {{TIFFTAG_IMAGEWIDTH, w},
                         {TIFFTAG_IMAGELENGTH, h},
                         {TIFFTAG_BITSPERSAMPLE, 8},
                         {TIFFTAG_ORIENTATION, orientation},
                         {TIFFTAG_COMPRESSION, COMPRESSION_NONE},
                         {TIFFTAG_PHOTOMETRIC, photometric},
                         {TIFFTAG_SAMPLESPERPIXEL, rgb ? 3 : 1},
                         {TIFFTAG_ROWSPERSTRIP, std::max(1, 8192 / bytesPerRow)}};
  for (const auto& [tag, value] : tags) TIFFSetField(tif, tag, value);
  if (earlyNames) {
    TIFFSetField(tif, TIFFTAG_DOCUMENTNAME, "TIFFTEST");
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "Created By the Lunark");
  }
  std::vector<uint16_t> map(3 * 256);
  for (int i = 0; !rgb && !grey && i < image.ColoursUsed(); ++i) {
    map[i] = image.palette[i].red;
    map[256 + i] = image.palette[i].green;
    map[512 + i] = image.palette[i].blue;
  }
  if (!rgb && !grey) TIFFSetField(tif, TIFFTAG_COLORMAP, &map[0], &map[256], &map[512]);
  std::vector<uint8_t> line(bytesPerRow);
  for (int r = 0; r < h; ++r) {
    std::copy_n(image.Row(h - 1 - r), bytesPerRow, line.begin());
    if (rgb) vxSwapRedBlue(image.Row(h - 1 - r), line.data(), w);
    ASSERT_EQ(TIFFWriteScanline(tif, line.data(), r, 0), 1);
  }
  TIFFClose(tif);
}

struct Tags {
  uint16_t photometric = 0;
  std::vector<uint16_t> map[3];  // ColorMap: red, green, blue
};

Tags ReadTags(const std::string& path) {
  Tags t;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return t;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  uint16_t* map[3];
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]))
    for (int c = 0; c < 3; ++c) t.map[c].assign(map[c], map[c] + 256);
  TIFFClose(tif);
  return t;
}

class TiffTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string File(const std::string& name) const { return dir.File(name); }

  Picture ByTiff2rgba(const std::string& tiff) {
    const std::string rgba = Quote(File("judge.tif"));
    return ByTool("tiff2rgba -n " + Quote(tiff) + " " + rgba + " && tifftopnm " + rgba, dir);
  }
  Picture ByImageMagick(const std::string& tiff) {
    return ByTool("convert " + Quote(tiff) + "'[0]' -auto-orient -depth 8 ppm:-", dir);
  }
};

TEST_F(TiffTest, ReadsFilesOfOtherToolsPixelExact) {
  const std::string c = Quote(DataPath("chelsea.ppm")), g = Quote(DataPath("camera.pgm"));
  const std::string rgb = Quote(File("rgb.tif")), grey = Quote(File("grey.tif"));
  const std::string bw = Quote(File("bw.pbm")), miw = Quote(File("miw.tif"));
  Shell("convert " + c + " -compress none " + rgb + " && convert " + g + " -compress none " + grey +
        " && convert " + g + "'[37x23+250+200]' -monochrome " + bw + " && pnmtotiff -miniswhite " +
        bw + " > " + miw);
  struct Case {
    const char* name;
    std::string command;  // given the file to write
    int bitCount;
    const char* tiffset = "";  // then applied to the file
  };
  const std::vector<Case> cases = {
      {"RGB", "convert " + c + " -compress none", 24},
      {"RGB LZW predictor, strips of 7", "tiffcp -c lzw:2 -r 7 " + rgb, 24},
      {"tiles", "tiffcp -t -w 64 -l 48 " + rgb, 24},
      {"separate planes", "tiffcp -p separate " + rgb, 24},
      {"16-bit RGB", "convert " + c + " -depth 16", 24},
      {"RGBA", "convert " + c + " -alpha set -channel A -fx i/w +channel", 24},
      {"YCbCr JPEG", "tiffcp -c jpeg -r 16 " + rgb, 24},
      {"CMYK", "convert " + c + " -colorspace CMYK", 24},
      {"grey", "convert " + g + " -compress none", 8},
      {"grey 4-bit", "convert " + g + " -depth 4", 24},
      {"min-is-white", "convert " + g + " -define quantum:polarity=min-is-white", 8},
      {"bilevel min-is-white 37x23", "tiffcp " + miw, 8},
      {"bilevel min-is-black", "convert " + bw, 8},
      {"bilevel G4", "tiffcp -c g4 " + miw, 8},
      {"palette", "convert " + c + " -colors 64 -type Palette", 8},
      {"palette 4-bit", "convert " + c + " -colors 16 -type Palette", 24},
      {"bottom row first", "convert " + c + " -flip -compress none", 24, "-s 274 4"},
      {"two pages", "tiffcp " + rgb + " " + grey, 24}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string tiff = File("in.tif");
    std::remove(tiff.c_str());
    Shell(k.command + " " + Quote(tiff));
    if (*k.tiffset) Shell(std::string("tiffset ") + k.tiffset + " " + Quote(tiff));
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(tiff.c_str()), 0);
    EXPECT_EQ(image.BitCount(), k.bitCount);
    const Picture got = PictureOf(image), expected = ByTiff2rgba(tiff);
    EXPECT_TRUE(got == expected) << Psnr(got.rgb, expected.rgb) << " dB";
  }
}

// Colour by strips and 8-bit by scan line (turned with its palette); the
// same files in tiles go through libtiff's RGBA interface instead.
TEST_F(TiffTest, EveryOrientationStandsUpright) {
  vxScopedImage stored, grey;
  MakeQuadrants(stored, 24, 14);
  stored.SetColor(0, 13, 255, 255, 255);  // one marked corner pixel
  MakePattern(grey, 13, 6, 8);
  const std::string tiff = File("o.tif"), tiled = File("tiled.tif");
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    for (vxImage* picture : {static_cast<vxImage*>(&stored), static_cast<vxImage*>(&grey)}) {
      WriteOldStyle(tiff, *picture, false, o);
      const Picture expected = ByImageMagick(tiff);
      Shell("tiffcp -t -w 16 -l 16 " + Quote(tiff) + " " + Quote(tiled));
      for (const std::string& path : {tiff, tiled}) {
        Picture p;
        ASSERT_EQ(LoadPicture(path, p), 0);
        EXPECT_TRUE(p == expected) << path;
      }
      EXPECT_EQ(InfoOf(tiff), Info(expected.width, expected.height, picture->BitCount(), tiff));
    }
  }
}

// Earlier versions wrote Orientation 4 over rows stored top-down; their two
// name tags tell such files apart, which then open upright.
TEST_F(TiffTest, FilesOfEarlierLunarkVersionsOpenUpright) {
  vxScopedImage colour, grey, palette;
  MakePattern(colour, 31, 17, 24);
  MakePattern(grey, 31, 17, 8);
  MakePattern(palette, 31, 17, 8);
  for (int i = 0; i < 256; ++i) {
    palette.palette[i] = vxRGBA{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
  }
  const std::string tiff = File("early.tif");
  for (vxImage* image : {static_cast<vxImage*>(&colour), static_cast<vxImage*>(&grey),
                         static_cast<vxImage*>(&palette)}) {
    WriteOldStyle(tiff, *image);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(tiff.c_str()), 0);
    EXPECT_EQ(back.BitCount(), image->BitCount());
    EXPECT_TRUE(TopDownRGB(back) == TopDownRGB(*image));  // palette from the low bytes
  }
}

// A reversed grey ramp is written min-is-black with each pixel's grey, not
// its index; one colour entry makes a palette file.
TEST_F(TiffTest, WritesFilesThatEveryToolShowsUpright) {
  vxScopedImage greyRamp, reversed, colourPalette, photo, wide;
  MakePattern(greyRamp, 45, 31, 8);
  MakePattern(reversed, 20, 9, 8);
  MakePattern(colourPalette, 45, 31, 8);
  for (int i = 0; i < 256; ++i)
    reversed.palette[i] = {uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
  colourPalette.palette[7] = vxRGBA{10, 200, 30, 0};
  MakePattern(wide, 5000, 3, 24);
  const std::string photoTiff = File("photo-src.tif");
  Shell("convert " + Quote(DataPath("chelsea.ppm")) + " " + Quote(photoTiff));
  ASSERT_EQ(photo.LoadImage(photoTiff.c_str()), 0);

  const struct {
    const char* name;
    vxImage* image;
    uint16_t photometric;
  } cases[] = {{"grey ramp", &greyRamp, PHOTOMETRIC_MINISBLACK},
               {"reversed grey ramp", &reversed, PHOTOMETRIC_MINISBLACK},
               {"palette", &colourPalette, PHOTOMETRIC_PALETTE},
               {"photo", &photo, PHOTOMETRIC_RGB},
               {"rows wider than a strip", &wide, PHOTOMETRIC_RGB}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string tiff = File("out.tif");
    ASSERT_EQ(k.image->SaveImage(tiff.c_str(), TypeTIFF), 0);
    const Picture upright = PictureOf(*k.image);
    EXPECT_TRUE(ByTiff2rgba(tiff) == upright);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(tiff.c_str()), 0);
    EXPECT_EQ(back.BitCount(), k.image->BitCount());
    EXPECT_TRUE(PictureOf(back) == upright);

    const Tags t = ReadTags(tiff);
    EXPECT_EQ(t.photometric, k.photometric);
    EXPECT_EQ(t.map[0].empty(), k.photometric != PHOTOMETRIC_PALETTE);
    for (size_t i = 0; i < t.map[0].size(); ++i) {
      const vxRGBA e = k.image->palette[i];
      ASSERT_EQ(std::tie(t.map[0][i], t.map[1][i], t.map[2][i]),
                std::make_tuple(e.red * 257, e.green * 257, e.blue * 257))
          << i;
    }
  }
}

// Palettes handed over as exactly 16 entries (a read beyond them is caught
// by the address sanitizer), grey or colour; indices past them are black.
TEST_F(TiffTest, ShortPalettesAreWrittenByTheirColours) {
  const std::string tiff = File("p.tif");
  vxScopedImage indices;
  MakePattern(indices, 20, 9, 8);
  for (const bool colour : {false, true}) {
    SCOPED_TRACE(colour);
    std::vector<vxRGBA> palette(16);
    for (int i = 0; i < 16; ++i) {
      const auto v = uint8_t(i * 17);
      palette[i] = colour ? vxRGBA{v, uint8_t(255 - v), 90, 0} : vxRGBA{v, v, v, 0};
    }
    vxBitmapInfoHeader header = *indices.header;
    header.coloursUsed = header.coloursImportant = 16;
    ASSERT_EQ(WriteWith(TypeTIFF, tiff, &header, palette.data(), indices.bits), 0);
    palette.resize(256);  // black beyond the 16
    std::copy(palette.begin(), palette.end(), indices.palette);
    EXPECT_TRUE(ByTiff2rgba(tiff) == PictureOf(indices));
    const Tags t = ReadTags(tiff);
    EXPECT_EQ(t.photometric, colour ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(t.map[0].size(), colour ? 256u : 0u);
  }
}

TEST_F(TiffTest, FilesThatCannotBeReadAreClosed) {
  // Missing and broken files fail with their codes and leave no descriptor open.
  NoticeCapture notices;
  WriteFileBytes(File("bad.tif"), {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
  const int open = OpenDescriptors();
  EXPECT_EQ(ClassInfo(TypeTIFF, File("missing.tif")), -1);
  EXPECT_EQ(ClassInfo(TypeTIFF, File("bad.tif")), -2);
  EXPECT_EQ(ReadDirect(TypeTIFF, File("bad.tif")), -2);
  EXPECT_EQ(ReadDirect(TypeTIFF, File("missing.tif")), -1);
  EXPECT_EQ(OpenDescriptors(), open);
  EXPECT_GE(notices.Count("", "TIFF"), 1);
}

TEST(TiffMalformed, EveryPrefixAndCorruptionGivesAResultCode) {
  TempDir dir;
  const std::string c = Quote(DataPath("chelsea.ppm")), g = Quote(DataPath("camera.pgm"));
  const std::string rgb = Quote(dir.File("rgb.tif"));
  Shell("convert " + c + "'[40x40+200+100]' +repage -compress none " + rgb);
  const std::vector<std::string> makers = {
      "convert " + g + "'[24x16+200+200]' +repage -compress none",
      "convert " + c + "'[24x16+200+100]' +repage -compress lzw",
      "tiffcp -t -w 16 -l 16 -c zip " + rgb,
      "convert " + c + "'[24x16+200+100]' +repage -colors 32 -type Palette",
      "convert " + g + "'[37x23+250+200]' +repage -monochrome -compress group4"};
  NoticeCapture quiet;
  for (const std::string& make : makers) {
    SCOPED_TRACE(make);
    const std::string good = dir.File("good.tif");
    Shell(make + " " + Quote(good));
    const std::vector<uint8_t> bytes = ReadFileBytes(good);
    ReadHostileCopies(bytes, dir, std::max<size_t>(1, bytes.size() / 400), 200, TypeTIFF,
                      {vxNotRecognised, vxNoMemory});
  }
}

// A little-endian TIFF of one uncompressed strip of 64 bytes, whatever size
// its header claims: refused at once, before any decoding.
TEST(TiffMalformed, SizesClaimedByTheHeaderAreCheckedBeforeDecoding) {
  TempDir dir;
  NoticeCapture notices;
  const struct {
    const char* name;
    uint32_t width, height;
    uint16_t bits;
    int result;
  } cases[] = {{"a terapixel", 1u << 20, 1u << 20, 8, -3},
               {"sides libtiff refuses itself", 0xFFFFFFFFu, 0xFFFFFFFFu, 8, -2},
               {"within the ceiling, scan lines", 20000, 20000, 8, -2},
               {"within the ceiling, RGBA interface", 12000, 12000, 16, -2},
               {"no pixels", 0, 100, 8, -2}};
  const uint32_t data = 8 + 2 + 9 * 12 + 4;  // right behind the directory of 9 entries
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::vector<IfdEntry> entries = {
        {256, 4, 1, k.width}, {257, 4, 1, k.height}, {258, 3, 1, k.bits},
        {259, 3, 1, 1},       {262, 3, 1, 1},        {273, 4, 1, data},
        {277, 3, 1, 1},       {278, 4, 1, k.height}, {279, 4, 1, 64}};
    std::vector<uint8_t> b = TiffDirectory(false, entries);
    b.resize(b.size() + 64, 0x80);
    const std::string tiff = dir.File("claim.tif");
    WriteFileBytes(tiff, b);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadDirect(TypeTIFF, tiff), k.result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
}

}  // namespace
