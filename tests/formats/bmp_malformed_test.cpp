// Hostile and broken bitmaps: every prefix of good files, impossible header
// fields, run-length streams that run off the picture, random damage. The
// reader must answer each with an image or an error, never a crash, a hang,
// a read outside the file's data or an allocation the file cannot justify
// (the sanitizer build checks the memory side).
#include <gtest/gtest.h>

#include "bmp_util.h"

using namespace bmp_test;

namespace {

std::vector<std::pair<std::string, std::vector<uint8_t>>> Seeds() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  Bitmap v5{.headerSize = 124,
            .width = 13,
            .height = 7,
            .bitCount = 24,
            .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};
  for (int i = 0; i < 40 * 7; ++i) v5.pixels.push_back(static_cast<uint8_t>(i * 7));
  seeds.emplace_back("v5 24-bit", v5.Bytes());

  Bitmap rle8{.width = 6, .height = 4, .compression = 1, .coloursUsed = 8};
  rle8.table.assign(8, vxRGBA{1, 2, 3, 0});
  rle8.pixels = {0x03, 0x01, 0x00, 0x03, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,
                 0x02, 0x01, 0x01, 0x06, 0x05, 0x00, 0x00, 0x02, 0x07, 0x00, 0x01};
  seeds.emplace_back("rle8", rle8.Bytes());

  Bitmap rle4{.width = 9, .height = 3, .bitCount = 4, .compression = 2, .table = SixteenColours()};
  rle4.pixels = {0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0,
                 0x00, 0x00, 0x00, 0x02, 0x03, 0x01, 0x02, 0x88, 0x00, 0x01};
  seeds.emplace_back("rle4", rle4.Bytes());

  Bitmap os2{.headerSize = 12, .width = 9, .height = 5, .bitCount = 4, .table = SixteenColours()};
  for (int i = 0; i < 8 * 5; ++i) os2.pixels.push_back(static_cast<uint8_t>(i * 37));
  seeds.emplace_back("os2 4-bit", os2.Bytes());

  Bitmap fields{.width = 5,
                .height = -3,
                .bitCount = 16,
                .compression = 3,
                .masks = {0xF800, 0x07E0, 0x001F}};
  for (int i = 0; i < 12 * 3; ++i) fields.pixels.push_back(static_cast<uint8_t>(i * 11));
  seeds.emplace_back("top-down 565", fields.Bytes());

  Bitmap mono{
      .width = 33,
      .height = 2,
      .bitCount = 1,
      .table = {{0, 0, 0, 0}, {255, 255, 255, 0}},
      .pixels = {0xAA, 0x55, 0xF0, 0x0F, 0x80, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0}};
  seeds.emplace_back("1-bit", mono.Bytes());
  return seeds;
}

// Every prefix, then random damage. A pixel cut in the middle may differ
// from the whole file's.
TEST(BmpMalformed, EveryPrefixAndRandomDamageLoadOrFailCleanly) {
  MemoryCeiling ceiling(64 << 20);
  TempDir dir;
  const std::string file = dir.File("whole.bmp");
  uint32_t seed = 20240611;
  for (const auto& [name, bytes] : Seeds()) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, bytes);
    LoadEveryPrefix(file, dir, 1, true);
    LoadMutations(bytes, dir, seed++, 400);
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
    int width;  // 4 or 2 for the 16- and 32-bit fields
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
    for (int i = 0; i < f.width; ++i) bytes[f.at + i] = static_cast<uint8_t>(f.value >> (8 * i));
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
  Bitmap b{.width = 30000, .height = 30000, .compression = 1, .coloursUsed = 2};
  b.table.assign(2, vxRGBA{});
  b.pixels = {0x00, 0x01};  // end of bitmap at once: a valid, empty picture
  TempDir dir;
  const std::string file = dir.File("bomb.bmp");
  WriteFileBytes(file, b.Bytes());
  vxScopedImage image;
  // Two bytes cannot stand for 900 MB of pixels.
  EXPECT_EQ(image.LoadImage(file.c_str()), -2);
  EXPECT_NE(vxLastError().find("far too few"), std::string::npos);
  // Enough coded bytes (end-of-line codes) for 9 MB, above the ceiling.
  MemoryCeiling ceiling(8 << 20);
  b.width = b.height = 3000;
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

TEST(BmpMalformed, RunsAndDeltasStopAtTheEndOfThePicture) {
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
       [] {
         std::vector<uint8_t> s = {0x00, 0x02, 0x00, 0x02, 0x00, 0xFF};
         s.insert(s.end(), 256, 0x06);
         return s;
       }()},
      {"lines beyond the picture", 8, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04}},
      {"ends in a run", 8, {0x05}},
      {"ends in an escape", 8, {0x00}},
      {"ends in a delta", 8, {0x00, 0x02, 0x01}},
      {"ends in an absolute run", 8, {0x00, 0x05, 0x01, 0x02}},
      {"nibble run on the last row", 4, {0x00, 0x02, 0x00, 0x02, 0xFF, 0x17}},
      {"nibble absolute run", 4,
       [] {
         std::vector<uint8_t> s = {0x00, 0x02, 0x01, 0x02, 0x00, 0xFF};
         s.insert(s.end(), 128, 0x56);
         return s;
       }()},
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
  // Deltas of zero and line ends past the picture consume input; the reader
  // stops at the end of the file or of the picture.
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
