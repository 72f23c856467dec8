#include "engine/options.h"

#include <mutex>

namespace {

std::mutex g_hookMutex;
vxOptionsDialogHook g_hook;

}  // namespace

vxOptionsDialogHook vxSetOptionsDialogHook(vxOptionsDialogHook hook) {
  std::lock_guard lock(g_hookMutex);
  std::swap(g_hook, hook);
  return hook;
}

vxSaveOptions* vxRunOptionsDialog(int typeId) {
  vxOptionsDialogHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  return hook ? hook(typeId) : nullptr;
}

void vxFreeOptions(void* options) { delete static_cast<vxSaveOptions*>(options); }
