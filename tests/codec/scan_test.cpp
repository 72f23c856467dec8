// Quantization, the scan orders, the linear layout and the prediction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

#include "codec/scan.h"
#include "codec/sparse_detail.h"

namespace {

using namespace wif;
using Cell = std::pair<int64_t, int64_t>;  // (row, column)

std::vector<Cell> Order(Band band, int64_t bw, int64_t bh, int side) {
  std::vector<Cell> cells;
  ScanBand(band, bw, bh, side, [&](int64_t r, int64_t c) { cells.emplace_back(r, c); });
  return cells;
}

TEST(Scan, HilbertTablesAreContinuousCurvesOverTheirBlocks) {
  auto check = [](const uint8_t(*table)[2], int side) {
    std::set<std::pair<int, int>> seen;
    for (int e = 0; e < side * side; ++e) {
      seen.emplace(table[e][0], table[e][1]);
      if (e > 0) {
        EXPECT_EQ(std::abs(table[e][0] - table[e - 1][0]) + std::abs(table[e][1] - table[e - 1][1]), 1)
            << "side " << side << " entry " << e;
      }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(side * side));
  };
  check(kHilbert4, 4);
  check(kHilbert8, 8);
}

TEST(Scan, BlockOrdersAndTheTransposeOfLHAndHH) {
  // Side 1: HL column by column, LH and HH row by row.
  EXPECT_EQ(Order(Band::HL, 2, 3, 1), (std::vector<Cell>{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}));
  EXPECT_EQ(Order(Band::LH, 2, 3, 1), (std::vector<Cell>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
  EXPECT_EQ(Order(Band::HH, 2, 1, 1), (std::vector<Cell>{{0, 0}, {0, 1}}));
  // Side 2: the first four entries of the 8 x 8 curve, (a, b) = (column, row)
  // for HL and (row, column) for LH and HH.
  EXPECT_EQ(Order(Band::HL, 2, 2, 2), (std::vector<Cell>{{0, 0}, {0, 1}, {1, 1}, {1, 0}}));
  EXPECT_EQ(Order(Band::LH, 2, 2, 2), (std::vector<Cell>{{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
  // Blocks of HL go down a column of blocks first.
  const auto hl = Order(Band::HL, 4, 4, 2);
  EXPECT_EQ(hl[4], (Cell{2, 0}));
  EXPECT_EQ(hl[8], (Cell{0, 2}));
  const auto hh = Order(Band::HH, 4, 4, 2);
  EXPECT_EQ(hh[4], (Cell{0, 2}));
  EXPECT_EQ(hh[8], (Cell{2, 0}));
  // Side 4 follows the 16-entry table: entry 1 is (0, 1).
  EXPECT_EQ(Order(Band::HL, 4, 4, 4)[1], (Cell{1, 0}));
  EXPECT_EQ(Order(Band::LH, 4, 4, 4)[1], (Cell{0, 1}));
  EXPECT_EQ(Order(Band::HH, 8, 8, 8)[16], (Cell{4, 0}));
  EXPECT_EQ(BlockSide(1), 1);
  EXPECT_EQ(BlockSide(2), 2);
  EXPECT_EQ(BlockSide(3), 4);
  EXPECT_EQ(BlockSide(4), 8);
  EXPECT_EQ(BlockSide(7), 8);
}

TEST(Scan, RoundingOfTheFloatPlane) {
  EXPECT_EQ(RoundCoefficient(0.5f), 0);
  EXPECT_EQ(RoundCoefficient(0.502f), 1);
  EXPECT_EQ(RoundCoefficient(-0.502f), -1);
  EXPECT_EQ(RoundCoefficient(-2.4f), -2);
  EXPECT_EQ(RoundCoefficient(1e12f), 2147483647);
  EXPECT_EQ(RoundCoefficient(-1e12f), -2147483647 - 1);
}

// A plane whose every coefficient says where it sits, row * 1000 + column.
std::vector<float> LabelledPlane(const PlaneLayout& l) {
  std::vector<float> plane(static_cast<size_t>(l.PlaneSize()));
  for (int64_t r = 0; r < l.ph2; ++r) {
    for (int64_t c = 0; c < l.pw2; ++c) plane[r * l.pw2 + c] = static_cast<float>(r * 1000 + c);
  }
  return plane;
}

TEST(Scan, LinearLayoutPutsLevelsAfterTheLowestBand) {
  // 32 x 16 padded half plane, L = 4: lowest band 4 x 2.
  const PlaneLayout l = LumaLayout(64, 32, 4, 1);
  ASSERT_EQ(l.w0, 4);
  ASSERT_EQ(l.h0, 2);
  const auto plane = LabelledPlane(l);
  std::vector<int32_t> lin(static_cast<size_t>(l.PlaneSize()), -1);
  QuantizeCoarse(plane.data(), l, lin.data());
  QuantizeFine(plane.data(), l, lin.data());
  // Lowest band in raster order.
  EXPECT_EQ(std::vector<int32_t>(lin.begin(), lin.begin() + 8),
            (std::vector<int32_t>{0, 1, 2, 3, 1000, 1001, 1002, 1003}));
  // Level 1: HL right of the low band (column by column), LH below, HH diagonal.
  EXPECT_EQ(lin[8], 4);
  EXPECT_EQ(lin[9], 1004);
  EXPECT_EQ(lin[16], 2000);
  EXPECT_EQ(lin[17], 2001);
  EXPECT_EQ(lin[24], 2004);
  EXPECT_EQ(l.ncoarse, 32);
  // Level 2 starts at 4 * 8 with 2 x 2 blocks of the 8 x 4 HL band.
  EXPECT_EQ(std::vector<int32_t>(lin.begin() + 32, lin.begin() + 36),
            (std::vector<int32_t>{8, 9, 1009, 1008}));
  // Level 3 starts at 128; its LH band (16 x 8 at row 8) starts at 128 + 128.
  EXPECT_EQ(lin[128], 16);
  EXPECT_EQ(lin[256], 8000);

  std::vector<float> back(plane.size(), -7.0f);
  UnscanPlane(lin.data(), l, back.data());
  EXPECT_EQ(back, plane);
}

TEST(Scan, DeadZoneAfterAZero) {
  // 8 x 8 half plane, L = 4, split 0: the arithmetic levels are 1, 2 and 3.
  const PlaneLayout l = LumaLayout(16, 16, 4, 0);
  ASSERT_EQ(l.w0, 1);
  std::vector<float> plane(64, 0.0f);
  plane[1] = 0.2f;           // level 1 HL: rounds to 0
  plane[8] = 0.9f;           // level 1 LH: after a zero, the dead zone makes it 0
  plane[9] = 0.9f;           // level 1 HH: likewise
  plane[2] = 0.9f;           // level 2 starts afresh: 1
  plane[3] = -1.0f;          // after a 1: rounds to -1
  plane[2 * 8 + 2] = -1.0f;  // level 2 HH, after the zeros of LH: 0
  std::vector<int32_t> lin(64, 5);
  QuantizeCoarse(plane.data(), l, lin.data());
  QuantizeFine(plane.data(), l, lin.data());
  EXPECT_EQ(lin[1], 0);
  EXPECT_EQ(lin[2], 0);
  EXPECT_EQ(lin[3], 0);
  EXPECT_EQ(std::vector<int32_t>(lin.begin() + 4, lin.begin() + 8), (std::vector<int32_t>{1, -1, 0, 0}));
  EXPECT_EQ(lin[12], 0);
  // The same values in the coarse part are only rounded.
  const PlaneLayout coarse = LumaLayout(16, 16, 4, 3);
  QuantizeCoarse(plane.data(), coarse, lin.data());
  EXPECT_EQ(lin[2], 1);
  EXPECT_EQ(lin[3], 1);
  EXPECT_EQ(lin[12], -1);
}

std::vector<int32_t> ScanRow(const std::vector<int8_t>& values, bool remove) {
  // A 1-wide LH band at L = 1 is scanned top to bottom.
  const PlaneLayout l = LumaLayout(2, 2 * static_cast<int64_t>(values.size()), 1, 0);
  std::vector<int32_t> lin(values.size());
  ScanDetailPlane(values.data(), l, Band::LH, remove, lin.data());
  return lin;
}

TEST(Scan, LoneOnesRemovedFromArithmeticDetailPlanes) {
  EXPECT_EQ(ScanRow({0, 0, 1, 0}, true), (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(ScanRow({1, 0}, true), (std::vector<int32_t>{1, 0}));  // the history starts at 1
  EXPECT_EQ(ScanRow({0, 1, 0, 5}, true), (std::vector<int32_t>{0, 0, 0, 5}));
  EXPECT_EQ(ScanRow({0, 0, -1, 0, 0, 1, 1, 0}, true), (std::vector<int32_t>{0, 0, 0, 0, 0, 1, 1, 0}));
  EXPECT_EQ(ScanRow({0, 0, 2, 0, 0, 1}, true), (std::vector<int32_t>{0, 0, 2, 0, 0, 1}));
  EXPECT_EQ(ScanRow({0, 0, 1, 0}, false), (std::vector<int32_t>{0, 0, 1, 0}));
}

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
      std::vector<float> row(static_cast<size_t>(pw2));
      for (int64_t y = 0; y < ph2; ++y) {
        detail.Row(y, row.data());
        for (int64_t x = 0; x < pw2; ++x) {
          ASSERT_EQ(row[static_cast<size_t>(x)], plane[static_cast<size_t>(y * pw2 + x)])
              << percent << "% row " << y << " column " << x;
        }
      }
    }
  }
}

TEST(Prediction, WorkedExampleAndRoundTrip) {
  std::vector<int32_t> x = {10, 20, 30, 40};  // 2 x 2
  PredictLowest(x.data(), 2, 2);
  // 40 - (3 (30 + 20) - 2 10) / 4 = 40 - 32; 30 - 10; 20 - 10.
  EXPECT_EQ(x, (std::vector<int32_t>{10, 10, 20, 8}));
  std::vector<int32_t> y = {0, 3, 0, -10};  // (3 (0 + 3) - 0) / 4 truncates to 2; negative too
  PredictLowest(y.data(), 2, 2);
  EXPECT_EQ(y, (std::vector<int32_t>{0, 3, 0, -12}));
  std::vector<int32_t> z = {0, -3, 0, 0};
  PredictLowest(z.data(), 2, 2);
  EXPECT_EQ(z[3], 2);  // 0 - (-9 / 4) = 0 - (-2)

  std::mt19937 rng(4);
  for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {6, 1}, {7, 9}}) {
    std::vector<int32_t> v(static_cast<size_t>(w * h));
    for (auto& e : v) e = static_cast<int32_t>(rng() % 60001) - 30000;
    auto p = v;
    PredictLowest(p.data(), w, h);
    UnpredictLowest(p.data(), w, h);
    EXPECT_EQ(p, v);
  }
}

TEST(Prediction, DcMagnitudeAndSign) {
  EXPECT_EQ(DcMagnitude(-300), 300u);
  EXPECT_EQ(DcMagnitude(70000), 65535u);  // clamped so that it cannot wrap
  EXPECT_EQ(DcSign(1), 1);
  EXPECT_EQ(DcSign(0), -1);
  EXPECT_EQ(DcSign(-4), -1);
  EXPECT_EQ(RestoreDc(1, 300), 300);
  EXPECT_EQ(RestoreDc(-1, 300), -300);
  EXPECT_EQ(RestoreDc(0, 300), 300);
  EXPECT_EQ(RestoreDc(-1, 0), 0);
  EXPECT_EQ(RestoreDc(100000, 65535), 2147483647);
}

}  // namespace
