// The block coder of the coarse coefficients (and of the first-level detail
// planes at the finest qualities).
//
// Values go in blocks of 16; a short last block is padded with zeros, which
// are coded and dropped by the reader. Each value v is mapped to an unsigned
// u (2v above 0, -2v - 1 below). From sum = 16 + sum(u) the block takes a
// parameter k (3 bits): for k < 7 every u is sent as its low k bits, then
// u >> k zeros and a one (a Rice code); for k = 7, a very quiet block, the
// unary string of all sixteen values (u ones and a zero each) is padded to a
// multiple of 3 bits and sent in groups of 3 through a short prefix code.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "codec/bit_io.h"
#include "codec/codec_status.h"
#include "codec/scan.h"

namespace wif {

inline constexpr int kBlockValues = 16;
inline constexpr int kQuietBlock = 7;  // the group-code parameter

// 2v above 0, -2v - 1 below: the doubled value with all its bits flipped
// when negative, without a branch (so that a block's values map as a vector).
inline uint32_t MapSigned(int32_t v) {
  return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31);
}
inline int32_t UnmapSigned(uint32_t u) {
  const int64_t w = u;
  return static_cast<int32_t>((w & 1) == 0 ? w / 2 : -(w + 1) / 2);
}

// The parameter for a block with sum = 16 + sum of its mapped values: 7
// below 24; otherwise k from 0 to 6 for sums below 8 + 2^(k + 5) (40, 72,
// 136, ... 1032), 6 beyond.
inline int BlockParameter(uint64_t sum) {
  if (sum < 24) return kQuietBlock;
  const int k = static_cast<int>(std::bit_width(sum - 8)) - 5;
  return k < 6 ? k : 6;
}

// Codes `count` values.
void BlockEncode(const int32_t* values, size_t count, BitWriter& out);
// Codes values handed over a stretch at a time: the same bits as BlockEncode
// on all the stretches put together, without an array of them all.
class BlockStream final : public DetailSink {
 public:
  explicit BlockStream(BitWriter& out) : out_(out) {}
  void Values(const int32_t* values, int64_t count) override;
  void Zeros(int64_t count) override;
  // Codes the last block, padded with zeros (nothing when no value came).
  void Finish();

 private:
  BitWriter& out_;
  uint32_t block_[16];
  int filled_ = 0;
};
// Decodes `count` values; Corrupt when the stream fails or a value does not
// fit in 32 bits.
Status BlockDecode(BitReader& in, int32_t* values, size_t count);
// The same, each value saturated to a signed byte.
Status BlockDecode(BitReader& in, int8_t* values, size_t count);

}  // namespace wif
