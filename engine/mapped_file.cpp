#include "engine/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

// The mappings open at once, each a slot the bus-error handler can read
// without locks.
constexpr int kSlots = 16;

struct Slot {
  std::atomic<bool> used{false};
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> damaged{false};
};

Slot g_slots[kSlots];
struct sigaction g_previous;
uintptr_t g_pageSize = 4096;
bool g_handlerInstalled = false;

// A page of a mapped file that cannot be read any more (the file was cut
// short, or its storage failed) raises SIGBUS when touched. A page of one of
// our mappings is replaced by a page of zeros, its mapping marked damaged,
// and the access repeated; anything else goes on to the handler that was
// there before, or ends the process as it would have ended without us.
void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    if (at < slot.begin.load(std::memory_order_acquire) ||
        at >= slot.end.load(std::memory_order_acquire)) {
      continue;
    }
    void* page = reinterpret_cast<void*>(at & ~(g_pageSize - 1));
    if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      slot.damaged.store(true, std::memory_order_release);
      return;
    }
    break;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) == 0 && g_previous.sa_handler != SIG_DFL &&
      g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  raise(SIGBUS);
}

bool InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0) g_pageSize = static_cast<uintptr_t>(page);
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    g_handlerInstalled = sigaction(SIGBUS, &action, &g_previous) == 0;
  });
  return g_handlerInstalled;
}

}  // namespace

bool vxMappedFile::Open(const char* fileName) {
  Close();
  if (!fileName || !InstallHandler()) return false;
  int slot = 0;
  while (slot < kSlots && g_slots[slot].used.exchange(true)) ++slot;
  if (slot == kSlots) {
    errno = EMFILE;
    return false;
  }
  const int fd = open(fileName, O_RDONLY | O_CLOEXEC);
  struct stat st;
  void* data = MAP_FAILED;
  int error = fd < 0 ? errno : EINVAL;
  if (fd >= 0 && fstat(fd, &st) != 0) {
    error = errno;
  } else if (fd >= 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
             static_cast<uint64_t>(st.st_size) <= SIZE_MAX) {
    // Populated at once: the caller reads the whole file.
    data = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd,
                0);
    if (data == MAP_FAILED) error = errno;
  }
  if (fd >= 0) close(fd);
  if (data == MAP_FAILED) {
    g_slots[slot].used.store(false);
    errno = error;
    return false;
  }
  data_ = static_cast<const uint8_t*>(data);
  size_ = static_cast<size_t>(st.st_size);
  slot_ = slot;
  Slot& s = g_slots[slot];
  s.damaged.store(false);
  s.begin.store(reinterpret_cast<uintptr_t>(data_), std::memory_order_release);
  s.end.store(reinterpret_cast<uintptr_t>(data_) + size_, std::memory_order_release);
  return true;
}

void vxMappedFile::Close() {
  if (!data_) return;
  Slot& s = g_slots[slot_];
  s.end.store(0, std::memory_order_release);
  s.begin.store(0, std::memory_order_release);
  munmap(const_cast<uint8_t*>(data_), size_);
  s.used.store(false, std::memory_order_release);
  data_ = nullptr;
  size_ = 0;
  slot_ = -1;
}

bool vxMappedFile::Damaged() const {
  return slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire);
}
