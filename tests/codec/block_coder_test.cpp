// The 16-value block coder.
#include <gtest/gtest.h>

#include <random>

#include "codec/block_coder.h"

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

TEST(BlockCoder, SixteenZerosCostNineBits) {
  // k = 7 (111), then the 16 zeros padded to 18 bits: six groups 000, coded 1 each.
  EXPECT_EQ(EncodeTerminated(std::vector<int32_t>(16, 0)),
            (std::vector<uint8_t>{0xFF, 0x01, 0x00, 0x00, 0xFF}));
  // A short last block is padded with zeros that are coded too.
  EXPECT_EQ(EncodeTerminated({0}), EncodeTerminated(std::vector<int32_t>(16, 0)));
}

TEST(BlockCoder, ParameterThresholds) {
  EXPECT_EQ(BlockParameter(16), 7);
  EXPECT_EQ(BlockParameter(23), 7);
  EXPECT_EQ(BlockParameter(24), 0);
  EXPECT_EQ(BlockParameter(39), 0);
  EXPECT_EQ(BlockParameter(40), 1);
  EXPECT_EQ(BlockParameter(135), 2);
  EXPECT_EQ(BlockParameter(136), 3);
  EXPECT_EQ(BlockParameter(519), 4);
  EXPECT_EQ(BlockParameter(1031), 5);
  EXPECT_EQ(BlockParameter(1032), 6);
  EXPECT_EQ(BlockParameter(1ull << 40), 6);
}

TEST(BlockCoder, RiceBlockLayout) {
  // Sum exactly 24: four values of 1 (u = 2) and twelve zeros choose k = 0.
  // Bits: 000, then per value u zeros and a one: 3 + 24 = 27 bits.
  std::vector<int32_t> v(16, 0);
  v[0] = v[5] = v[6] = v[15] = 1;
  // 000 | 001 1 1 1 1 001 001 1 1 1 1 1 1 1 1 001, packed from bit 0 upwards.
  const auto bytes = EncodeTerminated(v);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xE0, 0x93, 0xFF, 0x04, 0x00, 0x00, 0xFF}));
  Status s;
  EXPECT_EQ(DecodeValues(bytes, 16, &s), v);
  EXPECT_EQ(s, Status::Ok);

  // k = 2 block: u = 5 (v = -3) sends 01, then one zero, then a one.
  std::vector<int32_t> w(16, 0);
  w[0] = -3;
  for (int i = 1; i < 16; ++i) w[i] = i % 2 ? 2 : -2;  // sum 16 + 5 + 8*4 + 7*3 = 74 -> k = 2
  const auto wb = EncodeTerminated(w);
  EXPECT_EQ(wb[0] & 0x7, 0b010);  // k = 2, written 0,1,0 into bits 0..2
  EXPECT_EQ(DecodeValues(wb, 16, &s), w);
}

TEST(BlockCoder, RoundTripsAssortedArrays) {
  std::mt19937 rng(7);
  std::vector<std::vector<int32_t>> cases;
  for (size_t count : {1u, 15u, 16u, 17u, 33u, 1000u}) {
    std::vector<int32_t> sparse(count, 0), dense(count), wide(count);
    for (size_t i = 0; i < count; ++i) {
      if (rng() % 10 == 0) sparse[i] = static_cast<int32_t>(rng() % 5) - 2;
      dense[i] = static_cast<int32_t>(rng() % 41) - 20;
      wide[i] = static_cast<int32_t>(rng() % 200001) - 100000;
    }
    cases.push_back(sparse);
    cases.push_back(dense);
    cases.push_back(wide);
  }
  // Extremes: a Rice code of k = 6 sends u >> 6 zeros, so values near 2^31
  // would cost tens of millions of bits; the codec never produces them.
  cases.push_back({1 << 22, -(1 << 22), 0, -1, 65535, -65535, 1});
  std::vector<int32_t> quiet(64, 0);  // every quiet-block group shape
  for (int i = 0; i < 64; i += 3) quiet[i] = (i / 3) % 3 - 1;
  cases.push_back(quiet);
  for (const auto& values : cases) {
    Status s;
    EXPECT_EQ(DecodeValues(EncodeTerminated(values), values.size(), &s), values);
    EXPECT_EQ(s, Status::Ok);
  }
}

TEST(BlockCoder, ArraysFollowOneAnotherInOneBitStream) {
  std::vector<int32_t> a = {3, 0, -1}, b(20, 1);
  ByteSink sink;
  BitWriter w(sink);
  auto a2 = a, b2 = b;
  BlockEncode(a2.data(), a2.size(), w);
  BlockEncode(b2.data(), b2.size(), w);
  w.Terminate();
  ByteSource source(sink.bytes().data(), sink.bytes().size());
  BitReader r(source);
  std::vector<int32_t> ra(3), rb(20);
  ASSERT_EQ(BlockDecode(r, ra.data(), 3), Status::Ok);
  ASSERT_EQ(BlockDecode(r, rb.data(), 20), Status::Ok);
  EXPECT_EQ(ra, a);
  EXPECT_EQ(rb, b);
  EXPECT_TRUE(r.SkipTerminator());
}

TEST(BlockCoder, RandomAndTruncatedStreamsEndWithinBoundedReads) {
  testing::internal::CaptureStderr();
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> bytes(rng() % 64);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    if (trial % 3 == 0) std::fill(bytes.begin(), bytes.end(), 0);  // endless unary zeros
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
  for (size_t cut = 0; cut < full.size(); ++cut) {
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    Status s;
    DecodeValues(part, values.size(), &s);
    if (cut + 15 < full.size()) {
      EXPECT_EQ(s, Status::Corrupt) << cut;
    }
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
