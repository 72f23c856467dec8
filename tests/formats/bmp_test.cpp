// Bitmaps: files of other programs load pixel-exact, Lunark's files read
// pixel-exact in other programs, the forms the tools do not write (RLE4,
// top-down rows, gaps, unusual header sizes) are made by hand, and hostile
// files give an image or an error, never a crash, a hang or an allocation
// the file cannot justify (the sanitizer build checks the memory side).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
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
Picture FromIndices(int width, int height, const std::vector<std::vector<int>>& topDownRows,
                    const std::vector<vxRGBA>& table) {
  Picture p{width, height, {}};
  for (const auto& row : topDownRows) {
    for (int x = 0; x < width; ++x) {
      const vxRGBA e = table[row[x]];
      p.rgb.insert(p.rgb.end(), {e.red, e.green, e.blue});
    }
  }
  return p;
}

std::optional<Picture> DecodeWith(const std::string& command, const std::string& ppm) {
  Picture p;
  if (RunCommand("(" + command + ") 2>/dev/null") != 0) return std::nullopt;
  if (!testing_support::ReadNetpbmRGB(ppm, p.width, p.height, p.rgb)) return std::nullopt;
  return p;
}
std::optional<Picture> ByImageMagick(const std::string& file) {
  const std::string ppm = file + ".im.ppm";
  return DecodeWith("convert '" + file + "' -alpha off -depth 8 'ppm:" + ppm + "'", ppm);
}
std::optional<Picture> ByNetpbm(const std::string& file) {
  const std::string ppm = file + ".pbm.ppm";
  return DecodeWith("bmptopnm '" + file + "' | ppmtoppm > '" + ppm + "'", ppm);
}
Picture ByLunark(const std::string& file, int* result = nullptr) {
  Picture p;
  const int r = LoadPicture(file, p);
  if (result) *result = r;
  return p;
}

bool HaveJudges() { return HaveTool("convert") && HaveTool("bmptopnm") && HaveTool("ppmtoppm"); }

std::string PhotoCrop(const TempDir& dir, int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string out = dir.File("crop" + size + ".ppm");
  RunCommand("convert '" + DataPath("chelsea.ppm") + "' -crop " + size + "+190+90 +repage '" + out +
             "'");
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

TEST(BmpFromOtherPrograms, ImageMagickAndNetpbmFilesLoadPixelExact) {
  if (!HaveJudges()) GTEST_SKIP() << "ImageMagick or netpbm missing";
  const char* kPalette = "-colors 200 -type palette -compress none";
  const char* kRle = "-colors 200 -type palette -compress RLE";
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
      {"argb8888",
       13,
       7,
       "-alpha on -define bmp:subtype=ARGB8888",
       "",
       {124, 32, 3},
       false,
       nullptr},
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
  if (!HaveJudges()) GTEST_SKIP() << "ImageMagick or netpbm missing";
  TempDir dir;
  const std::string crop = PhotoCrop(dir, 13, 7);
  const std::string colour = dir.File("c.bmp"), palette = dir.File("p.bmp");
  ASSERT_EQ(RunCommand("convert '" + crop + "' 'BMP3:" + colour + "'"), 0);
  ASSERT_EQ(RunCommand("convert '" + crop +
                       "' -colors 200 -type palette -compress none 'BMP3:" + palette + "'"),
            0);
  const auto colourBytes = ReadFileBytes(colour), paletteBytes = ReadFileBytes(palette);
  ASSERT_EQ(FormOf(paletteBytes), (Form{40, 8, 0}));
  const auto colourPicture = ByImageMagick(colour), palettePicture = ByImageMagick(palette);
  ASSERT_TRUE(colourPicture && palettePicture);

  // A gap between the table and the pixels is honoured; an offset inside the
  // table or beyond the end of the file is not (the pixels follow the table).
  const uint32_t offset = Get32(paletteBytes, 10);
  std::vector<uint8_t> gap = paletteBytes;
  gap.insert(gap.begin() + offset, 100, 0xAB);
  Set32(gap, 10, offset + 100);
  Set32(gap, 2, static_cast<uint32_t>(gap.size()));
  std::vector<std::tuple<std::string, std::vector<uint8_t>, Picture>> cases = {
      {"top-down 24-bit", TopDownCopy(colourBytes, 40), *colourPicture},
      {"top-down 8-bit", TopDownCopy(paletteBytes, 16), *palettePicture},
      {"gap before the pixels", gap, *palettePicture},
  };
  for (uint32_t bad : {offset - 8, 1000000u, static_cast<uint32_t>(paletteBytes.size())}) {
    std::vector<uint8_t> f = paletteBytes;
    Set32(f, 10, bad);
    cases.emplace_back("offset " + std::to_string(bad), f, *palettePicture);
  }
  const std::string file = dir.File("case.bmp");
  for (const auto& [name, bytes, expected] : cases) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bytes);
    int result = -9;
    EXPECT_EQ(ByLunark(file, &result), expected);
    EXPECT_EQ(result, 0);
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
  if (HaveTool("convert")) {
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

  // Run-length codes on the wrong depth, bit fields on a palette, unknown codes.
  for (auto [bitCount, compression] : {std::pair{8, 4u},
                                       {8, 2u},
                                       {8, 3u},
                                       {4, 1u},
                                       {24, 1u},
                                       {24, 3u},
                                       {1, 2u},
                                       {16, 1u},
                                       {8, 99u}}) {
    SCOPED_TRACE(std::to_string(bitCount) + "-bit, compression " + std::to_string(compression));
    Bitmap b = good;
    b.bitCount = static_cast<uint16_t>(bitCount);
    b.compression = compression;
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

TEST(BmpEdgeCases, FileInformation) {
  Bitmap b{.headerSize = 12, .width = 300, .height = 2, .bitCount = 4, .table = SixteenColours()};
  b.pixels.resize(152 * 2);
  TempDir dir;
  const std::string file = dir.File("info.bmp");
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(InfoOf(file), Info(300, 2, 4, file));

  b.headerSize = 40;
  b.height = -7;  // top-down: the height is still reported as 7
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(InfoOf(file), Info(300, 7, 4, file));

  // A failed query leaves the caller's record as it was.
  auto odd = b.Bytes();
  Set32(odd, 14, 11);
  WriteFileBytes(file, odd);
  vxFileInfo info{1, 2, 3, 4};
  EXPECT_EQ(vxImage::GetInfo(file.c_str(), &info), -1);
  EXPECT_EQ(info.width, 1);
  EXPECT_EQ(info.fileSize, 4);
}

// Images the way the writer receives them, with what each pixel should show.
struct Sample {
  std::string name;
  std::unique_ptr<vxScopedImage> image;
  Picture expected;
};

std::vector<Sample> WriterSamples() {
  std::vector<Sample> samples;
  for (auto [w, h, bits] : {std::tuple{37, 23, 24}, {1, 3, 24}, {37, 23, 8}, {2, 1, 8}}) {
    auto image = std::make_unique<vxScopedImage>();
    MakePattern(*image, w, h, bits, static_cast<uint32_t>(w));
    Picture p{w, h, TopDownRGB(*image)};
    samples.push_back({std::to_string(bits) + "-bit " + std::to_string(w) + "x" + std::to_string(h),
                       std::move(image), std::move(p)});
  }
  // A 16-colour palette in an 8-bit image (as a 4-bit file loads); 4-bit
  // images hold two pixels per byte, 1-bit ones a byte per pixel.
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
    samples.push_back({std::to_string(bits) + "-bit width " + std::to_string(w), std::move(image),
                       FromIndices(w, h, rows, table)});
  }
  return samples;
}

TEST(BmpWriter, OtherProgramsReadLunarksFilesPixelExact) {
  if (!HaveJudges()) GTEST_SKIP() << "ImageMagick or netpbm missing";
  TempDir dir;
  for (Sample& s : WriterSamples()) {
    SCOPED_TRACE(s.name);
    const std::string file = dir.File("out.bmp");
    ASSERT_EQ(s.image->SaveImage(file.c_str(), TypeBMP), 0) << vxLastError();
    const auto bytes = ReadFileBytes(file);
    EXPECT_EQ(Get32(bytes, 2), bytes.size());
    EXPECT_EQ(Get32(bytes, 10), 54 + 4 * Get32(bytes, 46));
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

// Every prefix of files of each form, then random damage. A pixel cut in the
// middle may differ from the whole file's.
TEST(BmpMalformed, EveryPrefixAndRandomDamageLoadOrFailCleanly) {
  Bitmap v5{.headerSize = 124,
            .width = 13,
            .height = 7,
            .bitCount = 24,
            .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};
  for (int i = 0; i < 40 * 7; ++i) v5.pixels.push_back(static_cast<uint8_t>(i * 7));
  Bitmap rle8{.width = 6, .height = 4, .compression = 1, .coloursUsed = 8};
  rle8.table.assign(8, vxRGBA{1, 2, 3, 0});
  rle8.pixels = {0x03, 0x01, 0x00, 0x03, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,
                 0x02, 0x01, 0x01, 0x06, 0x05, 0x00, 0x00, 0x02, 0x07, 0x00, 0x01};
  Bitmap rle4{.width = 9, .height = 3, .bitCount = 4, .compression = 2, .table = SixteenColours()};
  rle4.pixels = {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0,
                 0x00, 0x00, 0x00, 0x02, 0x03, 0x01, 0x02, 0x88, 0x00, 0x01};
  Bitmap os2{.headerSize = 12, .width = 9, .height = 5, .bitCount = 4, .table = SixteenColours()};
  for (int i = 0; i < 8 * 5; ++i) os2.pixels.push_back(static_cast<uint8_t>(i * 37));
  Bitmap fields{.width = 5,
                .height = -3,
                .bitCount = 16,
                .compression = 3,
                .masks = {0xF800, 0x07E0, 0x001F}};
  for (int i = 0; i < 12 * 3; ++i) fields.pixels.push_back(static_cast<uint8_t>(i * 11));
  Bitmap mono{
      .width = 33,
      .height = 2,
      .bitCount = 1,
      .table = {{0, 0, 0, 0}, {255, 255, 255, 0}},
      .pixels = {0xAA, 0x55, 0xF0, 0x0F, 0x80, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0}};

  MemoryCeiling ceiling(64 << 20);
  TempDir dir;
  const std::string file = dir.File("whole.bmp");
  uint32_t seed = 20240611;
  for (const auto& [name, bitmap] : {std::pair{"v5 24-bit", v5},
                                     {"rle8", rle8},
                                     {"rle4", rle4},
                                     {"os2 4-bit", os2},
                                     {"top-down 565", fields},
                                     {"1-bit", mono}}) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bitmap.Bytes());
    LoadEveryPrefix(file, dir, 1, true);
    LoadMutations(bitmap.Bytes(), dir, seed++, 400);
  }
}

std::vector<uint8_t> GoodPaletteFile() {
  Bitmap b{.width = 4, .height = 2, .coloursUsed = 4};
  b.table.assign(4, vxRGBA{7, 7, 7, 0});
  b.pixels = {0, 1, 2, 3, 3, 2, 1, 0};
  return b.Bytes();
}

TEST(BmpMalformed, ImpossibleHeaderSizesAreRefused) {
  TempDir dir;
  const std::string file = dir.File("size.bmp");
  for (uint32_t size : {0u, 4u, 11u, 13u, 125u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    auto bytes = GoodPaletteFile();
    Set32(bytes, 14, size);
    WriteFileBytes(file, bytes);
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    EXPECT_NE(vxLastError().find("header size " + std::to_string(size)), std::string::npos)
        << vxLastError();
    vxFileInfo info{};
    EXPECT_EQ(vxImage::GetInfo(file.c_str(), &info), -1);
  }
}

TEST(BmpMalformed, AbsurdFieldsAreRefusedBeforeAllocating) {
  // With the ceiling out of the way, only the checks against the file stand
  // between these headers and an allocation of gigabytes or terabytes.
  MemoryCeiling ceiling(uint64_t{1} << 50);
  const struct {
    const char* name;
    size_t at;
    uint32_t value;
    int bytes;  // 2 for the bit count
  } kFields[] = {
      {"width 0", 18, 0, 4},
      {"negative width", 18, static_cast<uint32_t>(-5), 4},
      {"height 0", 22, 0, 4},
      {"height -2^31", 22, 0x80000000u, 4},
      {"huge width", 18, 0x7FFFFFFF, 4},
      {"huge height", 22, 0x7FFFFFFF, 4},
      {"a million square", 18, 1 << 20, 4},
      {"bit count 0", 28, 0, 2},
      {"bit count 2", 28, 2, 2},
      {"bit count 64", 28, 64, 2},
      {"257 colours", 46, 257, 4},
      {"2^31 colours", 46, 0x80000000u, 4},
      {"all colours", 46, 0xFFFFFFFFu, 4},
  };
  TempDir dir;
  const std::string file = dir.File("absurd.bmp");
  for (const auto& f : kFields) {
    SCOPED_TRACE(f.name);
    auto bytes = GoodPaletteFile();
    if (std::string(f.name) == "a million square") Set32(bytes, 22, 1 << 20);
    for (int i = 0; i < f.bytes; ++i) bytes[f.at + i] = static_cast<uint8_t>(f.value >> (8 * i));
    WriteFileBytes(file, bytes);
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(file.c_str()), -2);
    EXPECT_FALSE(vxLastError().empty());
  }

  // A 24-bit file whose table, or whose masks, would lie beyond its end.
  Bitmap colour{.width = 2, .height = 2, .bitCount = 24, .coloursImportant = 1000000};
  colour.pixels.assign(16, 9);
  WriteFileBytes(file, colour.Bytes());
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(file.c_str()), -2);
  Bitmap fields{.bitCount = 16, .compression = 3};
  fields.pixels = {1, 2, 3, 4};  // 4 of the 12 mask bytes
  WriteFileBytes(file, fields.Bytes());
  EXPECT_EQ(image.LoadImage(file.c_str()), -2);
}

TEST(BmpMalformed, RunLengthPicturesAreBoundedByTheCeiling) {
  // Enough coded bytes (end-of-line codes) for 9 MB, above the ceiling.
  Bitmap b{.width = 3000, .height = 3000, .compression = 1, .coloursUsed = 2};
  b.table.assign(2, vxRGBA{});
  TempDir dir;
  const std::string file = dir.File("bomb.bmp");
  vxScopedImage image;
  MemoryCeiling ceiling(8 << 20);
  b.pixels.assign(2 * 4500, 0x00);
  b.pixels.insert(b.pixels.end(), {0x00, 0x01});
  WriteFileBytes(file, b.Bytes());
  EXPECT_EQ(image.LoadImage(file.c_str()), -3);
  EXPECT_NE(vxLastError().find("too large"), std::string::npos);
  // Within the ceiling, a stream that ends at once gives a picture of index 0.
  b.pixels = {0x00, 0x01};
  b.width = b.height = 2000;
  WriteFileBytes(file, b.Bytes());
  ASSERT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.Row(1999)[1999], 0);
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
    Bitmap b{.width = 4,
             .height = 3,
             .bitCount = s.bits,
             .compression = s.bits == 8 ? 1u : 2u,
             .coloursUsed = 16,
             .table = SixteenColours(),
             .pixels = s.stream};
    WriteFileBytes(file, b.Bytes());
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(file.c_str()), 0) << vxLastError();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Row(3)[x], 0) << "spare row, x " << x;
  }
}

TEST(BmpMalformed, EndlessLookingStreamsFinish) {
  // Deltas of zero consume input without moving; the reader stops at the
  // end of the file.
  Bitmap b{.width = 8, .height = 8, .compression = 1, .coloursUsed = 2};
  b.table.assign(2, vxRGBA{});
  for (int i = 0; i < 250000; ++i) b.pixels.insert(b.pixels.end(), {0x00, 0x02, 0x00, 0x00});
  TempDir dir;
  const std::string file = dir.File("zero-deltas.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(file.c_str()), 0);
  EXPECT_EQ(image.loadedBytes, 54 + 8 + 1000000);
}

}  // namespace
