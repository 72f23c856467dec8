#include "codec/sparse_detail.h"

#include <algorithm>

namespace wif {

namespace {

// Past one nonzero value in four the values and their block starts cost
// about as much as the plane of bytes.
constexpr uint64_t kDenseFraction = 4;

}  // namespace

bool SparseDetail::Init(Band band, int64_t pw2, int64_t ph2, MemoryTracker* tracker) {
  Release();
  band_ = band;
  pw2_ = pw2;
  ph2_ = ph2;
  across_ = pw2 / kSide;
  down_ = ph2 / kSide;
  tracker_ = tracker;
  denseAt_ = static_cast<uint64_t>(pw2) * static_cast<uint64_t>(ph2) / kDenseFraction;
  // Chunks of up to 64 Ki values, and no more than a sixteenth of the plane:
  // a small plane does not pay for a large first chunk.
  chunkBits_ = 8;
  while (chunkBits_ < 16 && (int64_t{1} << (chunkBits_ + 4)) < pw2 * ph2) ++chunkBits_;
  return blockStart_.Allocate(static_cast<uint64_t>(across_ * down_) + 1, tracker);
}

void SparseDetail::Release() {
  chunks_.clear();
  blockStart_.Release();
  dense_.Release();
  count_ = 0;
  lastBlock_ = -1;
}

bool SparseDetail::BecomeDense() {
  const uint64_t plane = static_cast<uint64_t>(pw2_) * static_cast<uint64_t>(ph2_);
  if (!dense_.Allocate(plane, tracker_, true)) return false;
  int8_t* d = dense_.data();
  for (int64_t by = 0; by < down_; ++by) {
    for (int64_t bx = 0; bx < across_; ++bx) {
      const int64_t n = BlockOf(bx, by);
      if (n > lastBlock_) continue;
      const uint64_t end = n == lastBlock_ ? count_ : blockStart_[static_cast<size_t>(n + 1)];
      for (uint64_t k = blockStart_[static_cast<size_t>(n)]; k < end; ++k) {
        const uint16_t e = Entry(k);
        const int64_t row = by * kSide + ((e & 63) >> 3);
        const int64_t column = bx * kSide + (e & 7);
        d[row * pw2_ + column] = static_cast<int8_t>(e >> 8);
      }
    }
  }
  chunks_.clear();
  blockStart_.Release();
  return true;
}

bool SparseDetail::Add(int64_t index, int8_t value) {
  const int64_t row = index / pw2_;
  const int64_t column = index - row * pw2_;
  const int place = static_cast<int>((row % kSide) * kSide + column % kSide);
  return Add(index, BlockOf(column / kSide, row / kSide), place, value);
}

bool SparseDetail::Add(int64_t index, int64_t block, int place, int8_t value) {
  if (dense_.data()) {
    dense_[static_cast<size_t>(index)] = value;
    return true;
  }
  if (count_ >= denseAt_) {
    if (!BecomeDense()) return false;
    dense_[static_cast<size_t>(index)] = value;
    return true;
  }
  while (lastBlock_ < block) blockStart_[static_cast<size_t>(++lastBlock_)] = static_cast<uint32_t>(count_);
  const uint64_t chunk = count_ >> chunkBits_;
  if (chunk == chunks_.size()) {
    chunks_.emplace_back();
    if (!chunks_.back().Allocate(uint64_t{1} << chunkBits_, tracker_)) return false;
  }
  chunks_[chunk][count_ & ((uint64_t{1} << chunkBits_) - 1)] =
      static_cast<uint16_t>((static_cast<uint8_t>(value) << 8) | place);
  ++count_;
  return true;
}

void SparseDetail::Finish() {
  if (dense_.data()) return;
  const int64_t blocks = across_ * down_;
  while (lastBlock_ < blocks) blockStart_[static_cast<size_t>(++lastBlock_)] = static_cast<uint32_t>(count_);
}

void SparseDetail::Row(int64_t row, float* out, RowCache& cache) const {
  const size_t width = static_cast<size_t>(pw2_);
  if (dense_.data()) {
    const int8_t* d = dense_.data() + static_cast<size_t>(row) * width;
    for (size_t x = 0; x < width; ++x) out[x] = static_cast<float>(d[x]);
    return;
  }
  std::fill(out, out + width, 0.0f);
  const int64_t by = row / kSide;
  if (cache.blockRow != by) {
    // The band's values counted by rows, then placed by rows.
    const uint32_t* start = blockStart_.data();
    uint32_t counts[kSide] = {};
    for (int64_t bx = 0; count_ > 0 && bx < across_; ++bx) {
      const int64_t n = BlockOf(bx, by);
      for (uint64_t k = start[n]; k < start[n + 1]; ++k) ++counts[(Entry(k) & 63) >> 3];
    }
    cache.start[0] = 0;
    for (int r = 0; r < kSide; ++r) cache.start[r + 1] = cache.start[r] + counts[r];
    cache.values.resize(cache.start[kSide]);
    uint32_t next[kSide];
    std::copy(cache.start, cache.start + kSide, next);
    for (int64_t bx = 0; count_ > 0 && bx < across_; ++bx) {
      const int64_t n = BlockOf(bx, by);
      for (uint64_t k = start[n]; k < start[n + 1]; ++k) {
        const uint16_t e = Entry(k);
        const uint32_t column = static_cast<uint32_t>(bx * kSide + (e & 7));
        cache.values[next[(e & 63) >> 3]++] = (column << 8) | (e >> 8);
      }
    }
    cache.blockRow = by;
  }
  const int inBlock = static_cast<int>(row % kSide);
  for (uint32_t k = cache.start[inBlock]; k < cache.start[inBlock + 1]; ++k) {
    const uint32_t v = cache.values[k];
    out[v >> 8] = static_cast<float>(static_cast<int8_t>(v & 0xFF));
  }
}

}  // namespace wif
