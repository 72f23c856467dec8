#include "codec/block_coder.h"

#include <algorithm>

namespace wif {

namespace {

// Prefix code of the 3-bit groups of a quiet block, indexed by the group (its
// first bit most significant): the code and its length.
struct GroupCode {
  uint8_t bits;
  uint8_t length;
};
constexpr GroupCode kGroupCodes[8] = {
    {0b1, 1},      // 000
    {0b001, 3},    // 001
    {0b010, 3},    // 010
    {0b00000, 5},  // 011
    {0b011, 3},    // 100
    {0b00001, 5},  // 101
    {0b00010, 5},  // 110
    {0b00011, 5},  // 111
};

// The codes of two groups at once, indexed by their six bits (the first
// group in the high three): at most 10 bits.
struct GroupPairCodes {
  uint16_t bits[64];
  uint8_t length[64];
  constexpr GroupPairCodes() : bits(), length() {
    for (int pair = 0; pair < 64; ++pair) {
      const GroupCode& first = kGroupCodes[pair >> 3];
      const GroupCode& second = kGroupCodes[pair & 7];
      bits[pair] = static_cast<uint16_t>((first.bits << second.length) | second.bits);
      length[pair] = static_cast<uint8_t>(first.length + second.length);
    }
  }
};
constexpr GroupPairCodes kGroupPairCodes;

void EncodeBlock(const uint32_t* u, BitWriter& out) {
  uint64_t sum = kBlockValues;
  for (int i = 0; i < kBlockValues; ++i) sum += u[i];
  const int k = BlockParameter(sum);
  out.PutBits(static_cast<uint32_t>(k), 3);
  if (k < kQuietBlock) {
    const uint32_t mask = (1u << k) - 1;
    for (int i = 0; i < kBlockValues; ++i) {
      // The low bits, the zeros and the closing 1 as one field when it fits.
      const uint32_t zeros = u[i] >> k;
      if (zeros < 32 - static_cast<uint32_t>(k)) {
        out.PutBits((((u[i] & mask) << zeros) << 1) | 1u, k + static_cast<int>(zeros) + 1);
        continue;
      }
      out.PutBits(u[i] & mask, k);
      out.PutRepeated(0, zeros);
      out.PutBit(1);
    }
    return;
  }
  // sum < 24: the values add up to at most 7, and the unary string (u ones
  // and a zero each) has at most 23 bits. Build it most significant bit
  // first, pad it to whole groups and send them, an odd first one alone,
  // then two at a time.
  uint32_t string = 0;
  int length = 0;
  for (int i = 0; i < kBlockValues; ++i) {
    string = (string << (u[i] + 1)) | (((1u << u[i]) - 1) << 1);
    length += static_cast<int>(u[i]) + 1;
  }
  const int groups = (length + 2) / 3;
  string <<= 3 * groups - length;
  int shift = 3 * groups;
  if (groups & 1) {
    shift -= 3;
    const GroupCode& code = kGroupCodes[(string >> shift) & 7u];
    out.PutBits(code.bits, code.length);
  }
  for (shift -= 6; shift >= 0; shift -= 6) {
    const uint32_t pair = (string >> shift) & 63u;
    out.PutBits(kGroupPairCodes.bits[pair], kGroupPairCodes.length[pair]);
  }
}

template <typename T>
T Narrow(int32_t v);
template <>
int32_t Narrow<int32_t>(int32_t v) {
  return v;
}
template <>
int8_t Narrow<int8_t>(int32_t v) {
  return static_cast<int8_t>(v > 127 ? 127 : v < -128 ? -128 : v);
}

// Reads one group of a quiet block (its 3 bits, first bit most significant).
uint32_t DecodeGroup(BitReader& in) {
  if (in.GetBit()) return 0b000;
  const uint32_t two = in.GetBits(2);
  switch (two) {
    case 0b01: return 0b001;
    case 0b10: return 0b010;
    case 0b11: return 0b100;
    default: break;
  }
  static constexpr uint32_t kLong[4] = {0b011, 0b101, 0b110, 0b111};
  return kLong[in.GetBits(2)];
}

template <typename T>
Status DecodeBlock(BitReader& in, T* out) {
  const int k = static_cast<int>(in.GetBits(3));
  if (k < kQuietBlock) {
    // u = (zeros << k) | low must stay within 32 bits: no more zeros than
    // zeroLimit, and the reading stops soon after that many.
    const uint64_t zeroLimit = 0xFFFFFFFFull >> k;
    for (int i = 0; i < kBlockValues; ++i) {
      const uint64_t u = in.GetBitsThenZeros(k, zeroLimit);
      if (u > 0xFFFFFFFFull) {
        in.Fail();
        return Status::Corrupt;
      }
      out[i] = Narrow<T>(UnmapSigned(static_cast<uint32_t>(u)));
    }
    return in.failed() ? Status::Corrupt : Status::Ok;
  }
  // Quiet block: read groups until the string holds 16 zeros.
  int values = 0;
  uint64_t ones = 0;
  while (values < kBlockValues) {
    if (in.failed()) return Status::Corrupt;
    const uint32_t group = DecodeGroup(in);
    for (int b = 2; b >= 0 && values < kBlockValues; --b) {
      if ((group >> b) & 1u) {
        if (++ones > 0xFFFFFFFFull) {
          in.Fail();
          return Status::Corrupt;
        }
      } else {
        out[values++] = Narrow<T>(UnmapSigned(static_cast<uint32_t>(ones)));
        ones = 0;
      }
    }
  }
  return in.failed() ? Status::Corrupt : Status::Ok;
}

}  // namespace

void BlockEncode(const int32_t* values, size_t count, BitWriter& out) {
  BlockStream blocks(out);
  blocks.Values(values, static_cast<int64_t>(count));
  blocks.Finish();
}

void BlockStream::Values(const int32_t* values, int64_t count) {
  // Top up a block begun earlier, code whole blocks straight from the
  // values, keep the rest for the next stretch.
  while (filled_ > 0 && count > 0) {
    block_[filled_++] = MapSigned(*values++);
    --count;
    if (filled_ == kBlockValues) {
      EncodeBlock(block_, out_);
      filled_ = 0;
    }
  }
  for (; count >= kBlockValues; values += kBlockValues, count -= kBlockValues) {
    uint32_t u[kBlockValues];
    for (int i = 0; i < kBlockValues; ++i) u[i] = MapSigned(values[i]);
    EncodeBlock(u, out_);
  }
  for (int64_t i = 0; i < count; ++i) block_[filled_++] = MapSigned(values[i]);
}

void BlockStream::Zeros(int64_t count) {
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, kBlockValues - filled_);
    std::fill(block_ + filled_, block_ + filled_ + n, 0u);
    filled_ += static_cast<int>(n);
    count -= n;
    if (filled_ == kBlockValues) {
      EncodeBlock(block_, out_);
      filled_ = 0;
    }
  }
}

void BlockStream::Finish() {
  if (filled_ == 0) return;
  std::fill(block_ + filled_, block_ + kBlockValues, 0u);
  EncodeBlock(block_, out_);
  filled_ = 0;
}

namespace {

template <typename T>
Status BlockDecodeInto(BitReader& in, T* values, size_t count) {
  if (count == 0) return Status::Ok;
  size_t done = 0;
  const size_t fullBlocks = count > 16 ? (count - 1) >> 4 : 0;
  for (size_t b = 0; b < fullBlocks; ++b, done += kBlockValues) {
    const Status s = DecodeBlock(in, values + done);
    if (s != Status::Ok) return s;
  }
  T last[kBlockValues];
  const Status s = DecodeBlock(in, last);
  if (s != Status::Ok) return s;
  std::copy(last, last + (count - done), values + done);
  return Status::Ok;
}

}  // namespace

Status BlockDecode(BitReader& in, int32_t* values, size_t count) {
  return BlockDecodeInto(in, values, count);
}

Status BlockDecode(BitReader& in, int8_t* values, size_t count) {
  return BlockDecodeInto(in, values, count);
}

}  // namespace wif
