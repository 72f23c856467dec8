// The colour quantizer: nearest-colour search, the three methods on small
// pictures and on a photograph.
#include "engine/quantizer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "engine_test_util.h"

using namespace engine_test;
using testing_support::MakePattern;
using testing_support::TopDownRGB;

namespace {

void Quantized(const vxImage& image, int colours, vxColorReduction method, vxImage& out) {
  vxQuantizer q;
  out.AdoptBlock(q.Quantize(image.bits, image.Width(), image.Height(), colours, method));
  ASSERT_FALSE(out.IsEmpty());
}

// A 24-bit picture of the given colours in diagonal stripes.
void Stripes(vxImage& image, int w, int h, const std::vector<vxRGBA>& colours) {
  ASSERT_EQ(image.Create(w, h, 24, 0), 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const vxRGBA& c = colours[(x + 3 * y) % colours.size()];
      image.SetColor(x, y, c.red, c.green, c.blue);
    }
  }
}

// Whatever the palette, the candidate lists must find a colour at the least
// distance for every cell of the grid.
TEST(InverseColourMap, FindsTheNearestColourOfEveryCell) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3; ++trial) {
    const int count = trial == 0 ? 1 : 256;
    std::vector<uint8_t> palette(3 * count);
    // The last palette crowds a few groups and leaves most without a colour.
    for (auto& v : palette) v = static_cast<uint8_t>(trial == 2 ? 24 + rng() % 80 : rng() % 256);
    vxInverseColourMap map(palette.data(), count);
    for (int cell = 0; cell < 32768; ++cell) {
      const int h0 = cell >> 10, h1 = (cell >> 5) & 31, h2 = cell & 31;
      int best = INT_MAX;
      for (int i = 0; i < count; ++i) {
        best = std::min(best, vxInverseColourMap::Distance(&palette[3 * i], h0, h1, h2));
      }
      const int found = map.Nearest(h0, h1, h2);
      ASSERT_EQ(vxInverseColourMap::Distance(&palette[3 * found], h0, h1, h2), best)
          << count << " colours, cell " << h0 << "," << h1 << "," << h2;
    }
  }
}

// Colours on cell corners (multiples of 8) are reproduced without error; a
// colour off the corners gives its cell corner.
TEST(MedianCut, CellCornersAreExactAndTheRampStays) {
  vxScopedImage img, out, single, one;
  Stripes(img, 20, 9,
          {Rgb(0, 0, 0), Rgb(248, 8, 64), Rgb(16, 200, 96), Rgb(128, 128, 128), Rgb(40, 40, 240)});
  Quantized(img, 256, MedianCut, out);
  EXPECT_EQ(TopDownRGB(out), TopDownRGB(img));
  Stripes(single, 13, 11, {Rgb(200, 150, 100)});
  Quantized(single, 256, MedianCut, one);
  std::vector<uint8_t> corner;
  for (int i = 0; i < 13 * 11; ++i) corner.insert(corner.end(), {200, 144, 96});
  EXPECT_EQ(TopDownRGB(one), corner);
}

TEST(Quantize, PaletteSizesAndTheFixedPalette) {
  vxScopedImage img, c, d;
  MakePattern(img, 30, 20, 24);
  Quantized(img, 16, BestQuantization, c);
  Quantized(img, 16, FastQuantization, d);  // its fixed palette needs all 256
  EXPECT_EQ(c.ColoursUsed(), 16);
  EXPECT_EQ(d.ColoursUsed(), 256);
  for (int i = 0; i < 600; ++i) ASSERT_LT(c.Row(i / 30)[i % 30], 16);
  // The fixed palette's levels (round(255 k / 7) for blue and green, 85 k for
  // red) are reproduced exactly.
  vxScopedImage levels, fixed;
  Stripes(levels, 17, 5, {Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(170, 73, 36), Rgb(85, 146, 219)});
  Quantized(levels, 256, FastQuantization, fixed);
  EXPECT_EQ(TopDownRGB(fixed), TopDownRGB(levels));
  vxQuantizer q;
  EXPECT_EQ(q.Quantize(nullptr, 3, 3, 0, MedianCut), nullptr);
  EXPECT_EQ(q.Quantize(img.bits, 0, 3, 0, MedianCut), nullptr);
}

// Six colours come back exactly and spare entries are black, in 33000-byte rows
// of 17.6 million pixels (the main colour's count x value exceeds 32 bits).
TEST(BestQuantization, FewColoursAreExactAndSpareEntriesBlack) {
  const std::vector<vxRGBA> few = {Rgb(1, 2, 3), Rgb(250, 7, 99), Rgb(33, 34, 35),
                                   Rgb(200, 201, 202), Rgb(0, 255, 0)};
  vxScopedImage img, out;
  ASSERT_EQ(img.Create(11000, 1600, 24, 0), 1);
  for (int x = 0; x < 11000; ++x) {
    std::memcpy(img.Row(0) + 3 * x, &few[x % 5], 3);  // blue, green, red
    std::memcpy(img.Row(1) + 3 * x, "\xFF\xFA\xF0", 3);
  }
  for (int y = 2; y < 1600; ++y) std::memcpy(img.Row(y), img.Row(1), 33000);
  Quantized(img, 64, BestQuantization, out);
  for (int x = 0; x < 11000; ++x) {
    for (int y : {0, 1}) {
      const vxRGBA c = out.PaletteEntry(out.Row(y)[x]);
      ASSERT_EQ(std::memcmp(&c, img.Row(y) + 3 * x, 3), 0) << x << "," << y;
    }
  }
  for (int y = 2; y < 1600; ++y) ASSERT_EQ(std::memcmp(out.Row(y), out.Row(1), 11000), 0) << y;
  for (int i = 6; i < 64; ++i) ASSERT_EQ(out.palette[i].red | out.palette[i].green, 0);
}

TEST(BestQuantization, ManyColoursReducePrecision) {
  // 65536 distinct colours, more than the histogram takes at full precision,
  // in a dark and a light cluster 32 levels wide.
  vxScopedImage img, out;
  ASSERT_EQ(img.Create(256, 256, 24, 0), 1);
  for (int i = 0; i < 65536; ++i) {
    unsigned char* p = img.Row(i / 256) + 3 * (i % 256);
    for (int k = 0; k < 3; ++k) {
      const int v = (i >> (5 * k)) & 31;
      p[k] = static_cast<unsigned char>(i < 32768 ? v : 255 - v);
    }
  }
  Quantized(img, 256, BestQuantization, out);
  const std::vector<uint8_t> got = TopDownRGB(out), want = TopDownRGB(img);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_LE(std::abs(got[i] - want[i]), 40) << i;
}

TEST(Quantize, PhotoErrorIsWellBelowTheFixedPalette) {
  vxScopedImage photo;
  ASSERT_EQ(photo.LoadImage(testing_support::DataPath("chelsea.ppm").c_str()), 0);
  const std::vector<uint8_t> original = TopDownRGB(photo);
  double error[4] = {};
  for (vxColorReduction m : {MedianCut, BestQuantization, FastQuantization}) {
    vxScopedImage out;
    Quantized(photo, 256, m, out);
    const std::vector<uint8_t> got = TopDownRGB(out);
    for (size_t i = 0; i < got.size(); i += 3) {
      error[m] += std::hypot(got[i] - original[i], got[i + 1] - original[i + 1],
                             got[i + 2] - original[i + 2]);
    }
  }
  EXPECT_LT(error[MedianCut], 0.6 * error[FastQuantization]);
  EXPECT_LT(error[BestQuantization], 0.6 * error[FastQuantization]);
}

}  // namespace
