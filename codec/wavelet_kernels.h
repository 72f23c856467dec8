// The inner loops of the wavelet transform, in three implementations: plain
// C++ (the reference), SSE2 and AVX2. The vector versions work on several
// neighbouring outputs at once, each in its own lane, and add every output's
// products in the same order as the plain loops, in double precision; the
// products of two floats are exact in double, so the results are the same
// bits on every path.
#pragma once

#include <cstddef>

#include "codec/kernels.h"

namespace wif {

struct WaveletKernels {
  // out[x] = sum over k of taps[k] * rows[k][x].
  void (*combineRows)(const float* const* rows, const float* taps, int tapCount, float* out,
                      size_t count);
  // Analysis of an extended signal (see AnalyzeSignal).
  void (*analyze)(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                  float* low, float* high);
  // Synthesis of an extended interleaved signal (see SynthesizeSignal).
  void (*synthesize)(const float* yext, size_t count, const float* evenTaps,
                     const float* oddTaps, float* out);
};

const WaveletKernels& KernelsFor(KernelPath path);
inline const WaveletKernels& ActiveKernels() { return KernelsFor(ActiveKernelPath()); }

}  // namespace wif
