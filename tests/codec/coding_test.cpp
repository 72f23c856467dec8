// The entropy coding and what lies below it: bit packing, terminators, the
// end of the stream, the byte streams, the 16-value block coder, the
// arithmetic coder and the run/value code. Their exact output is pinned by
// the golden test; these cover values, lengths and damage that pictures do
// not bring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "codec/bit_io.h"
#include "codec/block_coder.h"
#include "codec/run_value.h"

namespace {

using namespace wif;

struct Lcg {
  uint32_t state;
  uint32_t operator()() { return state = state * 1103515245u + 12345u; }
};

// An unnamed file holding `bytes`, closed at the end of the scope.
struct TempFile {
  FILE* f = std::tmpfile();
  explicit TempFile(const std::vector<uint8_t>& bytes) {
    if (f && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  }
  ~TempFile() {
    if (f) std::fclose(f);
  }
};

// Byte-level reads drop a partly read byte. Reading past the end gives zeros
// for a while, then fails the stream, reported once.
TEST(BitIO, ByteLevelReadsTerminatorsAndTheEndOfTheStream) {
  const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0x01, 0x7F, 0xFF, 0xAB};
  ByteSource source(data, sizeof data);
  BitReader r(source);
  uint32_t v;
  r.GetBit();
  ASSERT_TRUE(r.ReadBigEndian(4, v));
  EXPECT_EQ(v, 0x3456789Au);
  ASSERT_TRUE(r.SkipTerminator());
  ASSERT_TRUE(r.ReadBigEndian(1, v));
  EXPECT_EQ(v, 0xABu);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r.ReadBigEndian(2, v));
  EXPECT_TRUE(r.failed());
  EXPECT_FALSE(r.SkipTerminator());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad input file\n");

  ByteSource one(data + 7, 1);
  BitReader e(one);
  EXPECT_EQ(e.GetBits(8), 0xFFu);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 14 * 8; ++i) ASSERT_EQ(e.GetBit(), 0u);
  EXPECT_FALSE(e.failed());
  EXPECT_EQ(e.readsPastEnd(), 14);
  EXPECT_EQ(e.GetBit(), 0u);
  EXPECT_TRUE(e.failed());
  for (int i = 0; i < 100; ++i) e.GetBit();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad input file\n");
}

// The reader takes several bytes at a time; byte-level reads and Position
// must see the stream where one byte at a time would have left it, in memory
// and from a file read in 64 KiB windows.
TEST(BitIO, ReadingAheadKeepsByteLevelReadsAndPositionsExact) {
  struct Step {
    int count;  // a field of `count` bits; -1 - count zeros then a one
    uint32_t value;
    uint64_t position;  // nonzero: a terminator that ends there
  };
  std::vector<Step> steps;
  ByteSink sink;
  BitWriter w(sink);
  Lcg next{11};
  for (int i = 0; i < 120000; ++i) {
    const uint32_t pick = next() >> 24;
    const int count = static_cast<int>(next() >> 27) + 1;  // 1 .. 32
    const uint32_t value = (next() ^ (next() << 9)) & (count == 32 ? ~0u : (1u << count) - 1);
    if (pick < 200) {
      w.PutBits(value, count);
      steps.push_back({count, value, 0});
    } else if (pick < 250) {
      w.PutRepeated(0, value & 63);
      w.PutBit(1);
      steps.push_back({-1 - static_cast<int>(value & 63), 0, 0});
    } else {
      w.Terminate();
      steps.push_back({0, 0, sink.Position()});
    }
  }
  w.Terminate();
  steps.push_back({0, 0, sink.Position()});
  const std::vector<uint8_t>& bytes = sink.bytes();
  ASSERT_GT(bytes.size(), 200000u);  // several file windows

  auto replay = [&](ByteSource& source) {
    BitReader r(source);
    bool byBytes = false;  // the two ways of crossing a terminator, in turn
    for (const Step& s : steps) {
      if (s.position == 0) {
        ASSERT_EQ(s.count > 0 ? r.GetBits(s.count) : r.CountZeros(1000),
                  s.count > 0 ? s.value : static_cast<uint64_t>(-1 - s.count));
        continue;
      }
      byBytes = !byBytes;
      if (byBytes) {
        // The partial byte is dropped, then 0x00 0x00 before the 0xFF.
        r.Reset();
        uint32_t zeros = 1;
        ASSERT_TRUE(r.ReadBigEndian(2, zeros));
        ASSERT_EQ(zeros, 0u);
      }
      ASSERT_TRUE(r.SkipTerminator());
      ASSERT_EQ(r.Position(), s.position);
      ASSERT_EQ(source.Position(), s.position);
    }
    EXPECT_EQ(r.readsPastEnd(), 0);
    EXPECT_FALSE(r.failed());
  };
  ByteSource memory(bytes.data(), bytes.size());
  replay(memory);
  TempFile f(bytes);
  ASSERT_NE(f.f, nullptr);
  ByteSource file(f.f);
  ASSERT_TRUE(file.Rewind());
  replay(file);
}

// The combined read takes what a field read and a count of zeros would, also
// near the end of the stream and with positions asked for between reads.
TEST(BitIO, FieldThenZerosReadsAsAFieldAndACountOfZeros) {
  Lcg next{3};
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<uint8_t> bytes(1 + next() % 3000);
    const int sparseness = trial % 4;  // longer runs of zeros
    for (auto& b : bytes) {
      uint32_t v = next() >> 8;
      for (int i = 0; i < sparseness; ++i) v &= next() >> 8;
      b = static_cast<uint8_t>(v);
    }
    ByteSource oneSource(bytes.data(), bytes.size()), twoSource(bytes.data(), bytes.size());
    BitReader one(oneSource), two(twoSource);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 6000 && !two.failed(); ++i) {
      const int k = static_cast<int>(next() >> 29) % 7;  // 0 .. 6
      const uint64_t limit = i % 500 == 499 ? 40 : 0xFFFFFFFFull >> k;
      const uint32_t field = two.GetBits(k);
      const uint64_t zeros = two.CountZeros(limit);
      const uint64_t combined = one.GetBitsThenZeros(k, limit);
      // Too many zeros end the stream's reading, wherever each stopped.
      ASSERT_EQ(combined > (limit << k) + ((1u << k) - 1), zeros > limit) << i;
      if (zeros > limit) break;
      ASSERT_EQ(combined, (zeros << k) | field) << i;
      if (i % 7 == 0) {
        ASSERT_EQ(one.Position(), two.Position()) << i;
      }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(one.readsPastEnd(), two.readsPastEnd());
  }
}

// The last bytes delivered can be stepped back over even just after the next
// 64 KiB window of the file has been read.
TEST(ByteStreams, UngetReachesBackAcrossAFileWindow) {
  std::vector<uint8_t> bytes(3 * 65536 + 5);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  TempFile f(bytes);
  ASSERT_NE(f.f, nullptr);
  for (size_t past = 0; past < 3; ++past) {
    for (size_t back = 1; back <= ByteSource::kLookBehind; ++back) {
      ByteSource source(f.f);
      ASSERT_TRUE(source.Rewind());
      const size_t stop = 2 * 65536 + past;  // just into the third window
      for (size_t i = 0; i < stop; ++i) source.Get();
      source.Unget(back);
      EXPECT_EQ(source.Position(), stop - back);
      for (size_t i = stop - back; i < stop + 4; ++i) ASSERT_EQ(source.Get(), bytes[i]) << back;
    }
  }
}

// Section lengths are patched in after their data, also once it is in the file.
TEST(ByteStreams, PatchReachesBytesAlreadyInTheFile) {
  TempFile f({});
  ASSERT_NE(f.f, nullptr);
  {
    ByteSink sink(f.f);
    sink.PutBigEndian32(0);
    for (int i = 0; i < 200000; ++i) sink.Put(static_cast<uint8_t>(i));
    sink.Patch32(0, 0xA1B2C3D4);
    sink.Patch32(199998, 0x01020304);
    ASSERT_TRUE(sink.Flush());
    EXPECT_EQ(sink.Position(), 200004u);
  }
  ByteSource source(f.f);
  ASSERT_TRUE(source.Rewind());
  std::vector<uint8_t> bytes;
  for (int c; (c = source.Get()) >= 0;) bytes.push_back(static_cast<uint8_t>(c));
  ASSERT_EQ(bytes.size(), 200004u);
  EXPECT_EQ(source.Position(), 200004u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5),
            (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 199998, bytes.begin() + 200003),
            (std::vector<uint8_t>{1, 2, 3, 4, static_cast<uint8_t>(199998)}));
}

std::vector<uint8_t> EncodeTerminated(std::vector<int32_t> values) {
  ByteSink sink;
  BitWriter w(sink);
  BlockEncode(values.data(), values.size(), w);
  w.Terminate();
  return sink.TakeBytes();
}

// A shifted edge of a parameter's range still decodes: only sizes show it.
TEST(BlockCoder, ParameterThresholds) {
  const std::pair<uint64_t, int> cases[] = {{16, 7},   {23, 7},   {24, 0},        {39, 0},
                                            {40, 1},   {135, 2},  {136, 3},       {519, 4},
                                            {1031, 5}, {1032, 6}, {1ull << 40, 6}};
  for (auto [sum, k] : cases) EXPECT_EQ(BlockParameter(sum), k) << sum;
}

// Arrays of every shape in one bit stream: each decode stops where its bits end.
TEST(BlockCoder, RoundTripsAssortedArraysInOneStream) {
  std::mt19937 rng(7);
  std::vector<std::vector<int32_t>> cases;
  for (size_t count : {1u, 15u, 16u, 17u, 33u, 1000u}) {
    std::vector<int32_t> sparse(count, 0), dense(count), wide(count);
    for (size_t i = 0; i < count; ++i) {
      if (rng() % 10 == 0) sparse[i] = static_cast<int32_t>(rng() % 5) - 2;
      dense[i] = static_cast<int32_t>(rng() % 41) - 20;
      wide[i] = static_cast<int32_t>(rng() % 200001) - 100000;
    }
    cases.insert(cases.end(), {sparse, dense, wide});
  }
  // Values near 2^31 would cost tens of millions of bits; the codec never makes them.
  cases.push_back({1 << 22, -(1 << 22), 0, -1, 65535, -65535, 1});
  std::vector<int32_t> quiet(64, 0);  // every quiet-block group shape
  for (int i = 0; i < 64; i += 3) quiet[i] = (i / 3) % 3 - 1;
  cases.push_back(quiet);
  ByteSink sink;
  BitWriter w(sink);
  for (auto values : cases) BlockEncode(values.data(), values.size(), w);
  w.Terminate();
  ByteSource source(sink.bytes().data(), sink.bytes().size());
  BitReader r(source);
  for (const auto& values : cases) {
    std::vector<int32_t> out(values.size(), 12345);
    ASSERT_EQ(BlockDecode(r, out.data(), out.size()), Status::Ok);
    EXPECT_EQ(out, values);
  }
  EXPECT_TRUE(r.SkipTerminator());
}

// Cuts short of the last few bytes are errors; random bytes and endless zeros
// end within the bounded reads past the end.
TEST(BlockCoder, RandomAndTruncatedStreamsEndWithinBoundedReads) {
  testing::internal::CaptureStderr();
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> bytes(rng() % 64);
    for (auto& b : bytes) b = static_cast<uint8_t>(trial % 3 == 0 ? 0 : rng());
    ByteSource source(bytes.data(), bytes.size());
    BitReader r(source);
    std::vector<int32_t> out(1 + rng() % 300);
    const Status s = BlockDecode(r, out.data(), out.size());
    EXPECT_TRUE(s == Status::Ok || s == Status::Corrupt);
    EXPECT_LE(r.readsPastEnd(), BitReader::kMaxReadsPastEnd + 1);
  }
  std::vector<int32_t> values(500);
  for (auto& v : values) v = static_cast<int32_t>(rng() % 2001) - 1000;
  const auto full = EncodeTerminated(values);
  for (size_t cut = 0; cut + 15 < full.size(); ++cut) {
    const std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    ByteSource source(part.data(), part.size());
    BitReader r(source);
    std::vector<int32_t> out(values.size());
    EXPECT_EQ(BlockDecode(r, out.data(), out.size()), Status::Corrupt) << cut;
  }
  testing::internal::GetCapturedStderr();
}

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

// The coder divides by the model's total with a multiply: the quotient of a
// division for every reachable total and product.
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

// The encoder puts out all the bits of a renormalisation, and the underflow
// bits pending before them, at once; it must give the bits of the textbook
// encoding, one per doubling, also after long underflow runs, and the
// decoder must read the text back from them.
TEST(ArithCoder, MatchesTheTextbookEncodingAndDecodesBack) {
  std::mt19937 rng(5);
  int64_t longestUnderflow = 0;
  for (int trial = 0; trial < 400; ++trial) {
    // Skewed, even, or stuck on one character, which draws the interval
    // to a quarter boundary.
    const int kind = trial % 3;
    std::vector<int> text(1 + rng() % 3000);
    for (int& c : text) {
      c = kind == 0   ? static_cast<int>(rng() % 64 == 0 ? rng() % 6 : rng() % 2)
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
    Decoding d(Coded([&](ArithEncoder& enc, AdaptiveModel&) {
      for (int c : text) enc.Encode(c);
    }));
    ASSERT_EQ(d.bytes, sink.bytes()) << "trial " << trial;
    for (int c : text) ASSERT_EQ(d.dec.Decode(), c) << "trial " << trial;
  }
  EXPECT_GT(longestUnderflow, 16);  // both ways of putting the bits out were taken
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
