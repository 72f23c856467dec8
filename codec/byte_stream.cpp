#include "codec/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace wif {

ByteSink::ByteSink() = default;

ByteSink::ByteSink(FILE* file) : file_(file) {
  buffer_.reserve(kSpill);
  fileStart_ = file ? std::ftell(file) : -1;
  if (fileStart_ < 0) {
    fileStart_ = 0;
    failed_ = true;
  }
}

void ByteSink::Spill() {
  if (!file_ || buffer_.empty()) return;
  if (!failed_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    failed_ = true;
  }
  spilled_ += buffer_.size();
  buffer_.clear();
}

void ByteSink::Patch32(uint64_t position, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  for (int i = 0; i < 4; ++i) {
    const uint64_t at = position + static_cast<uint64_t>(i);
    if (at >= spilled_) {
      if (at - spilled_ < buffer_.size()) buffer_[at - spilled_] = bytes[i];
      continue;
    }
    // Already in the file: seek back, rewrite, and return to the end.
    if (failed_) return;
    const long long offset = fileStart_ + static_cast<long long>(at);
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fputc(bytes[i], file_) == EOF ||
        std::fseek(file_, 0, SEEK_END) != 0) {
      failed_ = true;
      return;
    }
  }
}

bool ByteSink::Flush() {
  Spill();
  return !failed_;
}

ByteSource::ByteSource(const uint8_t* data, size_t size) : memory_(data), memorySize_(size) {
  Rewind();
}

ByteSource::ByteSource(FILE* file) : file_(file) { buffer_.resize(kLookBehind + (1 << 16)); }

bool ByteSource::Rewind() {
  consumed_ = 0;
  if (file_) {
    next_ = end_ = nullptr;
    return std::fseek(file_, 0, SEEK_SET) == 0;
  }
  next_ = memory_;
  end_ = memory_ + memorySize_;
  consumed_ = memorySize_;
  return true;
}

bool ByteSource::Contents(std::vector<uint8_t>& storage, const uint8_t*& data, size_t& size,
                          uint64_t limit) {
  if (!file_) {
    data = memory_;
    size = memorySize_;
    return true;
  }
  if (std::fseek(file_, 0, SEEK_END) != 0) return false;
  const long length = std::ftell(file_);
  if (length < 0 || static_cast<uint64_t>(length) > limit || std::fseek(file_, 0, SEEK_SET) != 0) {
    return false;
  }
  storage.resize(static_cast<size_t>(length));
  if (std::fread(storage.data(), 1, storage.size(), file_) != storage.size()) return false;
  data = storage.data();
  size = storage.size();
  next_ = end_ = nullptr;  // the window no longer matches the file position
  consumed_ = 0;
  return true;
}

int ByteSource::Refill() {
  if (!file_) return -1;
  uint8_t* data = buffer_.data() + kLookBehind;
  const size_t got = std::fread(data, 1, buffer_.size() - kLookBehind, file_);
  if (got == 0) return -1;
  // The last bytes of the old window stay just before the new one, for Unget.
  if (end_ != nullptr) {
    const size_t keep = std::min<size_t>(kLookBehind, static_cast<size_t>(end_ - buffer_.data()));
    std::memmove(data - keep, end_ - keep, keep);
  }
  next_ = data;
  end_ = next_ + got;
  consumed_ += got;
  return *next_++;
}

}  // namespace wif
