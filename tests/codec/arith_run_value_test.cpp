// The arithmetic coder and the run/value code. Their exact output is pinned
// by the golden test; these cover what pictures do not reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

#include "codec/run_value.h"

namespace {

using namespace wif;

// The bytes of what `write` codes with a fresh model.
template <typename Write>
std::vector<uint8_t> Coded(Write write) {
  ByteSink sink;
  BitWriter w(sink);
  AdaptiveModel model;
  ArithEncoder enc(w, model);
  enc.Start();
  write(enc, model);
  enc.Finish();
  w.Terminate();
  return sink.TakeBytes();
}

// A decoder with a fresh model on `bytes`.
struct Decoding {
  explicit Decoding(std::vector<uint8_t> b)
      : bytes(std::move(b)), source(bytes.data(), bytes.size()), r(source), dec(r, model) {
    dec.Start();
  }
  std::vector<uint8_t> bytes;
  ByteSource source;
  BitReader r;
  AdaptiveModel model;
  ArithDecoder dec;
};

std::vector<int32_t> RoundTripSweeps(const std::vector<int32_t>& values,
                                     const std::vector<std::pair<int64_t, int64_t>>& sweeps,
                                     Status* status) {
  Decoding d(Coded([&](ArithEncoder& enc, AdaptiveModel& model) {
    for (auto [b, e] : sweeps) EncodeSweep(enc, model, values.data(), b, e);
  }));
  std::vector<int32_t> out(values.size(), 777);
  *status = Status::Ok;
  for (auto [b, e] : sweeps) {
    const Status s = DecodeSweep(d.dec, d.model, d.r, out.data(), b, e);
    if (s != Status::Ok) *status = s;
  }
  EXPECT_TRUE(d.r.SkipTerminator());
  EXPECT_EQ(d.r.readsPastEnd(), 0);
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

    Decoding d(bytes);
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
      ASSERT_EQ(d.dec.Decode(), expected) << "trial " << trial << ", character " << n;
      if (expected == ArithDecoder::kInvalid) break;
    }
  }
  testing::internal::GetCapturedStderr();
}

// The encoder puts out all the bits of a renormalisation, and the underflow
// bits pending before them, at once; it must give the bits of the textbook
// encoding, one per doubling, also after long underflow runs.
TEST(ArithEncoder, MatchesTheTextbookEncoding) {
  std::mt19937 rng(5);
  int64_t longestUnderflow = 0;
  for (int trial = 0; trial < 400; ++trial) {
    // Skewed, even, or stuck on one character, which draws the interval
    // to a quarter boundary.
    const int kind = trial % 3;
    std::vector<int> text(1 + rng() % 3000);
    for (int& c : text) {
      c = kind == 0 ? static_cast<int>(rng() % 64 == 0 ? rng() % 6 : rng() % 2)
          : kind == 1 ? static_cast<int>(rng() % 6)
                      : (rng() % 200 == 0 ? static_cast<int>(rng() % 6) : trial / 3 % 6);
    }
    ByteSink sink;
    BitWriter w(sink);
    AdaptiveModel model;
    int32_t low = 0, high = kCodeTop;
    int64_t follow = 0;
    auto emit = [&](uint32_t bit) {
      w.PutBit(bit);
      for (; follow > 0; --follow) w.PutBit(bit ^ 1u);
    };
    for (int c : text) {
      const int sym = model.IndexOf(c);
      const int32_t total = model.Cumulative(0);
      const int32_t range = high - low + 1;
      high = low + range * model.Cumulative(sym - 1) / total - 1;
      low = low + range * model.Cumulative(sym) / total;
      for (;;) {
        if (high < kHalf) {
          emit(0);
        } else if (low >= kHalf) {
          emit(1);
          low -= kHalf, high -= kHalf;
        } else if (low >= kFirstQuarter && high < kThirdQuarter) {
          ++follow;
          longestUnderflow = std::max(longestUnderflow, follow);
          low -= kFirstQuarter, high -= kFirstQuarter;
        } else {
          break;
        }
        low = 2 * low;
        high = 2 * high + 1;
      }
      model.Update(sym);
    }
    ++follow;
    emit(low < kFirstQuarter ? 0 : 1);
    w.Terminate();
    ASSERT_EQ(Coded([&](ArithEncoder& enc, AdaptiveModel&) {
                for (int c : text) enc.Encode(c);
              }),
              sink.bytes())
        << "trial " << trial;
  }
  EXPECT_GT(longestUnderflow, 16);  // both ways of putting the bits out were taken
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

// Bits 0 and 1 can only stand where an item begins if the stream is bad:
// after a value they are its bits, after a run its digits.
TEST(RunValue, UnexpectedCharacterZeroesTheRestOfTheSweep) {
  Decoding d(Coded([](ArithEncoder& enc, AdaptiveModel&) {
    for (int c : {0, 4, 5}) enc.Encode(c);
  }));
  std::vector<int32_t> out(8, 9);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeSweep(d.dec, d.model, d.r, out.data(), 3, 8), Status::Corrupt);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unexpected char 0, at count == 3\n");
  EXPECT_EQ(out, (std::vector<int32_t>{9, 9, 9, 0, 0, 0, 0, 0}));
}

// 31 one-bits after the leading one would overflow a coefficient.
TEST(RunValue, ValuesBeyondThirtyOneBitsAreAnError) {
  for (int ones : {30, 31}) {
    Decoding d(Coded([&](ArithEncoder& enc, AdaptiveModel&) {
      enc.Encode(kCharPositive);
      for (int i = 0; i < ones; ++i) enc.Encode(kCharOne);
      enc.Encode(kCharNegative);
    }));
    int32_t value = 0;
    testing::internal::CaptureStderr();
    const Status s = DecodeSweep(d.dec, d.model, d.r, &value, 0, 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s, ones == 30 ? Status::Ok : Status::Corrupt);
    EXPECT_EQ(value, ones == 30 ? std::numeric_limits<int32_t>::max() : 0);
    EXPECT_EQ(err, ones == 30 ? "" : "Bad input file\n");
  }
}

}  // namespace
