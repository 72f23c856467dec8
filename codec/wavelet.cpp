#include "codec/wavelet.h"

#include "codec/wavelet_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wif {

int64_t Mirror(int64_t i, int64_t n) {
  if (n <= 1) return 0;
  if (i >= 0 && i < n) return i;
  const int64_t period = 2 * n - 2;
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

void ExtendSymmetric(float* ext, int64_t n) {
  for (int64_t k = 1; k <= 4; ++k) {
    ext[-k] = ext[Mirror(-k, n)];
    ext[n - 1 + k] = ext[Mirror(n - 1 + k, n)];
  }
}

void CombineRows(const float* const* rows, const float* taps, int tapCount, float* out,
                 size_t count) {
  ActiveKernels().combineRows(rows, taps, tapCount, out, count);
}

void AnalyzeSignal(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                   float* low, float* high) {
  ActiveKernels().analyze(ext, half, lowTaps, highTaps, low, high);
}

void SynthesizeSignal(const float* even, const float* odd, size_t count, const float* evenTaps,
                      const float* oddTaps, float* out) {
  ActiveKernels().synthesize(even, odd, count, evenTaps, oddTaps, out);
}

void ExtendHalves(float* even, float* odd, int64_t pairs) {
  const int64_t n = 2 * pairs;
  auto sample = [&](int64_t m) { return (m & 1) != 0 ? odd[m >> 1] : even[m >> 1]; };
  for (int64_t j : {int64_t{-2}, int64_t{-1}, pairs, pairs + 1}) {
    even[j] = sample(Mirror(2 * j, n));
    odd[j] = sample(Mirror(2 * j + 1, n));
  }
}

namespace {

// A row of detail values as the codec stores them (rounded bytes) or as the
// transform tests keep them (floats).
void StoreDetails(const float* in, int8_t* out, int64_t count) {
  ActiveKernels().roundDetails(in, out, static_cast<size_t>(count));
}
void StoreDetails(const float* in, float* out, int64_t count) {
  std::memcpy(out, in, static_cast<size_t>(count) * sizeof(float));
}

// Copies one strip row; a full strip is a fixed-size copy the compiler
// inlines, where a call to memcpy per row would cost more than the copy.
template <int64_t kLanes>
inline void CopyLanes(float* to, const float* from, int64_t lanes) {
  if (lanes == kLanes) {
    std::memcpy(to, from, kLanes * sizeof(float));
  } else {
    std::memcpy(to, from, static_cast<size_t>(lanes) * sizeof(float));
  }
}

}  // namespace

template <typename Detail>
bool QuadPlanes<Detail>::Allocate(int64_t w, int64_t h, MemoryTracker* tracker) {
  pw2 = w;
  ph2 = h;
  const uint64_t n = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
  if (low.Allocate(n, tracker) && hl.Allocate(n, tracker) && lh.Allocate(n, tracker) &&
      hh.Allocate(n, tracker)) {
    return true;
  }
  Release();
  return false;
}

// ---------------------------------------------------------------------------
// First forward level

template <typename Detail>
bool FirstLevelForward<Detail>::Init(int64_t width, int64_t height, float step,
                                     QuadPlanes<Detail>& out, MemoryTracker* tracker) {
  width_ = width;
  pw2_ = out.pw2;
  height_ = height;
  rows_ = 2 * out.ph2;
  loaded_ = 0;
  emitted_ = 0;
  endPair_ = out.ph2;
  firstRow_ = 0;
  out_ = &out;
  for (int k = 0; k < 9; ++k) lowTaps_[k] = kLowTaps[k] / step;
  for (int k = 0; k < 7; ++k) highTaps_[k] = kHighTaps[k] / step;
  const uint64_t full = 2 * static_cast<uint64_t>(pw2_);
  return ring_.Allocate(9 * full, tracker) && ext_.Allocate(full + 8, tracker) &&
         lowPass_.Allocate(full, tracker) && highPass_.Allocate(full, tracker);
}

template <typename Detail>
void FirstLevelForward<Detail>::SetPairRange(int64_t first, int64_t last) {
  emitted_ = first;
  endPair_ = last;
  // The pairs' first row, but no lower than the picture's last row: rows
  // below the picture repeat it, so a range that starts there begins with it.
  firstRow_ = std::min(std::max<int64_t>(0, 2 * first - 4), height_ - 1);
  loaded_ = firstRow_;
}

template <typename Detail>
void FirstLevelForward<Detail>::PushRow(const float* row) {
  if (loaded_ >= rows_ || emitted_ >= endPair_) return;
  LoadPadded(row);
  EmitReadyPairs();
}

template <typename Detail>
void FirstLevelForward<Detail>::LoadPadded(const float* row) {
  const int64_t full = 2 * pw2_;
  float* ext = ext_.data() + 4;
  if (row != ext) std::memcpy(ext, row, static_cast<size_t>(width_) * sizeof(float));
  std::fill(ext + width_, ext + full, ext[width_ - 1]);
  ExtendSymmetric(ext, full);
  float* slot = ring_.data() + (loaded_ % 9) * full;
  AnalyzeSignal(ext, static_cast<size_t>(pw2_), lowTaps_, highTaps_, slot, slot + pw2_);
  ++loaded_;
}

template <typename Detail>
void FirstLevelForward<Detail>::Finish() {
  const int64_t full = 2 * pw2_;
  // The rows below the picture repeat its last row, and so do their filtered
  // halves.
  while (loaded_ < rows_ && emitted_ < endPair_) {
    const float* previous = ring_.data() + ((loaded_ - 1) % 9) * full;
    float* slot = ring_.data() + (loaded_ % 9) * full;
    std::memcpy(slot, previous, static_cast<size_t>(full) * sizeof(float));
    ++loaded_;
    EmitReadyPairs();
  }
  EmitReadyPairs();
}

template <typename Detail>
void FirstLevelForward<Detail>::EmitReadyPairs() {
  while (emitted_ < endPair_ && std::min(2 * emitted_ + 4, rows_ - 1) < loaded_) {
    EmitPair(emitted_);
    ++emitted_;
  }
}

template <typename Detail>
void FirstLevelForward<Detail>::EmitPair(int64_t j) {
  const int64_t full = 2 * pw2_;
  const float* rows[9];
  for (int k = 0; k < 9; ++k) {
    rows[k] = ring_.data() + (Mirror(2 * j - 4 + k, rows_) % 9) * full;
  }
  // The low half of the columns gives the low plane's row, made in place;
  // the rest goes through the pass buffers into the detail planes.
  QuadPlanes<Detail>& q = *out_;
  const WaveletKernels& kernels = ActiveKernels();
  const size_t half = static_cast<size_t>(pw2_);
  kernels.combinePair(rows, kLowTaps, kHighTaps, q.low.data() + j * pw2_, highPass_.data(), half);
  const float* highColumns[9];
  for (int k = 0; k < 9; ++k) highColumns[k] = rows[k] + pw2_;
  kernels.combinePair(highColumns, kLowTaps, kHighTaps, lowPass_.data() + pw2_,
                      highPass_.data() + pw2_, half);
  Detail* hl = q.hl.data() + j * pw2_;
  Detail* lh = q.lh.data() + j * pw2_;
  Detail* hh = q.hh.data() + j * pw2_;
  const float* lowOfHigh = lowPass_.data() + pw2_;
  const float* highOfLow = highPass_.data();
  const float* highOfHigh = highPass_.data() + pw2_;
  StoreDetails(lowOfHigh, hl, pw2_);
  StoreDetails(highOfLow, lh, pw2_);
  StoreDetails(highOfHigh, hh, pw2_);
}

// ---------------------------------------------------------------------------
// Further levels

bool PyramidTransform::Init(int64_t pw2, int64_t ph2, MemoryTracker* tracker) {
  pw2_ = pw2;
  ph2_ = ph2;
  return row_.Allocate(static_cast<uint64_t>(pw2) + 8, tracker) &&
         half_.Allocate(static_cast<uint64_t>(pw2), tracker) &&
         strip_.Allocate((static_cast<uint64_t>(ph2) + 8) * kStrip, tracker, true);
}

void PyramidTransform::Forward(float* plane, int count) {
  for (int level = 0; level < count; ++level) {
    const int64_t w = pw2_ >> level;
    const int64_t h = ph2_ >> level;
    if (w >= 2) ForwardRows(plane, w, h);
    if (h >= 2) ForwardColumns(plane, w, h);
  }
}

void PyramidTransform::Inverse(float* plane, int count) {
  for (int level = count - 1; level >= 0; --level) {
    const int64_t w = pw2_ >> level;
    const int64_t h = ph2_ >> level;
    if (h >= 2) InverseColumns(plane, w, h);
    if (w >= 2) InverseRows(plane, w, h);
  }
}

void PyramidTransform::ForwardRows(float* plane, int64_t w, int64_t h) {
  float* ext = row_.data() + 4;
  const int64_t half = w / 2;
  for (int64_t y = 0; y < h; ++y) {
    float* row = plane + y * pw2_;
    std::memcpy(ext, row, static_cast<size_t>(w) * sizeof(float));
    ExtendSymmetric(ext, w);
    AnalyzeSignal(ext, static_cast<size_t>(half), kLowTaps, kHighTaps, row, half_.data());
    std::memcpy(row + half, half_.data(), static_cast<size_t>(half) * sizeof(float));
  }
}

void PyramidTransform::ForwardColumns(float* plane, int64_t w, int64_t h) {
  const int64_t half = h / 2;
  float* strip = strip_.data() + 4 * kStrip;  // row -4 .. h + 3, kStrip wide
  for (int64_t x0 = 0; x0 < w; x0 += kStrip) {
    const int64_t lanes = std::min(kStrip, w - x0);
    for (int64_t y = 0; y < h; ++y) {
      CopyLanes<kStrip>(strip + y * kStrip, plane + y * pw2_ + x0, lanes);
    }
    for (int64_t k = 1; k <= 4; ++k) {
      std::memcpy(strip - k * kStrip, strip + Mirror(-k, h) * kStrip, kStrip * sizeof(float));
      std::memcpy(strip + (h - 1 + k) * kStrip, strip + Mirror(h - 1 + k, h) * kStrip,
                  kStrip * sizeof(float));
    }
    const float* rows[9];
    for (int64_t i = 0; i < half; ++i) {
      for (int k = 0; k < 9; ++k) rows[k] = strip + (2 * i - 4 + k) * kStrip;
      // The strip holds the inputs: the outputs go straight into the plane.
      ActiveKernels().combinePair(rows, kLowTaps, kHighTaps, plane + i * pw2_ + x0,
                                  plane + (half + i) * pw2_ + x0, static_cast<size_t>(lanes));
    }
  }
}

void PyramidTransform::InverseRows(float* plane, int64_t w, int64_t h) {
  // The row's two halves are the synthesis's even and odd samples as they
  // stand: copied out with room for their extensions, no interleaving.
  const int64_t half = w / 2;
  float* even = row_.data() + 2;
  float* odd = even + half + 4;
  for (int64_t y = 0; y < h; ++y) {
    float* row = plane + y * pw2_;
    std::memcpy(even, row, static_cast<size_t>(half) * sizeof(float));
    std::memcpy(odd, row + half, static_cast<size_t>(half) * sizeof(float));
    ExtendHalves(even, odd, half);
    SynthesizeSignal(even, odd, static_cast<size_t>(w), kEvenSynthesis, kOddSynthesis, row);
  }
}

void PyramidTransform::InverseColumns(float* plane, int64_t w, int64_t h) {
  const int64_t half = h / 2;
  float* strip = strip_.data() + 4 * kStrip;
  for (int64_t x0 = 0; x0 < w; x0 += kStrip) {
    const int64_t lanes = std::min(kStrip, w - x0);
    for (int64_t i = 0; i < half; ++i) {
      CopyLanes<kStrip>(strip + (2 * i) * kStrip, plane + i * pw2_ + x0, lanes);
      CopyLanes<kStrip>(strip + (2 * i + 1) * kStrip, plane + (half + i) * pw2_ + x0, lanes);
    }
    for (int64_t k = 1; k <= 4; ++k) {
      std::memcpy(strip - k * kStrip, strip + Mirror(-k, h) * kStrip, kStrip * sizeof(float));
      std::memcpy(strip + (h - 1 + k) * kStrip, strip + Mirror(h - 1 + k, h) * kStrip,
                  kStrip * sizeof(float));
    }
    const float* rows[9];
    for (int64_t r = 0; r < h; ++r) {
      if ((r & 1) == 0) {
        for (int k = 0; k < 7; ++k) rows[k] = strip + (r - 3 + k) * kStrip;
        CombineRows(rows, kEvenSynthesis, 7, plane + r * pw2_ + x0, static_cast<size_t>(lanes));
      } else {
        for (int k = 0; k < 9; ++k) rows[k] = strip + (r - 4 + k) * kStrip;
        CombineRows(rows, kOddSynthesis, 9, plane + r * pw2_ + x0, static_cast<size_t>(lanes));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Last inverse level

template <typename Detail>
bool LastLevelInverse<Detail>::Init(const QuadPlanes<Detail>& in, int64_t width, int64_t height,
                                    double step, MemoryTracker* tracker) {
  in_ = &in;
  width_ = width;
  height_ = height;
  pw2_ = in.pw2;
  rows_ = 2 * in.ph2;
  SetStep(step);
  const uint64_t full = 2 * static_cast<uint64_t>(pw2_);
  return ring_.Allocate(9 * full, tracker) && vertical_.Allocate(full + 8, tracker) &&
         out_.Allocate(full, tracker);
}

template <typename Detail>
void LastLevelInverse<Detail>::SetStep(double step) {
  // Only the horizontal taps carry the step, mirroring the forward level,
  // which divides its horizontal analysis taps. The products are held as
  // floats, like every tap.
  for (int k = 0; k < 7; ++k) evenTaps_[k] = static_cast<float>(kEvenSynthesis[k] * step);
  for (int k = 0; k < 9; ++k) oddTaps_[k] = static_cast<float>(kOddSynthesis[k] * step);
}

template <typename Detail>
void LastLevelInverse<Detail>::LoadRow(int64_t m) {
  // Interleaved row m: the low band and HL at even rows, LH and HH at odd ones.
  float* slot = ring_.data() + (m % 9) * 2 * pw2_;
  const int64_t i = m / 2;
  const QuadPlanes<Detail>& q = *in_;
  const int64_t pw2 = pw2_;
  auto detailRow = [&](const Buffer<Detail>& plane, int band, float* out) {
    if (!plane.data()) {
      q.sparse[band].Row(i, out, detailRows_[band]);
      return;
    }
    const Detail* values = plane.data() + i * pw2;
    for (int64_t x = 0; x < pw2; ++x) out[x] = static_cast<float>(values[x]);
  };
  // An even row's low half is the low band's row itself, read in place.
  const int64_t at = m % 9;
  if ((m & 1) == 0) {
    left_[at] = q.low.data() + i * pw2;
    detailRow(q.hl, 0, slot + pw2);
  } else {
    left_[at] = slot;
    detailRow(q.lh, 1, slot);
    detailRow(q.hh, 2, slot + pw2);
  }
  right_[at] = slot + pw2;
}

template <typename Detail>
void LastLevelInverse<Detail>::Run(RowSink sink, void* context, int64_t first, int64_t last) {
  // The vertical filters write the row's low and high halves apart, each
  // with room for its extension: they are the horizontal synthesis's even
  // and odd samples.
  float* even = vertical_.data() + 2;
  float* odd = even + pw2_ + 4;
  const size_t count = static_cast<size_t>(pw2_);
  if (last < 0 || last > height_) last = height_;
  // Output row r uses interleaved rows r - 4 .. r + 4 (mirrored at the ends).
  int64_t loaded = std::max<int64_t>(0, first - 4);
  const float* rows[9];
  const float* highs[9];
  for (int64_t r = first; r < last; ++r) {
    const int64_t need = std::min(r + 4, rows_ - 1);
    while (loaded <= need) LoadRow(loaded++);
    const bool evenRow = (r & 1) == 0;
    const int taps = evenRow ? 7 : 9;
    const int64_t reach = evenRow ? 3 : 4;
    for (int k = 0; k < taps; ++k) {
      const int64_t at = Mirror(r - reach + k, rows_) % 9;
      rows[k] = left_[at];
      highs[k] = right_[at];
    }
    const float* vTaps = evenRow ? kEvenSynthesis : kOddSynthesis;
    CombineRows(rows, vTaps, taps, even, count);
    CombineRows(highs, vTaps, taps, odd, count);
    ExtendHalves(even, odd, pw2_);
    SynthesizeSignal(even, odd, static_cast<size_t>(width_), evenTaps_, oddTaps_, out_.data());
    sink(context, out_.data(), r);
  }
}

template struct QuadPlanes<int8_t>;
template struct QuadPlanes<float>;
template class FirstLevelForward<int8_t>;
template class FirstLevelForward<float>;
template class LastLevelInverse<int8_t>;
template class LastLevelInverse<float>;

}  // namespace wif
