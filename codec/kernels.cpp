#include "codec/kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/threads.h"

namespace wif {

namespace {

KernelPath Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // The AVX2 loops use fused multiply-adds as well.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return KernelPath::Avx2;
  if (__builtin_cpu_supports("sse2")) return KernelPath::Sse2;
#endif
  return KernelPath::Plain;
}

// The environment may name the path, for benchmarks and comparisons run
// through the command line: LUNARK_WIF_KERNELS=plain|sse2|avx2.
int EnvironmentPath() {
  const char* text = std::getenv("LUNARK_WIF_KERNELS");
  if (!text) return -1;
  for (KernelPath p : {KernelPath::Plain, KernelPath::Sse2, KernelPath::Avx2}) {
    if (std::strcmp(text, KernelPathName(p)) == 0 && KernelPathAvailable(p)) {
      return static_cast<int>(p);
    }
  }
  return -1;
}

std::atomic<int> gPath{-2};  // -2: not read from the environment yet

}  // namespace

KernelPath BestKernelPath() {
  static const KernelPath best = Detect();
  return best;
}

bool KernelPathAvailable(KernelPath path) {
  return static_cast<int>(path) <= static_cast<int>(BestKernelPath());
}

bool SetKernelPath(KernelPath path) {
  if (!KernelPathAvailable(path)) return false;
  gPath.store(static_cast<int>(path), std::memory_order_relaxed);
  return true;
}

KernelPath ActiveKernelPath() {
  int p = gPath.load(std::memory_order_relaxed);
  if (p == -2) {
    int expected = -2;
    gPath.compare_exchange_strong(expected, EnvironmentPath(), std::memory_order_relaxed);
    p = gPath.load(std::memory_order_relaxed);
  }
  return p < 0 ? BestKernelPath() : static_cast<KernelPath>(p);
}

const char* KernelPathName(KernelPath path) {
  switch (path) {
    case KernelPath::Plain: return "plain";
    case KernelPath::Sse2: return "sse2";
    case KernelPath::Avx2: return "avx2";
  }
  return "?";
}

void SetThreads(int count) { vxSetWorkerThreads(count); }

int Threads() { return vxWorkerThreads(); }

}  // namespace wif
