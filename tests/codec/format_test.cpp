// The header and the values both coders derive from it, the scan orders, the
// sparse detail planes and the transform. The golden test pins their output;
// these cover edges, odd sizes and damaged values that pictures do not reach.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/scan.h"
#include "codec/sparse_detail.h"
#include "codec/wavelet.h"
#include "codec_test_util.h"

namespace {

using namespace wif;

// Written, read back and written again: every field keeps its place.
TEST(Header, BytesAreBigEndianWithSplitInTheHighNibble) {
  Header h;
  h.kind = kKindColour;
  h.width = 0x01C3;
  h.height = 0x012C;
  h.split = 3;
  h.levels = 5;
  h.quality = 200;
  ByteSink sink, again;
  WriteHeaderAndSignature(sink, h);
  const std::vector<uint8_t> expected = {'W', '6', 4,   3,   0x01, 0xC3, 0x01, 0x2C, 0x35,
                                         200, 0,   27,  0,   0,    'V',  'X',  ',',  'M',
                                         'a', 'r', ' ', '5', ',',  '1',  '9',  '9',  '7'};
  EXPECT_EQ(sink.bytes(), expected);

  ByteSource source(sink.bytes().data(), sink.bytes().size());
  Header back;
  ASSERT_TRUE(ReadHeader(source, back));
  EXPECT_EQ(back.headerLength, 27);
  WriteHeaderAndSignature(again, back);
  EXPECT_EQ(again.bytes(), expected);
  ByteSource tooShort(sink.bytes().data(), 13);
  EXPECT_FALSE(ReadHeader(tooShort, back));
}

// The automatic choices and the sizes derived from them, at the edges of
// their ranges. Pictures smaller than 16 would get no level; they get one.
TEST(Layout, AutomaticLevelsSplitAndPaddedSizes) {
  const int levels[][3] = {{512, 512, 6},     {2048, 2048, 7}, {8192, 8192, 8},
                           {65535, 65535, 8}, {16, 16, 1},     {32, 4000, 2},
                           {15, 15, 1},       {1, 1, 1},       {5000, 3, 1}};
  for (const auto& c : levels)
    EXPECT_EQ(AutomaticLevels(c[0], c[1]), c[2]) << c[0] << " x " << c[1];
  const int splits[][3] = {{1, 6, 7},   {3, 6, 7},   {4, 6, 6},   {7, 6, 5},
                           {13, 6, 4},  {25, 6, 3},  {49, 6, 2},  {97, 6, 1},
                           {192, 6, 1}, {193, 6, 0}, {255, 8, 2}, {255, 1, 0}};
  for (const auto& c : splits) EXPECT_EQ(AutomaticSplit(c[0], c[1]), c[2]) << c[0] << " L" << c[1];
  for (int q = 1; q <= 255; ++q) {
    for (int l = 1; l <= 8; ++l) ASSERT_LE(AutomaticSplit(q, l), 15);  // it has a nibble
  }
  // Half the size, rounded up to a multiple of 2^(levels - 1).
  const int halves[][3] = {{17, 1, 9}, {16, 1, 8},    {1, 1, 1},
                           {1, 3, 4},  {451, 5, 240}, {65535, 8, 32768}};
  for (const auto& c : halves) EXPECT_EQ(PaddedHalf(c[0], c[1]), c[2]) << c[0] << " L" << c[1];
}

// Which levels are coarse, how many arithmetic sweeps follow, and how the
// chroma planes' split follows the luma's.
TEST(Layout, CoarseCountSweepsAndTheChromaSplit) {
  PlaneLayout one = LumaLayout(17, 17, 1, 2);
  EXPECT_EQ(one.w0, 9);  // with one level the lowest band is the whole plane
  EXPECT_EQ(one.ncoarse, 81);
  // For luma, then chroma: split, coarse count, sweeps, block-coded details.
  // 512 x 512, L = 6: lowest band 8 x 8.
  const int64_t cases[][8] = {
      {2, 8 * 8 * 16, 3, 0, 1, 8 * 8 * 4, 4, 0},     // levels 3, 4 and 5 swept
      {7, 256 * 256, -1, 1, 6, 256 * 256, -1, 1},    // q < 4: all block coded
      {6, 256 * 256, -1, 1, 5, 256 * 256, 0, 0},     // split = L: chroma details arithmetic
      {5, 256 * 256, 0, 0, 4, 256 * 256 / 4, 1, 0},  // coarse is the whole plane
      {0, 64, 5, 0, 0, 64, 5, 0},                    // split 0: the chroma keep it
  };
  auto facts = [](const PlaneLayout& l) {
    return std::vector<int64_t>{l.split, l.ncoarse, l.sweeps, l.DetailBlockCoded()};
  };
  for (const auto& c : cases) {
    const PlaneLayout luma = LumaLayout(512, 512, 6, static_cast<int>(c[0]));
    EXPECT_EQ(luma.w0, 8);
    EXPECT_EQ(facts(luma), std::vector<int64_t>(c, c + 4));
    EXPECT_EQ(facts(ChromaLayout(luma)), std::vector<int64_t>(c + 4, c + 8));
  }
}

// The cursor hands out the indices of ScanBandIndices, band after band,
// also when a run is skipped over several blocks at once.
TEST(Scan, CursorFollowsTheScanOrderAndSkips) {
  const PlaneLayout l = LumaLayout(96, 64, 5, 0);
  for (int level = 1; level <= 4; ++level) {
    std::vector<int64_t> expected;
    const int64_t bw = l.w0 << (level - 1), bh = l.h0 << (level - 1);
    const int64_t origins[3] = {bw, bh * l.pw2, bh * l.pw2 + bw};
    int b = 0;
    for (Band band : {Band::HL, Band::LH, Band::HH}) {
      const int64_t origin = origins[b++];
      ScanBandIndices(band, bw, bh, BlockSide(level), l.pw2,
                      [&](int64_t i) { expected.push_back(origin + i); });
    }
    ScanCursor cursor;
    cursor.AddLevel(l, level);
    std::mt19937 rng(static_cast<unsigned>(level));
    for (size_t k = 0; k < expected.size();) {
      if (rng() % 3 == 0) {
        const size_t skip = std::min<size_t>(rng() % 150, expected.size() - k);
        cursor.Skip(static_cast<int64_t>(skip));
        k += skip;
      } else {
        ASSERT_EQ(cursor.Next(), expected[k]) << "level " << level << " position " << k;
        ++k;
      }
    }
  }
}

// A detail plane kept as its nonzero values gives back every row as the
// plane had it, sparse or so full that it turns into bytes on the way.
TEST(SparseDetails, RowsComeBackAsTheyWere) {
  const int64_t pw2 = 48, ph2 = 32;
  std::mt19937 rng(5);
  for (Band band : {Band::HL, Band::LH, Band::HH}) {
    for (int percent : {0, 2, 20, 60, 100}) {
      std::vector<int8_t> plane(static_cast<size_t>(pw2 * ph2), 0);
      for (auto& v : plane) {
        if (static_cast<int>(rng() % 100) < percent) v = static_cast<int8_t>(rng() % 255 - 127);
      }
      SparseDetail detail;
      ASSERT_TRUE(detail.Init(band, pw2, ph2, nullptr));
      ScanBandIndices(band, pw2, ph2, SparseDetail::kSide, pw2, [&](int64_t i) {
        const int8_t value = plane[static_cast<size_t>(i)];
        if (value != 0) {
          ASSERT_TRUE(detail.Add(i, value));
        }
      });
      detail.Finish();
      // Rows in turn, then in an order that jumps between bands of blocks.
      std::vector<float> row(static_cast<size_t>(pw2));
      SparseDetail::RowCache cache;
      for (int64_t n = 0; n < 2 * ph2; ++n) {
        const int64_t y = n < ph2 ? n : (n * 13) % ph2;
        detail.Row(y, row.data(), cache);
        for (int64_t x = 0; x < pw2; ++x) {
          ASSERT_EQ(row[static_cast<size_t>(x)], plane[static_cast<size_t>(y * pw2 + x)])
              << percent << "% row " << y << " column " << x;
        }
      }
    }
  }
}

// The first coefficient's magnitude is clamped to 16 bits when written, and
// a damaged sign or magnitude cannot overflow when read.
TEST(Prediction, DcMagnitudeAndSign) {
  EXPECT_EQ(DcMagnitude(-300), 300u);
  EXPECT_EQ(DcMagnitude(70000), 65535u);
  EXPECT_EQ(DcSign(0), -1);
  EXPECT_EQ(RestoreDc(-1, 300), -300);
  EXPECT_EQ(RestoreDc(0, 300), 300);
  EXPECT_EQ(RestoreDc(100000, 65535), 2147483647);
}

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

// The largest error of the whole transform pair without quantization: the
// first level with float details, `levels - 1` further levels, and back.
double PairError(const std::vector<float>& image, int width, int height, int levels, float step) {
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
  double m = 0;
  for (size_t i = 0; i < image.size(); ++i)
    m = std::max(m, std::fabs(static_cast<double>(image[i]) - sink.out[i]));
  return m;
}

// Random planes of many sizes and every level count.
TEST(Transform, PairReconstructsWithoutQuantization) {
  std::mt19937 rng(1);
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 3},  {4, 4},   {5, 1},   {1, 7},
                                                  {8, 8}, {9, 13}, {17, 17}, {64, 48}, {33, 70}};
  for (auto [w, h] : sizes) {
    for (int levels = 1; levels <= 5; ++levels) {
      std::vector<float> image(static_cast<size_t>(w) * h);
      for (auto& v : image) v = static_cast<float>(rng() % 256);
      for (float step : {1.0f, 7.3f}) {
        EXPECT_LT(PairError(image, w, h, levels, step), 2e-3)
            << w << " x " << h << " L=" << levels << " step=" << step;
      }
    }
  }
}

}  // namespace
