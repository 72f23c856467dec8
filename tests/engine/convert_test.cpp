// Colour-depth conversions, inversion and palette baking.
#include <gtest/gtest.h>

#include "engine/image.h"
#include "engine_test_util.h"
#include "support/test_support.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

TEST(Luminance, EachProductIsTruncatedOnItsOwn) {
  // white 76 + 149 + 29; red 76; green 149; blue 29; (1, 1, 1) 0 + 0 + 0.
  const std::vector<vxRGBA> pal = {Rgb(255, 255, 255), Rgb(255, 0, 0), Rgb(0, 255, 0),
                                   Rgb(0, 0, 255), Rgb(1, 1, 1)};
  vxScopedImage img;
  MakeIndexed(img, 5, 1, pal, [](int x, int) { return x; });
  vxScopedImage colour;
  ASSERT_EQ(colour.Create(5, 1, 24, 0), 1);
  for (int x = 0; x < 5; ++x) colour.SetColor(x, 0, pal[x].red, pal[x].green, pal[x].blue);

  ASSERT_EQ(img.MakeGrayScale(), 1);
  ASSERT_EQ(colour.Make8Bit(), 1);
  const int expected[] = {254, 76, 149, 29, 0};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(img.Row(0)[x], expected[x]) << x;
    EXPECT_EQ(colour.Row(0)[x], expected[x]) << x;
  }
  EXPECT_TRUE(img.IsGreyRamp());
  EXPECT_TRUE(colour.IsGreyRamp());
}

TEST(DepthConversion, GreyThereAndBackGivesEqualChannels) {
  vxScopedImage img;
  MakePattern(img, 9, 7, 24);
  ASSERT_EQ(img.Make8Bit(), 1);
  const std::vector<uint8_t> grey = TopDownRGB(img);
  ASSERT_EQ(img.Make24Bit(), 1);
  EXPECT_EQ(img.BitCount(), 24);
  EXPECT_EQ(TopDownRGB(img), grey);
  for (size_t i = 0; i < grey.size(); i += 3) ASSERT_TRUE(grey[i] == grey[i + 1] && grey[i] == grey[i + 2]);
}

TEST(DepthConversion, WrongDepthsAreRefusedAndLeaveTheImage) {
  vxScopedImage colour, grey, empty;
  MakePattern(colour, 4, 3, 24);
  MakePattern(grey, 4, 3, 8);
  const auto before = Snapshot(colour);
  EXPECT_EQ(colour.Make24Bit(), -8);
  EXPECT_EQ(colour.MakeGrayScale(), -1);
  EXPECT_EQ(colour.MakeLinearGray(), -8);
  EXPECT_EQ(grey.Make8Bit(), -1);
  EXPECT_EQ(grey.SwapRB(), -1);
  EXPECT_EQ(grey.Create8bitColor(256, MedianCut), -1);
  EXPECT_EQ(empty.InvertColor(), -2);
  EXPECT_EQ(Snapshot(colour), before);
  EXPECT_EQ(colour.IsGrayScale(), 0);  // even though nothing else says so
  EXPECT_EQ(colour.IsColorMapSorted(), 0);
  EXPECT_EQ(grey.IsColorMapSorted(), 1);
}

TEST(DepthConversion, AllocationFailureLeavesTheImage) {
  vxScopedImage colour, grey, shortGrey;
  MakePattern(colour, 6, 5, 24);
  MakePattern(grey, 6, 5, 8);
  MakeIndexed(shortGrey, 6, 5, {Grey(0), Grey(40), Grey(80)}, [](int x, int) { return x % 3; });
  const auto c = Snapshot(colour), g = Snapshot(grey), s = Snapshot(shortGrey);
  TightMemory tight;
  EXPECT_EQ(colour.Make8Bit(), -3);
  EXPECT_EQ(grey.Make24Bit(), -3);
  EXPECT_EQ(grey.MakeLinearGray(), -3);
  EXPECT_EQ(shortGrey.MakeGrayScale(), -3);
  EXPECT_EQ(shortGrey.InvertColor(), -3);
  EXPECT_EQ(colour.Create8bitColor(256, MedianCut), -3);
  EXPECT_EQ(Snapshot(colour), c);
  EXPECT_EQ(Snapshot(grey), g);
  EXPECT_EQ(Snapshot(shortGrey), s);
  EXPECT_EQ(colour.altHeader, nullptr);
}

TEST(DepthConversion, LinearGreyTakesTheRedComponent) {
  std::vector<vxRGBA> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = Grey(255 - i);
  pal[7] = Rgb(200, 10, 10);
  vxScopedImage img;
  MakeIndexed(img, 3, 2, pal, [](int x, int y) { return x == 0 ? 7 : x + y; });
  ASSERT_EQ(img.MakeLinearGray(), 1);
  EXPECT_TRUE(img.IsGreyRamp());
  EXPECT_EQ(img.Row(0)[0], 200);
  EXPECT_EQ(img.Row(1)[2], 252);  // index 3 of the reversed ramp
}

TEST(DepthConversion, SwapRBExchangesRedAndBlue) {
  vxScopedImage img;
  ASSERT_EQ(img.Create(2, 1, 24, 0), 1);
  img.SetColor(1, 0, 10, 20, 30);
  ASSERT_EQ(img.SwapRB(), 1);
  unsigned char r, g, b;
  img.GetColor(1, 0, &r, &g, &b);
  EXPECT_EQ(r, 30);
  EXPECT_EQ(g, 20);
  EXPECT_EQ(b, 10);
}

TEST(Invert, TwiceRestoresEveryKindOfImage) {
  vxScopedImage colour, grey, pal;
  MakePattern(colour, 7, 5, 24);
  MakePattern(grey, 7, 5, 8);
  MakeIndexed(pal, 7, 5, {Rgb(10, 20, 30), Rgb(200, 100, 0), Rgb(0, 0, 0)},
              [](int x, int y) { return (x + y) % 3; });
  for (vxImage* img : {static_cast<vxImage*>(&colour), static_cast<vxImage*>(&grey),
                       static_cast<vxImage*>(&pal)}) {
    const auto before = Snapshot(*img);
    const std::vector<uint8_t> shown = TopDownRGB(*img);
    ASSERT_EQ(img->InvertColor(), 0);
    const std::vector<uint8_t> inverted = TopDownRGB(*img);
    for (size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(inverted[i], 255 - shown[i]);
    if (img == &pal) {  // a colour palette is inverted, its pixels stay
      EXPECT_EQ(pal.palette[0].red, 245);
      EXPECT_EQ(pal.Row(0)[1], 1);
    }
    ASSERT_EQ(img->InvertColor(), 0);
    EXPECT_EQ(Snapshot(*img), before);
  }
}

TEST(Invert, GreyLevelsNotIndicesAreInverted) {
  // Entry i shows grey i / 2: inverting indices would show (255 - i) / 2.
  std::vector<vxRGBA> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = Grey(i / 2);
  vxScopedImage img;
  MakeIndexed(img, 16, 16, pal, [](int x, int y) { return 16 * y + x; });
  const std::vector<uint8_t> shown = TopDownRGB(img);
  ASSERT_EQ(img.InvertColor(), 0);
  EXPECT_TRUE(img.IsGreyRamp());
  const std::vector<uint8_t> inverted = TopDownRGB(img);
  for (size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(inverted[i], 255 - shown[i]) << i;
}

// Palettes shorter than 256 entries: indices past the palette show black, and
// the grey results get a full ramp.
TEST(ShortPalette, LookupsPastThePaletteAreBlack) {
  std::vector<vxRGBA> pal(16, Rgb(255, 255, 255));
  vxScopedImage img;
  MakeIndexed(img, 16, 16, pal, [](int x, int y) { return 16 * y + x; });
  ASSERT_EQ(img.Make24Bit(), 1);
  const std::vector<uint8_t> rgb = TopDownRGB(img);
  for (int i = 0; i < 256; ++i) {
    const int row = 15 - i / 16;  // top-down
    const uint8_t v = rgb[3 * (16 * row + i % 16)];
    ASSERT_EQ(v, i < 16 ? 255 : 0) << i;
  }
}

TEST(ShortPalette, GreyOperationsGiveAFullRamp) {
  std::vector<vxRGBA> colours = {Rgb(255, 255, 255), Rgb(255, 0, 0), Rgb(0, 0, 255)};
  std::vector<vxRGBA> greys(64);
  for (int i = 0; i < 64; ++i) greys[i] = Grey(4 * i);
  const auto index = [](int x, int y) { return 16 * y + x; };

  vxScopedImage a, b, c;
  MakeIndexed(a, 16, 16, colours, index);
  MakeIndexed(b, 16, 16, greys, index);
  MakeIndexed(c, 16, 16, greys, index);
  ASSERT_EQ(a.MakeGrayScale(), 1);
  ASSERT_EQ(b.ApplyColorMap(), 1);
  ASSERT_EQ(c.InvertColor(), 0);
  for (vxImage* img : {static_cast<vxImage*>(&a), static_cast<vxImage*>(&b),
                       static_cast<vxImage*>(&c)}) {
    EXPECT_TRUE(img->IsGreyRamp());
  }
  for (int i = 0; i < 256; ++i) {
    const unsigned char got[] = {a.Row(i / 16)[i % 16], b.Row(i / 16)[i % 16], c.Row(i / 16)[i % 16]};
    ASSERT_EQ(got[0], i == 0 ? 254 : i == 1 ? 76 : i == 2 ? 29 : 0) << i;
    ASSERT_EQ(got[1], i < 64 ? 4 * i : 0) << i;
    ASSERT_EQ(got[2], i < 64 ? 255 - 4 * i : 255) << i;
  }
}

TEST(ApplyColorMap, BakesGreyAndLeavesColour) {
  std::vector<vxRGBA> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = Grey(255 - i);
  vxScopedImage grey, colour, rgb;
  MakeIndexed(grey, 4, 4, pal, [](int x, int y) { return x * 4 + y; });
  MakeIndexed(colour, 4, 4, {Rgb(1, 2, 3), Rgb(4, 5, 6)}, [](int x, int) { return x & 1; });
  MakePattern(rgb, 4, 4, 24);
  const std::vector<uint8_t> shown = TopDownRGB(grey);
  const auto c = Snapshot(colour), r = Snapshot(rgb);
  ASSERT_EQ(grey.ApplyColorMap(), 1);
  EXPECT_TRUE(grey.IsGreyRamp());
  EXPECT_EQ(TopDownRGB(grey), shown);
  EXPECT_EQ(grey.Row(0)[0], 255);
  EXPECT_EQ(colour.ApplyColorMap(), 1);
  EXPECT_EQ(rgb.ApplyColorMap(), 1);
  EXPECT_EQ(Snapshot(colour), c);
  EXPECT_EQ(Snapshot(rgb), r);
}

TEST(DisplayCopy, ReplacesTheEarlierCopyAndLeavesTheImage) {
  vxScopedImage img;
  MakePattern(img, 40, 30, 24);
  const auto before = Snapshot(img);
  ASSERT_EQ(img.Create8bitColor(256, MedianCut), 1);
  ASSERT_NE(img.altHeader, nullptr);
  // The first copy must be released here; the leak checker sees it if not.
  ASSERT_EQ(img.Create8bitColor(16, BestQuantization), 1);
  EXPECT_EQ(img.altHeader->coloursUsed, 16u);
  EXPECT_EQ(img.altHeader->width, 40);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(img.altPalette),
            reinterpret_cast<unsigned char*>(img.altHeader) + 40);
  EXPECT_EQ(img.altBits, reinterpret_cast<unsigned char*>(img.altPalette + 16));
  EXPECT_EQ(Snapshot(img), before);
}

}  // namespace
