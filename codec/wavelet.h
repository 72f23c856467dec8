// The CDF 9/7 wavelet transform of the codec.
//
// A plane goes through L levels of a separable Mallat decomposition. The
// first level runs over the image rows as they are read, with the horizontal
// taps divided by the quantizer step, and leaves a QuadBuf: the low band as
// floats and the three detail bands already rounded to signed bytes. The
// other L - 1 levels run in place on the low band. Decoding mirrors this; its
// last level (routine `write`) multiplies the horizontal synthesis taps by the
// step and hands finished rows to the caller.
//
// Every filter output is one sum over its taps in ascending offset, of
// products of float taps and float samples, accumulated in double and stored
// as a float. Kernels work on contiguous rows (several columns at once for
// vertical filtering), so that they can be vectorised without changing any
// sum.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/buffer.h"
#include "codec/sparse_detail.h"
#include "codec/rounding.h"

namespace wif {

// Analysis taps, offsets -4 .. 4 (low pass) and -3 .. 3 (high pass).
inline constexpr float kLowTaps[9] = {0.037829f,  -0.023849f, -0.110624f, 0.377403f, 0.852699f,
                                      0.377403f,  -0.110624f, -0.023849f, 0.037829f};
inline constexpr float kHighTaps[7] = {0.064539f, -0.040690f, -0.418092f, 0.788485f,
                                       -0.418092f, -0.040690f, 0.064539f};
// Synthesis taps on the interleaved signal (low at even, high at odd
// positions): even outputs use offsets -3 .. 3, odd outputs -4 .. 4.
inline constexpr float kEvenSynthesis[7] = {0.023849f,  -0.040690f, -0.377403f, 0.788485f,
                                            -0.377403f, -0.040690f, 0.023849f};
inline constexpr float kOddSynthesis[9] = {0.037829f, -0.064539f, -0.110624f, 0.418092f, 0.852699f,
                                           0.418092f, -0.110624f, -0.064539f, 0.037829f};

// Index of sample i of a signal of n samples under whole-sample symmetric
// extension (x[-k] = x[k], x[n-1+k] = x[n-1-k]). Short signals reflect
// repeatedly, with period 2n - 2; a one-sample signal is constant.
int64_t Mirror(int64_t i, int64_t n);

// Fills ext[-4 .. -1] and ext[n .. n+3] from ext[0 .. n).
void ExtendSymmetric(float* ext, int64_t n);

// out[x] = sum over k of taps[k] * rows[k][x], for x < count.
void CombineRows(const float* const* rows, const float* taps, int tapCount, float* out,
                 size_t count);

// One analysis step over an extended signal of 2 * half samples (ext[-4 ..
// 2 * half + 3] readable): low[i] centred on sample 2i, high[i] on 2i + 1.
void AnalyzeSignal(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                   float* low, float* high);

// One synthesis step over a signal y given as its two halves, the low band
// at even positions (even[j] = y[2j]) and the high band at odd ones (odd[j] =
// y[2j + 1]), each extended by ExtendHalves; writes the first `count`
// reconstructed samples.
void SynthesizeSignal(const float* even, const float* odd, size_t count, const float* evenTaps,
                      const float* oddTaps, float* out);

// Fills even[-2], even[-1], even[pairs], even[pairs + 1] and the same of odd
// as the symmetric extension of the interleaved signal of 2 * pairs samples.
void ExtendHalves(float* even, float* odd, int64_t pairs);

// One colour plane after the first level: the low band (later the whole
// pyramid of the further levels) and the three detail bands, each pw2 x ph2
// with row stride pw2. HL is horizontally high and vertically low, LH the
// other way round, HH high both ways. The codec stores the detail bands as
// signed bytes; the transform tests keep them as floats.
template <typename Detail>
struct QuadPlanes {
  int64_t pw2 = 0;
  int64_t ph2 = 0;
  Buffer<float> low;
  Buffer<Detail> hl;
  Buffer<Detail> lh;
  Buffer<Detail> hh;
  // A decoder may hold the detail planes as their nonzero values instead
  // (HL, LH, HH); a band uses its own when its array above is not allocated.
  SparseDetail sparse[3];

  // All four planes at once; false (nothing kept) when one cannot be made.
  bool Allocate(int64_t pw2, int64_t ph2, MemoryTracker* tracker);
  void Release() {
    low.Release();
    hl.Release();
    lh.Release();
    hh.Release();
    for (SparseDetail& band : sparse) band.Release();
  }
  float* LowRow(int64_t y) { return low.data() + y * pw2; }
};
using QuadBuf = QuadPlanes<int8_t>;

// First-level detail values are rounded by RoundDetail (codec/rounding.h):
// values beyond -128 .. 127 (sharp edges at small steps) are saturated.

// The first forward level. Rows are pushed one at a time, in buffer order;
// the image is padded to 2 * pw2 x 2 * ph2 by repeating its last column and
// its last row. A ring of 9 horizontally filtered rows feeds the vertical
// filters, so the full-resolution plane is never held as floats.
template <typename Detail>
class FirstLevelForward {
 public:
  // `out` must already be allocated for the padded size of width x height.
  // The horizontal taps are divided by `step`. False when the row buffers
  // cannot be allocated.
  bool Init(int64_t width, int64_t height, float step, QuadPlanes<Detail>& out,
            MemoryTracker* tracker);
  // Makes only output row pairs first .. last - 1 (after Init; all by
  // default), so that separate objects can fill parts of the same planes at
  // once. Rows are then pushed from FirstRow() on, up to EndRow() - 1 or the
  // last image row, whichever comes first.
  void SetPairRange(int64_t first, int64_t last);
  int64_t FirstRow() const { return firstRow_; }
  int64_t EndRow() const { return 2 * endPair_ + 5; }
  // One row of `width` samples. A row made in RowSlot() is taken where it
  // is, without a copy.
  void PushRow(const float* row);
  float* RowSlot() { return ext_.data() + 4; }
  // Feeds the padding rows and completes the planes.
  void Finish();

 private:
  void LoadPadded(const float* row);
  void EmitReadyPairs();
  void EmitPair(int64_t j);

  int64_t width_ = 0;
  int64_t height_ = 1;
  int64_t pw2_ = 0;
  int64_t rows_ = 0;  // padded height 2 * ph2
  int64_t loaded_ = 0;
  int64_t emitted_ = 0;
  int64_t endPair_ = 0;
  int64_t firstRow_ = 0;
  float lowTaps_[9] = {};
  float highTaps_[7] = {};
  QuadPlanes<Detail>* out_ = nullptr;
  Buffer<float> ring_;  // 9 slots of 2 * pw2: low half-row, then high half-row
  Buffer<float> ext_;   // one padded, extended input row
  Buffer<float> lowPass_;
  Buffer<float> highPass_;
};

// The further levels, in place on a pw2 x ph2 float plane (row stride pw2).
class PyramidTransform {
 public:
  bool Init(int64_t pw2, int64_t ph2, MemoryTracker* tracker);
  // `count` levels from the full plane down (rows, then columns, each level).
  void Forward(float* plane, int count);
  // The exact mirror, from the smallest region up (columns, then rows).
  void Inverse(float* plane, int count);

 private:
  static constexpr int64_t kStrip = 32;  // columns filtered together
  void ForwardRows(float* plane, int64_t w, int64_t h);
  void ForwardColumns(float* plane, int64_t w, int64_t h);
  void InverseRows(float* plane, int64_t w, int64_t h);
  void InverseColumns(float* plane, int64_t w, int64_t h);

  int64_t pw2_ = 0;
  int64_t ph2_ = 0;
  Buffer<float> row_;    // one extended row, or its two halves
  Buffer<float> half_;   // two half rows
  Buffer<float> strip_;  // (height + 8) x kStrip
};

// The last inverse level: vertical synthesis through a ring of 9 rows, then
// horizontal synthesis with the taps multiplied by `step`. Produces rows 0 ..
// height - 1, each of `width` samples; the padding is dropped.
template <typename Detail>
class LastLevelInverse {
 public:
  using RowSink = void (*)(void* context, const float* row, int64_t y);

  bool Init(const QuadPlanes<Detail>& in, int64_t width, int64_t height, double step,
            MemoryTracker* tracker);
  // Another plane's step, keeping the buffers.
  void SetStep(double step);
  // Rows first .. last - 1 (all rows when last < 0). Separate objects over the
  // same planes may produce separate row ranges at once: each loads the rows
  // its range needs into its own ring.
  void Run(RowSink sink, void* context, int64_t first = 0, int64_t last = -1);

 private:
  void LoadRow(int64_t m);

  const QuadPlanes<Detail>* in_ = nullptr;
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t pw2_ = 0;
  int64_t rows_ = 0;
  float evenTaps_[7] = {};
  float oddTaps_[9] = {};
  Buffer<float> ring_;
  // Where each ring slot's interleaved row has its low and high halves.
  const float* left_[9] = {};
  const float* right_[9] = {};
  Buffer<float> vertical_;  // the two halves of a vertically filtered row, padded
  Buffer<float> out_;
  SparseDetail::RowCache detailRows_[3];  // for detail planes held sparse
};

}  // namespace wif
