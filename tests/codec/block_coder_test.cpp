// The 16-value block coder. Its exact output is pinned by the golden test;
// these cover values, lengths and damage that pictures do not bring.
#include "codec/block_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace wif;

std::vector<uint8_t> EncodeTerminated(std::vector<int32_t> values) {
  ByteSink sink;
  BitWriter w(sink);
  BlockEncode(values.data(), values.size(), w);
  w.Terminate();
  return sink.TakeBytes();
}

std::vector<int32_t> DecodeValues(const std::vector<uint8_t>& bytes, size_t count, Status* status) {
  ByteSource source(bytes.data(), bytes.size());
  BitReader r(source);
  std::vector<int32_t> out(count, 12345);
  *status = BlockDecode(r, out.data(), count);
  return out;
}

// The parameter chosen for a block's sum, at the edges of each range: a
// shifted edge still decodes, so only the file sizes would show it.
TEST(BlockCoder, ParameterThresholds) {
  const std::pair<uint64_t, int> cases[] = {{16, 7},  {23, 7},   {24, 0},   {39, 0},   {40, 1},
                                            {135, 2}, {136, 3},  {519, 4},  {1031, 5}, {1032, 6},
                                            {1ull << 40, 6}};
  for (auto [sum, k] : cases) EXPECT_EQ(BlockParameter(sum), k) << sum;
}

// Arrays of every shape, one after another in one bit stream: each decode
// must stop exactly where its array's bits end.
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
  // Extremes: a Rice code of k = 6 sends u >> 6 zeros, so values near 2^31
  // would cost tens of millions of bits; the codec never produces them.
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

// Values handed over in stretches, runs of zeros as counts, give the bits of
// the whole array coded at once, whatever the stretches' lengths against
// the blocks'.
TEST(BlockCoder, StreamedStretchesGiveTheBitsOfTheWholeArray) {
  std::mt19937 rng(5);
  for (size_t count : {1u, 16u, 17u, 40u, 1000u}) {
    std::vector<int32_t> values(count, 0);
    for (auto& v : values) {
      if (rng() % 6 == 0) v = static_cast<int32_t>(rng() % 61) - 30;
    }
    ByteSink sink;
    BitWriter w(sink);
    BlockStream blocks(w);
    for (size_t at = 0; at < count;) {
      const size_t n = std::min<size_t>(1 + rng() % 37, count - at);
      if (std::all_of(values.begin() + at, values.begin() + at + n,
                      [](int32_t v) { return v == 0; })) {
        blocks.Zeros(static_cast<int64_t>(n));
      } else {
        blocks.Values(values.data() + at, static_cast<int64_t>(n));
      }
      at += n;
    }
    blocks.Finish();
    w.Terminate();
    EXPECT_EQ(sink.TakeBytes(), EncodeTerminated(values)) << count;
  }
}

// Every cut of a stream short of its last few bytes is an error; random
// bytes and endless zeros end within the bounded reads past the end.
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
    Status s;
    DecodeValues(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(cut)),
                 values.size(), &s);
    EXPECT_EQ(s, Status::Corrupt) << cut;
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
