// The inner loops of the wavelet transform, in three implementations: plain
// C++ (the reference), SSE2 and AVX2. The vector versions work on several
// neighbouring outputs at once, each in its own lane, and add every output's
// products in the same order as the plain loops, in double precision; the
// products of two floats are exact in double, so the results are the same
// bits on every path (fusing a multiply with its add, as the AVX2 loops do,
// rounds an exact product exactly as the separate add does).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernels.h"
#include "codec/rounding.h"

namespace wif {

struct WaveletKernels {
  // out[x] = sum over k of taps[k] * rows[k][x].
  void (*combineRows)(const float* const* rows, const float* taps, int tapCount, float* out,
                      size_t count);
  // The vertical analysis pair over the same nine rows: low[x] = sum over k
  // of lowTaps[k] * rows[k][x] (9 taps) and high[x] = sum of highTaps[k] *
  // rows[k + 2][x] (7 taps), each row read once for both.
  void (*combinePair)(const float* const* rows, const float* lowTaps, const float* highTaps,
                      float* low, float* high, size_t count);
  // Analysis of an extended signal (see AnalyzeSignal).
  void (*analyze)(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                  float* low, float* high);
  // Synthesis of an extended signal given as its even samples (the low
  // band) and its odd samples (the high band): even[j] = y[2j] and odd[j] =
  // y[2j + 1], both readable from j = -2 to count / 2 + 1 (see
  // SynthesizeSignal).
  void (*synthesize)(const float* even, const float* odd, size_t count, const float* evenTaps,
                     const float* oddTaps, float* out);
  // RoundDetail of each value.
  void (*roundDetails)(const float* in, int8_t* out, size_t count);
  // RoundCoefficient of each value.
  void (*roundCoefficients)(const float* in, int32_t* out, size_t count);
  // SampleByte of each value.
  void (*sampleBytes)(const float* in, uint8_t* out, size_t count);
  // ChromaValue of each value (the full range fits 16 bits).
  void (*chromaValues)(const float* in, int16_t* out, size_t count, bool fullRange);
  // Blue, green, red bytes of each pixel from luma y and chroma a and b:
  // y + a + b - 256, y - a + 128 and y - b + 128, each clamped to 0 .. 255;
  // red, green, blue when `rgb`.
  void (*combineColour)(const uint8_t* y, const int16_t* a, const int16_t* b, uint8_t* pixels,
                        size_t count, bool rgb);
  // One plane of a row of three-byte pixels, as the encoder's first level
  // takes it: with s the sum of a pixel's three bytes, s / 3 when `own` is
  // negative (the luma), else s / 3 minus the pixel's byte `own` (0 to 2).
  void (*colourPlane)(const uint8_t* pixels, float* out, size_t count, int own);
};

const WaveletKernels& KernelsFor(KernelPath path);
inline const WaveletKernels& ActiveKernels() { return KernelsFor(ActiveKernelPath()); }

}  // namespace wif
