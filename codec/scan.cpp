#include "codec/scan.h"

#include "codec/wavelet_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace wif {

const uint8_t kHilbert4[16][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {2, 1},
                                  {2, 2}, {3, 2}, {3, 3}, {2, 3}, {1, 3}, {1, 2}, {0, 2}, {0, 3}};

const uint8_t kHilbert8[64][2] = {
    {0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 2}, {0, 3}, {1, 3}, {1, 2}, {2, 2}, {2, 3}, {3, 3},
    {3, 2}, {3, 1}, {2, 1}, {2, 0}, {3, 0}, {4, 0}, {4, 1}, {5, 1}, {5, 0}, {6, 0}, {7, 0},
    {7, 1}, {6, 1}, {6, 2}, {7, 2}, {7, 3}, {6, 3}, {5, 3}, {5, 2}, {4, 2}, {4, 3}, {4, 4},
    {4, 5}, {5, 5}, {5, 4}, {6, 4}, {7, 4}, {7, 5}, {6, 5}, {6, 6}, {7, 6}, {7, 7}, {6, 7},
    {5, 7}, {5, 6}, {4, 6}, {4, 7}, {3, 7}, {2, 7}, {2, 6}, {3, 6}, {3, 5}, {3, 4}, {2, 4},
    {2, 5}, {1, 5}, {1, 4}, {0, 4}, {0, 5}, {0, 6}, {1, 6}, {1, 7}, {0, 7}};

namespace {

struct BandOrigin {
  int64_t row;
  int64_t column;
};

// Where a band of detail level k sits in the Mallat layout of the float plane.
BandOrigin Origin(Band band, int64_t bw, int64_t bh) {
  switch (band) {
    case Band::HL: return {0, bw};
    case Band::LH: return {bh, 0};
    case Band::HH: return {bh, bw};
  }
  return {0, 0};
}

constexpr Band kBands[3] = {Band::HL, Band::LH, Band::HH};

// Visits every coefficient of detail levels first .. last of the float
// plane, in scan order, as visit(level, planeIndex).
template <class Visit>
void ForLevels(const PlaneLayout& layout, int first, int last, Visit&& visit) {
  for (int k = first; k <= last; ++k) {
    const int64_t bw = layout.w0 << (k - 1);
    const int64_t bh = layout.h0 << (k - 1);
    for (Band band : kBands) {
      const BandOrigin o = Origin(band, bw, bh);
      const int64_t origin = o.row * layout.pw2 + o.column;
      ScanBandIndices(band, bw, bh, BlockSide(k), layout.pw2,
                      [&](int64_t i) { visit(k, origin + i); });
    }
  }
}

// The raster position (row * 8 + column) of each scan entry of an 8 x 8 block.
void ScanFrom8(Band band, uint8_t from[64]) {
  for (int e = 0; e < 64; ++e) {
    const int row = band == Band::HL ? kHilbert8[e][1] : kHilbert8[e][0];
    const int column = band == Band::HL ? kHilbert8[e][0] : kHilbert8[e][1];
    from[e] = static_cast<uint8_t>(row * 8 + column);
  }
}

// visit(bx, by) for the 8 x 8 blocks of a bw x bh band in scan order.
template <class VisitBlock>
void ForEachBlock8(Band band, int64_t bw, int64_t bh, VisitBlock&& visit) {
  const int64_t across = bw / 8;
  const int64_t down = bh / 8;
  if (band == Band::HL) {
    for (int64_t bx = 0; bx < across; ++bx) {
      for (int64_t by = 0; by < down; ++by) visit(bx, by);
    }
  } else {
    for (int64_t by = 0; by < down; ++by) {
      for (int64_t bx = 0; bx < across; ++bx) visit(bx, by);
    }
  }
}

}  // namespace

void ScanCursor::AddLevel(const PlaneLayout& layout, int level) {
  const int64_t bw = layout.w0 << (level - 1);
  const int64_t bh = layout.h0 << (level - 1);
  for (Band band : kBands) {
    const BandOrigin o = Origin(band, bw, bh);
    AddBand(band, bw, bh, BlockSide(level), layout.pw2, o.row * layout.pw2 + o.column);
  }
}

void ScanCursor::Begin(int part) {
  part_ = part;
  const Part& b = bands_[part];
  const uint8_t(*table)[2] = side_ == 4 ? kHilbert4 : kHilbert8;
  entries_ = side_ * side_;
  for (int e = 0; e < entries_; ++e) {
    const int row = b.band == Band::HL ? table[e][1] : table[e][0];
    const int column = b.band == Band::HL ? table[e][0] : table[e][1];
    offsets_[e] = row * stride_ + column;
    places_[e] = static_cast<uint8_t>(row * side_ + column);
  }
  entry_ = 0;
  major_ = 0;
  minor_ = 0;
  base_ = b.origin;
}

void ScanCursor::NextBlock() {
  entry_ = 0;
  ++block_;
  const Part& b = bands_[part_];
  const bool columns = b.band == Band::HL;
  // HL: block columns, each top to bottom; LH, HH: block rows, left to right.
  if (++minor_ == (columns ? b.down : b.across)) {
    minor_ = 0;
    if (++major_ == (columns ? b.across : b.down)) {
      if (part_ + 1 < count_) Begin(part_ + 1);
      return;  // past the last band: Next is not called again
    }
  }
  const int64_t bx = columns ? major_ : minor_;
  const int64_t by = columns ? minor_ : major_;
  base_ = b.origin + by * side_ * stride_ + bx * side_;
}

namespace {

// Calls visit(level, v, q, n) for the coefficients of detail levels first ..
// last of the float plane in scan order, a run of n (at most 64, all of one
// level) at a time: v[0 .. n) the coefficients and q[0 .. n) their
// RoundCoefficient. Blocks of 8 x 8 are rounded row by row by the vector
// kernels first.
template <class Visit>
void ForRoundedLevels(const float* plane, const PlaneLayout& layout, int first, int last,
                      Visit&& visit) {
  const int64_t pw2 = layout.pw2;
  const WaveletKernels& kernels = ActiveKernels();
  float v[64];
  int32_t q[64];
  for (int k = first; k <= last; ++k) {
    const int64_t bw = layout.w0 << (k - 1);
    const int64_t bh = layout.h0 << (k - 1);
    for (Band band : kBands) {
      const BandOrigin o = Origin(band, bw, bh);
      const float* origin = plane + o.row * pw2 + o.column;
      if (BlockSide(k) != 8) {
        int n = 0;
        ScanBandIndices(band, bw, bh, BlockSide(k), pw2, [&](int64_t i) {
          v[n] = origin[i];
          q[n] = RoundCoefficient(origin[i]);
          if (++n == 64) {
            visit(k, v, q, n);
            n = 0;
          }
        });
        if (n > 0) visit(k, v, q, n);
        continue;
      }
      uint8_t from[64];
      ScanFrom8(band, from);
      ForEachBlock8(band, bw, bh, [&](int64_t bx, int64_t by) {
        const float* block = origin + by * 8 * pw2 + bx * 8;
        float values[64];
        int32_t rounded[64];
        for (int r = 0; r < 8; ++r) {
          std::memcpy(values + 8 * r, block + r * pw2, 8 * sizeof(float));
        }
        kernels.roundCoefficients(values, rounded, 64);
        for (int e = 0; e < 64; ++e) {
          v[e] = values[from[e]];
          q[e] = rounded[from[e]];
        }
        visit(k, v, q, 64);
      });
    }
  }
}

}  // namespace

namespace {

// Copies what it is handed into an array.
class ArraySink final : public DetailSink {
 public:
  explicit ArraySink(int32_t* lin) : at_(lin) {}
  void Values(const int32_t* values, int64_t count) override {
    std::copy(values, values + count, at_);
    at_ += count;
  }
  void Zeros(int64_t count) override {
    std::fill(at_, at_ + count, 0);
    at_ += count;
  }

 private:
  int32_t* at_;
};

}  // namespace

void QuantizeLowest(const float* plane, const PlaneLayout& layout, int32_t* lowest) {
  int64_t pos = 0;
  for (int64_t r = 0; r < layout.h0; ++r) {
    for (int64_t c = 0; c < layout.w0; ++c) {
      lowest[pos++] = RoundCoefficient(plane[r * layout.pw2 + c]);
    }
  }
}

void QuantizeCoarseLevels(const float* plane, const PlaneLayout& layout, DetailSink& sink) {
  const int last = std::min(layout.split, layout.levels - 1);
  ForRoundedLevels(plane, layout, 1, last,
                   [&](int, const float*, const int32_t* q, int n) { sink.Values(q, n); });
}

void QuantizeCoarse(const float* plane, const PlaneLayout& layout, int32_t* lin) {
  QuantizeLowest(plane, layout, lin);
  ArraySink rest(lin + layout.w0 * layout.h0);
  QuantizeCoarseLevels(plane, layout, rest);
}

void QuantizeFine(const float* plane, const PlaneLayout& layout, LevelSink& sink) {
  int32_t previous = 1;
  int currentLevel = -1;
  ForRoundedLevels(plane, layout, layout.split + 1, layout.levels - 1,
                   [&](int k, const float* v, const int32_t* rounded, int n) {
                     if (k != currentLevel) {
                       if (currentLevel < 0 || k == 2 || k == 3 || k == 4) previous = 1;
                       currentLevel = k;
                       sink.BeginLevel(k);
                     }
                     int32_t q[64];
                     for (int i = 0; i < n; ++i) {
                       q[i] = (previous == 0 && v[i] >= -1.0f && v[i] <= 1.0f) ? 0 : rounded[i];
                       previous = q[i];
                     }
                     sink.Values(q, n);
                   });
}

namespace {

// Passes a detail plane's values on to a sink, a stretch at a time, with
// lone ones removed when asked: a +-1 between two zeros becomes 0. Whether a
// value stays depends on the one after it, so each value goes on one later.
class LoneOnes {
 public:
  LoneOnes(bool remove, DetailSink& sink) : remove_(remove), sink_(sink) {}

  void Put(int32_t v) {
    if (remove_ && v == 0 && secondLast_ == 0 && (last_ == 1 || last_ == -1)) last_ = 0;
    if (held_) Push(last_);
    secondLast_ = last_;
    last_ = v;
    held_ = true;
  }
  // n >= 2 zeros: the first may remove a one before it; after two zeros the
  // history is two zeros.
  void PutZeros(int64_t n) {
    Put(0);
    Flush();
    sink_.Zeros(n - 1);
    secondLast_ = 0;
  }
  void Finish() {
    if (held_) Push(last_);
    Flush();
  }

 private:
  void Push(int32_t v) {
    stretch_[count_++] = v;
    if (count_ == kStretch) Flush();
  }
  void Flush() {
    if (count_ > 0) sink_.Values(stretch_, count_);
    count_ = 0;
  }

  static constexpr int kStretch = 256;
  const bool remove_;
  DetailSink& sink_;
  int32_t last_ = 1;  // the value held back
  int32_t secondLast_ = 1;
  bool held_ = false;
  int count_ = 0;
  int32_t stretch_[kStretch];
};

// The scan of blocks of 8 x 8: each block's rows are read as eight 8-byte
// words, and a block of zeros (most of a photograph's finest details) goes
// out as 64 zeros at once.
void ScanDetailBlocks(const int8_t* plane, const PlaneLayout& layout, Band band, LoneOnes& out) {
  const int64_t pw2 = layout.pw2;
  uint8_t from[64];
  ScanFrom8(band, from);
  ForEachBlock8(band, pw2, layout.ph2, [&](int64_t bx, int64_t by) {
    const int8_t* block = plane + by * 8 * pw2 + bx * 8;
    int8_t raster[64];
    uint64_t any = 0;
    for (int r = 0; r < 8; ++r) {
      uint64_t word;
      std::memcpy(&word, block + r * pw2, 8);
      std::memcpy(raster + 8 * r, &word, 8);
      any |= word;
    }
    if (any == 0) {
      out.PutZeros(64);
      return;
    }
    for (int e = 0; e < 64; ++e) out.Put(raster[from[e]]);
  });
}

}  // namespace

void ScanDetailPlane(const int8_t* plane, const PlaneLayout& layout, Band band,
                     bool removeLoneOnes, DetailSink& sink) {
  LoneOnes out(removeLoneOnes, sink);
  const int side = BlockSide(layout.levels);
  if (side == 8) {
    ScanDetailBlocks(plane, layout, band, out);
  } else {
    ScanBandIndices(band, layout.pw2, layout.ph2, side, layout.pw2,
                    [&](int64_t i) { out.Put(plane[i]); });
  }
  out.Finish();
}

void ScanDetailPlane(const int8_t* plane, const PlaneLayout& layout, Band band,
                     bool removeLoneOnes, int32_t* lin) {
  ArraySink sink(lin);
  ScanDetailPlane(plane, layout, band, removeLoneOnes, sink);
}

void UnscanPlane(const int32_t* lin, const PlaneLayout& layout, float* plane) {
  int64_t pos = 0;
  for (int64_t r = 0; r < layout.h0; ++r) {
    for (int64_t c = 0; c < layout.w0; ++c) plane[r * layout.pw2 + c] = static_cast<float>(lin[pos++]);
  }
  ForLevels(layout, 1, layout.levels - 1,
            [&](int, int64_t i) { plane[i] = static_cast<float>(lin[pos++]); });
}

void UnscanDetailPlane(const int32_t* lin, const PlaneLayout& layout, Band band, int8_t* plane) {
  int64_t pos = 0;
  const int64_t pw2 = layout.pw2;
  ScanBandIndices(band, pw2, layout.ph2, BlockSide(layout.levels), pw2, [&](int64_t i) {
    const int32_t v = lin[pos++];
    plane[i] = static_cast<int8_t>(v > 127 ? 127 : v < -128 ? -128 : v);
  });
}

void UnscanDetailPlane(const int8_t* lin, const PlaneLayout& layout, Band band, int8_t* plane) {
  const int64_t pw2 = layout.pw2;
  const int side = BlockSide(layout.levels);
  if (side != 8) {
    int64_t pos = 0;
    ScanBandIndices(band, pw2, layout.ph2, side, pw2, [&](int64_t i) { plane[i] = lin[pos++]; });
    return;
  }
  // Blocks of 8 x 8: each block's 64 values are put in raster order first,
  // then stored as eight rows of 8 bytes.
  uint8_t from[64];
  ScanFrom8(band, from);
  const int8_t* block = lin;
  ForEachBlock8(band, pw2, layout.ph2, [&](int64_t bx, int64_t by) {
    int8_t raster[64];
    for (int e = 0; e < 64; ++e) raster[from[e]] = block[e];
    block += 64;
    int8_t* out = plane + by * 8 * pw2 + bx * 8;
    for (int r = 0; r < 8; ++r) std::memcpy(out + r * pw2, raster + r * 8, 8);
  });
}

namespace {

// (3 (W + N) - 2 NW) / 4, truncating toward zero; wide enough for any input.
inline int64_t Prediction(int64_t w, int64_t n, int64_t nw) { return (3 * (w + n) - 2 * nw) / 4; }

}  // namespace

void PredictLowest(int32_t* lin, int64_t w0, int64_t h0) {
  for (int64_t r = h0 - 1; r >= 1; --r) {
    int32_t* row = lin + r * w0;
    const int32_t* up = row - w0;
    for (int64_t c = w0 - 1; c >= 1; --c) {
      row[c] = static_cast<int32_t>(row[c] - Prediction(row[c - 1], up[c], up[c - 1]));
    }
  }
  for (int64_t r = h0 - 1; r >= 1; --r) {
    lin[r * w0] = static_cast<int32_t>(static_cast<int64_t>(lin[r * w0]) - lin[(r - 1) * w0]);
  }
  for (int64_t c = w0 - 1; c >= 1; --c) {
    lin[c] = static_cast<int32_t>(static_cast<int64_t>(lin[c]) - lin[c - 1]);
  }
}

void UnpredictLowest(int32_t* lin, int64_t w0, int64_t h0) {
  for (int64_t c = 1; c < w0; ++c) {
    lin[c] = static_cast<int32_t>(static_cast<int64_t>(lin[c]) + lin[c - 1]);
  }
  for (int64_t r = 1; r < h0; ++r) {
    int32_t* row = lin + r * w0;
    const int32_t* up = row - w0;
    row[0] = static_cast<int32_t>(static_cast<int64_t>(row[0]) + up[0]);
    for (int64_t c = 1; c < w0; ++c) {
      row[c] = static_cast<int32_t>(row[c] + Prediction(row[c - 1], up[c], up[c - 1]));
    }
  }
}

uint32_t DcMagnitude(int32_t c0) {
  const int64_t m = std::llabs(static_cast<int64_t>(c0));
  return static_cast<uint32_t>(m > 65535 ? 65535 : m);
}

int32_t DcSign(int32_t c0) { return c0 >= 1 ? 1 : -1; }

int32_t RestoreDc(int32_t decoded, uint32_t magnitude) {
  if (decoded == 0) return static_cast<int32_t>(magnitude);
  const int64_t v = static_cast<int64_t>(magnitude) * decoded;
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace wif
