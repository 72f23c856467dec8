// Quarter turns, mirroring and resampling.
#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "support/test_support.h"

using namespace engine_test;
using testing_support::DataPath;
using testing_support::HaveTool;
using testing_support::MakePattern;
using testing_support::ReadNetpbmRGB;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::TopDownRGB;

namespace {

TEST(Rotate, QuarterTurnsComposeToIdentity) {
  for (int bits : {8, 24}) {
    vxScopedImage img;
    MakePattern(img, 3, 2, bits);
    const auto before = Snapshot(img);
    ASSERT_EQ(img.Rotate(90), 1);
    EXPECT_EQ(img.Width(), 2);
    EXPECT_EQ(img.Height(), 3);
    ASSERT_EQ(img.Rotate(-90), 1);
    EXPECT_EQ(Snapshot(img), before);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(img.Rotate(90), 1);
    EXPECT_EQ(Snapshot(img), before);
  }
}

TEST(Rotate, MovesEveryPixelAQuarterTurn) {
  vxScopedImage img, cw, ccw;
  MakePattern(img, 70, 67, 24);  // more than one tile each way
  MakePattern(cw, 70, 67, 24);
  MakePattern(ccw, 70, 67, 24);
  ASSERT_EQ(cw.Rotate(90), 1);
  ASSERT_EQ(ccw.Rotate(-90), 1);
  const int w = 70, h = 67;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = img.Row(y) + 3 * x;
      ASSERT_EQ(0, std::memcmp(p, cw.Row(w - 1 - x) + 3 * y, 3)) << x << "," << y;
      ASSERT_EQ(0, std::memcmp(p, ccw.Row(x) + 3 * (h - 1 - y), 3)) << x << "," << y;
    }
  }
  // The old top-left pixel is the new top-right one.
  EXPECT_EQ(0, std::memcmp(img.Row(h - 1), cw.Row(w - 1) + 3 * (h - 1), 3));
}

TEST(Rotate, KeepsThePaletteOfPaletteImages) {
  const std::vector<vxRGBA> pal = {Rgb(255, 0, 0), Rgb(0, 128, 255), Rgb(9, 9, 9)};
  vxScopedImage img;
  MakeIndexed(img, 5, 4, pal, [](int x, int y) { return (x * y) % 3; });
  vxScopedImage grey;
  MakePattern(grey, 5, 4, 8);
  ASSERT_EQ(img.Rotate(90), 1);
  ASSERT_EQ(grey.Rotate(-90), 1);
  ASSERT_EQ(img.ColoursUsed(), 3);
  EXPECT_EQ(img.palette[1].blue, 255);
  EXPECT_EQ(img.Row(4 - 1)[2], 2 * 1 % 3);  // old (1, 2)
  EXPECT_TRUE(grey.IsGreyRamp());
}

TEST(Rotate, RefusesOtherAnglesAndKeepsTheImageOnFailure) {
  vxScopedImage img, empty;
  MakePattern(img, 6, 4, 24);
  const auto before = Snapshot(img);
  EXPECT_EQ(img.Rotate(180), -2);
  EXPECT_EQ(img.Rotate(0), -2);
  EXPECT_EQ(empty.Rotate(90), -1);
  EXPECT_EQ(empty.Flip(1), -2);
  EXPECT_EQ(img.Flip(5), 0);
  {
    TightMemory tight;
    EXPECT_EQ(img.Rotate(90), -3);
    EXPECT_EQ(img.ZoomImage(3, 2), 0);
  }
  EXPECT_EQ(Snapshot(img), before);
}

TEST(Flip, MirrorsAndTurnsUpsideDown) {
  for (int bits : {8, 24}) {
    vxScopedImage img, h, v;
    MakePattern(img, 5, 3, bits);
    MakePattern(h, 5, 3, bits);
    MakePattern(v, 5, 3, bits);
    ASSERT_EQ(h.Flip(1), 0);
    ASSERT_EQ(v.Flip(0), 0);
    const int n = bits / 8;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) {
        ASSERT_EQ(0, std::memcmp(img.Row(y) + n * x, h.Row(y) + n * (4 - x), n));
        ASSERT_EQ(0, std::memcmp(img.Row(y) + n * x, v.Row(2 - y) + n * x, n));
      }
    }
    ASSERT_EQ(h.Flip(1), 0);
    ASSERT_EQ(v.Flip(0), 0);
    EXPECT_EQ(Snapshot(h), Snapshot(img));
    EXPECT_EQ(Snapshot(v), Snapshot(img));
  }
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
      ASSERT_EQ(0, std::memcmp(img.Row(y) + 3 * x, turned.Row(x) + 3 * (2 - y), 3));
      ASSERT_EQ(0, std::memcmp(img.Row(y) + 3 * x, mirrored.Row(y) + 3 * (10999 - x), 3));
    }
  }
  ASSERT_EQ(turned.Rotate(90), 1);
  EXPECT_EQ(Snapshot(turned), Snapshot(img));
  ASSERT_EQ(img.ZoomImage(5500, 3), 1);
}

// ImageMagick is the judge of which way the turns and mirrors go.
TEST(Geometry, AgreesWithImageMagick) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  const struct {
    const char* option;
    int rotate;  // 0: flip instead
    int flip;
  } cases[] = {{"-rotate 90", 90, 0}, {"-rotate -90", -90, 0}, {"-flop", 0, 1}, {"-flip", 0, 0}};
  for (const auto& c : cases) {
    const std::string out = dir.File("out.ppm");
    ASSERT_EQ(RunCommand("convert '" + DataPath("chelsea.ppm") + "' " + c.option + " '" + out + "'"), 0);
    int w = 0, h = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ReadNetpbmRGB(out, w, h, expected));
    vxScopedImage img;
    ASSERT_TRUE(LoadNetpbm(img, DataPath("chelsea.ppm")));
    ASSERT_EQ(c.rotate ? img.Rotate(c.rotate) : img.Flip(c.flip) + 1, 1);
    EXPECT_EQ(img.Width(), w) << c.option;
    EXPECT_EQ(TopDownRGB(img), expected) << c.option;
  }
}

TEST(Zoom, HalfSizeFillsTheBottomRowsAndZerosTheRest) {
  vxScopedImage img, zoomed;
  MakePattern(img, 100, 100, 8);
  img.palette[0] = Rgb(1, 2, 3);
  img.header->xPelsPerMeter = 2835;
  MakePattern(zoomed, 100, 100, 8);
  zoomed.palette[0] = Rgb(1, 2, 3);
  zoomed.header->xPelsPerMeter = 2835;
  ASSERT_EQ(zoomed.ZoomImage(50, 100), 1);
  ASSERT_EQ(zoomed.Width(), 50);
  ASSERT_EQ(zoomed.Height(), 100);
  EXPECT_EQ(zoomed.palette[0].blue, 3);
  EXPECT_EQ(zoomed.header->xPelsPerMeter, 2835);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 50; ++x) {
      // The last copy to a place wins: the right-hand column, the lower row.
      const int expected = y < 50 ? img.Row(2 * y)[2 * x + 1] : 0;
      ASSERT_EQ(zoomed.Row(y)[x], expected) << x << "," << y;
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
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const unsigned char* got = zoomed.Row(y) + 3 * x;
      if (x < 6) {
        ASSERT_EQ(0, std::memcmp(got, img.Row(y / 2) + 3 * (x / 2), 3)) << x << "," << y;
      } else {
        ASSERT_EQ(got[0] | got[1] | got[2], 0) << x << "," << y;
      }
    }
  }
}

}  // namespace
