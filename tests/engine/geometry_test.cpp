// Quarter turns, mirroring and resampling.
#include <gtest/gtest.h>

#include "engine_test_util.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

bool SamePixel(const unsigned char* a, const unsigned char* b, int bytes) {
  return std::memcmp(a, b, bytes) == 0;
}

TEST(Geometry, MovesEveryPixelAQuarterTurnOrAMirror) {
  for (int bits : {8, 24}) {
    const int w = 71, h = 67, n = bits / 8;  // more than one tile each way, odd sizes
    vxScopedImage img, cw, ccw, mirror, upside;
    for (vxImage* i : std::initializer_list<vxImage*>{&img, &cw, &ccw, &mirror, &upside}) {
      MakePattern(*i, w, h, bits);
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
  }
}

TEST(Rotate, KeepsThePaletteOfPaletteImages) {
  vxScopedImage img, grey;
  MakeIndexed(img, 5, 4, {Rgb(255, 0, 0), Rgb(0, 128, 255), Rgb(9, 9, 9)},
              [](int x, int y) { return (x * y) % 3; });
  MakePattern(grey, 5, 4, 8);
  const std::vector<uint8_t> shown = TopDownRGB(img);
  ASSERT_EQ(img.Rotate(90), 1);
  ASSERT_EQ(img.Rotate(-90), 1);
  EXPECT_EQ(img.ColoursUsed(), 3);
  EXPECT_EQ(TopDownRGB(img), shown);
  ASSERT_EQ(grey.Rotate(-90), 1);
  EXPECT_TRUE(grey.IsGreyRamp());
}

TEST(Geometry, WideRowsUseTheirFullStride) {
  vxScopedImage img, turned, mirrored;
  MakePattern(img, 11000, 3, 24);  // 33000-byte rows
  MakePattern(turned, 11000, 3, 24);
  MakePattern(mirrored, 11000, 3, 24);
  ASSERT_EQ(turned.Rotate(-90), 1);
  ASSERT_EQ(mirrored.Flip(1), 0);
  for (int x : {0, 5000, 10999}) {
    for (int y = 0; y < 3; ++y) {
      ASSERT_TRUE(SamePixel(img.Row(y) + 3 * x, turned.Row(x) + 3 * (2 - y), 3));
      ASSERT_TRUE(SamePixel(img.Row(y) + 3 * x, mirrored.Row(y) + 3 * (10999 - x), 3));
    }
  }
  ASSERT_EQ(img.ZoomImage(5500, 3), 1);
  EXPECT_TRUE(SamePixel(img.Row(0) + 3 * 5499, mirrored.Row(0), 3));  // old 10999
}

TEST(Zoom, HalfSizeFillsTheBottomRowsAndZerosTheRest) {
  vxScopedImage img, zoomed;
  for (vxImage* i : std::initializer_list<vxImage*>{&img, &zoomed}) {
    MakePattern(*i, 100, 100, 8);
    i->palette[0] = Rgb(1, 2, 3);
  }
  ASSERT_EQ(zoomed.ZoomImage(50, 100), 1);
  ASSERT_EQ(zoomed.Width(), 50);
  EXPECT_EQ(zoomed.palette[0].blue, 3);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 50; ++x) {
      // The last copy to a place wins: the right-hand column, the lower row.
      ASSERT_EQ(zoomed.Row(y)[x], y < 50 ? img.Row(2 * y)[2 * x + 1] : 0) << x << "," << y;
    }
  }
}

TEST(Zoom, EnlargingLeavesNoHoles) {
  vxScopedImage img, zoomed;
  MakePattern(img, 3, 3, 24);
  MakePattern(zoomed, 3, 3, 24);
  // Scale 2 (the smaller of 8 / 3 and 6 / 3): old pixels land on 0, 2 and 4,
  // the places between repeat them; columns 6 and 7 lie beyond the picture.
  ASSERT_EQ(zoomed.ZoomImage(8, 6), 1);
  const unsigned char black[3] = {0, 0, 0};
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const unsigned char* want = x < 6 ? img.Row(y / 2) + 3 * (x / 2) : black;
      ASSERT_TRUE(SamePixel(zoomed.Row(y) + 3 * x, want, 3)) << x << "," << y;
    }
  }
}

}  // namespace
