// Quarter turns, mirroring and resampling.
#include <gtest/gtest.h>

#include <tuple>

#include "engine_test_util.h"

using namespace engine_test;
using testing_support::MakePattern;

namespace {

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

// Halving keeps the last copy to each place (the right-hand column, the lower
// row) in the bottom rows and zeros the rest. Enlarging by 2 (the smaller of
// 8 / 3 and 6 / 3) repeats each pixel, with black beyond the picture.
TEST(Zoom, ShrinksAndEnlargesByWholeSteps) {
  vxScopedImage img, half, colour, twice;
  MakePattern(img, 100, 100, 8);
  MakePattern(half, 100, 100, 8);
  half.palette[0] = Rgb(1, 2, 3);
  ASSERT_EQ(half.ZoomImage(50, 100), 1);
  ASSERT_EQ(half.Width(), 50);
  EXPECT_EQ(half.palette[0].blue, 3);
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
