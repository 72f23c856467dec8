// Quantization and scan: how the transformed planes become linear arrays of
// integers for the entropy coders, and back.
//
// Linear layout of a plane (w0 x h0 is the lowest band, L the levels):
//   1. the lowest band in raster order;
//   2. each further detail level k = 1 (coarsest) .. L - 1, bands w0 2^(k-1)
//      x h0 2^(k-1), in the order HL (right of the low band), LH (below it),
//      HH (diagonal);
//   3. the three first-level detail planes, each an array of its own, scanned
//      as bands of level L.
// Inside a band the coefficients go by square blocks of side 1, 2, 4 or 8
// (levels 1, 2, 3, 4 and finer) along a Hilbert curve. HL bands take the
// blocks column by column and read a table entry (a, b) as column a, row b;
// LH and HH bands take them row by row and read (a, b) as row a, column b.
#pragma once

#include <algorithm>
#include <cstdint>

#include "codec/rounding.h"
#include "codec/wif_format.h"

namespace wif {

enum class Band { HL, LH, HH };

// Hilbert curves over 4 x 4 and 8 x 8 blocks: entry index -> (a, b). Blocks of
// side 2 use the first four entries of the 8 x 8 curve.
extern const uint8_t kHilbert4[16][2];
extern const uint8_t kHilbert8[64][2];

// Block side of detail level `level` (1 is the coarsest).
inline int BlockSide(int level) {
  if (level <= 1) return 1;
  if (level == 2) return 2;
  if (level == 3) return 4;
  return 8;
}

// Calls visit(row, column) for each coefficient of a bw x bh band in scan
// order. bw and bh are multiples of `side`.
template <class Visit>
void ScanBand(Band band, int64_t bw, int64_t bh, int side, Visit&& visit) {
  const uint8_t(*table)[2] = side == 4 ? kHilbert4 : kHilbert8;
  const int entries = side * side;
  const int64_t blocksAcross = bw / side;
  const int64_t blocksDown = bh / side;
  if (band == Band::HL) {
    for (int64_t bx = 0; bx < blocksAcross; ++bx) {
      for (int64_t by = 0; by < blocksDown; ++by) {
        for (int e = 0; e < entries; ++e) {
          visit(by * side + table[e][1], bx * side + table[e][0]);
        }
      }
    }
  } else {
    for (int64_t by = 0; by < blocksDown; ++by) {
      for (int64_t bx = 0; bx < blocksAcross; ++bx) {
        for (int e = 0; e < entries; ++e) {
          visit(by * side + table[e][0], bx * side + table[e][1]);
        }
      }
    }
  }
}

// The same order as ScanBand, as visit(index) with index = row * stride +
// column: the block's offsets are worked out once per band, so the walk costs
// one table read per coefficient.
template <class Visit>
void ScanBandIndices(Band band, int64_t bw, int64_t bh, int side, int64_t stride, Visit&& visit) {
  const uint8_t(*table)[2] = side == 4 ? kHilbert4 : kHilbert8;
  const int entries = side * side;
  int64_t offsets[64];
  for (int e = 0; e < entries; ++e) {
    offsets[e] = band == Band::HL ? table[e][1] * stride + table[e][0]
                                  : table[e][0] * stride + table[e][1];
  }
  const int64_t blocksAcross = bw / side;
  const int64_t blocksDown = bh / side;
  const int64_t blockRow = side * stride;
  if (band == Band::HL) {
    for (int64_t bx = 0; bx < blocksAcross; ++bx) {
      for (int64_t by = 0; by < blocksDown; ++by) {
        const int64_t base = by * blockRow + bx * side;
        for (int e = 0; e < entries; ++e) visit(base + offsets[e]);
      }
    }
  } else {
    for (int64_t by = 0; by < blocksDown; ++by) {
      for (int64_t bx = 0; bx < blocksAcross; ++bx) {
        const int64_t base = by * blockRow + bx * side;
        for (int e = 0; e < entries; ++e) visit(base + offsets[e]);
      }
    }
  }
}

// The plane indices of up to three bands, one after another, in the order
// of ScanBandIndices, handed out one at a time: for decoders that put each
// value where it belongs as it is decoded, without a linear array between.
class ScanCursor {
 public:
  // Adds a bw x bh band at plane index `origin` (bw and bh multiples of
  // `side`, every band of one cursor with the same side and stride).
  void AddBand(Band band, int64_t bw, int64_t bh, int side, int64_t stride, int64_t origin) {
    bands_[count_++] = {band, bw / side, bh / side, origin};
    side_ = side;
    stride_ = stride;
    if (count_ == 1) Begin(0);
  }
  // The detail level `level` of a layout: its HL, LH and HH bands.
  void AddLevel(const PlaneLayout& layout, int level);

  // The next index; the caller asks for no more than the bands hold.
  int64_t Next() {
    const int64_t index = base_ + offsets_[entry_];
    if (++entry_ == entries_) NextBlock();
    return index;
  }
  // Of the index Next() gives next: its block's number in scan order
  // (counting from the first band) and its place in the block, row * side +
  // column.
  int64_t Block() const { return block_; }
  int Place() const { return places_[entry_]; }
  void Skip(int64_t n) {
    while (n > 0) {
      const int64_t inBlock = std::min<int64_t>(n, entries_ - entry_);
      entry_ += static_cast<int>(inBlock);
      n -= inBlock;
      if (entry_ == entries_) NextBlock();
    }
  }

 private:
  struct Part {
    Band band;
    int64_t across;  // blocks
    int64_t down;
    int64_t origin;
  };
  void Begin(int part);
  void NextBlock();

  Part bands_[3] = {};
  int count_ = 0;
  int part_ = 0;
  int side_ = 1;
  int64_t stride_ = 0;
  int64_t offsets_[64] = {};
  uint8_t places_[64] = {};
  int64_t block_ = 0;
  int entries_ = 1;
  int entry_ = 0;
  int64_t major_ = 0;  // block column (HL) or block row (LH, HH)
  int64_t minor_ = 0;
  int64_t base_ = 0;
};

// Coefficients of the float plane are rounded by RoundCoefficient
// (codec/rounding.h).

// Where the encoder's scans can hand their values instead of an array: in
// order, a short stretch at a time, and the zeros of an all-zero block as a
// count.
class DetailSink {
 public:
  virtual void Values(const int32_t* values, int64_t count) = 0;
  virtual void Zeros(int64_t count) = 0;

 protected:
  ~DetailSink() = default;
};
// A sink told where each detail level starts.
class LevelSink : public DetailSink {
 public:
  virtual void BeginLevel(int level) = 0;

 protected:
  ~LevelSink() = default;
};

// Encoder side. `plane` is the float plane (stride pw2) after the further levels.
// The lowest band into lowest[0 .. w0 h0).
void QuantizeLowest(const float* plane, const PlaneLayout& layout, int32_t* lowest);
// Detail levels 1 .. split, the rest of the coarse part, to `sink` in order.
void QuantizeCoarseLevels(const float* plane, const PlaneLayout& layout, DetailSink& sink);
// Both into lin[0 .. ncoarse).
void QuantizeCoarse(const float* plane, const PlaneLayout& layout, int32_t* lin);
// Detail levels split + 1 .. L - 1 to `sink`, with the dead zone after a
// zero: a value within -1 .. 1 that follows a zero becomes 0. The history
// starts at 1 and restarts at 1 on entering levels 2, 3 and 4.
void QuantizeFine(const float* plane, const PlaneLayout& layout, LevelSink& sink);
// One first-level detail plane into lin[0 .. pw2 ph2). With `removeLoneOnes`
// (planes that are coded arithmetically) a +-1 between a zero before it and a
// zero after it becomes 0; the history starts at 1 for each plane.
void ScanDetailPlane(const int8_t* plane, const PlaneLayout& layout, Band band, bool removeLoneOnes,
                     int32_t* lin);
// The same values as ScanDetailPlane, handed to `sink` (a coder that takes
// them as they come needs no array of the whole plane).
void ScanDetailPlane(const int8_t* plane, const PlaneLayout& layout, Band band,
                     bool removeLoneOnes, DetailSink& sink);

// Decoder side.
// lin[0 .. pw2 ph2) back into the float plane (values stay in step units).
void UnscanPlane(const int32_t* lin, const PlaneLayout& layout, float* plane);
// lin[0 .. pw2 ph2) back into a detail plane (saturated to bytes).
void UnscanDetailPlane(const int32_t* lin, const PlaneLayout& layout, Band band, int8_t* plane);
// The same from values already saturated to bytes.
void UnscanDetailPlane(const int8_t* lin, const PlaneLayout& layout, Band band, int8_t* plane);

// Prediction of the lowest band (the first w0 h0 values, raster order) from
// its left, upper and upper-left neighbours, and its inverse.
void PredictLowest(int32_t* lin, int64_t w0, int64_t h0);
void UnpredictLowest(int32_t* lin, int64_t w0, int64_t h0);

// The first coefficient travels as a 2-byte magnitude (clamped to 65535 so
// that it cannot wrap) plus a sign left in the block-coded values.
uint32_t DcMagnitude(int32_t c0);
int32_t DcSign(int32_t c0);
int32_t RestoreDc(int32_t decoded, uint32_t magnitude);

}  // namespace wif
