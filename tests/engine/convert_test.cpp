// Colour-depth conversions, inversion, palette baking, quarter turns, mirroring
// and resampling.
#include <gtest/gtest.h>

#include <tuple>

#include "engine_test_util.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

TEST(DepthConversion, SwapsRedAndBlueAndLinearGreyTakesTheRedComponent) {
  vxScopedImage img, indexed;
  MakePattern(img, 9, 7, 24);
  const auto original = Snapshot(img);
  ASSERT_EQ(img.SwapRB(), 1);
  EXPECT_EQ(img.Row(0)[2], original[40]);  // blue now in the red byte
  ASSERT_EQ(img.SwapRB(), 1);
  EXPECT_EQ(Snapshot(img), original);
  std::vector<vxRGBA> pal = GreyPalette([](int i) { return 255 - i; });
  pal[7] = Rgb(200, 10, 10);
  MakeIndexed(indexed, 3, 1, pal, [](int x, int) { return x == 0 ? 7 : 3; });
  ASSERT_EQ(indexed.MakeLinearGray(), 1);
  EXPECT_TRUE(indexed.IsGreyRamp());
  EXPECT_EQ(indexed.Row(0)[0], 200);
  EXPECT_EQ(indexed.Row(0)[1], 252);
}

// Wrong depths and short memory leave images unchanged.
TEST(Operations, RefusalsAndMemoryFailuresLeaveTheImage) {
  vxScopedImage colour, grey, pal, shortGrey, empty;
  MakePattern(colour, 6, 5, 24);
  MakePattern(grey, 6, 5, 8);
  MakeIndexed(pal, 6, 5, {Rgb(1, 2, 3), Rgb(4, 5, 6)}, [](int x, int) { return x & 1; });
  MakeIndexed(shortGrey, 6, 5, {Grey(0), Grey(40), Grey(80)}, [](int x, int) { return x % 3; });
  const auto c = Snapshot(colour), g = Snapshot(grey), p = Snapshot(pal), s = Snapshot(shortGrey);
  EXPECT_EQ(colour.Make24Bit(), -8);
  EXPECT_EQ(grey.SwapRB(), -1);
  EXPECT_EQ(grey.Create8bitColor(256, MedianCut), -1);
  EXPECT_EQ(empty.InvertColor(), -2);
  EXPECT_EQ(empty.Rotate(90), -1);
  EXPECT_EQ(colour.ZoomImage(0, 5), 0);
  EXPECT_EQ(colour.Filter(14), -1);
  {
    testing_support::ImageCeiling ceiling(16);  // new image blocks fail
    EXPECT_EQ(colour.Make8Bit(), -3);
    EXPECT_EQ(colour.Create8bitColor(256, MedianCut), -3);
    EXPECT_EQ(colour.Rotate(90), -3);
    EXPECT_EQ(colour.ZoomImage(3, 2), 0);
    EXPECT_EQ(colour.Filter(0), -3);
    EXPECT_EQ(grey.Make24Bit(), -3);
    EXPECT_EQ(grey.MakeLinearGray(), -3);
    EXPECT_EQ(pal.Filter(0), -3);
    EXPECT_EQ(shortGrey.MakeGrayScale(), -3);
    EXPECT_EQ(shortGrey.InvertColor(), -3);
  }
  EXPECT_EQ(Snapshot(colour), c);
  EXPECT_EQ(Snapshot(grey), g);
  EXPECT_EQ(Snapshot(pal), p);
  EXPECT_EQ(Snapshot(shortGrey), s);
  EXPECT_EQ(colour.altHeader, nullptr);
}

// The last palette shows grey i / 2 at entry i: inverting the indices instead
// of the grey levels would show (255 - i) / 2.
TEST(Invert, ShowsTheNegativeAndTwiceRestores) {
  vxScopedImage colour, grey, pal, halfGrey;
  MakePattern(colour, 7, 5, 24);
  MakePattern(grey, 7, 5, 8);
  MakeIndexed(pal, 7, 5, {Rgb(10, 20, 30), Rgb(200, 100, 0)}, [](int x, int) { return x & 1; });
  MakeIndexed(halfGrey, 16, 16, GreyPalette([](int i) { return i / 2; }),
              [](int x, int y) { return 16 * y + x; });
  for (vxImage* img : {&colour, &grey, &pal, &halfGrey}) {
    const auto before = Snapshot(*img);
    const std::vector<uint8_t> shown = TopDownRGB(*img);
    ASSERT_EQ(img->InvertColor(), 0);
    const std::vector<uint8_t> inverted = TopDownRGB(*img);
    for (size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(inverted[i], 255 - shown[i]);
    ASSERT_EQ(img->InvertColor(), 0);
    EXPECT_EQ(TopDownRGB(*img), shown);
    if (img != &halfGrey) {
      EXPECT_EQ(Snapshot(*img), before);  // that one now has a ramp
    }
  }
}

// Grey levels truncate each weighted component on its own (white gives 254,
// (1, 1, 1) gives 0), from a palette or from colour. Indices past a short
// palette show black, and the grey results get a full ramp.
TEST(ShortPalette, GreyLevelsBlackPastTheEndAndAFullRamp) {
  const std::vector<vxRGBA> colours = {Rgb(255, 255, 255), Rgb(255, 0, 0), Rgb(0, 255, 0),
                                       Rgb(0, 0, 255), Rgb(1, 1, 1)};
  const int luminance[] = {254, 76, 149, 29, 0};
  std::vector<vxRGBA> greys(64);
  for (int i = 0; i < 64; ++i) greys[i] = Grey(4 * i);
  const auto index = [](int x, int y) { return 16 * y + x; };
  vxScopedImage expanded, made, baked, inverted;
  MakeIndexed(expanded, 16, 16, colours, index);
  MakeIndexed(made, 16, 16, colours, index);
  MakeIndexed(baked, 16, 16, greys, index);
  MakeIndexed(inverted, 16, 16, greys, index);
  const std::vector<uint8_t> shown = TopDownRGB(made);
  ASSERT_EQ(expanded.Make24Bit(), 1);
  EXPECT_EQ(TopDownRGB(expanded), shown);
  ASSERT_EQ(expanded.Make8Bit(), 1);
  ASSERT_EQ(made.MakeGrayScale(), 1);
  ASSERT_EQ(baked.ApplyColorMap(), 1);
  ASSERT_EQ(inverted.InvertColor(), 0);
  for (vxImage* img : {&expanded, &made, &baked, &inverted}) EXPECT_TRUE(img->IsGreyRamp());
  for (int i = 0; i < 256; ++i) {
    const int y = i / 16, x = i % 16;
    ASSERT_EQ(made.Row(y)[x], i < 5 ? luminance[i] : 0) << i;
    ASSERT_EQ(expanded.Row(y)[x], i < 5 ? luminance[i] : 0) << i;
    ASSERT_EQ(baked.Row(y)[x], i < 64 ? 4 * i : 0) << i;
    ASSERT_EQ(inverted.Row(y)[x], i < 64 ? 255 - 4 * i : 255) << i;
  }
}

// A second display copy replaces the first (the leak checker sees it if not).
TEST(DisplayCopy, ReplacesTheEarlierCopyAndLeavesTheImage) {
  vxScopedImage img;
  MakePattern(img, 40, 30, 24);
  const auto before = Snapshot(img);
  ASSERT_EQ(img.Create8bitColor(256, MedianCut), 1);
  ASSERT_EQ(img.Create8bitColor(16, BestQuantization), 1);
  EXPECT_EQ(img.altHeader->coloursUsed, 16u);
  EXPECT_EQ(Snapshot(img), before);
}

bool SamePixel(const unsigned char* a, const unsigned char* b, int bytes) {
  return std::memcmp(a, b, bytes) == 0;
}

// Odd sizes of more than one tile each way, a short colour palette, and
// 33000-byte rows (more than a signed 16-bit length holds).
TEST(Geometry, MovesEveryPixelAQuarterTurnOrAMirror) {
  std::vector<vxRGBA> palette(200);
  for (int i = 0; i < 200; ++i) palette[i] = Rgb(i, 255 - i, 3 * i);
  for (auto [bits, w, h] : {std::tuple{8, 71, 67}, {24, 71, 67}, {24, 11000, 3}}) {
    const int n = bits / 8;
    vxScopedImage img, cw, ccw, mirror, upside;
    for (vxImage* i : std::initializer_list<vxImage*>{&img, &cw, &ccw, &mirror, &upside}) {
      if (bits == 8) {
        MakeIndexed(*i, w, h, palette, [](int x, int y) { return (x * x + 7 * y) % 200; });
      } else {
        MakePattern(*i, w, h, bits);
      }
    }
    ASSERT_EQ(cw.Rotate(90), 1);
    ASSERT_EQ(ccw.Rotate(-90), 1);
    ASSERT_EQ(mirror.Flip(1), 0);
    ASSERT_EQ(upside.Flip(0), 0);
    ASSERT_EQ(cw.Width(), h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const unsigned char* p = img.Row(y) + n * x;
        ASSERT_TRUE(SamePixel(p, cw.Row(w - 1 - x) + n * y, n));
        ASSERT_TRUE(SamePixel(p, ccw.Row(x) + n * (h - 1 - y), n));
        ASSERT_TRUE(SamePixel(p, mirror.Row(y) + n * (w - 1 - x), n));
        ASSERT_TRUE(SamePixel(p, upside.Row(h - 1 - y) + n * x, n));
      }
    }
    // Turning back restores the header, palette and pixels.
    ASSERT_EQ(cw.Rotate(-90), 1);
    EXPECT_EQ(Snapshot(cw), Snapshot(img));
    if (w == 11000) {
      ASSERT_EQ(img.ZoomImage(5500, 3), 1);
      EXPECT_TRUE(SamePixel(img.Row(0) + 3 * 5499, mirror.Row(0), 3));  // old 10999
    }
  }
}

// Halving keeps the right column and lower row of each pair, in the bottom rows
// (zeros above); enlarging by 2 (min of 8 / 3, 6 / 3) leaves black beyond.
TEST(Zoom, ShrinksAndEnlargesByWholeSteps) {
  vxScopedImage img, half, colour, twice;
  MakePattern(img, 100, 100, 8);
  MakePattern(half, 100, 100, 8);
  ASSERT_EQ(half.ZoomImage(50, 100), 1);
  ASSERT_EQ(half.Width(), 50);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 50; ++x) {
      ASSERT_EQ(half.Row(y)[x], y < 50 ? img.Row(2 * y)[2 * x + 1] : 0) << x << "," << y;
    }
  }
  MakePattern(colour, 3, 3, 24);
  MakePattern(twice, 3, 3, 24);
  ASSERT_EQ(twice.ZoomImage(8, 6), 1);
  const unsigned char black[3] = {0, 0, 0};
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const unsigned char* want = x < 6 ? colour.Row(y / 2) + 3 * (x / 2) : black;
      ASSERT_TRUE(SamePixel(twice.Row(y) + 3 * x, want, 3)) << x << "," << y;
    }
  }
}

}  // namespace
