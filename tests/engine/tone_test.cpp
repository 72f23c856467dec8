// Brightness, contrast and the convolution filters.
#include <gtest/gtest.h>

#include "engine_test_util.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

// The kernel table, kept here independently of the engine's copy.
constexpr int kKernels[14][10] = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 9},         {1, 1, 1, 1, 2, 1, 1, 1, 1, 10},
    {1, 2, 1, 2, 4, 2, 1, 2, 1, 16},        {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1},
    {0, -1, 0, -1, 5, -1, 0, -1, 0, 1},     {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},
    {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},     {0, -1, 0, 0, 1, 0, 0, 0, 0, 1},
    {0, 0, 0, -1, 1, 0, 0, 0, 0, 1},        {-1, 0, 0, 0, 1, 0, 0, 0, 0, 1},
    {0, 1, 0, 1, -4, 1, 0, 1, 0, 1},        {-1, -1, -1, -1, 8, -1, -1, -1, -1, 1},
    {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1}, {-1, -2, -1, -2, 4, -2, -1, -2, -1, 1},
};

// The filter of `img` (as shown: top-down RGB) computed pixel by pixel, with
// neighbours outside the picture taken from the nearest edge pixel.
std::vector<uint8_t> ReferenceFilter(const vxImage& img, int index) {
  const int* k = kKernels[index];
  const int w = img.Width(), h = img.Height();
  const std::vector<uint8_t> in = TopDownRGB(img);
  std::vector<uint8_t> out;
  for (int row = 0; row < h; ++row) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int j = 0; j < 9; ++j) {  // k0..k2 on the row above as shown
          const int r = std::clamp(row - 1 + j / 3, 0, h - 1),
                    col = std::clamp(x - 1 + j % 3, 0, w - 1);
          sum += k[j] * in[3 * (static_cast<size_t>(r) * w + col) + c];
        }
        out.push_back(static_cast<uint8_t>(std::clamp(sum / k[9], 0, 255)));
      }
    }
  }
  return out;
}

TEST(Brightness, ExamplesAndGreyPalettes) {
  const std::vector<vxRGBA> source = {Rgb(128, 0, 255), Rgb(64, 200, 100)};
  const std::vector<vxRGBA> grey = {Grey(64), Grey(128)};
  vxScopedImage img, g, colour;
  MakeIndexed(img, 2, 1, source, [](int x, int) { return x; });
  MakeIndexed(g, 2, 1, grey, [](int x, int) { return x; });
  MakePattern(colour, 2, 2, 24);
  ASSERT_EQ(img.Brightness(source.data(), 40), 1);
  EXPECT_EQ(img.palette[0].red, 168);
  EXPECT_EQ(img.palette[0].green, 0);
  EXPECT_EQ(img.palette[0].blue, 255);
  EXPECT_EQ(img.palette[1].red, 92);             // 64 + 40 sqrt(0.5) = 92.28
  ASSERT_EQ(g.Brightness(grey.data(), -40), 1);  // grey: red into all three
  EXPECT_EQ(g.palette[0].green, 36);             // 64 - 28.28
  EXPECT_EQ(colour.Brightness(source.data(), 40), 0);
}

TEST(Contrast, ExamplesAndTheMiddleIsNeverCrossed) {
  const std::vector<vxRGBA> source = GreyPalette([](int i) { return i; });
  vxScopedImage img, colour;
  MakeIndexed(img, 16, 16, source, [](int x, int y) { return 16 * y + x; });
  MakePattern(colour, 3, 3, 24);
  ASSERT_EQ(img.Contrast(source.data(), 0), 1);
  EXPECT_TRUE(img.IsGreyRamp());
  ASSERT_EQ(img.Contrast(source.data(), 100), 1);
  EXPECT_EQ(img.palette[64].red, 0);  // 64 - 128 sin(1.571)
  for (int amount : {100, -100, 37}) {
    ASSERT_EQ(img.Contrast(source.data(), amount), 1);
    for (int c = 0; c < 256; ++c) {
      ASSERT_TRUE(c < 128 ? img.palette[c].red <= 128 : img.palette[c].red >= 128) << c;
    }
  }
  const auto before = Snapshot(colour);
  EXPECT_EQ(colour.Contrast(source.data(), 50), 1);
  EXPECT_EQ(Snapshot(colour), before);
}

// Every kernel on odd sizes and 33000-byte rows. Palette images are filtered as
// shown: a grey one becomes the ramp, a colour one becomes 24-bit.
TEST(Filter, EveryKernelMatchesTheReference) {
  const auto make = [](vxImage& img, int kind, int w, int h) {
    if (kind == 0 || kind == 2) return MakePattern(img, w, h, kind == 0 ? 8 : 24, 3);
    if (kind == 1) {
      return MakeIndexed(img, w, h, GreyPalette([](int i) { return i / 2; }),
                         [](int x, int y) { return (37 * x + 91 * y) & 255; });
    }
    MakeIndexed(img, w, h, {Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(0, 200, 0)},
                [](int x, int y) { return (x + 2 * y) % 3; });
  };
  for (int kind = 0; kind < 4; ++kind) {
    for (const auto& [w, h] : {std::pair{9, 6}, {1, 3}, {2, 1}, {11000, 3}}) {
      if (w > 10000 && kind < 2) continue;  // 8-bit rows are not the wide case
      vxScopedImage img;
      make(img, kind, w, h);
      for (int index = 0; index < 14; ++index) {
        vxScopedImage filtered;
        make(filtered, kind, w, h);
        ASSERT_EQ(filtered.Filter(index), 1);
        ASSERT_EQ(TopDownRGB(filtered), ReferenceFilter(img, index))
            << "kind " << kind << ", " << w << " wide, kernel " << index;
        ASSERT_TRUE(kind < 2 ? filtered.IsGreyRamp() : filtered.BitCount() == 24);
      }
    }
  }
}

}  // namespace
