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

// Mirrored about the end samples, which are not repeated; a short signal is
// reflected back and forth (n = 2: period 2, n = 3: period 4).
TEST(Extension, WholeSampleSymmetricAndRepeatedForShortSignals) {
  const int cases[][3] = {{-1, 10, 1}, {-4, 10, 4}, {10, 10, 8}, {13, 10, 5},
                          {-3, 1, 0},  {-1, 2, 1},  {-4, 2, 0},  {5, 2, 1},
                          {-3, 3, 1},  {6, 3, 2},   {-4, 4, 2},  {7, 4, 1}};
  for (const auto& c : cases) EXPECT_EQ(Mirror(c[0], c[1]), c[2]) << c[0] << " of " << c[1];
  float buf[2 + 8] = {0, 0, 0, 0, 5, 7};
  ExtendSymmetric(buf + 4, 2);
  EXPECT_EQ(std::vector<float>(buf, buf + 10), (std::vector<float>{5, 7, 5, 7, 5, 7, 5, 7, 5, 7}));
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
  for (size_t i = 0; i < a.size(); ++i)
    m = std::max(m, std::fabs(static_cast<double>(a[i]) - b[i]));
  return m;
}

// Random planes of many sizes, every level count, and a real photo.
TEST(Transform, PairReconstructsWithoutQuantization) {
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
  codec_test::Picture p;
  ASSERT_TRUE(codec_test::LoadPhoto("camera.pgm", false, p));
  std::vector<float> image;
  for (int y = 0; y < p.height; ++y) image.insert(image.end(), p.Row(y), p.Row(y) + p.width);
  EXPECT_LT(MaxError(TransformPair(image, p.width, p.height, 6, 17.0f / 3), image), 2e-3);
}

}  // namespace
