// The scan orders, the sparse detail planes and the first coefficient. The
// orders, the layout and the quantization are pinned by the golden test;
// these cover odd plane sizes, skipping, full planes and damaged values.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/scan.h"
#include "codec/sparse_detail.h"

namespace {

using namespace wif;

TEST(Scan, DetailPlanesRoundTripInEveryOrientation) {
  std::mt19937 rng(2);
  for (int levels = 1; levels <= 5; ++levels) {
    const PlaneLayout l = LumaLayout(40, 24, levels, 0);
    std::vector<int8_t> plane(static_cast<size_t>(l.PlaneSize()));
    for (auto& v : plane) v = static_cast<int8_t>(rng());
    for (Band band : {Band::HL, Band::LH, Band::HH}) {
      std::vector<int32_t> lin(plane.size());
      ScanDetailPlane(plane.data(), l, band, false, lin.data());
      std::vector<int8_t> back(plane.size());
      UnscanDetailPlane(lin.data(), l, band, back.data());
      EXPECT_EQ(back, plane);
    }
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

}  // namespace
