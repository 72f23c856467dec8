#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "format_util.h"
#include "formats/registry.h"

namespace {

using namespace format_test;

struct TgaFields {
  int idLength = 0, mapType = 0, imageType = 2, mapFirst = 0, mapLength = 0, entrySize = 0;
  int width = 1, height = 1, pixelSize = 24, descriptor = 0;
};

std::vector<uint8_t> TgaHeader(const TgaFields& t) {
  std::vector<uint8_t> h = {static_cast<uint8_t>(t.idLength), static_cast<uint8_t>(t.mapType),
                            static_cast<uint8_t>(t.imageType)};
  Put16(h, static_cast<unsigned>(t.mapFirst));
  Put16(h, static_cast<unsigned>(t.mapLength));
  h.push_back(static_cast<uint8_t>(t.entrySize));
  Put16(h, 0);
  Put16(h, 0);
  Put16(h, static_cast<unsigned>(t.width));
  Put16(h, static_cast<unsigned>(t.height));
  h.push_back(static_cast<uint8_t>(t.pixelSize));
  h.push_back(static_cast<uint8_t>(t.descriptor));
  return h;
}

// Sets or clears descriptor bits of an existing file (the judge, tgatoppm,
// honours the origin and interleave bits as well).
void SetDescriptor(const std::string& path, int descriptor) {
  auto bytes = ReadFileBytes(path);
  bytes[17] = static_cast<uint8_t>(descriptor);
  WriteFileBytes(path, bytes);
}

TEST(TgaRead, AgreesWithTgatoppmOnEveryVariant) {
  TempDir dir;
  const std::string src = dir.File("src.ppm");
  Shell("pamcut -left 101 -top 57 -width 37 -height 23 " + Quote(DataPath("chelsea.ppm")) + " > " +
        Quote(src));
  const std::string s = Quote(src);
  auto f = [&](const char* name) { return Quote(dir.File(name)); };
  Shell("convert " + s + " " + f("t2.tga"));
  Shell("convert " + s + " -compress RLE " + f("t10.tga"));
  Shell("convert " + s + " -type Grayscale " + f("t3.tga"));
  Shell("convert " + s + " -type Grayscale -compress RLE " + f("t11.tga"));
  Shell("convert " + s + " -type Palette " + f("t1.tga"));
  Shell("convert " + s + " -type Palette -compress RLE " + f("t9.tga"));
  Shell("convert " + s + " -alpha on " + f("t2alpha.tga"));
  Shell("convert " + s + " -set comment 'an image ID field' " + f("tid.tga"));
  Shell("pnmquant 200 " + s + " | pamtotga " + " > " + f("nb9.tga"));
  Shell("pnmquant 200 " + s + " | pamtotga -norle -name 'fourteen bytes' > " + f("nb1id.tga"));
  Shell("pnmquant 220 " + s + " | pamtotga -cmap16 > " + f("nbcmap16.tga"));
  Shell("pamtotga -rgb -norle " + s + " > " + f("nb2.tga"));
  Shell("ppmtopgm " + s + " | pamtotga > " + f("nb11.tga"));
  // The same files with the first row at the top, and interleaved.
  for (auto [from, to, descriptor] : {std::tuple{"t10.tga", "t10top.tga", 0x20},
                                      {"t1.tga", "t1top.tga", 0x20},
                                      {"t2.tga", "t2four.tga", 0x80},
                                      {"t3.tga", "t3fourtop.tga", 0xA0},
                                      {"nb9.tga", "nb9two.tga", 0x60}}) {
    Shell("cp " + f(from) + " " + f(to));
    SetDescriptor(dir.File(to), descriptor);
  }

  for (const char* name :
       {"t2.tga", "t10.tga", "t3.tga", "t11.tga", "t1.tga", "t9.tga", "t2alpha.tga", "tid.tga",
        "nb9.tga", "nb1id.tga", "nbcmap16.tga", "nb2.tga", "nb11.tga", "t10top.tga", "t1top.tga",
        "t2four.tga", "t3fourtop.tga", "nb9two.tga"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vxImage::GetFileType(dir.File(name).c_str()), TypeTGA);
    ExpectLoadsLike(dir.File(name), "tgatoppm " + Quote(dir.File(name)), dir);
  }
  // Colour-mapped files keep 256 slots whatever the entry size.
  vxScopedImage mapped;
  ASSERT_EQ(mapped.LoadImage(dir.File("nbcmap16.tga").c_str()), 0);
  EXPECT_EQ(mapped.BitCount(), 8);
  EXPECT_EQ(mapped.ColoursUsed(), 256);
}

TEST(TgaRead, FifteenAndSixteenBitColoursAreWidened) {
  TempDir dir;
  TgaFields t{.width = 3, .height = 2, .pixelSize = 16};
  std::vector<uint8_t> pixels;
  for (unsigned v : {0x7C00u, 0x03E0u, 0x001Fu, 0xFFFFu, 0x0421u, 0x1234u}) Put16(pixels, v);
  const std::string path = dir.File("t16.tga");
  WriteFileBytes(path, Concat(TgaHeader(t), pixels));
  ExpectLoadsLike(path, "tgatoppm " + Quote(path), dir);

  // A 15-bit colour map on a type-1 file with 256 entries: every one counts.
  TgaFields m{.mapType = 1,
              .imageType = 1,
              .mapLength = 256,
              .entrySize = 15,
              .width = 256,
              .pixelSize = 8};
  std::vector<uint8_t> map, indices;
  for (unsigned i = 0; i < 256; ++i) {
    Put16(map, (i % 32) << 10 | ((i / 32) << 5) | (31 - i % 32));
    indices.push_back(static_cast<uint8_t>(i));
  }
  const std::string mapPath = dir.File("map15.tga");
  WriteFileBytes(mapPath, Concat(Concat(TgaHeader(m), map), indices));
  ExpectLoadsLike(mapPath, "tgatoppm " + Quote(mapPath), dir);
}

TEST(TgaRead, RepeatPacketsSpanRows) {
  TempDir dir;
  TgaFields t{.imageType = 11, .width = 100, .height = 2, .pixelSize = 8};
  // 0xFF repeats 128 times: the whole bottom row and 28 pixels of the top;
  // 0x80 gives one pixel; then 71 literal pixels.
  std::vector<uint8_t> data = {0xFF, 7, 0x80, 9, 70};
  for (int i = 0; i < 71; ++i) data.push_back(static_cast<uint8_t>(100 + i));
  const std::string path = dir.File("rle.tga");
  WriteFileBytes(path, Concat(TgaHeader(t), data));
  ExpectLoadsLike(path, "tgatoppm " + Quote(path), dir);
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.BitCount(), 24);  // grey files give equal components
  EXPECT_EQ(image.loadedBytes, 17 + static_cast<int>(data.size()));
}

TEST(TgaRead, ColourMapsThatDoNotFitThePalette) {
  TempDir dir;
  // Entries 250 to 269: those past slot 255 are read past, not stored.
  TgaFields t{.mapType = 1,
              .imageType = 1,
              .mapFirst = 250,
              .mapLength = 20,
              .entrySize = 24,
              .width = 2,
              .pixelSize = 8};
  std::vector<uint8_t> map;
  for (int i = 0; i < 20; ++i) map.insert(map.end(), {static_cast<uint8_t>(i), 0, 200});
  const std::string path = dir.File("over.tga");
  WriteFileBytes(path, Concat(Concat(TgaHeader(t), map), {255, 251}));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 256);
  EXPECT_EQ(image.palette[255].blue, 5);
  EXPECT_EQ(image.palette[251].red, 200);
  EXPECT_EQ(image.Row(0)[0], 255);
  EXPECT_EQ(image.Row(0)[1], 251);

  // A map in a true-colour file describes nothing: it is skipped.
  TgaFields c{.mapType = 1, .mapLength = 3, .entrySize = 32, .width = 2};
  const std::vector<uint8_t> unusedMap(12, 0xEE);
  const std::string truePath = dir.File("truemap.tga");
  WriteFileBytes(truePath, Concat(Concat(TgaHeader(c), unusedMap), {1, 2, 3, 4, 5, 6}));
  Picture p;
  ASSERT_EQ(LoadPicture(truePath, p), 0);
  EXPECT_EQ(p.rgb, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  EXPECT_EQ(InfoOf(truePath), Info(2, 1, 24, truePath));
  EXPECT_EQ(InfoOf(path), Info(2, 1, 8, path));
}

TEST(TgaDetect, ConsistentHeadersAreTakenAsTarga) {
  TgaFields t{.width = 4, .height = 3};
  auto plausible = [](const TgaFields& f, long long size) {
    const auto h = TgaHeader(f);
    return vxTgaHeaderPlausible(h.data(), h.size(), size);
  };
  EXPECT_TRUE(plausible(t, 18 + 36));
  TgaFields id = t;
  id.idLength = 14;
  EXPECT_TRUE(plausible(id, 18 + 14 + 36));
  EXPECT_FALSE(plausible(id, 18 + 10));  // ID field longer than the file
  TgaFields mapped = t;
  mapped.mapType = 1;
  mapped.imageType = 9;
  mapped.mapLength = 256;
  mapped.entrySize = 16;
  mapped.pixelSize = 8;
  EXPECT_TRUE(plausible(mapped, 18 + 512 + 10));
  EXPECT_FALSE(plausible(mapped, 18 + 500));  // map runs past the end
  EXPECT_TRUE(plausible(mapped, -1));         // size unknown
  for (auto change : std::initializer_list<void (*)(TgaFields&)>{
           [](TgaFields& f) { f.imageType = 0; }, [](TgaFields& f) { f.imageType = 32; },
           [](TgaFields& f) { f.mapType = 2; }, [](TgaFields& f) { f.width = 0; },
           [](TgaFields& f) { f.height = 0; }, [](TgaFields& f) { f.pixelSize = 12; },
           [](TgaFields& f) { f.imageType = 1; },  // colour-mapped without a map
           [](TgaFields& f) { f.descriptor = 0xC0; }}) {
    TgaFields bad = t;
    change(bad);
    EXPECT_FALSE(plausible(bad, 1000));
  }
  const auto h = TgaHeader(t);
  EXPECT_FALSE(vxTgaHeaderPlausible(h.data(), 17, 1000));
}

TEST(TgaRead, MalformedHeadersGiveClearErrors) {
  TempDir dir;
  const std::string path = dir.File("bad.tga");
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* says;  // part of the error message, or ""
  } kCases[] = {
      {"ID past the end", Concat(TgaHeader({.idLength = 200}), {1, 2, 3}), "past the end"},
      {"type 32", Concat(TgaHeader({.imageType = 32}), {1, 2, 3}), "type 32"},
      {"height 0", Concat(TgaHeader({.height = 0}), {1, 2, 3}), ""},
      {"20 bits per pixel", Concat(TgaHeader({.pixelSize = 20}), {1, 2, 3}), ""},
      {"header cut short", {0, 0, 2, 0, 0}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(path, c.bytes);
    vxClearLastError();
    EXPECT_EQ(ReadDirect(TypeTGA, path), vxNotRecognised);
    EXPECT_NE(vxLastError().find(c.says), std::string::npos) << vxLastError();
  }
}

TEST(TgaWrite, TgatoppmReadsWhatWeWrite) {
  TempDir dir;
  for (int bitCount : {24, 8}) {
    vxScopedImage image;
    MakePattern(image, 37, 23, bitCount, 3);
    if (bitCount == 8) {
      for (int i = 0; i < 256; ++i) image.palette[i] = vxRGBA{static_cast<uint8_t>(i), 40, 255, 0};
    }
    const std::string path = dir.File("w" + std::to_string(bitCount) + ".tga");
    ASSERT_EQ(image.SaveImage(path.c_str(), TypeTGA), 0);
    Picture theirs;
    ASSERT_TRUE(ToolPicture("tgatoppm " + Quote(path), dir, theirs));
    EXPECT_EQ(theirs.rgb, TopDownRGB(image));
    Picture ours;
    ASSERT_EQ(LoadPicture(path, ours), 0);
    EXPECT_EQ(ours.rgb, theirs.rgb);
    EXPECT_EQ(ReadFileBytes(path).size(), 18u + 37 * 23 * 3);
  }
}

}  // namespace
