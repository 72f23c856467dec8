// The transform: extension, the first level, the further levels and the last
// inverse level.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/wavelet.h"
#include "codec/wif_format.h"
#include "codec_test_util.h"

namespace {

using namespace wif;

TEST(Extension, WholeSampleSymmetricAndRepeatedForShortSignals) {
  EXPECT_EQ(Mirror(-1, 10), 1);
  EXPECT_EQ(Mirror(-4, 10), 4);
  EXPECT_EQ(Mirror(10, 10), 8);
  EXPECT_EQ(Mirror(13, 10), 5);
  EXPECT_EQ(Mirror(-3, 1), 0);  // constant
  // n = 2: period 2; n = 3: period 4 (0 1 2 1 0 1 2 ...).
  EXPECT_EQ(Mirror(-1, 2), 1);
  EXPECT_EQ(Mirror(-4, 2), 0);
  EXPECT_EQ(Mirror(5, 2), 1);
  EXPECT_EQ(Mirror(-3, 3), 1);
  EXPECT_EQ(Mirror(6, 3), 2);
  EXPECT_EQ(Mirror(-4, 4), 2);
  EXPECT_EQ(Mirror(7, 4), 1);
  float buf[2 + 8] = {0, 0, 0, 0, 5, 7};
  ExtendSymmetric(buf + 4, 2);
  EXPECT_EQ(std::vector<float>(buf, buf + 10), (std::vector<float>{5, 7, 5, 7, 5, 7, 5, 7, 5, 7}));
}

TEST(Transform, RoundingOfFirstLevelDetails) {
  EXPECT_EQ(RoundDetail(0.5f), 0);  // trunc(0.99)
  EXPECT_EQ(RoundDetail(0.52f), 1);
  EXPECT_EQ(RoundDetail(-0.52f), -1);
  EXPECT_EQ(RoundDetail(-0.5f), 0);
  EXPECT_EQ(RoundDetail(126.6f), 127);
  EXPECT_EQ(RoundDetail(300.0f), 127);  // saturated, never wrapped
  EXPECT_EQ(RoundDetail(-128.3f), -128);
  EXPECT_EQ(RoundDetail(-1000.0f), -128);
}

// Runs the whole transform pair without quantization: the first level with
// float details, `levels - 1` further levels, and back.
std::vector<float> TransformPair(const std::vector<float>& image, int width, int height, int levels,
                                 float step) {
  const int64_t pw2 = PaddedHalf(width, levels), ph2 = PaddedHalf(height, levels);
  QuadPlanes<float> quad;
  EXPECT_TRUE(quad.Allocate(pw2, ph2, nullptr));
  FirstLevelForward<float> forward;
  EXPECT_TRUE(forward.Init(width, height, step, quad, nullptr));
  for (int y = 0; y < height; ++y) forward.PushRow(image.data() + static_cast<size_t>(y) * width);
  forward.Finish();
  PyramidTransform pyramid;
  EXPECT_TRUE(pyramid.Init(pw2, ph2, nullptr));
  pyramid.Forward(quad.low.data(), levels - 1);
  pyramid.Inverse(quad.low.data(), levels - 1);
  LastLevelInverse<float> inverse;
  EXPECT_TRUE(inverse.Init(quad, width, height, step, nullptr));
  struct Sink {
    std::vector<float> out;
    int width;
  } sink{std::vector<float>(image.size()), width};
  inverse.Run(
      [](void* context, const float* row, int64_t y) {
        auto* s = static_cast<Sink*>(context);
        std::copy(row, row + s->width, s->out.begin() + y * s->width);
      },
      &sink);
  return sink.out;
}

double MaxError(const std::vector<float>& a, const std::vector<float>& b) {
  double m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(static_cast<double>(a[i]) - b[i]));
  return m;
}

TEST(Transform, PairReconstructsRandomPlanesOfManySizes) {
  std::mt19937 rng(1);
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 3},  {4, 4},  {5, 1},  {1, 7},
                                                  {8, 8}, {9, 13}, {17, 17}, {64, 48}, {33, 70}};
  for (auto [w, h] : sizes) {
    for (int levels = 1; levels <= 5; ++levels) {
      std::vector<float> image(static_cast<size_t>(w) * h);
      for (auto& v : image) v = static_cast<float>(rng() % 256);
      for (float step : {1.0f, 7.3f}) {
        EXPECT_LT(MaxError(TransformPair(image, w, h, levels, step), image), 2e-3)
            << w << " x " << h << " L=" << levels << " step=" << step;
      }
    }
  }
}

TEST(Transform, PairReconstructsARealPhoto) {
  codec_test::Picture p;
  ASSERT_TRUE(codec_test::LoadPhoto("camera.pgm", false, p));
  std::vector<float> image;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) image.push_back(p.Row(y)[x]);
  }
  EXPECT_LT(MaxError(TransformPair(image, p.width, p.height, 6, 17.0f / 3), image), 2e-3);
}

TEST(Transform, PaddingRepeatsTheLastColumnAndRow) {
  // A 5 x 3 picture gives the planes of the 8 x 4 picture that repeats its
  // last column and row (L = 3: padded to 8 x 8).
  const int w = 5, h = 3;
  std::vector<float> small = {1, 9, 4, 7, 2, 3, 3, 8, 0, 6, 5, 1, 2, 9, 9};
  std::vector<float> big(8 * 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) big[y * 8 + x] = small[std::min(y, h - 1) * w + std::min(x, w - 1)];
  }
  auto planes = [](const std::vector<float>& img, int width, int height) {
    QuadPlanes<float> q;
    q.Allocate(PaddedHalf(width, 3), PaddedHalf(height, 3), nullptr);
    FirstLevelForward<float> f;
    f.Init(width, height, 2.0f, q, nullptr);
    for (int y = 0; y < height; ++y) f.PushRow(img.data() + y * width);
    f.Finish();
    std::vector<float> all(q.low.data(), q.low.data() + 16);
    all.insert(all.end(), q.hl.data(), q.hl.data() + 16);
    all.insert(all.end(), q.lh.data(), q.lh.data() + 16);
    all.insert(all.end(), q.hh.data(), q.hh.data() + 16);
    return all;
  };
  EXPECT_EQ(planes(small, w, h), planes(big, 8, 8));
}

}  // namespace
