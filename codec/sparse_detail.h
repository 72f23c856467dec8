// A first-level detail plane held as its nonzero values. At everyday
// qualities nearly every first-level detail coefficient is zero, and three
// planes of bytes would otherwise be much of what a decode holds beside the
// picture. Values arrive in scan order, 8 x 8 blocks one after another
// (Add); each takes two bytes (its value and its place in the block), and
// each block one 32-bit start. Rows are rebuilt when the last inverse level
// asks for them (Row), the values of a band of blocks sorted into their
// eight rows at once. A plane
// with many nonzero values turns itself into an ordinary array of bytes,
// which then costs less.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/buffer.h"
#include "codec/scan.h"

namespace wif {

class SparseDetail {
 public:
  // The block side the layout needs (finer sides fall back to bytes).
  static constexpr int kSide = 8;

  // A pw2 x ph2 plane of `band` (multiples of 8). False when memory is short.
  bool Init(Band band, int64_t pw2, int64_t ph2, MemoryTracker* tracker);
  void Release();

  // The value at plane index `index` (row * pw2 + column), nonzero, after
  // every value added before it in scan order. False when memory runs out.
  bool Add(int64_t index, int8_t value);
  // The same when the caller knows the index's block (its number in scan
  // order) and its place in the block (row * 8 + column).
  bool Add(int64_t index, int64_t block, int place, int8_t value);
  // After the last value.
  void Finish();
  // The rows of the band of blocks a reader last asked for, rebuilt at
  // once: a reader asks for the rows in turn, and each block's values are in
  // scan order, not by rows. One per reader (and thread).
  struct RowCache {
    int64_t blockRow = -1;
    uint32_t start[kSide + 1] = {};  // each row's values in `values`
    std::vector<uint32_t> values;    // column << 8 | value byte, by rows
  };
  // Row `row` of the plane as floats, out[0 .. pw2).
  void Row(int64_t row, float* out, RowCache& cache) const;

 private:
  int64_t BlockOf(int64_t bx, int64_t by) const {
    return band_ == Band::HL ? bx * down_ + by : by * across_ + bx;
  }
  uint16_t Entry(uint64_t k) const {
    return chunks_[k >> chunkBits_][k & ((uint64_t{1} << chunkBits_) - 1)];
  }
  bool BecomeDense();

  Band band_ = Band::HL;
  int64_t pw2_ = 0;
  int64_t ph2_ = 0;
  int64_t across_ = 0;  // blocks
  int64_t down_ = 0;
  MemoryTracker* tracker_ = nullptr;
  int chunkBits_ = 8;  // values per chunk, as a power of two
  uint64_t denseAt_ = 0;  // values held when the plane turns into bytes
  uint64_t count_ = 0;
  int64_t lastBlock_ = -1;
  std::vector<Buffer<uint16_t>> chunks_;  // value << 8 | row * 8 + column in the block
  Buffer<uint32_t> blockStart_;           // per block in scan order, and the end
  Buffer<int8_t> dense_;                  // the whole plane, once it pays
};

}  // namespace wif
