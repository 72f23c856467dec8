// Bitmaps: files of other programs and Lunark's own read pixel-exact both
// ways, forms the tools do not write are made by hand, and hostile files give
// an image or an error, never a crash, a hang or an unjustified allocation.
#include <gtest/gtest.h>

#include <algorithm>

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

  Bitmap(int32_t w, int32_t h, uint16_t bits, uint32_t coding = 0, std::vector<vxRGBA> t = {},
         std::vector<uint8_t> p = {})
      : width(w),
        height(h),
        bitCount(bits),
        compression(coding),
        coloursUsed(uint32_t(t.size())),
        table(std::move(t)),
        pixels(std::move(p)) {}

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> h;
    Put32(h, headerSize);
    if (headerSize == 12) {
      for (uint32_t v : {uint32_t(width), uint32_t(height), 1u, uint32_t(bitCount)}) Put16(h, v);
    } else {
      for (int32_t v : {width, height}) Put32(h, uint32_t(v));
      for (uint32_t v : {1u, uint32_t(bitCount)}) Put16(h, v);
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
  for (int i = 0; i < 16; ++i)
    t.push_back({uint8_t(i * 16), uint8_t(255 - i * 15), uint8_t(i * 67), 0});
  return t;
}

// The picture that rows of indices (top row first) show through `table`.
Picture FromIndices(const std::vector<std::vector<int>>& topDownRows,
                    const std::vector<vxRGBA>& table) {
  Picture p{int(topDownRows[0].size()), int(topDownRows.size()), {}};
  for (const auto& row : topDownRows) {
    for (int index : row)
      p.rgb.insert(p.rgb.end(), {table[index].red, table[index].green, table[index].blue});
  }
  return p;
}

Picture ByImageMagick(const std::string& file, const TempDir& dir) {
  return ByTool("convert " + Quote(file) + " -alpha off -depth 8 ppm:-", dir);
}

// Crops written by ImageMagick (bmp: has a 124-byte header, BMP3: 40) or
// netpbm (-os2: 12). netpbm widens 16-bit samples differently and refuses
// ImageMagick's run-length files: ImageMagick alone judges those.
TEST(BmpFromOtherPrograms, ImageMagickAndNetpbmFilesLoadPixelExact) {
  const struct {
    int width, height;
    std::string options;  // then the file
    bool netpbm;
  } kVariants[] = {{13, 7, "bmp:", true},
                   {13, 7, "-colors 200 -type palette -compress none bmp:", true},
                   {15, 9, "-colors 200 -type palette -compress RLE BMP3:", false},
                   {13, 7, "-colors 16 -type palette BMP3:", true},
                   {37, 7, "-monochrome BMP3:", true},
                   {13, 7, "-define bmp:subtype=RGB565 bmp:", false},
                   {13, 7, "-alpha on -define bmp:subtype=ARGB8888 bmp:", false},
                   {19, 11, "ppm:- | ppmtobmp -bpp 24 >", true},
                   {19, 11, "-colors 100 ppm:- | ppmtobmp -os2 -bpp 8 >", true}};
  TempDir dir;
  const std::string file = dir.File("tool.bmp");
  for (const auto& v : kVariants) {
    SCOPED_TRACE(v.options);
    const std::string crop = Crop(dir, "chelsea.ppm", v.width, v.height, 190, 90);
    Shell("convert " + Quote(crop) + " " + v.options + Quote(file));
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    EXPECT_EQ(PictureOf(image), ByImageMagick(file, dir));
    EXPECT_TRUE(!v.netpbm || PictureOf(image) == ByTool("bmptopnm " + Quote(file), dir));
  }
}

// RLE4, which ImageMagick reads but does not write: runs, absolute runs of
// odd and even length, a delta, line and picture ends, 9 pixels wide.
Bitmap Rle4() {
  return Bitmap(9, 4, 4, 2, SixteenColours(),
                {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0, 0x00, 0x00,  // row 0
                 0x00, 0x04, 0xAB, 0xCD, 0x05, 0x9E, 0x00, 0x00,                          // row 1
                 0x00, 0x02, 0x03, 0x01,  // to row 3
                 0x02, 0x88, 0x04, 0x77, 0x00, 0x01});
}

TEST(BmpFromOtherPrograms, HandMadeRle4) {
  const Bitmap b = Rle4();
  const std::vector<std::vector<int>> rows = {{0, 0, 0, 8, 8, 7, 7, 7, 7},
                                              {0, 0, 0, 0, 0, 0, 0, 0, 0},
                                              {10, 11, 12, 13, 9, 14, 9, 14, 9},
                                              {1, 2, 1, 3, 4, 5, 6, 7, 15}};
  TempDir dir;
  const std::string file = dir.File("rle4.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
  EXPECT_EQ(PictureOf(image), FromIndices(rows, b.table));
  EXPECT_EQ(ByImageMagick(file, dir), FromIndices(rows, b.table));
}

// One 3 x 2 picture (red, green and blue over white, black and magenta) in
// every header form and depth, stored bottom-up and top-down.
std::vector<std::pair<std::string, Bitmap>> Forms() {
  const Bitmap colour(3, 2, 24, 0, {}, {255, 255, 255, 0, 0,   0, 255, 0, 255, 0, 0, 0,  //
                                        0,   0,   255, 0, 255, 0, 255, 0, 0,   0, 0, 0});
  Bitmap rgb565(3, 2, 16, 3, {},
                {0xFF, 0xFF, 0, 0, 0x1F, 0xF8, 0, 0, 0, 0xF8, 0xE0, 0x07, 0x1F, 0, 0, 0});
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  Bitmap bgrx(3, 2, 32, 3, {}, {0x77, 255, 255, 255, 0x77, 0, 0,   0, 0x77, 255, 0, 255,  //
                                0x77, 255, 0,   0,   0x77, 0, 255, 0, 0x77, 0,   0, 255});
  bgrx.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};  // an unusual order; alpha dropped
  // Red, green, blue, white, black and magenta.
  const std::vector<vxRGBA> table = {{0, 0, 255, 0},     {0, 255, 0, 0}, {255, 0, 0, 0},
                                     {255, 255, 255, 0}, {0, 0, 0, 0},   {255, 0, 255, 0}};
  const Bitmap palette(3, 2, 8, 0, table, {3, 4, 5, 0, 0, 1, 2, 0});
  Bitmap nibbles = palette;  // in the OS/2 form: 12-byte header, all 16 entries of 3 bytes
  nibbles.headerSize = 12;
  nibbles.table.resize(16);
  nibbles.bitCount = 4;
  nibbles.pixels = {0x34, 0x50, 0, 0, 0x01, 0x20, 0, 0};
  std::vector<std::pair<std::string, Bitmap>> forms = {{"8-bit", palette}, {"4-bit", nibbles}};
  for (uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    forms.emplace_back("24-bit, header " + std::to_string(size), colour);
    forms.back().second.headerSize = size;
  }
  for (uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
    forms.emplace_back("565 bit fields, header " + std::to_string(size), rgb565);
    forms.back().second.headerSize = size;
  }
  forms.emplace_back("16-bit without masks: 5-5-5", Bitmap(3, 2, 16, 0, {},
                                                           {0xFF, 0x7F, 0, 0, 0x1F, 0x7C, 0, 0, 0,
                                                            0x7C, 0xE0, 0x03, 0x1F, 0, 0, 0}));
  forms.emplace_back("32-bit bit fields", bgrx);
  for (const Bitmap& b : {colour, palette, rgb565}) {
    forms.emplace_back("top-down " + std::to_string(b.bitCount) + "-bit", b);
    Bitmap& topDown = forms.back().second;
    std::rotate(topDown.pixels.begin(), topDown.pixels.begin() + topDown.pixels.size() / 2,
                topDown.pixels.end());
    topDown.height = -2;
  }
  return forms;
}

// The forms; a gap before the pixels, or an offset inside the table or
// beyond the file (the pixels then follow the table).
TEST(BmpEdgeCases, EveryHeaderFormAndDataOffsetGiveThePicture) {
  const Picture expected{
      3, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0, 255}};
  std::vector<std::tuple<std::string, std::vector<uint8_t>, int>> cases;
  for (const auto& [name, b] : Forms()) cases.emplace_back(name, b.Bytes(), b.bitCount);
  const std::vector<uint8_t> plain = std::get<1>(cases[0]);  // the 8-bit form
  const uint32_t offset = Get32(plain, 10);
  std::vector<uint8_t> gap = plain;
  gap.insert(gap.begin() + offset, 100, 0xAB);
  Set32(gap, 10, offset + 100);
  Set32(gap, 2, static_cast<uint32_t>(gap.size()));
  cases.emplace_back("gap before the pixels", gap, 8);
  for (uint32_t bad : {offset - 8, 1000000u, static_cast<uint32_t>(plain.size())}) {
    cases.emplace_back("offset " + std::to_string(bad), plain, 8);
    Set32(std::get<1>(cases.back()), 10, bad);
  }
  TempDir dir;
  const std::string file = dir.File("form.bmp");
  for (const auto& [name, bytes, bits] : cases) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bytes);
    Picture p;
    EXPECT_EQ(LoadPicture(file, p), 0) << vxLastError();
    EXPECT_EQ(p, expected);
    EXPECT_EQ(InfoOf(file), Info(3, 2, bits, file));
  }
}

// Run-length codes on the wrong depth, bit fields on a palette, unknown
// codes: refused, the image shown before kept.
TEST(BmpEdgeCases, UnrecognisedCompressionIsRefusedWithItsNotice) {
  const Bitmap good(2, 2, 8, 0, {{0, 0, 0, 0}, {9, 9, 9, 0}}, {1, 1, 0, 0, 1, 1, 0, 0});
  TempDir dir;
  const std::string file = dir.File("odd.bmp");
  WriteFileBytes(file, good.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  const vxBitmapInfoHeader* kept = image.header;
  const int kForms[][2] = {{8, 2}, {8, 3}, {4, 1}, {24, 1}, {8, 99}};
  for (auto [bitCount, compression] : kForms) {
    SCOPED_TRACE(std::to_string(bitCount) + "-bit, compression " + std::to_string(compression));
    Bitmap b = good;
    b.bitCount = static_cast<uint16_t>(bitCount);
    b.compression = static_cast<uint32_t>(compression);
    if (bitCount > 8) b.table.clear();
    b.coloursUsed = static_cast<uint32_t>(b.table.size());
    WriteFileBytes(file, b.Bytes());
    NoticeCapture quiet;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    EXPECT_EQ(image.header, kept);
  }
}

// 24-bit, 8-bit (256 and 16 colours), 4-bit and 1-bit images; the depth
// written is the image's.
TEST(BmpWriter, OtherProgramsReadLunarksFilesPixelExact) {
  TempDir dir;
  const int kImages[][4] = {{37, 23, 24, 0}, {1, 3, 24, 0},  {37, 23, 8, 256},
                            {11, 5, 8, 16},  {17, 3, 4, 16}, {37, 4, 1, 2}};
  for (auto [w, h, bits, colours] : kImages) {
    SCOPED_TRACE(std::to_string(bits) + "-bit, " + std::to_string(w) + " x " + std::to_string(h));
    vxScopedImage image;
    MakePattern(image, w, h, 24, static_cast<uint32_t>(w));
    const std::vector<uint8_t> expected =
        bits == 24 ? TopDownRGB(image) : MakeIndexed(image, w, h, bits, colours);
    const auto bytes = ExpectSavedFileReads(image, TypeBMP, "bmptopnm", dir, expected);
    EXPECT_EQ(bytes[28], image.BitCount());
    EXPECT_EQ(ByImageMagick(dir.File("saved"), dir).rgb, expected);
  }
}

// Every prefix of each form, then random damage; a pixel cut in the middle may differ.
TEST(BmpMalformed, EveryPrefixAndRandomDamageLoadOrFailCleanly) {
  std::vector<std::pair<std::string, Bitmap>> forms = Forms();
  forms.emplace_back("rle4", Rle4());
  Bitmap rle8(6, 4, 8, 1, std::vector<vxRGBA>(8, vxRGBA{1, 2, 3, 0}),
              {0x03, 0x01, 0x00, 0x03, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,
               0x02, 0x01, 0x01, 0x06, 0x05, 0x00, 0x00, 0x02, 0x07, 0x00, 0x01});
  forms.emplace_back("rle8", rle8);
  forms.emplace_back("1-bit", Bitmap(33, 2, 1, 0, {{0, 0, 0, 0}, {255, 255, 255, 0}},
                                     {0xAA, 0x55, 0xF0, 0x0F, 0x80, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,
                                      0x9A, 0, 0, 0}));
  ImageCeiling ceiling(64 << 20);
  TempDir dir;
  const std::string file = dir.File("whole.bmp");
  uint32_t seed = 20240611;
  for (const auto& [name, bitmap] : forms) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bitmap.Bytes());
    LoadHostileCopies(file, dir, seed++, 200, true, 1);
  }
}

// Impossible header fields, and fields whose allocation the file cannot back:
// with no ceiling, only checks against the file prevent gigabyte allocations.
TEST(BmpMalformed, ImpossibleAndAbsurdHeadersAreRefusedBeforeAllocating) {
  ImageCeiling ceiling(uint64_t{1} << 50);
  const Bitmap good(4, 2, 8, 0, std::vector<vxRGBA>(4, vxRGBA{7, 7, 7, 0}),
                    {0, 1, 2, 3, 3, 2, 1, 0});
  const std::pair<size_t, std::vector<uint32_t>> kFields[] = {
      {14, {0, 13, 125, 0xFFFFFFFFu}},                // header size
      {18, {0, uint32_t(-5), 0x7FFFFFFF, 1u << 20}},  // width
      {22, {0, 0x80000000u, 0x7FFFFFFF}},             // height
      {28, {0, 2, 64}},                               // bit count
      {46, {257, 0x80000000u, 0xFFFFFFFFu}}};         // colours
  TempDir dir;
  const std::string file = dir.File("absurd.bmp");
  for (const auto& [at, values] : kFields) {
    for (uint32_t value : values) {
      SCOPED_TRACE(std::to_string(at) + ": " + std::to_string(value));
      auto bytes = good.Bytes();
      Set32(bytes, at, at == 28 ? (Get32(bytes, 28) & 0xFFFF0000) | value : value);
      if (value == 1u << 20) Set32(bytes, 22, value);  // a million square
      WriteFileBytes(file, bytes);
      vxScopedImage image;
      EXPECT_EQ(image.LoadImage(file.c_str()), -2);
      EXPECT_FALSE(vxLastError().empty());
    }
  }
  // A 24-bit file whose table, or whose masks, would lie beyond its end.
  Bitmap colour(2, 2, 24, 0, {}, std::vector<uint8_t>(16, 9));
  colour.coloursImportant = 1000000;
  for (const Bitmap& b : {colour, Bitmap(1, 1, 16, 3, {}, {1, 2, 3, 4})}) {
    WriteFileBytes(file, b.Bytes());
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
  }
}

// Run-length pictures: enough end-of-line codes for 9 MB are above the
// ceiling; a stream that ends at once gives a picture of index 0; deltas of
// zero consume input without moving, and the reader stops at the file's end.
TEST(BmpMalformed, RunLengthPicturesAreBoundedByTheCeilingAndTheFile) {
  std::vector<uint8_t> endOfLines(2 * 4500, 0x00), zeroDeltas;
  endOfLines.insert(endOfLines.end(), {0x00, 0x01});
  for (int i = 0; i < 250000; ++i) zeroDeltas.insert(zeroDeltas.end(), {0x00, 0x02, 0x00, 0x00});
  const std::vector<vxRGBA> table(2);
  TempDir dir;
  const std::string file = dir.File("bomb.bmp");
  vxScopedImage image;
  {
    ImageCeiling ceiling(8 << 20);
    WriteFileBytes(file, Bitmap(3000, 3000, 8, 1, table, endOfLines).Bytes());
    EXPECT_EQ(image.LoadImage(file.c_str()), -3);
    EXPECT_NE(vxLastError().find("too large"), std::string::npos);
    WriteFileBytes(file, Bitmap(2000, 2000, 8, 1, table, {0x00, 0x01}).Bytes());
    ASSERT_EQ(image.LoadImage(file.c_str()), 0);
    EXPECT_EQ(image.Row(1999)[1999], 0);
  }
  WriteFileBytes(file, Bitmap(8, 8, 8, 1, table, zeroDeltas).Bytes());
  EXPECT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.loadedBytes, 54 + 8 + 1000000);
}

// A 4 x 3 picture: 12 pixel bytes, then the spare row, which must stay 0.
TEST(BmpMalformed, RunsAndDeltasStopAtTheEndOfThePicture) {
  auto withTail = [](std::vector<uint8_t> s, size_t n, uint8_t v) {
    s.insert(s.end(), n, v);
    return s;
  };
  const struct {
    const char* name;
    uint16_t bits;
    std::vector<uint8_t> stream;
  } kStreams[] = {
      {"long run on the last row", 8, {0x00, 0x02, 0x00, 0x02, 0xFF, 0x07}},
      {"runs beyond the row", 8, {0xFF, 0x01, 0xFF, 0x02, 0xFF, 0x03}},
      {"delta right", 8, {0x00, 0x02, 0xFF, 0x00, 0x00, 0x02, 0xFF, 0x01, 0x05, 0x09}},
      {"delta up", 8, {0x00, 0x02, 0x00, 0xFF, 0x05, 0x09}},
      {"absolute run on the last row", 8, withTail({0x00, 0x02, 0x00, 0x02, 0x00, 0xFF}, 256, 6)},
      {"lines beyond the picture", 8, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04}},
      {"nibble run on the last row", 4, {0x00, 0x02, 0x00, 0x02, 0xFF, 0x17}},
      {"nibble absolute run", 4, withTail({0x00, 0x02, 0x01, 0x02, 0x00, 0xFF}, 128, 0x56)}};
  TempDir dir;
  const std::string file = dir.File("runs.bmp");
  for (const auto& s : kStreams) {
    SCOPED_TRACE(s.name);
    WriteFileBytes(file,
                   Bitmap(4, 3, s.bits, s.bits == 8 ? 1 : 2, SixteenColours(), s.stream).Bytes());
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Row(3)[x], 0) << "spare row, x " << x;
  }
}

}  // namespace
