// Bitmaps: files of other programs load pixel-exact, Lunark's files read
// pixel-exact in other programs, the forms the tools do not write (RLE4,
// top-down rows, gaps, unusual header sizes) are made by hand, and hostile
// files give an image or an error, never a crash, a hang or an allocation
// the file cannot justify (the sanitizer build checks the memory side).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "format_util.h"

using namespace format_test;

namespace {

uint32_t Get32(const std::vector<uint8_t>& in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) |
         (static_cast<uint32_t>(in[at + 3]) << 24);
}
void Set32(std::vector<uint8_t>& in, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) in[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file put together field by field.
struct Bitmap {
  uint32_t headerSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  uint32_t coloursImportant = 0;
  std::vector<uint32_t> masks = {};  // behind a 40-byte header, or inside a larger one
  std::vector<vxRGBA> table = {};    // 3-byte entries for a 12-byte header
  std::vector<uint8_t> pixels = {};

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> h;
    Put32(h, headerSize);
    if (headerSize == 12) {
      for (uint32_t v : {uint32_t(width), uint32_t(height), 1u, uint32_t(bitCount)}) Put16(h, v);
    } else {
      Put32(h, static_cast<uint32_t>(width));
      Put32(h, static_cast<uint32_t>(height));
      Put16(h, 1);
      Put16(h, bitCount);
      for (uint32_t v : {compression, 0u, 2835u, 2835u, coloursUsed, coloursImportant}) Put32(h, v);
      if (headerSize > 40) {
        for (size_t i = 0; i < 4; ++i) Put32(h, i < masks.size() ? masks[i] : 0);
        h.resize(headerSize);
      } else if (headerSize < 40) {
        h.resize(headerSize);  // a shortened OS/2 2.x header
      } else {
        for (uint32_t m : masks) Put32(h, m);
      }
    }
    for (const vxRGBA& e : table) {
      h.insert(h.end(), {e.blue, e.green, e.red});
      if (headerSize != 12) h.push_back(0);
    }
    std::vector<uint8_t> out = {'B', 'M'};
    Put32(out, static_cast<uint32_t>(14 + h.size() + pixels.size()));
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(14 + h.size()));
    return Concat(Concat(out, h), pixels);
  }
};

// Sixteen clearly different colours.
std::vector<vxRGBA> SixteenColours() {
  std::vector<vxRGBA> t;
  for (int i = 0; i < 16; ++i) {
    t.push_back(vxRGBA{static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 15),
                       static_cast<uint8_t>((i * 67) & 0xFF), 0});
  }
  return t;
}

// The picture that rows of indices (top row first) show through `table`.
Picture FromIndices(int width, const std::vector<std::vector<int>>& topDownRows,
                    const std::vector<vxRGBA>& table) {
  Picture p{width, static_cast<int>(topDownRows.size()), {}};
  for (const auto& row : topDownRows) {
    for (int x = 0; x < width; ++x) {
      const vxRGBA e = table[row[x]];
      p.rgb.insert(p.rgb.end(), {e.red, e.green, e.blue});
    }
  }
  return p;
}

Picture ByImageMagick(const std::string& file, const TempDir& dir) {
  return ByTool("convert " + Quote(file) + " -alpha off -depth 8 ppm:-", dir);
}
Picture ByNetpbm(const std::string& file, const TempDir& dir) {
  return ByTool("bmptopnm " + Quote(file), dir);
}
Picture ByLunark(const std::string& file, int* result = nullptr) {
  Picture p;
  const int r = LoadPicture(file, p);
  if (result) *result = r;
  return p;
}

bool HaveJudges() { return HaveTool("convert") && HaveTool("bmptopnm") && HaveTool("ppmtoppm"); }

// Header size, bit count and compression as the file states them.
struct Form {
  uint32_t headerSize;
  int bitCount;
  uint32_t compression;
  bool operator==(const Form&) const = default;
};

Form FormOf(const std::vector<uint8_t>& f) {
  const uint32_t size = Get32(f, 14);
  if (size == 12) return {12, f[24] | (f[25] << 8), 0};
  return {size, f[28] | (f[29] << 8), Get32(f, 30)};
}

TEST(BmpFromOtherPrograms, ImageMagickAndNetpbmFilesLoadPixelExact) {
  if (!HaveJudges()) GTEST_SKIP() << "ImageMagick or netpbm missing";
  const char* kPalette = "-colors 200 -type palette -compress none";
  const char* kRle = "-colors 200 -type palette -compress RLE";
  const char* kArgb = "-alpha on -define bmp:subtype=ARGB8888";
  const struct {
    const char* name;
    int width, height;
    const char* options;
    const char* prefix;
    Form form;
    bool netpbm;           // netpbm widens 16-bit samples differently; ImageMagick alone judges
    const char* ppmtobmp;  // written by ppmtobmp with these options instead of ImageMagick
  } kVariants[] = {
      {"default24", 13, 7, "", "", {124, 24, 0}, true, nullptr},
      {"bmp3_24", 13, 7, "", "BMP3:", {40, 24, 0}, true, nullptr},
      {"os2_24", 13, 7, "", "BMP2:", {12, 24, 0}, true, nullptr},
      {"width1_24", 1, 5, "", "BMP3:", {40, 24, 0}, true, nullptr},
      {"palette8", 13, 7, kPalette, "", {124, 8, 0}, true, nullptr},
      {"bmp3_palette8", 14, 9, kPalette, "BMP3:", {40, 8, 0}, true, nullptr},
      {"os2_palette8", 13, 7, "-colors 200 -type palette", "BMP2:", {12, 8, 0}, true, nullptr},
      // bmptopnm refuses ImageMagick's run-length files ("too many pixels").
      {"rle8", 15, 9, kRle, "BMP3:", {40, 8, 1}, false, nullptr},
      {"v5_rle8", 13, 7, kRle, "", {124, 8, 1}, false, nullptr},
      {"palette4_w13", 13, 7, "-colors 16 -type palette", "BMP3:", {40, 4, 0}, true, nullptr},
      {"palette4_w1", 1, 40, "-colors 16 -type palette", "", {124, 4, 0}, true, nullptr},
      {"os2_palette4", 13, 7, "-colors 16 -type palette", "BMP2:", {12, 4, 0}, true, nullptr},
      {"mono", 37, 7, "-monochrome", "BMP3:", {40, 1, 0}, true, nullptr},
      {"v4_mono", 13, 7, "-monochrome", "", {108, 1, 0}, true, nullptr},
      {"rgb565", 13, 7, "-define bmp:subtype=RGB565", "", {124, 16, 3}, false, nullptr},
      {"rgb555", 13, 7, "-define bmp:subtype=RGB555", "", {124, 16, 3}, false, nullptr},
      {"argb8888", 13, 7, kArgb, "", {124, 32, 3}, false, nullptr},
      // netpbm's writer: its own table sizes and OS/2 header.
      {"nb24", 19, 11, "", "", {40, 24, 0}, true, "-bpp 24"},
      {"nb8", 19, 11, "-colors 200", "", {40, 8, 0}, true, "-bpp 8"},
      {"nb4", 19, 11, "-colors 16", "", {40, 4, 0}, true, "-bpp 4"},
      {"nb1", 19, 11, "-monochrome", "", {40, 1, 0}, true, "-bpp 1"},
      {"nb_os2_8", 19, 11, "-colors 100", "", {12, 8, 0}, true, "-os2 -bpp 8"},
  };
  TempDir dir;
  for (const auto& v : kVariants) {
    SCOPED_TRACE(v.name);
    const std::string file = dir.File(std::string(v.name) + ".bmp");
    const std::string crop =
        "convert " + Quote(Crop(dir, "chelsea.ppm", v.width, v.height, 190, 90)) + " " + v.options;
    Shell(v.ppmtobmp ? crop + " ppm:- | ppmtobmp " + v.ppmtobmp + " > " + Quote(file)
                     : crop + " " + Quote(v.prefix + file));
    ASSERT_EQ(FormOf(ReadFileBytes(file)), v.form) << "the tool wrote another form";

    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    EXPECT_EQ(image.BitCount(), v.form.bitCount <= 8 ? 8 : 24);
    if (v.form.bitCount == 4) {
      EXPECT_EQ(image.ColoursUsed(), 16);
    }
    EXPECT_EQ(image.Width(), v.width);
    EXPECT_EQ(PictureOf(image), ByImageMagick(file, dir));
    if (v.netpbm) {
      EXPECT_EQ(PictureOf(image), ByNetpbm(file, dir));
    }
  }
}

// RLE4, which ImageMagick reads but does not write: runs, absolute runs of
// odd and even length (with and without their pad byte), a delta, line and
// picture ends, on a 9-pixel-wide picture; marked top-down it is upside down.
TEST(BmpFromOtherPrograms, HandMadeRle4) {
  Bitmap b{.width = 9, .height = 4, .bitCount = 4, .compression = 2, .coloursUsed = 16};
  b.table = SixteenColours();
  b.pixels = {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0, 0x00, 0x00,  // row 0
              0x00, 0x04, 0xAB, 0xCD, 0x05, 0x9E, 0x00, 0x00,                          // row 1
              0x00, 0x02, 0x03, 0x01,                                                  // to row 3
              0x02, 0x88, 0x04, 0x77, 0x00, 0x01};
  const std::vector<std::vector<int>> rows = {{0, 0, 0, 8, 8, 7, 7, 7, 7},
                                              {0, 0, 0, 0, 0, 0, 0, 0, 0},
                                              {10, 11, 12, 13, 9, 14, 9, 14, 9},
                                              {1, 2, 1, 3, 4, 5, 6, 7, 15}};
  const Picture expected = FromIndices(9, rows, b.table);
  TempDir dir;
  const std::string file = dir.File("rle4.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.ColoursUsed(), 16);
  EXPECT_EQ(PictureOf(image), expected);
  // Bytes consumed: the headers, the table and the stream without its one pad byte.
  EXPECT_EQ(image.loadedBytes, 54 + 64 + static_cast<int>(b.pixels.size()) - 1);
  EXPECT_EQ(ByImageMagick(file, dir), expected);

  b.height = -4;
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(ByLunark(file), FromIndices(9, {rows.rbegin(), rows.rend()}, b.table));
}

// One 3 x 2 picture (red, green and blue over white, black and magenta) in
// every header form and depth, stored bottom-up and top-down, with a gap
// before the pixels or an offset inside the table or beyond the file (the
// pixels then follow the table); also its information.
TEST(BmpEdgeCases, EveryHeaderFormAndDataOffsetGiveThePicture) {
  const Picture expected{
      3, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0, 255}};
  auto form = [](uint32_t headerSize, uint16_t bitCount, uint32_t compression,
                 std::vector<uint8_t> bottom, std::vector<uint8_t> top) {
    Bitmap b{.headerSize = headerSize, .width = 3, .height = 2, .bitCount = bitCount};
    b.compression = compression;
    b.pixels = Concat(bottom, top);
    return b;
  };
  auto topDown = [](Bitmap b) {
    const size_t half = b.pixels.size() / 2;
    std::rotate(b.pixels.begin(), b.pixels.begin() + half, b.pixels.end());
    b.height = -2;
    return b;
  };
  const Bitmap colour = form(40, 24, 0, {255, 255, 255, 0, 0, 0, 255, 0, 255, 0, 0, 0},
                             {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0});
  Bitmap rgb565 = form(40, 16, 3, {0xFF, 0xFF, 0, 0, 0x1F, 0xF8, 0, 0},
                       {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0});
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  Bitmap bgrx = form(40, 32, 3, {0x77, 255, 255, 255, 0x77, 0, 0, 0, 0x77, 255, 0, 255},
                     {0x77, 255, 0, 0, 0x77, 0, 255, 0, 0x77, 0, 0, 255});
  bgrx.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};  // an unusual order; alpha dropped
  Bitmap palette = form(40, 8, 0, {3, 4, 5, 0}, {0, 1, 2, 0});
  palette.table = {{0, 0, 255, 0},     {0, 255, 0, 0}, {255, 0, 0, 0},  // blue, green, red
                   {255, 255, 255, 0}, {0, 0, 0, 0},   {255, 0, 255, 0}};
  palette.coloursUsed = 6;
  Bitmap nibbles = palette;
  nibbles.bitCount = 4;
  nibbles.pixels = {0x34, 0x50, 0, 0, 0x01, 0x20, 0, 0};

  std::vector<std::tuple<std::string, std::vector<uint8_t>, int>> cases;
  for (uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    Bitmap b = colour;
    b.headerSize = size;
    cases.emplace_back("24-bit, header " + std::to_string(size), b.Bytes(), 24);
  }
  for (uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
    Bitmap b = rgb565;
    b.headerSize = size;
    cases.emplace_back("565 bit fields, header " + std::to_string(size), b.Bytes(), 16);
  }
  cases.emplace_back("16-bit without masks: 5-5-5",
                     form(40, 16, 0, {0xFF, 0x7F, 0, 0, 0x1F, 0x7C, 0, 0},
                          {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0})
                         .Bytes(),
                     16);
  cases.emplace_back("32-bit bit fields", bgrx.Bytes(), 32);
  cases.emplace_back("8-bit", palette.Bytes(), 8);
  cases.emplace_back("4-bit", nibbles.Bytes(), 4);
  cases.emplace_back("top-down 24-bit", topDown(colour).Bytes(), 24);
  cases.emplace_back("top-down 8-bit", topDown(palette).Bytes(), 8);
  const std::vector<uint8_t> plain = palette.Bytes();
  const uint32_t offset = Get32(plain, 10);
  std::vector<uint8_t> gap = plain;
  gap.insert(gap.begin() + offset, 100, 0xAB);
  Set32(gap, 10, offset + 100);
  Set32(gap, 2, static_cast<uint32_t>(gap.size()));
  cases.emplace_back("gap before the pixels", gap, 8);
  for (uint32_t bad : {offset - 8, 1000000u, static_cast<uint32_t>(plain.size())}) {
    std::vector<uint8_t> f = plain;
    Set32(f, 10, bad);
    cases.emplace_back("offset " + std::to_string(bad), f, 8);
  }
  TempDir dir;
  const std::string file = dir.File("form.bmp");
  for (const auto& [name, bytes, bits] : cases) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bytes);
    int result = -9;
    EXPECT_EQ(ByLunark(file, &result), expected);
    EXPECT_EQ(result, 0) << vxLastError();
    EXPECT_EQ(InfoOf(file), Info(3, 2, bits, file));
  }

  // Fewer than 8 bits per sample are widened by repeating them.
  Bitmap mid = rgb565;
  mid.width = mid.height = 1;
  mid.pixels = {0x10, 0x84, 0, 0};  // 10000 100000 10000
  WriteFileBytes(file, mid.Bytes());
  EXPECT_EQ(ByLunark(file).rgb, (std::vector<uint8_t>{132, 130, 132}));
}

TEST(BmpEdgeCases, UnrecognisedCompressionIsRefusedWithItsNotice) {
  Bitmap good{.width = 2, .height = 2, .coloursUsed = 2, .pixels = {1, 1, 0, 0, 1, 1, 0, 0}};
  good.table = {{0, 0, 0, 0}, {9, 9, 9, 0}};
  TempDir dir;
  const std::string goodFile = dir.File("good.bmp"), file = dir.File("odd.bmp");
  WriteFileBytes(goodFile, good.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(goodFile.c_str()), 0);
  const vxBitmapInfoHeader* kept = image.header;

  // Run-length codes on the wrong depth, bit fields on a palette, unknown codes.
  const int kForms[][2] = {{8, 4},  {8, 2}, {8, 3},  {4, 1}, {24, 1},
                           {24, 3}, {1, 2}, {16, 1}, {8, 99}};
  for (auto [bitCount, compression] : kForms) {
    SCOPED_TRACE(std::to_string(bitCount) + "-bit, compression " + std::to_string(compression));
    Bitmap b = good;
    b.bitCount = static_cast<uint16_t>(bitCount);
    b.compression = static_cast<uint32_t>(compression);
    if (bitCount > 8) b.table.clear();
    b.coloursUsed = static_cast<uint32_t>(b.table.size());
    WriteFileBytes(file, b.Bytes());
    NoticeCapture capture;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    const auto notices = capture.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "Unrecognized compression format\n");
    EXPECT_EQ(notices[0].file, file);
    EXPECT_EQ(image.header, kept);  // the image shown before is kept
  }
}

// Images the way the writer receives them, with what each pixel should show:
// 24 and 8 bits, and 16-colour (in an 8-bit image, as a 4-bit file loads),
// 4-bit (two pixels a byte) and 1-bit (a byte a pixel) blocks.
std::vector<std::pair<std::unique_ptr<vxScopedImage>, Picture>> WriterSamples() {
  std::vector<std::pair<std::unique_ptr<vxScopedImage>, Picture>> samples;
  for (auto [w, h, bits] : {std::tuple{37, 23, 24}, {1, 3, 24}, {37, 23, 8}, {2, 1, 8}}) {
    auto image = std::make_unique<vxScopedImage>();
    MakePattern(*image, w, h, bits, static_cast<uint32_t>(w));
    Picture p = PictureOf(*image);
    samples.emplace_back(std::move(image), std::move(p));
  }
  for (auto [bits, w, h] : {std::tuple{8, 11, 5}, {4, 1, 3}, {4, 17, 3}, {1, 1, 4}, {1, 37, 4}}) {
    const std::vector<vxRGBA> table =
        bits == 1 ? std::vector<vxRGBA>{{10, 20, 30, 0}, {200, 150, 100, 0}} : SixteenColours();
    vxBitmapInfoHeader* block = vxAllocateBlock(w, h, bits, static_cast<int>(table.size()));
    std::copy(table.begin(), table.end(), vxBlockPalette(block));
    const size_t stride = vxRowStride(w, bits);
    std::vector<std::vector<int>> rows(h, std::vector<int>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int v = bits == 1 ? ((x * x + y) % 3) == 0 : (x + 5 * y) % 16;
        rows[h - 1 - y][x] = v;
        unsigned char& byte = vxBlockBits(block)[y * stride + (bits == 4 ? x / 2 : x)];
        byte |= static_cast<unsigned char>(bits == 4 && !(x & 1) ? v << 4 : v);
      }
    }
    auto image = std::make_unique<vxScopedImage>();
    image->AdoptBlock(block);
    samples.emplace_back(std::move(image), FromIndices(w, rows, table));
  }
  return samples;
}

TEST(BmpWriter, OtherProgramsReadLunarksFilesPixelExact) {
  if (!HaveJudges()) GTEST_SKIP() << "ImageMagick or netpbm missing";
  TempDir dir;
  for (auto& [image, expected] : WriterSamples()) {
    SCOPED_TRACE(std::to_string(image->BitCount()) + "-bit, width " +
                 std::to_string(image->Width()));
    const std::string file = dir.File("out.bmp");
    ASSERT_EQ(image->SaveImage(file.c_str(), TypeBMP), 0) << vxLastError();
    const auto bytes = ReadFileBytes(file);
    EXPECT_EQ(Get32(bytes, 2), bytes.size());
    EXPECT_EQ(Get32(bytes, 10), 54 + 4 * Get32(bytes, 46));
    EXPECT_EQ(bytes[28], image->BitCount());
    EXPECT_EQ(ByImageMagick(file, dir), expected);
    EXPECT_EQ(ByNetpbm(file, dir), expected);
    EXPECT_EQ(ByLunark(file), expected);
  }
}

TEST(BmpWriter, AnUnwritableDepthIsRefused) {
  vxScopedImage small;
  MakePattern(small, 3, 3, 24);
  vxBitmapInfoHeader odd = *small.header;
  odd.bitCount = 16;
  TempDir dir;
  const std::string file = dir.File("odd.bmp");
  NoticeCapture capture;
  EXPECT_EQ(WriteWith(TypeBMP, file, &odd, small.palette, small.bits), -1);
  EXPECT_EQ(capture.notices().size(), 1u);
  EXPECT_EQ(capture.Count("Unexpected biBitCoun 16 \n"), 1);
  EXPECT_TRUE(ReadFileBytes(file).empty());
}

// Every prefix of files of each form, then random damage. A pixel cut in the
// middle may differ from the whole file's.
TEST(BmpMalformed, EveryPrefixAndRandomDamageLoadOrFailCleanly) {
  auto filled = [](Bitmap b, size_t n, int step) {
    for (size_t i = 0; i < n; ++i) b.pixels.push_back(static_cast<uint8_t>(i * step));
    return b;
  };
  Bitmap rle8{.width = 6, .height = 4, .compression = 1, .coloursUsed = 8};
  rle8.table.assign(8, vxRGBA{1, 2, 3, 0});
  rle8.pixels = {0x03, 0x01, 0x00, 0x03, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,
                 0x02, 0x01, 0x01, 0x06, 0x05, 0x00, 0x00, 0x02, 0x07, 0x00, 0x01};
  Bitmap rle4{.width = 9, .height = 3, .bitCount = 4, .compression = 2, .table = SixteenColours()};
  rle4.pixels = {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0,
                 0x00, 0x00, 0x00, 0x02, 0x03, 0x01, 0x02, 0x88, 0x00, 0x01};
  Bitmap mono{.width = 33, .height = 2, .bitCount = 1, .table = {{0, 0, 0, 0}, {255, 255, 255, 0}}};
  mono.pixels = {0xAA, 0x55, 0xF0, 0x0F, 0x80, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0};
  const std::pair<const char*, Bitmap> kForms[] = {
      {"v5 24-bit", filled({.headerSize = 124,
                            .width = 13,
                            .height = 7,
                            .bitCount = 24,
                            .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                           40 * 7, 7)},
      {"rle8", rle8},
      {"rle4", rle4},
      {"os2 4-bit",
       filled({.headerSize = 12, .width = 9, .height = 5, .bitCount = 4, .table = SixteenColours()},
              8 * 5, 37)},
      {"top-down 565", filled({.width = 5,
                               .height = -3,
                               .bitCount = 16,
                               .compression = 3,
                               .masks = {0xF800, 0x07E0, 0x001F}},
                              12 * 3, 11)},
      {"1-bit", mono},
  };
  MemoryCeiling ceiling(64 << 20);
  TempDir dir;
  const std::string file = dir.File("whole.bmp");
  uint32_t seed = 20240611;
  for (const auto& [name, bitmap] : kForms) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bitmap.Bytes());
    LoadHostileCopies(file, dir, seed++, 400, true, 1, true);
  }
}

// Header fields no picture can have, and fields whose allocation the file
// cannot back: with the ceiling out of the way, only the checks against the
// file stand between these headers and an allocation of gigabytes.
TEST(BmpMalformed, ImpossibleAndAbsurdHeadersAreRefusedBeforeAllocating) {
  MemoryCeiling ceiling(uint64_t{1} << 50);
  Bitmap good{.width = 4, .height = 2, .coloursUsed = 4, .pixels = {0, 1, 2, 3, 3, 2, 1, 0}};
  good.table.assign(4, vxRGBA{7, 7, 7, 0});
  const struct {
    size_t at;  // header size 14, width 18, height 22, bit count 28, colours 46
    uint32_t value, height = 0;
  } kFields[] = {
      {14, 0},
      {14, 4},
      {14, 11},
      {14, 13},
      {14, 125},
      {14, 1000},
      {14, 0x80000000u},
      {14, 0xFFFFFFFFu},
      {18, 0},
      {18, uint32_t(-5)},
      {22, 0},
      {22, 0x80000000u},
      {18, 0x7FFFFFFF},
      {22, 0x7FFFFFFF},
      {28, 0},
      {28, 2},
      {28, 64},
      {46, 257},
      {46, 0x80000000u},
      {46, 0xFFFFFFFFu},
      {18, 1u << 20, 1u << 20}  // a million square
  };
  TempDir dir;
  const std::string file = dir.File("absurd.bmp");
  for (const auto& f : kFields) {
    SCOPED_TRACE(std::to_string(f.at) + ": " + std::to_string(f.value));
    auto bytes = good.Bytes();
    if (f.at == 28) {
      bytes[28] = static_cast<uint8_t>(f.value);
    } else {
      Set32(bytes, f.at, f.value);
    }
    if (f.height) Set32(bytes, 22, f.height);
    WriteFileBytes(file, bytes);
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    EXPECT_FALSE(vxLastError().empty());
    if (f.at == 14) {
      EXPECT_NE(vxLastError().find("header size " + std::to_string(f.value)), std::string::npos)
          << vxLastError();
      vxFileInfo info{1, 2, 3, 4};  // a failed query leaves the record as it was
      EXPECT_EQ(vxImage::GetInfo(file.c_str(), &info), -1);
      EXPECT_EQ(info.width, 1);
      EXPECT_EQ(info.fileSize, 4);
    }
  }

  // A 24-bit file whose table, or whose masks, would lie beyond its end.
  Bitmap colour{.width = 2, .height = 2, .bitCount = 24, .coloursImportant = 1000000};
  colour.pixels.assign(16, 9);
  Bitmap fields{.bitCount = 16, .compression = 3, .pixels = {1, 2, 3, 4}};  // 4 of 12 mask bytes
  for (const Bitmap& b : {colour, fields}) {
    WriteFileBytes(file, b.Bytes());
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
  }
}

// Run-length pictures: enough end-of-line codes for 9 MB are above the
// ceiling; a stream that ends at once gives a picture of index 0; deltas of
// zero consume input without moving, and the reader stops at the file's end.
TEST(BmpMalformed, RunLengthPicturesAreBoundedByTheCeilingAndTheFile) {
  Bitmap b{.width = 3000, .height = 3000, .compression = 1, .coloursUsed = 2};
  b.table.assign(2, vxRGBA{});
  TempDir dir;
  const std::string file = dir.File("bomb.bmp");
  vxScopedImage image;
  {
    MemoryCeiling ceiling(8 << 20);
    b.pixels.assign(2 * 4500, 0x00);
    b.pixels.insert(b.pixels.end(), {0x00, 0x01});
    WriteFileBytes(file, b.Bytes());
    EXPECT_EQ(image.LoadImage(file.c_str()), -3);
    EXPECT_NE(vxLastError().find("too large"), std::string::npos);
    b.pixels = {0x00, 0x01};
    b.width = b.height = 2000;
    WriteFileBytes(file, b.Bytes());
    ASSERT_EQ(image.LoadImage(file.c_str()), 0);
    EXPECT_EQ(image.Row(1999)[1999], 0);
  }
  b.width = b.height = 8;
  b.pixels.clear();
  for (int i = 0; i < 250000; ++i) b.pixels.insert(b.pixels.end(), {0x00, 0x02, 0x00, 0x00});
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.loadedBytes, 54 + 8 + 1000000);
}

TEST(BmpMalformed, RunsAndDeltasStopAtTheEndOfThePicture) {
  auto withTail = [](std::vector<uint8_t> s, size_t n, uint8_t v) {
    s.insert(s.end(), n, v);
    return s;
  };
  // A 4 x 3 picture: 12 pixel bytes, then the spare row, which must stay 0.
  const struct {
    const char* name;
    uint16_t bits;
    std::vector<uint8_t> stream;
  } kStreams[] = {
      {"long run on the last row", 8, {0x00, 0x02, 0x00, 0x02, 0xFF, 0x07}},
      {"runs beyond the row", 8, {0xFF, 0x01, 0xFF, 0x02, 0xFF, 0x03}},
      {"delta right", 8, {0x00, 0x02, 0xFF, 0x00, 0x00, 0x02, 0xFF, 0x01, 0x05, 0x09}},
      {"delta up", 8, {0x00, 0x02, 0x00, 0xFF, 0x05, 0x09}},
      {"absolute run on the last row", 8,
       withTail({0x00, 0x02, 0x00, 0x02, 0x00, 0xFF}, 256, 0x06)},
      {"lines beyond the picture", 8, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04}},
      {"ends in a run", 8, {0x05}},
      {"ends in an escape", 8, {0x00}},
      {"ends in a delta", 8, {0x00, 0x02, 0x01}},
      {"ends in an absolute run", 8, {0x00, 0x05, 0x01, 0x02}},
      {"nibble run on the last row", 4, {0x00, 0x02, 0x00, 0x02, 0xFF, 0x17}},
      {"nibble absolute run", 4, withTail({0x00, 0x02, 0x01, 0x02, 0x00, 0xFF}, 128, 0x56)},
  };
  TempDir dir;
  const std::string file = dir.File("runs.bmp");
  for (const auto& s : kStreams) {
    SCOPED_TRACE(s.name);
    Bitmap b{.width = 4, .height = 3, .bitCount = s.bits, .compression = s.bits == 8 ? 1u : 2u};
    b.coloursUsed = 16;
    b.table = SixteenColours();
    b.pixels = s.stream;
    WriteFileBytes(file, b.Bytes());
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Row(3)[x], 0) << "spare row, x " << x;
  }
}

}  // namespace
