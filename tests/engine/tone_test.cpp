// Brightness, contrast and the convolution filters.
#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "support/test_support.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

// The kernel table, as a reference independent of the engine's.
constexpr int kKernels[14][10] = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 9},         {1, 1, 1, 1, 2, 1, 1, 1, 1, 10},
    {1, 2, 1, 2, 4, 2, 1, 2, 1, 16},        {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1},
    {0, -1, 0, -1, 5, -1, 0, -1, 0, 1},     {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},
    {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},     {0, -1, 0, 0, 1, 0, 0, 0, 0, 1},
    {0, 0, 0, -1, 1, 0, 0, 0, 0, 1},        {-1, 0, 0, 0, 1, 0, 0, 0, 0, 1},
    {0, 1, 0, 1, -4, 1, 0, 1, 0, 1},        {-1, -1, -1, -1, 8, -1, -1, -1, -1, 1},
    {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1}, {-1, -2, -1, -2, 4, -2, -1, -2, -1, 1},
};

// The filter computed pixel by pixel through the clamping accessors.
std::vector<uint8_t> ReferenceFilter(const vxImage& img, int index) {
  const int* k = kKernels[index];
  const int w = img.Width(), h = img.Height(), n = img.BitCount() / 8;
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int sum[3] = {0, 0, 0};
      for (int j = 0; j < 9; ++j) {
        const int nx = x - 1 + j % 3, ny = y + 1 - j / 3;
        unsigned char c[3];
        if (n == 1) {
          img.GetColor(nx, ny, c);
        } else {
          img.GetColor(nx, ny, &c[0], &c[1], &c[2]);
        }
        for (int i = 0; i < n; ++i) sum[i] += k[j] * c[i];
      }
      for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(std::clamp(sum[i] / k[9], 0, 255)));
    }
  }
  return out;
}

std::vector<uint8_t> Pixels(const vxImage& img) {
  std::vector<uint8_t> out;
  for (int y = 0; y < img.Height(); ++y) {
    for (int x = 0; x < img.Width(); ++x) {
      unsigned char c[3];
      if (img.BitCount() == 8) {
        img.GetColor(x, y, c);
        out.push_back(c[0]);
      } else {
        img.GetColor(x, y, &c[0], &c[1], &c[2]);
        out.insert(out.end(), c, c + 3);
      }
    }
  }
  return out;
}

TEST(Brightness, ExamplesAndGreyPalettes) {
  const std::vector<vxRGBA> source = {Rgb(128, 0, 255), Rgb(64, 200, 100)};
  vxScopedImage img;
  MakeIndexed(img, 2, 1, source, [](int x, int) { return x; });
  ASSERT_EQ(img.Brightness(source.data(), 40), 1);
  EXPECT_EQ(img.palette[0].red, 168);
  EXPECT_EQ(img.palette[0].green, 0);
  EXPECT_EQ(img.palette[0].blue, 255);
  EXPECT_EQ(img.palette[1].red, 92);  // 64 + 40 * sqrt(0.5) = 92.28
  ASSERT_EQ(img.Brightness(source.data(), 0), 1);
  EXPECT_EQ(0, std::memcmp(img.palette, source.data(), 8));

  // A grey palette follows its red values into all three channels.
  const std::vector<vxRGBA> grey = {Grey(64), Grey(128)};
  vxScopedImage g;
  MakeIndexed(g, 2, 1, grey, [](int x, int) { return x; });
  ASSERT_EQ(g.Brightness(grey.data(), -40), 1);
  EXPECT_EQ(g.palette[1].blue, 88);
  EXPECT_EQ(g.palette[0].green, 36);  // 64 - 28.28

  vxScopedImage colour;
  MakePattern(colour, 2, 2, 24);
  EXPECT_EQ(colour.Brightness(source.data(), 40), 0);
}

TEST(Contrast, ExamplesAndTheMiddleIsNeverCrossed) {
  std::vector<vxRGBA> source(256);
  for (int i = 0; i < 256; ++i) source[i] = Grey(i);
  vxScopedImage img;
  MakeIndexed(img, 16, 16, source, [](int x, int y) { return 16 * y + x; });
  ASSERT_EQ(img.Contrast(source.data(), 0), 1);
  EXPECT_TRUE(img.IsGreyRamp());
  ASSERT_EQ(img.Contrast(source.data(), 100), 1);
  EXPECT_EQ(img.palette[64].red, 0);
  for (int amount : {100, -100, 37}) {
    ASSERT_EQ(img.Contrast(source.data(), amount), 1);
    for (int c = 0; c < 256; ++c) ASSERT_TRUE(c < 128 ? img.palette[c].red <= 128 : img.palette[c].red >= 128);
  }
  vxScopedImage colour;
  MakePattern(colour, 3, 3, 24);
  const auto before = Snapshot(colour);
  EXPECT_EQ(colour.Contrast(source.data(), 50), 1);
  EXPECT_EQ(Snapshot(colour), before);
}

TEST(Filter, UniformPictures) {
  for (int bits : {8, 24}) {
    vxScopedImage img;
    ASSERT_EQ(img.Create(5, 4, bits, bits == 8 ? 256 : 0), 1);  // every sample 128
    ASSERT_EQ(img.Filter(0), 1);  // unchanged, borders too
    for (uint8_t v : Pixels(img)) ASSERT_EQ(v, 128);
    ASSERT_EQ(img.Filter(10), 1);
    for (uint8_t v : Pixels(img)) ASSERT_EQ(v, 0);
  }
}

TEST(Filter, EveryKernelMatchesTheClampedReference) {
  for (int bits : {8, 24}) {
    for (const auto& size : {std::pair{9, 6}, std::pair{1, 3}, std::pair{2, 1}}) {
      vxScopedImage img;
      MakePattern(img, size.first, size.second, bits, 3);
      for (int index = 0; index < 14; ++index) {
        vxScopedImage filtered;
        MakePattern(filtered, size.first, size.second, bits, 3);
        ASSERT_EQ(filtered.Filter(index), 1);
        ASSERT_EQ(Pixels(filtered), ReferenceFilter(img, index)) << bits << " bits, kernel " << index;
      }
    }
  }
}

TEST(Filter, WideRows) {
  vxScopedImage img, filtered;
  MakePattern(img, 11000, 3, 24);
  MakePattern(filtered, 11000, 3, 24);
  ASSERT_EQ(filtered.Filter(3), 1);
  EXPECT_EQ(Pixels(filtered), ReferenceFilter(img, 3));
}

TEST(Filter, ColourPaletteImagesAreFilteredInColour) {
  const std::vector<vxRGBA> pal = {Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(0, 200, 0)};
  vxScopedImage img, expanded;
  MakeIndexed(img, 6, 5, pal, [](int x, int y) { return (x + 2 * y) % 3; });
  MakeIndexed(expanded, 6, 5, pal, [](int x, int y) { return (x + 2 * y) % 3; });
  ASSERT_EQ(expanded.Make24Bit(), 1);
  ASSERT_EQ(expanded.Filter(2), 1);
  ASSERT_EQ(img.Filter(2), 1);
  EXPECT_EQ(img.BitCount(), 24);
  EXPECT_EQ(TopDownRGB(img), TopDownRGB(expanded));
}

TEST(Filter, GreyPalettesAreFilteredAsGreyLevels) {
  // Entry i shows grey i / 2; the filter must see the grey levels.
  std::vector<vxRGBA> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = Grey(i / 2);
  const auto index = [](int x, int y) { return (37 * x + 91 * y) & 255; };
  vxScopedImage img, levels;
  MakeIndexed(img, 8, 8, pal, index);
  MakeIndexed(levels, 8, 8, pal, index);
  ASSERT_EQ(levels.MakeLinearGray(), 1);
  ASSERT_EQ(img.Filter(4), 1);
  EXPECT_TRUE(img.IsGreyRamp());
  EXPECT_EQ(Pixels(img), ReferenceFilter(levels, 4));
}

TEST(Filter, RefusesUnknownKernelsAndKeepsTheImageOnFailure) {
  vxScopedImage img, pal;
  MakePattern(img, 4, 4, 24);
  MakeIndexed(pal, 4, 4, {Rgb(1, 2, 3)}, [](int, int) { return 0; });
  const auto before = Snapshot(img), p = Snapshot(pal);
  EXPECT_EQ(img.Filter(14), -1);
  EXPECT_EQ(img.Filter(-1), -1);
  {
    TightMemory tight;
    EXPECT_EQ(img.Filter(0), -3);
    EXPECT_EQ(pal.Filter(0), -3);
  }
  EXPECT_EQ(Snapshot(img), before);
  EXPECT_EQ(Snapshot(pal), p);
}

}  // namespace
