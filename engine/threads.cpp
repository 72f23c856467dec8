#include "engine/threads.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

int EnvironmentThreads() {
  const char* text = std::getenv("LUNARK_THREADS");
  if (!text) text = std::getenv("LUNARK_WIF_THREADS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 && n <= 256 ? n : 0;
}

std::atomic<int> gThreads{-1};  // -1: not read from the environment yet

}  // namespace

void vxSetWorkerThreads(int count) {
  gThreads.store(count < 0 ? 0 : count, std::memory_order_relaxed);
}

int vxWorkerThreads() {
  int n = gThreads.load(std::memory_order_relaxed);
  if (n < 0) {
    int expected = -1;
    gThreads.compare_exchange_strong(expected, EnvironmentThreads(), std::memory_order_relaxed);
    n = gThreads.load(std::memory_order_relaxed);
  }
  if (n > 0) return n;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : static_cast<int>(hw);
}
