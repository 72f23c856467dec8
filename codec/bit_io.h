// Bit-level I/O of the entropy-coded data.
//
// Bits are packed least-significant first: the first bit of a byte is its
// bit 0. Fields of several bits go most-significant bit first. A piece of
// bit-packed data ends with a terminator: the pending partial byte (its bits
// right-aligned, 0x00 when nothing is pending), then 0x00, 0x00, 0xFF. The
// zero bytes feed the arithmetic decoder's look-ahead; the 0xFF lets a reader
// find the end without counting bits.
#pragma once

#include <cstdint>

#include "codec/byte_stream.h"

namespace wif {

class BitWriter {
 public:
  explicit BitWriter(ByteSink& sink) : sink_(sink) {}

  void PutBit(uint32_t bit) {
    accumulator_ = (accumulator_ >> 1) | ((bit & 1u) << 7);
    if (--free_ == 0) {
      sink_.Put(static_cast<uint8_t>(accumulator_));
      accumulator_ = 0;
      free_ = 8;
    }
  }
  // The low `count` bits of `value`, most significant first (count <= 32).
  void PutBits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) PutBit((value >> i) & 1u);
  }
  // `count` copies of `bit`.
  void PutRepeated(uint32_t bit, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) PutBit(bit);
  }
  // Drops any pending bits and starts on a fresh byte.
  void Reset() {
    accumulator_ = 0;
    free_ = 8;
  }
  // Writes the pending byte and 0x00 0x00 0xFF, then starts on a fresh byte.
  void Terminate();

  ByteSink& sink() { return sink_; }

 private:
  ByteSink& sink_;
  uint32_t accumulator_ = 0;
  int free_ = 8;
};

class BitReader {
 public:
  // More reads past the end than this make the stream unreadable.
  static constexpr int kMaxReadsPastEnd = 14;

  explicit BitReader(ByteSource& source) : source_(source) {}

  // Bits read after the end of the stream are 0.
  uint32_t GetBit() {
    if (left_ == 0) Load();
    const uint32_t bit = accumulator_ & 1u;
    accumulator_ >>= 1;
    --left_;
    return bit;
  }
  // A `count`-bit field, most significant bit first (count <= 32).
  uint32_t GetBits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | GetBit();
    return value;
  }
  // Discards the rest of the current byte: the next bit comes from a fresh byte.
  void Reset() { left_ = 0; }
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
  ByteSource& source() { return source_; }

 private:
  void Load() {
    const int byte = source_.Get();
    if (byte >= 0) {
      accumulator_ = static_cast<uint32_t>(byte);
    } else {
      LoadPastEnd();
    }
    left_ = 8;
  }
  void LoadPastEnd();

  ByteSource& source_;
  uint32_t accumulator_ = 0;
  int left_ = 0;
  int pastEnd_ = 0;
  bool failed_ = false;
};

}  // namespace wif
