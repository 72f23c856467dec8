// Run-time choices of the codec: which implementation of the transform's
// inner loops runs (the plain C++ loops are the reference; the SSE2 and AVX2
// ones give bit-identical results), and how many threads an encode or decode
// may use for its colour planes. Both are process-wide settings, read once at
// the start of each encode or decode.
#pragma once

namespace wif {

enum class KernelPath { Plain = 0, Sse2 = 1, Avx2 = 2 };  // Avx2: with FMA

// True when the processor can run the path (Plain always can).
bool KernelPathAvailable(KernelPath path);
// The best available path, detected once. It is the default unless the
// environment names another in LUNARK_WIF_KERNELS (plain, sse2, avx2).
KernelPath BestKernelPath();
// Selects a path; false (nothing changed) when the processor lacks it.
bool SetKernelPath(KernelPath path);
KernelPath ActiveKernelPath();
const char* KernelPathName(KernelPath path);

// Threads an encode or decode may use: the process's worker-thread setting
// (engine/threads.h), which loads and saves share. 0 means one per hardware
// thread. The planes of a colour picture are coded at once when this is
// above 1; the output is the same for every count.
void SetThreads(int count);
// The effective count, at least 1.
int Threads();

}  // namespace wif
