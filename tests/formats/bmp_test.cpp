// Bitmaps that other programs write load pixel-exact; bitmaps that Lunark
// writes read pixel-exact in other programs; the forms the tools do not
// write (RLE4, top-down rows, gaps, unusual header sizes) are made by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "bmp_util.h"

using namespace bmp_test;

namespace {

std::string PhotoCrop(const TempDir& dir, int width, int height) {
  const std::string out =
      dir.File("crop" + std::to_string(width) + "x" + std::to_string(height) + ".ppm");
  RunCommand("convert '" + DataPath("chelsea.ppm") + "' -crop " + std::to_string(width) + "x" +
             std::to_string(height) + "+190+90 +repage '" + out + "'");
  return out;
}

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

struct Variant {
  const char* name;
  int width;
  int height;
  const char* options;
  const char* prefix;
  Form form;
  bool netpbm;           // netpbm widens 16-bit samples differently; ImageMagick alone judges those
  const char* ppmtobmp;  // written by ppmtobmp with these options instead of ImageMagick
};

const Variant kVariants[] = {
    {"default24", 13, 7, "", "", {124, 24, 0}, true, nullptr},
    {"bmp3_24", 13, 7, "", "BMP3:", {40, 24, 0}, true, nullptr},
    {"os2_24", 13, 7, "", "BMP2:", {12, 24, 0}, true, nullptr},
    {"width1_24", 1, 5, "", "BMP3:", {40, 24, 0}, true, nullptr},
    {"palette8", 13, 7, "-colors 200 -type palette -compress none", "", {124, 8, 0}, true, nullptr},
    {"bmp3_palette8",
     14,
     9,
     "-colors 200 -type palette -compress none",
     "BMP3:",
     {40, 8, 0},
     true,
     nullptr},
    {"os2_palette8", 13, 7, "-colors 200 -type palette", "BMP2:", {12, 8, 0}, true, nullptr},
    // bmptopnm refuses ImageMagick's run-length files ("too many pixels").
    {"rle8", 15, 9, "-colors 200 -type palette -compress RLE", "BMP3:", {40, 8, 1}, false, nullptr},
    {"v5_rle8", 13, 7, "-colors 200 -type palette -compress RLE", "", {124, 8, 1}, false, nullptr},
    {"palette4_w13", 13, 7, "-colors 16 -type palette", "BMP3:", {40, 4, 0}, true, nullptr},
    {"palette4_w1", 1, 40, "-colors 16 -type palette", "", {124, 4, 0}, true, nullptr},
    {"os2_palette4", 13, 7, "-colors 16 -type palette", "BMP2:", {12, 4, 0}, true, nullptr},
    {"mono", 37, 7, "-monochrome", "BMP3:", {40, 1, 0}, true, nullptr},
    {"v4_mono", 13, 7, "-monochrome", "", {108, 1, 0}, true, nullptr},
    {"rgb565", 13, 7, "-define bmp:subtype=RGB565", "", {124, 16, 3}, false, nullptr},
    {"rgb555", 13, 7, "-define bmp:subtype=RGB555", "", {124, 16, 3}, false, nullptr},
    {"argb8888", 13, 7, "-alpha on -define bmp:subtype=ARGB8888", "", {124, 32, 3}, false, nullptr},
    // netpbm's writer: its own table sizes and OS/2 header.
    {"nb24", 19, 11, "", "", {40, 24, 0}, true, "-bpp 24"},
    {"nb8", 19, 11, "-colors 200", "", {40, 8, 0}, true, "-bpp 8"},
    {"nb4", 19, 11, "-colors 16", "", {40, 4, 0}, true, "-bpp 4"},
    {"nb1", 19, 11, "-monochrome", "", {40, 1, 0}, true, "-bpp 1"},
    {"nb_os2_8", 19, 11, "-colors 100", "", {12, 8, 0}, true, "-os2 -bpp 8"},
};

TEST(BmpFromOtherPrograms, ImageMagickAndNetpbmFilesLoadPixelExact) {
  if (!HaveJudges()) {
    GTEST_SKIP() << "ImageMagick or netpbm missing";
  }
  TempDir dir;
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const std::string file = dir.File(std::string(v.name) + ".bmp");
    const std::string crop = "convert '" + PhotoCrop(dir, v.width, v.height) + "' " + v.options;
    ASSERT_EQ(RunCommand(v.ppmtobmp ? crop + " ppm:- | ppmtobmp " + v.ppmtobmp + " > '" + file +
                                          "' 2>/dev/null"
                                    : crop + " '" + v.prefix + file + "'"),
              0);
    ASSERT_EQ(FormOf(ReadFileBytes(file)), v.form) << "the tool wrote another form";

    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    EXPECT_EQ(image.BitCount(), v.form.bitCount <= 8 ? 8 : 24);
    if (v.form.bitCount == 4) {
      EXPECT_EQ(image.ColoursUsed(), 16);
    }
    const Picture got{image.Width(), image.Height(), TopDownRGB(image)};
    EXPECT_EQ(got.width, v.width);
    const auto im = ByImageMagick(file);
    ASSERT_TRUE(im);
    EXPECT_EQ(got, *im);
    if (v.netpbm) {
      const auto pbm = ByNetpbm(file);
      ASSERT_TRUE(pbm);
      EXPECT_EQ(got, *pbm);
    }
  }
}

// Turns a bottom-up plain file into the same picture stored top-down.
std::vector<uint8_t> TopDownCopy(const std::vector<uint8_t>& f, size_t stride) {
  std::vector<uint8_t> out = f;
  const auto height = static_cast<int32_t>(Get32(f, 22));
  Set32(out, 22, static_cast<uint32_t>(-height));
  const size_t data = Get32(f, 10);
  for (int32_t r = 0; r < height; ++r) {
    std::copy_n(f.begin() + static_cast<long>(data + r * stride), stride,
                out.begin() + static_cast<long>(data + (height - 1 - r) * stride));
  }
  return out;
}

TEST(BmpFromOtherPrograms, TopDownRowsAndDataOffsets) {
  if (!HaveJudges()) {
    GTEST_SKIP() << "ImageMagick or netpbm missing";
  }
  TempDir dir;
  const std::string crop = PhotoCrop(dir, 13, 7);
  const std::string colour = dir.File("c.bmp"), palette = dir.File("p.bmp");
  ASSERT_EQ(RunCommand("convert '" + crop + "' 'BMP3:" + colour + "'"), 0);
  ASSERT_EQ(RunCommand("convert '" + crop +
                       "' -colors 200 -type palette -compress none 'BMP3:" + palette + "'"),
            0);
  const auto colourBytes = ReadFileBytes(colour), paletteBytes = ReadFileBytes(palette);
  ASSERT_EQ(FormOf(paletteBytes), (Form{40, 8, 0}));
  const auto colourDecoded = ByImageMagick(colour), paletteDecoded = ByImageMagick(palette);
  ASSERT_TRUE(colourDecoded && paletteDecoded);
  const Picture &colourPicture = *colourDecoded, &palettePicture = *paletteDecoded;

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const Picture& expected;
  } kCases[] = {
      {"top-down 24-bit", TopDownCopy(colourBytes, 40), colourPicture},
      {"top-down 8-bit", TopDownCopy(paletteBytes, 16), palettePicture},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File("case.bmp");
    WriteFileBytes(file, c.bytes);
    const auto im = ByImageMagick(file);
    ASSERT_TRUE(im);
    ASSERT_EQ(*im, c.expected) << "the hand-made file is not what was meant";
    int result = -9;
    EXPECT_EQ(ByLunark(file, &result), c.expected);
    EXPECT_EQ(result, 0);
  }

  // A gap between the table and the pixels is honoured; an offset inside the
  // table or beyond the end of the file is not.
  const uint32_t offset = Get32(paletteBytes, 10);
  std::vector<uint8_t> gap = paletteBytes;
  gap.insert(gap.begin() + offset, 100, 0xAB);
  Set32(gap, 10, offset + 100);
  Set32(gap, 2, static_cast<uint32_t>(gap.size()));
  const std::string file = dir.File("gap.bmp");
  WriteFileBytes(file, gap);
  const auto im = ByImageMagick(file);
  ASSERT_TRUE(im);
  ASSERT_EQ(*im, palettePicture);
  EXPECT_EQ(ByLunark(file), palettePicture);
  for (uint32_t bad : {offset - 8, 1000000u, static_cast<uint32_t>(paletteBytes.size())}) {
    std::vector<uint8_t> f = paletteBytes;
    Set32(f, 10, bad);
    WriteFileBytes(file, f);
    EXPECT_EQ(ByLunark(file), palettePicture) << "offset " << bad;
  }
}

// RLE4, which ImageMagick reads but does not write: runs, absolute runs of
// odd and even length (with and without their pad byte), a delta, line and
// picture ends, on a 9-pixel-wide picture.
TEST(BmpFromOtherPrograms, HandMadeRle4) {
  Bitmap b{.width = 9,
           .height = 4,
           .bitCount = 4,
           .compression = 2,
           .coloursUsed = 16,
           .table = SixteenColours()};
  b.pixels = {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0, 0x00, 0x00,  // row 0
              0x00, 0x04, 0xAB, 0xCD, 0x05, 0x9E, 0x00, 0x00,                          // row 1
              0x00, 0x02, 0x03, 0x01,                                                  // to row 3
              0x02, 0x88, 0x04, 0x77, 0x00, 0x01};
  const Picture expected = FromIndices(9, 4,
                                       {{0, 0, 0, 8, 8, 7, 7, 7, 7},
                                        {0, 0, 0, 0, 0, 0, 0, 0, 0},
                                        {10, 11, 12, 13, 9, 14, 9, 14, 9},
                                        {1, 2, 1, 3, 4, 5, 6, 7, 15}},
                                       b.table);
  TempDir dir;
  const std::string file = dir.File("rle4.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.ColoursUsed(), 16);
  EXPECT_EQ((Picture{image.Width(), image.Height(), TopDownRGB(image)}), expected);
  // Bytes consumed: the headers, the table and the stream without its one pad byte.
  EXPECT_EQ(image.loadedBytes, 54 + 64 + static_cast<int>(b.pixels.size()) - 1);
  if (testing_support::HaveTool("convert")) {
    const auto im = ByImageMagick(file);
    ASSERT_TRUE(im);
    EXPECT_EQ(*im, expected);
  }

  // The same stream marked top-down gives the picture upside down.
  b.height = -4;
  WriteFileBytes(file, b.Bytes());
  Picture flipped = expected;
  for (int r = 0; r < 4; ++r) {
    std::copy_n(expected.rgb.begin() + r * 27, 27, flipped.rgb.begin() + (3 - r) * 27);
  }
  EXPECT_EQ(ByLunark(file), flipped);
}

TEST(BmpEdgeCases, Rle8StreamAndByteCount) {
  Bitmap b{.width = 3, .height = 2, .compression = 1};
  b.table.resize(256, vxRGBA{1, 2, 3, 0});
  b.pixels = {0x02, 0x05, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01};
  TempDir dir;
  const std::string file = dir.File("rle8.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 256);
  EXPECT_EQ(std::vector<int>(image.Row(0), image.Row(0) + 3), (std::vector<int>{5, 5, 0}));
  EXPECT_EQ(std::vector<int>(image.Row(1), image.Row(1) + 3), (std::vector<int>{7, 0, 0}));
  EXPECT_EQ(image.loadedBytes, 54 + 1024 + 8);

  // 2 x 2, 8-bit, colours used 0: a full table and rows of 4 bytes.
  Bitmap plain{.width = 2, .height = 2};
  for (int i = 0; i < 256; ++i)
    plain.table.push_back(vxRGBA{0, 0, static_cast<uint8_t>(255 - i), 0});
  plain.pixels = {1, 2, 0xEE, 0xEE, 3, 4, 0xEE, 0xEE};
  WriteFileBytes(file, plain.Bytes());
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 256);
  EXPECT_EQ(image.Stride(), 4u);
  EXPECT_EQ(image.Row(1)[1], 4);
  EXPECT_EQ(image.palette[3].red, 252);
  EXPECT_EQ(image.loadedBytes, 54 + 1024 + 8);
}

TEST(BmpEdgeCases, HeaderSizesAndBitFields) {
  // One 3 x 1 picture, pure red, green and blue, in every header form.
  Bitmap base{.width = 3,
              .height = 1,
              .bitCount = 24,
              .pixels = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}};
  const Picture rgb{3, 1, {255, 0, 0, 0, 255, 0, 0, 0, 255}};

  std::vector<std::pair<std::string, Bitmap>> cases;
  for (uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    Bitmap b = base;
    b.headerSize = size;
    cases.emplace_back("24-bit, header " + std::to_string(size), b);
  }
  Bitmap rgb565 = base;
  rgb565.bitCount = 16;
  rgb565.compression = 3;
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  rgb565.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0};
  for (uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
    Bitmap b = rgb565;
    b.headerSize = size;
    cases.emplace_back("565 bit fields, header " + std::to_string(size), b);
  }
  Bitmap rgb555 = base;  // no masks: 5-5-5
  rgb555.bitCount = 16;
  rgb555.pixels = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0};
  cases.emplace_back("16-bit without masks", rgb555);
  Bitmap bgrx = base;  // 32-bit, masks in an unusual order, alpha dropped
  bgrx.bitCount = 32;
  bgrx.compression = 3;
  bgrx.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};
  bgrx.pixels = {0x77, 0xFF, 0, 0, 0x77, 0, 0xFF, 0, 0x77, 0, 0, 0xFF};
  cases.emplace_back("32-bit bit fields", bgrx);

  TempDir dir;
  const std::string file = dir.File("form.bmp");
  for (const auto& [name, bitmap] : cases) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bitmap.Bytes());
    int result = -9;
    EXPECT_EQ(ByLunark(file, &result), rgb);
    EXPECT_EQ(result, 0) << vxLastError();
  }

  // Fewer than 8 bits per sample are widened by repeating them.
  Bitmap mid = rgb565;
  mid.width = 1;
  mid.pixels = {0x10, 0x84, 0, 0};  // 10000 100000 10000
  WriteFileBytes(file, mid.Bytes());
  EXPECT_EQ(ByLunark(file).rgb, (std::vector<uint8_t>{132, 130, 132}));
}

TEST(BmpEdgeCases, UnrecognisedCompressionIsRefusedWithItsNotice) {
  Bitmap good{.width = 2,
              .height = 2,
              .coloursUsed = 2,
              .table = {{0, 0, 0, 0}, {9, 9, 9, 0}},
              .pixels = {1, 1, 0, 0, 1, 1, 0, 0}};
  TempDir dir;
  const std::string goodFile = dir.File("good.bmp"), file = dir.File("odd.bmp");
  WriteFileBytes(goodFile, good.Bytes());
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(goodFile.c_str()), 0);
  const vxBitmapInfoHeader* kept = image.header;

  const struct {
    int bitCount;
    uint32_t compression;
  } kOdd[] = {{8, 4}, {8, 5}, {8, 2}, {8, 3}, {4, 1}, {24, 1}, {24, 3}, {1, 2}, {16, 1}, {8, 99}};
  for (const auto& odd : kOdd) {
    SCOPED_TRACE(std::to_string(odd.bitCount) + "-bit, compression " +
                 std::to_string(odd.compression));
    Bitmap b = good;
    b.bitCount = static_cast<uint16_t>(odd.bitCount);
    b.compression = odd.compression;
    if (odd.bitCount > 8) b.table.clear();
    b.coloursUsed = static_cast<uint32_t>(b.table.size());
    WriteFileBytes(file, b.Bytes());
    NoticeCapture capture;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    const auto notices = capture.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "Unrecognized compression format\n");
    EXPECT_EQ(notices[0].file, file);
    EXPECT_EQ(image.header, kept);
  }
}

TEST(BmpEdgeCases, ShortFilesGivePartialZeroFilledPictures) {
  Bitmap b{.width = 4, .height = 4, .bitCount = 24};
  b.pixels.assign(12 * 4, 0x5A);
  std::vector<uint8_t> bytes = b.Bytes();
  bytes.resize(bytes.size() - 12 - 6);  // the top row and half the next are missing
  TempDir dir;
  const std::string file = dir.File("short.bmp");
  WriteFileBytes(file, bytes);
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.Row(0)[0], 0x5A);
  EXPECT_EQ(image.Row(1)[11], 0x5A);
  EXPECT_EQ(image.Row(2)[5], 0x5A);
  EXPECT_EQ(image.Row(2)[6], 0);
  EXPECT_EQ(image.Row(3)[0], 0);

  // A run-length stream that stops early leaves the rest at index 0.
  Bitmap rle{.width = 4, .height = 3, .compression = 1, .coloursUsed = 4};
  rle.table.assign(4, vxRGBA{50, 50, 50, 0});
  rle.pixels = {0x04, 0x03, 0x00, 0x00, 0x02};
  WriteFileBytes(file, rle.Bytes());
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.Row(0)[3], 3);
  for (int y = 1; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Row(y)[x], 0) << x << "," << y;
  }
}

TEST(BmpEdgeCases, FileInformation) {
  Bitmap b{.headerSize = 12, .width = 300, .height = 2, .bitCount = 4, .table = SixteenColours()};
  b.pixels.resize(152 * 2);
  TempDir dir;
  const std::string file = dir.File("info.bmp");
  const auto bytes = b.Bytes();
  WriteFileBytes(file, bytes);
  EXPECT_EQ(InfoOf(file), Info(300, 2, 4, file));

  b.headerSize = 40;
  b.height = -7;  // top-down: the height is still reported as 7
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(InfoOf(file), Info(300, 7, 4, file));

  auto odd = b.Bytes();
  Set32(odd, 14, 11);
  WriteFileBytes(file, odd);
  const vxFileInfo before{1, 2, 3, 4};
  vxFileInfo info = before;
  EXPECT_EQ(vxImage::GetInfo(file.c_str(), &info), -1);
  EXPECT_EQ(info.width, before.width);
  EXPECT_EQ(info.fileSize, before.fileSize);
  EXPECT_EQ(vxImage::GetInfo(dir.File("missing.bmp").c_str(), &info), -1);
}

// Images the way the writer receives them, with what each pixel should show.
struct Sample {
  std::string name;
  std::unique_ptr<vxScopedImage> image;
  Picture expected;
};

std::vector<Sample> WriterSamples() {
  std::vector<Sample> samples;
  auto add = [&](const std::string& name, vxBitmapInfoHeader* block, Picture expected) {
    auto image = std::make_unique<vxScopedImage>();
    image->AdoptBlock(block);
    samples.push_back({name, std::move(image), std::move(expected)});
  };
  const std::tuple<int, int, int> kPatterns[] = {{37, 23, 24}, {1, 3, 24}, {37, 23, 8}, {2, 1, 8}};
  for (auto [w, h, bits] : kPatterns) {
    auto image = std::make_unique<vxScopedImage>();
    MakePattern(*image, w, h, bits, static_cast<uint32_t>(w));
    Picture p{w, h, TopDownRGB(*image)};
    samples.push_back({std::to_string(bits) + "-bit " + std::to_string(w) + "x" + std::to_string(h),
                       std::move(image), std::move(p)});
  }
  // A 16-colour palette in an 8-bit image, as a 4-bit file loads.
  {
    vxBitmapInfoHeader* block = vxAllocateBlock(11, 5, 8, 16);
    const auto table = SixteenColours();
    std::copy(table.begin(), table.end(), vxBlockPalette(block));
    std::vector<std::vector<int>> rows(5, std::vector<int>(11));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 11; ++x) {
        rows[4 - y][x] = (x * 3 + y) % 16;
        vxBlockBits(block)[y * 12 + x] = static_cast<unsigned char>(rows[4 - y][x]);
      }
    }
    add("8-bit, 16 colours", block, FromIndices(11, 5, rows, table));
  }
  // 4-bit images hold two pixels per byte, 1-bit ones a byte per pixel.
  for (auto [bits, w, h] : {std::tuple{4, 1, 3}, {4, 17, 3}, {1, 1, 4}, {1, 37, 4}}) {
    const std::vector<vxRGBA> table =
        bits == 4 ? SixteenColours() : std::vector<vxRGBA>{{10, 20, 30, 0}, {200, 150, 100, 0}};
    vxBitmapInfoHeader* block = vxAllocateBlock(w, h, bits, static_cast<int>(table.size()));
    std::copy(table.begin(), table.end(), vxBlockPalette(block));
    const size_t stride = vxRowStride(w, bits);
    std::vector<std::vector<int>> rows(h, std::vector<int>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int v = bits == 4 ? (x + 5 * y) % 16 : ((x * x + y) % 3) == 0;
        rows[h - 1 - y][x] = v;
        unsigned char& byte = vxBlockBits(block)[y * stride + (bits == 4 ? x / 2 : x)];
        byte |= static_cast<unsigned char>(bits == 4 && !(x & 1) ? v << 4 : v);
      }
    }
    add(std::to_string(bits) + "-bit width " + std::to_string(w), block,
        FromIndices(w, h, rows, table));
  }
  return samples;
}

TEST(BmpWriter, OtherProgramsReadLunarksFilesPixelExact) {
  if (!HaveJudges()) {
    GTEST_SKIP() << "ImageMagick or netpbm missing";
  }
  TempDir dir;
  for (Sample& s : WriterSamples()) {
    SCOPED_TRACE(s.name);
    const std::string file = dir.File("out.bmp");
    ASSERT_EQ(s.image->SaveImage(file.c_str(), TypeBMP), 0) << vxLastError();
    const auto bytes = ReadFileBytes(file);
    EXPECT_EQ(Get32(bytes, 2), bytes.size());
    EXPECT_EQ(Get32(bytes, 10), 54 + 4 * Get32(bytes, 46));
    EXPECT_EQ(Get32(bytes, 14), 40u);
    EXPECT_EQ(bytes[28], s.image->BitCount());
    const auto im = ByImageMagick(file);
    ASSERT_TRUE(im) << "ImageMagick refused the file";
    EXPECT_EQ(*im, s.expected);
    const auto pbm = ByNetpbm(file);
    ASSERT_TRUE(pbm) << "netpbm refused the file";
    EXPECT_EQ(*pbm, s.expected);
    EXPECT_EQ(ByLunark(file), s.expected);
  }
}

TEST(BmpWriter, AnUnwritableDepthIsRefused) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(TypeBMP));
  vxScopedImage small;
  MakePattern(small, 3, 3, 24);
  // A depth the format cannot hold is refused with its notice, nothing written.
  vxBitmapInfoHeader odd = *small.header;
  odd.bitCount = 16;
  TempDir dir;
  const std::string file = dir.File("odd.bmp");
  NoticeCapture capture;
  EXPECT_EQ(rw->Write(file.c_str(), &odd, small.palette, small.bits, nullptr), -1);
  EXPECT_EQ(capture.notices().size(), 1u);
  EXPECT_EQ(capture.Count("Unexpected biBitCoun 16 \n"), 1);
  EXPECT_TRUE(ReadFileBytes(file).empty());
}

}  // namespace
