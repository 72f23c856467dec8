// Byte streams under the codec: a buffered output that can patch bytes it
// has already written (the section lengths), and a buffered input. Both work
// on a stdio file or in memory, so the codec runs the same way on disk, in
// tests and in benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace wif {

class ByteSink {
 public:
  // Collects the bytes in memory (see bytes()).
  ByteSink();
  // Writes to `file`, which must be seekable for Patch32 to reach bytes that
  // have already been handed to it. The file stays open.
  explicit ByteSink(FILE* file);
  ~ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  void Put(uint8_t byte) {
    buffer_.push_back(byte);
    if (file_ && buffer_.size() >= kSpill) Spill();
  }
  void PutBytes(const uint8_t* data, size_t count) {
    buffer_.insert(buffer_.end(), data, data + count);
    if (file_ && buffer_.size() >= kSpill) Spill();
  }
  void PutBigEndian16(uint32_t value) {
    Put(static_cast<uint8_t>(value >> 8));
    Put(static_cast<uint8_t>(value));
  }
  void PutLittleEndian32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    PutBytes(bytes, 4);
  }
  void PutBigEndian32(uint32_t value) {
    PutBigEndian16(value >> 16);
    PutBigEndian16(value & 0xFFFF);
  }

  // Bytes written so far.
  uint64_t Position() const { return spilled_ + buffer_.size(); }
  // Overwrites 4 bytes at `position` (< Position()) with a big-endian value.
  void Patch32(uint64_t position, uint32_t value);
  // Hands every buffered byte to the file (no-op in memory). False when any
  // write or seek has failed so far.
  bool Flush();
  bool failed() const { return failed_; }

  // The bytes written, in memory mode.
  const std::vector<uint8_t>& bytes() const { return buffer_; }
  std::vector<uint8_t> TakeBytes() { return std::move(buffer_); }

 private:
  static constexpr size_t kSpill = 1 << 16;
  void Spill();

  FILE* file_ = nullptr;
  long long fileStart_ = 0;  // file offset of byte 0
  uint64_t spilled_ = 0;     // bytes already handed to the file
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
};

class ByteSource {
 public:
  // Reads `size` bytes at `data` (not copied; they must outlive the source).
  ByteSource(const uint8_t* data, size_t size);
  // Reads from `file`, starting at offset 0 on Rewind. The file stays open.
  explicit ByteSource(FILE* file);
  ~ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // The next byte, or -1 at the end of the stream.
  int Get() {
    if (next_ < end_) return *next_++;
    return Refill();
  }
  // Bytes that can be taken at once from the current window.
  size_t Available() const { return static_cast<size_t>(end_ - next_); }
  // The next Available() bytes, left in place.
  const uint8_t* Peek() const { return next_; }
  void Skip(size_t count) { next_ += count; }
  // Steps back over the last `count` bytes delivered (count <= kLookBehind;
  // a refill keeps that many of the previous window in front of the new one).
  void Unget(size_t count) { next_ -= count; }
  static constexpr size_t kLookBehind = 8;

  // Goes back to the first byte; false when the file cannot seek.
  bool Rewind();
  // The whole stream as one block of memory: in place for a memory source,
  // read into `storage` for a file (at most `limit` bytes; the file position
  // is left undefined, Rewind before reading on). False when the file cannot
  // be read or is longer than `limit`.
  bool Contents(std::vector<uint8_t>& storage, const uint8_t*& data, size_t& size, uint64_t limit);
  // Bytes consumed since the start.
  uint64_t Position() const { return consumed_ - static_cast<uint64_t>(end_ - next_); }

 private:
  int Refill();

  FILE* file_ = nullptr;
  const uint8_t* memory_ = nullptr;
  size_t memorySize_ = 0;
  std::vector<uint8_t> buffer_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t consumed_ = 0;  // bytes delivered into the window so far
};

}  // namespace wif
