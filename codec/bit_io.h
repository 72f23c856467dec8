// Bit-level I/O of the entropy-coded data.
//
// Bits are packed least-significant first: the first bit of a byte is its
// bit 0. Fields of several bits go most-significant bit first. A piece of
// bit-packed data ends with a terminator: the pending partial byte (its bits
// right-aligned, 0x00 when nothing is pending), then 0x00, 0x00, 0xFF. The
// zero bytes feed the arithmetic decoder's look-ahead; the 0xFF lets a reader
// find the end without counting bits.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/byte_stream.h"

namespace wif {

// The low `count` bits of `value` in reverse order (1 <= count <= 32): a
// field sent most significant bit first lands in the stream's bit order.
inline uint32_t ReverseBits(uint32_t value, int count) {
  value = ((value >> 1) & 0x55555555u) | ((value & 0x55555555u) << 1);
  value = ((value >> 2) & 0x33333333u) | ((value & 0x33333333u) << 2);
  value = ((value >> 4) & 0x0F0F0F0Fu) | ((value & 0x0F0F0F0Fu) << 4);
  value = __builtin_bswap32(value);
  return value >> (32 - count);
}

// Each byte with its bits in reverse order.
struct ReversedBytes {
  uint8_t value[256];
  constexpr ReversedBytes() : value() {
    for (int b = 0; b < 256; ++b) {
      int r = 0;
      for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
      value[b] = static_cast<uint8_t>(r);
    }
  }
};
inline constexpr ReversedBytes kReversedBytes;

class BitWriter {
 public:
  explicit BitWriter(ByteSink& sink) : sink_(sink) {}

  void PutBit(uint32_t bit) {
    pending_ = (pending_ << 1) | (bit & 1u);
    if (++count_ >= 32) Spill();
  }
  // A `value` below 2^count, most significant bit first (1 <= count <= 32).
  void PutField(uint32_t value, int count) {
    pending_ = (pending_ << count) | value;
    count_ += count;
    if (count_ >= 32) Spill();
  }
  // The low `count` bits of `value` (count <= 32; none when count <= 0).
  void PutBits(uint32_t value, int count) {
    if (count <= 0) return;
    PutField(count == 32 ? value : value & ((1u << count) - 1), count);
  }
  // `count` copies of `bit`.
  void PutRepeated(uint32_t bit, uint64_t count) {
    while (count > 0) {
      const int n = count > 32 ? 32 : static_cast<int>(count);
      pending_ = (pending_ << n) | ((bit & 1u) ? (uint64_t{1} << n) - 1 : 0);
      count_ += n;
      count -= static_cast<uint64_t>(n);
      if (count_ >= 32) Spill();
    }
  }
  // Drops the bits of a partial byte and starts on a fresh byte.
  void Reset() {
    Drain();
    pending_ = 0;
    count_ = 0;
  }
  // Writes the pending byte and 0x00 0x00 0xFF, then starts on a fresh byte.
  void Terminate();
  // Takes over the pending bits of `copy`, a copy of this writer that has
  // been writing in its place (to the same sink).
  void Continue(const BitWriter& copy) {
    pending_ = copy.pending_;
    count_ = copy.count_;
  }

 private:
  // The pending bits are kept first bit highest, so that a field joins them
  // with a shift; they are put in the stream's order (first bit lowest) 32 at
  // a time, once that many are pending (a field of up to 32 bits then still
  // fits in 64).
  void Spill() {
    const uint32_t first32 = static_cast<uint32_t>(pending_ >> (count_ - 32));
    sink_.PutLittleEndian32(ReverseBits(first32, 32));
    count_ -= 32;
    pending_ &= (uint64_t{1} << count_) - 1;
  }
  // Hands every whole byte to the sink; fewer than 8 bits stay pending.
  void Drain() {
    while (count_ >= 8) {
      sink_.Put(kReversedBytes.value[(pending_ >> (count_ - 8)) & 0xFF]);
      count_ -= 8;
    }
    pending_ &= (uint64_t{1} << count_) - 1;
  }
  // The bits of a partial byte (fewer than 8 pending) in stream order.
  uint8_t PartialByte() const {
    return static_cast<uint8_t>(kReversedBytes.value[pending_ & 0xFF] >> (8 - count_));
  }

  ByteSink& sink_;
  uint64_t pending_ = 0;  // the pending bits, the first one highest
  int count_ = 0;         // below 32 between calls
};

class BitReader {
 public:
  // More reads past the end than this make the stream unreadable.
  static constexpr int kMaxReadsPastEnd = 14;

  explicit BitReader(ByteSource& source) : source_(source) {}

  // Bits read after the end of the stream are 0.
  uint32_t GetBit() {
    if (left_ == 0) Load();
    --left_;
    return static_cast<uint32_t>(accumulator_ >> left_) & 1u;
  }
  // A `count`-bit field, most significant bit first (count <= 32). Near the
  // end of the stream bytes are read one at a time, as the field needs them.
  uint32_t GetBits(int count) {
    while (left_ < count) Load();
    left_ -= count;
    return static_cast<uint32_t>((accumulator_ >> left_) & ((uint64_t{1} << count) - 1));
  }
  // Reads up to and including the next 1 bit and returns the number of 0
  // bits before it; stops early, returning more than `limit`, once more than
  // `limit` zeros have gone by or the stream has failed.
  uint64_t CountZeros(uint64_t limit) {
    uint64_t zeros = 0;
    for (;;) {
      if (left_ == 0) Load();
      const uint64_t bits = accumulator_ & ((uint64_t{1} << left_) - 1);
      if (bits == 0) {
        zeros += static_cast<uint64_t>(left_);
        left_ = 0;
        if (zeros > limit || failed_) return zeros > limit ? zeros : limit + 1;
        continue;
      }
      const int one = 63 - __builtin_clzll(bits);  // where the next 1 is
      zeros += static_cast<uint64_t>(left_ - 1 - one);
      left_ = one;
      return zeros;
    }
  }
  // A `count`-bit field (count < 32) and then CountZeros(limit), as
  // (zeros << count) | field. Read in one step when both lie in the bits at
  // hand, as they do but for long runs of zeros.
  uint64_t GetBitsThenZeros(int count, uint64_t limit) {
    if (left_ < 32 && source_.Available() >= 8) Load();
    const int rest = left_ - count;
    if (rest > 0) {
      const uint64_t after = accumulator_ & ((uint64_t{1} << rest) - 1);
      const int one = after != 0 ? 63 - __builtin_clzll(after) : -1;
      const uint64_t zeros = static_cast<uint64_t>(rest - 1 - one);
      if (after != 0 && zeros <= limit) {
        const uint64_t field = (accumulator_ >> rest) & ((uint64_t{1} << count) - 1);
        left_ = one;
        return (zeros << count) | field;
      }
    }
    const uint32_t field = GetBits(count);
    return (CountZeros(limit) << count) | field;
  }
  // Discards the rest of the current byte: the next bit comes from a fresh byte.
  void Reset() {
    GiveBack();
    left_ = 0;
  }
  // Forgets the bits at hand without returning them: for a source that has
  // just been rewound.
  void Restart() { left_ = 0; }
  // Bytes of the source consumed, counting the byte being read.
  uint64_t Position() {
    GiveBack();
    return source_.Position();
  }
  // Reads and discards bytes up to and including the next 0xFF. False (with
  // the stream marked failed) when the stream ends first.
  bool SkipTerminator();
  // Reads a big-endian 16- or 32-bit value byte by byte, outside the bit
  // packing. False (with the stream marked failed) at the end of the stream.
  bool ReadBigEndian(int bytes, uint32_t& value);

  // True once the stream has been found unreadable ("Bad input file").
  bool failed() const { return failed_; }
  // Marks the stream unreadable (reported once).
  void Fail();
  int readsPastEnd() const { return pastEnd_; }

 private:
  // Appends the next bytes' bits (zeros past the end), first bit highest, so
  // that a field is taken with one shift. Where the source holds eight bytes
  // at hand, as many whole bytes as fit are taken at once; the whole bytes
  // not yet needed go back to the source (GiveBack) before anything reads it
  // bytewise, so the stream is read exactly as one byte at a time would.
  void Load() {
    if (source_.Available() >= 8) {
      const int bytes = (63 - left_) >> 3;  // 4 .. 7: Load runs below 32 bits
      uint64_t word;
      std::memcpy(&word, source_.Peek(), 8);
      source_.Skip(static_cast<size_t>(bytes));
      accumulator_ = (accumulator_ << (8 * bytes)) | (StreamOrder(word) >> (64 - 8 * bytes));
      left_ += 8 * bytes;
      return;
    }
    const int byte = source_.Get();
    uint64_t bits = 0;
    if (byte >= 0) {
      bits = kReversedBytes.value[byte];
    } else {
      LoadPastEnd();
    }
    accumulator_ = (accumulator_ << 8) | bits;
    left_ += 8;
  }
  // Eight bytes read in memory order as the stream's bits, the first highest:
  // the bits of each byte reversed, then the bytes.
  static uint64_t StreamOrder(uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    word = ((word >> 1) & 0x5555555555555555ull) | ((word & 0x5555555555555555ull) << 1);
    word = ((word >> 2) & 0x3333333333333333ull) | ((word & 0x3333333333333333ull) << 2);
    word = ((word >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((word & 0x0F0F0F0F0F0F0F0Full) << 4);
    return __builtin_bswap64(word);
  }
  // Returns the whole unread bytes to the source; the bits of a partly read
  // byte stay.
  void GiveBack() {
    const int bytes = left_ >> 3;
    source_.Unget(static_cast<size_t>(bytes));
    accumulator_ >>= 8 * bytes;  // the last bytes loaded are the lowest bits
    left_ &= 7;
  }
  void LoadPastEnd();

  ByteSource& source_;
  uint64_t accumulator_ = 0;  // the low `left_` bits are unread, the next one highest;
                              // whole bytes among them may be ahead of the source
  int left_ = 0;
  int pastEnd_ = 0;
  bool failed_ = false;
};

}  // namespace wif
