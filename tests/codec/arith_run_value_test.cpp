// The adaptive model, the arithmetic coder and the run/value code.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "codec/run_value.h"

namespace {

using namespace wif;

// The characters that one sweep of `values` sends, as the reader receives
// them. Three marker characters after the sweep show where it ended.
std::vector<int> SweepCharacters(const std::vector<int32_t>& values, size_t expected) {
  ByteSink sink;
  BitWriter w(sink);
  AdaptiveModel model;
  ArithEncoder enc(w, model);
  enc.Start();
  EncodeSweep(enc, model, values.data(), 0, static_cast<int64_t>(values.size()));
  for (int i = 0; i < 3; ++i) enc.Encode(kCharOne);
  enc.Finish();
  w.Terminate();
  ByteSource source(sink.bytes().data(), sink.bytes().size());
  BitReader r(source);
  AdaptiveModel readModel;
  ArithDecoder dec(r, readModel);
  dec.Start();
  std::vector<int> chars;
  for (size_t i = 0; i < expected + 3; ++i) chars.push_back(dec.Decode());
  return chars;
}

std::vector<int> WithMarkers(std::vector<int> chars) {
  chars.insert(chars.end(), {1, 1, 1});
  return chars;
}

TEST(RunValue, WorkedExamples) {
  EXPECT_EQ(SweepCharacters({1}, 2), WithMarkers({4, 5}));          // 1, closing mark
  EXPECT_EQ(SweepCharacters({-1}, 2), WithMarkers({5, 5}));
  EXPECT_EQ(SweepCharacters({6}, 4), WithMarkers({4, 1, 0, 5}));    // 6 = 110
  EXPECT_EQ(SweepCharacters({-13}, 5), WithMarkers({5, 1, 0, 1, 5}));
  EXPECT_EQ(SweepCharacters({0, 0}, 2), WithMarkers({3, 0}));       // no closing mark
  EXPECT_EQ(SweepCharacters(std::vector<int32_t>(10, 0), 3), WithMarkers({3, 0, 0}));  // r = 5 = 1 + 4 + 0
  EXPECT_EQ(SweepCharacters({0}, 1), WithMarkers({2}));
  EXPECT_EQ(SweepCharacters({0, 0, 0, 2, 0}, 5), WithMarkers({2, 0, 4, 0, 2}));
  // r = 21 = 1 + 4 + 16: three digits 0; r = 22: the lowest digit becomes 1.
  EXPECT_EQ(SweepCharacters(std::vector<int32_t>(42, 0), 4), WithMarkers({3, 0, 0, 0}));
  EXPECT_EQ(SweepCharacters(std::vector<int32_t>(44, 0), 4), WithMarkers({3, 1, 0, 0}));
}

TEST(AdaptiveModel, StartsFlatAndKeepsIndicesSortedByFrequency) {
  AdaptiveModel m;
  EXPECT_EQ(m.Cumulative(0), 7);
  EXPECT_EQ(m.Cumulative(7), 0);
  for (int c = 0; c < 6; ++c) EXPECT_EQ(m.IndexOf(c), c + 1);
  m.Update(m.IndexOf(4));  // character 4 moves to the front
  EXPECT_EQ(m.IndexOf(4), 1);
  EXPECT_EQ(m.CharacterAt(1), 4);
  EXPECT_EQ(m.IndexOf(0), 5);
  EXPECT_EQ(m.Frequency(1), 2);
  EXPECT_EQ(m.Cumulative(0), 8);
  m.Reset();
  EXPECT_EQ(m.IndexOf(4), 5);
}

TEST(AdaptiveModel, CountsHalveOnceTheTotalReachesTheLimit) {
  AdaptiveModel m;
  int previous = m.Cumulative(0);
  bool halved = false;
  for (int i = 0; i < 40000; ++i) {
    const int before = m.Cumulative(0);
    m.Update(m.IndexOf(i % 7 == 0 ? 2 : 3));
    ASSERT_LE(m.Cumulative(0), AdaptiveModel::kMaxTotal);
    if (before == AdaptiveModel::kMaxTotal) {
      EXPECT_LT(m.Cumulative(0), before / 2 + 8);
      halved = true;
    }
    previous = m.Cumulative(0);
  }
  EXPECT_TRUE(halved);
  EXPECT_GT(previous, 0);
  EXPECT_EQ(m.Frequency(0), 0);
  EXPECT_EQ(m.Frequency(AdaptiveModel::kSymbols), 1);  // the end symbol keeps its count
}

std::vector<int32_t> RoundTripSweeps(const std::vector<int32_t>& values,
                                     const std::vector<std::pair<int64_t, int64_t>>& sweeps,
                                     Status* status) {
  ByteSink sink;
  BitWriter w(sink);
  AdaptiveModel model;
  ArithEncoder enc(w, model);
  enc.Start();
  for (auto [b, e] : sweeps) EncodeSweep(enc, model, values.data(), b, e);
  enc.Finish();
  w.Terminate();
  ByteSource source(sink.bytes().data(), sink.bytes().size());
  BitReader r(source);
  AdaptiveModel readModel;
  ArithDecoder dec(r, readModel);
  dec.Start();
  std::vector<int32_t> out(values.size(), 777);
  *status = Status::Ok;
  for (auto [b, e] : sweeps) {
    const Status s = DecodeSweep(dec, readModel, r, out.data(), b, e);
    if (s != Status::Ok) *status = s;
  }
  EXPECT_TRUE(r.SkipTerminator());
  EXPECT_EQ(r.readsPastEnd(), 0);
  return out;
}

// The coder divides range x cumulative frequency by the model's total with a
// multiply: it must give the quotient of a division for every total the
// model can reach and every product up to the largest range times the total.
TEST(AdaptiveModel, DivisionByTheTotalIsExactForEveryTotal) {
  for (int32_t d = 1; d <= AdaptiveModel::kMaxTotal; ++d) {
    for (int32_t k : {0, 1, 2, 3, 1000, 16383, 65535, 65536}) {
      for (int32_t n : {k * d - 1, k * d, k * d + d / 2, k * d + d - 1}) {
        if (n < 0 || n > 65536 * d) continue;
        ASSERT_EQ(DivideByTotal(n, d), n / d) << n << " / " << d;
      }
    }
  }
}

// The decoder narrows its interval with multiplies and renormalises in one
// step; on any stream, valid or not, it must give the characters of the
// textbook decoding: a division for the target, one bit per doubling.
TEST(ArithDecoder, MatchesTheTextbookDecodingOnRandomStreams) {
  std::mt19937 rng(9);
  testing::internal::CaptureStderr();  // streams that run far past their end
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> bytes(1 + rng() % 600);
    const uint32_t sparse = rng() % 4;  // mostly zero bits: long runs of one character
    for (auto& b : bytes) b = static_cast<uint8_t>(sparse ? rng() & rng() & rng() : rng());
    size_t bit = 0;
    auto next = [&]() -> int32_t {
      const size_t i = bit++;
      return i / 8 < bytes.size() ? (bytes[i / 8] >> (i % 8)) & 1 : 0;
    };
    AdaptiveModel model;
    int32_t low = 0, high = kCodeTop, value = 0;
    for (int i = 0; i < 16; ++i) value = 2 * value + next();

    ByteSource source(bytes.data(), bytes.size());
    BitReader r(source);
    AdaptiveModel readModel;
    ArithDecoder dec(r, readModel);
    dec.Start();
    for (int n = 0; n < 4000; ++n) {
      const int32_t total = model.Cumulative(0);
      const int32_t range = high - low + 1;
      const int32_t target = ((value - low + 1) * total - 1) / range;
      int expected;
      if (value < low || target < 0 || target >= total) {
        expected = ArithDecoder::kInvalid;
      } else {
        int sym = 1;
        while (model.Cumulative(sym) > target) ++sym;
        high = low + range * model.Cumulative(sym - 1) / total - 1;
        low = low + range * model.Cumulative(sym) / total;
        for (;;) {
          if (high < kHalf) {
          } else if (low >= kHalf) {
            value -= kHalf, low -= kHalf, high -= kHalf;
          } else if (low >= kFirstQuarter && high < kThirdQuarter) {
            value -= kFirstQuarter, low -= kFirstQuarter, high -= kFirstQuarter;
          } else {
            break;
          }
          low = 2 * low;
          high = 2 * high + 1;
          value = 2 * value + next();
        }
        expected = sym == AdaptiveModel::kSymbols ? ArithDecoder::kEnd : model.CharacterAt(sym);
        if (sym != AdaptiveModel::kSymbols) model.Update(sym);
      }
      // Both go on past an end symbol, which leaves the model as it was.
      ASSERT_EQ(dec.Decode(), expected) << "trial " << trial << ", character " << n;
      if (expected == ArithDecoder::kInvalid) break;
    }
  }
  testing::internal::GetCapturedStderr();
}

TEST(RunValue, RoundTripsAssortedArraysOverSeveralSweeps) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 40; ++trial) {
    const int64_t start = 1 + rng() % 20;
    std::vector<int32_t> v(static_cast<size_t>(start * 64));
    const int density = trial % 4;  // 0 all zero, 1 sparse, 2 dense, 3 wide values
    for (auto& x : v) {
      if (density == 1 && rng() % 12 == 0) x = static_cast<int32_t>(rng() % 7) - 3;
      if (density == 2) x = static_cast<int32_t>(rng() % 9) - 4;
      if (density == 3 && rng() % 3 == 0) x = static_cast<int32_t>(rng()) >> (rng() % 31);
    }
    if (density == 3) v.back() = std::numeric_limits<int32_t>::max();
    if (density == 3) v[static_cast<size_t>(start)] = -std::numeric_limits<int32_t>::max();
    // Coarse-style sweeps [s, 4s), [4s, 16s), [16s, 64s), then the range before them.
    const std::vector<std::pair<int64_t, int64_t>> sweeps = {
        {start, 4 * start}, {4 * start, 16 * start}, {16 * start, 64 * start}, {0, start}};
    Status s;
    EXPECT_EQ(RoundTripSweeps(v, sweeps, &s), v) << "trial " << trial;
    EXPECT_EQ(s, Status::Ok);
  }
}

TEST(RunValue, UnexpectedCharacterZeroesTheRestOfTheSweep) {
  // Bits 0 and 1 can only stand where an item begins if the stream is bad:
  // after a value they are its bits, after a run its digits.
  ByteSink sink;
  BitWriter w(sink);
  AdaptiveModel model;
  ArithEncoder enc(w, model);
  enc.Start();
  for (int c : {0, 4, 5}) enc.Encode(c);
  enc.Finish();
  w.Terminate();
  ByteSource source(sink.bytes().data(), sink.bytes().size());
  BitReader r(source);
  AdaptiveModel readModel;
  ArithDecoder dec(r, readModel);
  dec.Start();
  std::vector<int32_t> out(8, 9);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeSweep(dec, readModel, r, out.data(), 3, 8), Status::Corrupt);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unexpected char 0, at count == 3\n");
  EXPECT_EQ(out, (std::vector<int32_t>{9, 9, 9, 0, 0, 0, 0, 0}));
}

TEST(RunValue, ValuesBeyondThirtyOneBitsAreAnError) {
  for (int ones : {30, 31}) {
    ByteSink sink;
    BitWriter w(sink);
    AdaptiveModel model;
    ArithEncoder enc(w, model);
    enc.Start();
    enc.Encode(kCharPositive);
    for (int i = 0; i < ones; ++i) enc.Encode(kCharOne);
    enc.Encode(kCharNegative);
    enc.Finish();
    w.Terminate();
    ByteSource source(sink.bytes().data(), sink.bytes().size());
    BitReader r(source);
    AdaptiveModel readModel;
    ArithDecoder dec(r, readModel);
    dec.Start();
    int32_t value = 0;
    testing::internal::CaptureStderr();
    const Status s = DecodeSweep(dec, readModel, r, &value, 0, 1);
    const std::string err = testing::internal::GetCapturedStderr();
    if (ones == 30) {
      EXPECT_EQ(s, Status::Ok);
      EXPECT_EQ(value, std::numeric_limits<int32_t>::max());
    } else {
      EXPECT_EQ(s, Status::Corrupt);
      EXPECT_EQ(value, 0);
      EXPECT_EQ(err, "Bad input file\n");
    }
  }
}

TEST(RunValue, RandomStreamsNeverRunAwayOrOverflow) {
  testing::internal::CaptureStderr();
  std::mt19937 rng(5);
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<uint8_t> bytes(rng() % 80);
    for (auto& b : bytes) b = static_cast<uint8_t>(trial % 5 == 0 ? 0 : rng());
    ByteSource source(bytes.data(), bytes.size());
    BitReader r(source);
    AdaptiveModel model;
    ArithDecoder dec(r, model);
    dec.Start();
    std::vector<int32_t> out(1 + rng() % 5000);
    const Status s = DecodeSweep(dec, model, r, out.data(), 0, static_cast<int64_t>(out.size()));
    EXPECT_TRUE(s == Status::Ok || s == Status::Corrupt);
    EXPECT_LE(r.readsPastEnd(), BitReader::kMaxReadsPastEnd + 1);
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
