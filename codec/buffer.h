// Heap arrays of the codec. Every buffer of an encode or decode goes through
// Buffer, which never throws (a failed allocation leaves it empty, for the
// caller to report) and counts its bytes in the call's MemoryTracker, so that
// the benchmarks can report the codec's peak memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

namespace wif {

class MemoryTracker {
 public:
  // Safe to share between the threads of one encode or decode.
  void Add(size_t bytes) {
    const uint64_t live = live_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    uint64_t peak = peak_.load(std::memory_order_relaxed);
    while (live > peak && !peak_.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
  }
  void Remove(size_t bytes) { live_.fetch_sub(bytes, std::memory_order_relaxed); }
  uint64_t Peak() const { return peak_.load(std::memory_order_relaxed); }
  uint64_t Live() const { return live_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> live_{0};
  std::atomic<uint64_t> peak_{0};
};

template <typename T>
class Buffer {
 public:
  Buffer() = default;
  ~Buffer() { Release(); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept { Swap(other); }
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      Release();
      Swap(other);
    }
    return *this;
  }

  // Allocates `count` elements (zero-filled when `zero`); false when the size
  // overflows or memory is short. Any previous contents are released.
  bool Allocate(uint64_t count, MemoryTracker* tracker = nullptr, bool zero = false) {
    Release();
    if (count == 0) count = 1;
    if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return false;
    const size_t bytes = static_cast<size_t>(count) * sizeof(T);
    void* p = zero ? std::calloc(count, sizeof(T)) : std::malloc(bytes);
    if (!p) return false;
    data_ = static_cast<T*>(p);
    size_ = static_cast<size_t>(count);
    tracker_ = tracker;
    if (tracker_) tracker_->Add(bytes);
    return true;
  }

  void Release() {
    if (data_) {
      if (tracker_) tracker_->Remove(size_ * sizeof(T));
      std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
    tracker_ = nullptr;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return data_ == nullptr; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  void Swap(Buffer& other) {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(tracker_, other.tracker_);
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  MemoryTracker* tracker_ = nullptr;
};

}  // namespace wif
