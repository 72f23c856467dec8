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

#include <cstddef>
#include <cstdint>

#include "codec/bit_io.h"
#include "codec/codec_status.h"

namespace wif {

inline constexpr int kBlockValues = 16;
inline constexpr int kQuietBlock = 7;  // the group-code parameter

inline uint32_t MapSigned(int32_t v) {
  const int64_t w = v;
  return static_cast<uint32_t>(w > 0 ? 2 * w : w < 0 ? -2 * w - 1 : 0);
}
inline int32_t UnmapSigned(uint32_t u) {
  const int64_t w = u;
  return static_cast<int32_t>((w & 1) == 0 ? w / 2 : -(w + 1) / 2);
}

// The parameter for a block with sum = 16 + sum of its mapped values.
int BlockParameter(uint64_t sum);

// Codes `count` values. The array is consumed (overwritten with the mapped
// values).
void BlockEncode(int32_t* values, size_t count, BitWriter& out);
// Decodes `count` values; Corrupt when the stream fails or a value does not
// fit in 32 bits.
Status BlockDecode(BitReader& in, int32_t* values, size_t count);
// The same, each value saturated to a signed byte.
Status BlockDecode(BitReader& in, int8_t* values, size_t count);

}  // namespace wif
