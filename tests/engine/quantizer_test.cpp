// The colour quantizer: diffusion tables, nearest-colour search, the three
// methods on small pictures and on a photograph.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>

#include "engine/quantizer.h"
#include "engine_test_util.h"
#include "support/test_support.h"

using namespace engine_test;
using testing_support::DataPath;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

// Runs the quantizer on `image` and returns the result as an image.
void Quantized(const vxImage& image, int colours, vxColorReduction method, vxImage& out) {
  vxQuantizer q;
  vxBMINFO* block = q.Quantize(image.bits, image.Width(), image.Height(), colours, method);
  ASSERT_NE(block, nullptr);
  out.AdoptBlock(block);
}

// A 24-bit picture of the given colours (red, green, blue) in stripes.
void Stripes(vxImage& image, int w, int h, const std::vector<vxRGBA>& colours) {
  ASSERT_EQ(image.Create(w, h, 24, 0), 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const vxRGBA& c = colours[(x + 3 * y) % colours.size()];
      image.SetColor(x, y, c.red, c.green, c.blue);
    }
  }
}

TEST(DiffusionTables, RoundHalvesAwayFromZero) {
  const vxDiffusionTables t;
  EXPECT_EQ(t.t7[255 + 256], 112);
  EXPECT_EQ(t.t1[-256 + 256], -16);
  EXPECT_EQ(t.t1[8 + 256], 1);    // 0.5 -> 1
  EXPECT_EQ(t.t1[-8 + 256], -1);  // -0.5 -> -1
  EXPECT_EQ(t.t5[3 + 256], 1);    // 0.9375
  EXPECT_EQ(t.t3[0 + 256], 0);
  for (int e = -255; e < 256; ++e) {
    ASSERT_EQ(t.t7[256 + e], -t.t7[256 - e]);
    ASSERT_LE(std::abs(t.t1[256 + e] + t.t3[256 + e] + t.t5[256 + e] + t.t7[256 + e] - e), 2);
  }
}

// Whatever the palette, the candidate lists must find a colour at the least
// distance for every cell of the grid.
TEST(InverseColourMap, FindsTheNearestColourOfEveryCell) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 4; ++trial) {
    const int count = trial == 0 ? 1 : trial == 1 ? 7 : 256;
    std::vector<uint8_t> palette(3 * count);
    for (auto& v : palette) v = static_cast<uint8_t>(trial == 3 ? 24 + rng() % 80 : rng() % 256);
    vxInverseColourMap map(palette.data(), count);
    for (int cell = 0; cell < 32768; ++cell) {
      const int h0 = cell >> 10, h1 = (cell >> 5) & 31, h2 = cell & 31;
      int best = INT_MAX;
      for (int i = 0; i < count; ++i) {
        best = std::min(best, vxInverseColourMap::Distance(&palette[3 * i], h0, h1, h2));
      }
      const int found = map.Nearest(h0, h1, h2);
      ASSERT_EQ(vxInverseColourMap::Distance(&palette[3 * found], h0, h1, h2), best)
          << "trial " << trial << " cell " << h0 << "," << h1 << "," << h2;
    }
  }
}

TEST(MedianCut, OneBoxPerOccupiedCell) {
  // Colours on cell corners (multiples of 8) are reproduced without error.
  const std::vector<vxRGBA> colours = {Rgb(0, 0, 0), Rgb(248, 8, 64), Rgb(16, 200, 96),
                                       Rgb(128, 128, 128), Rgb(40, 40, 240)};
  vxScopedImage img, out;
  Stripes(img, 20, 9, colours);
  Quantized(img, 256, MedianCut, out);
  ASSERT_EQ(out.ColoursUsed(), 256);
  std::set<std::vector<int>> expected, found;
  for (const vxRGBA& c : colours) expected.insert({c.red, c.green, c.blue});
  for (int i = 0; i < 5; ++i) found.insert({out.palette[i].red, out.palette[i].green, out.palette[i].blue});
  EXPECT_EQ(found, expected);
  for (int i = 5; i < 256; ++i) ASSERT_EQ(out.palette[i].red, i);  // the ramp stays
  EXPECT_EQ(TopDownRGB(out), TopDownRGB(img));
}

TEST(MedianCut, SingleColourGivesTheCellCorner) {
  vxScopedImage img, out;
  Stripes(img, 13, 11, {Rgb(200, 150, 100)});
  Quantized(img, 256, MedianCut, out);
  EXPECT_EQ(out.palette[0].red, 200);
  EXPECT_EQ(out.palette[0].green, 144);
  EXPECT_EQ(out.palette[0].blue, 96);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 13; ++x) ASSERT_EQ(out.Row(y)[x], 0);
  }
}

TEST(Quantize, PaletteSizesAndQuickDither) {
  vxScopedImage img, a, b, c, d, e;
  MakePattern(img, 30, 20, 24);
  Quantized(img, 0, MedianCut, a);
  Quantized(img, -5, BestQuantization, b);
  Quantized(img, 16, BestQuantization, c);
  Quantized(img, 16, FastQuantization, d);  // its fixed palette needs all 256
  Quantized(img, 0, QuickDither, e);
  EXPECT_EQ(a.ColoursUsed(), 256);
  EXPECT_EQ(b.ColoursUsed(), 256);
  EXPECT_EQ(c.ColoursUsed(), 16);
  EXPECT_EQ(d.ColoursUsed(), 256);
  EXPECT_TRUE(e.IsGreyRamp());
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      ASSERT_EQ(e.Row(y)[x], 128);
      ASSERT_LT(c.Row(y)[x], 16);
    }
  }
  vxQuantizer q;
  EXPECT_EQ(q.Quantize(nullptr, 3, 3, 0, MedianCut), nullptr);
  EXPECT_EQ(q.Quantize(img.bits, 0, 3, 0, MedianCut), nullptr);
}

TEST(FastQuantization, FixedPaletteReproducesItsOwnLevels) {
  vxScopedImage img, out;
  const std::vector<vxRGBA> levels = {Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(170, 73, 36),
                                      Rgb(85, 146, 219)};
  Stripes(img, 17, 5, levels);
  Quantized(img, 256, FastQuantization, out);
  EXPECT_EQ(TopDownRGB(out), TopDownRGB(img));
  // Index = blue bits 7-5, green bits 7-5 at 4-2, red bits 7-6 at 1-0.
  const vxRGBA e = out.palette[0x80 | (0x40 >> 3) | 2];
  EXPECT_EQ(e.blue, 146);
  EXPECT_EQ(e.green, 73);
  EXPECT_EQ(e.red, 170);
}

TEST(BestQuantization, FewColoursAreExactAndSpareEntriesBlack) {
  const std::vector<vxRGBA> colours = {Rgb(1, 2, 3), Rgb(250, 7, 99), Rgb(33, 34, 35),
                                       Rgb(200, 201, 202), Rgb(0, 255, 0), Rgb(9, 9, 9)};
  vxScopedImage img, out;
  Stripes(img, 11000, 2, colours);  // 33000-byte rows
  Quantized(img, 64, BestQuantization, out);
  EXPECT_EQ(TopDownRGB(out), TopDownRGB(img));
  for (int i = 6; i < 64; ++i) {
    ASSERT_EQ(out.palette[i].red | out.palette[i].green | out.palette[i].blue, 0);
  }
}

TEST(BestQuantization, ManyColoursReducePrecision) {
  // 65536 distinct colours, more than the histogram takes at full precision,
  // in a dark and a light cluster 31 levels wide.
  vxScopedImage img, out;
  ASSERT_EQ(img.Create(256, 256, 24, 0), 1);
  for (int i = 0; i < 65536; ++i) {
    const int a = i & 31, b = (i >> 5) & 31, c = (i >> 10) & 31;
    unsigned char* p = img.Row(i / 256) + 3 * (i % 256);
    p[0] = static_cast<unsigned char>(i < 32768 ? a : 255 - a);
    p[1] = static_cast<unsigned char>(i < 32768 ? b : 255 - b);
    p[2] = static_cast<unsigned char>(i < 32768 ? c : 255 - c);
  }
  Quantized(img, 256, BestQuantization, out);
  const std::vector<uint8_t> got = TopDownRGB(out), want = TopDownRGB(img);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_LE(std::abs(got[i] - want[i]), 40) << i;
}

TEST(BestQuantization, PixelSumsDoNotOverflowOnLargePictures) {
  // 17 million pixels of one colour: count x value exceeds 32 bits.
  vxScopedImage img, out;
  const int w = 4100, h = 4200;
  ASSERT_EQ(img.Create(w, h, 24, 0), 1);
  for (int y = 0; y < h; ++y) {
    unsigned char* row = img.Row(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x] = 255;
      row[3 * x + 1] = 250;
      row[3 * x + 2] = 240;
    }
  }
  Quantized(img, 256, BestQuantization, out);
  EXPECT_EQ(out.palette[0].blue, 255);
  EXPECT_EQ(out.palette[0].green, 250);
  EXPECT_EQ(out.palette[0].red, 240);
}

TEST(Quantize, PhotoErrorIsWellBelowTheFixedPalette) {
  vxScopedImage photo;
  ASSERT_TRUE(LoadNetpbm(photo, DataPath("chelsea.ppm")));
  const std::vector<uint8_t> original = TopDownRGB(photo);
  double error[4] = {};
  for (vxColorReduction m : {MedianCut, BestQuantization, FastQuantization}) {
    vxScopedImage out;
    Quantized(photo, 256, m, out);
    error[m] = MeanColourError(TopDownRGB(out), original);
  }
  EXPECT_LT(error[MedianCut], 0.6 * error[FastQuantization]);
  EXPECT_LT(error[BestQuantization], 0.6 * error[FastQuantization]);
  RecordProperty("median", std::to_string(error[MedianCut]));
  RecordProperty("best", std::to_string(error[BestQuantization]));
  RecordProperty("fast", std::to_string(error[FastQuantization]));
}

}  // namespace
