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
#include <sys/mman.h>
#include <utility>

namespace wif {

class MemoryTracker {
 public:
  // A tracker of part of what `parent` tracks (one plane of a decode, say):
  // everything counted here is counted there too.
  explicit MemoryTracker(MemoryTracker* parent = nullptr) : parent_(parent) {}

  // Safe to share between the threads of one encode or decode.
  void Add(size_t bytes) {
    const uint64_t live = live_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    uint64_t peak = peak_.load(std::memory_order_relaxed);
    while (live > peak && !peak_.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    if (parent_) parent_->Add(bytes);
  }
  void Remove(size_t bytes) {
    live_.fetch_sub(bytes, std::memory_order_relaxed);
    if (parent_) parent_->Remove(bytes);
  }
  uint64_t Peak() const { return peak_.load(std::memory_order_relaxed); }
  uint64_t Live() const { return live_.load(std::memory_order_relaxed); }

 private:
  MemoryTracker* parent_ = nullptr;
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
    void* p;
    if (bytes >= kMapBytes) {
      // Planes come straight from the system (zero-filled) and go straight
      // back: the heap of each thread would otherwise keep what the planes
      // of another thread released, and the process would hold more than
      // the codec does.
      // Large pages where the system offers them: far fewer page faults.
      p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
      madvise(p, bytes, MADV_HUGEPAGE);
#endif
      mapped_ = true;
    } else {
      p = zero ? std::calloc(count, sizeof(T)) : std::malloc(bytes);
      if (!p) return false;
    }
    data_ = static_cast<T*>(p);
    size_ = static_cast<size_t>(count);
    tracker_ = tracker;
    if (tracker_) tracker_->Add(bytes);
    return true;
  }

  void Release() {
    if (data_) {
      if (tracker_) tracker_->Remove(size_ * sizeof(T));
      if (mapped_) {
        munmap(data_, size_ * sizeof(T));
      } else {
        std::free(data_);
      }
    }
    data_ = nullptr;
    size_ = 0;
    tracker_ = nullptr;
    mapped_ = false;
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
    std::swap(mapped_, other.mapped_);
  }

  static constexpr size_t kMapBytes = size_t{1} << 20;

  T* data_ = nullptr;
  size_t size_ = 0;
  MemoryTracker* tracker_ = nullptr;
  bool mapped_ = false;
};

}  // namespace wif
