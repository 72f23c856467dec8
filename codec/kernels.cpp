#include "codec/kernels.h"

#include <atomic>
#include <thread>

namespace wif {

namespace {

KernelPath Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return KernelPath::Avx2;
  if (__builtin_cpu_supports("sse2")) return KernelPath::Sse2;
#endif
  return KernelPath::Plain;
}

std::atomic<int> gPath{-1};
std::atomic<int> gThreads{0};

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
  const int p = gPath.load(std::memory_order_relaxed);
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

void SetThreads(int count) { gThreads.store(count < 0 ? 0 : count, std::memory_order_relaxed); }

int Threads() {
  const int n = gThreads.load(std::memory_order_relaxed);
  if (n > 0) return n;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : static_cast<int>(hw);
}

}  // namespace wif
