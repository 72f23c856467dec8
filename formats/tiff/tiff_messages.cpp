#include "formats/tiff/tiff_messages.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/image.h"

namespace {

thread_local vxTiffMessages* t_current = nullptr;

void PostUnowned(vxNoticeKind kind, const char* module, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  try {
    std::string line = module && *module ? std::string(module) + ": " + text : std::string(text);
    vxPostNotice(kind, "TIFF", line);
  } catch (...) {
  }
}

void GlobalError(const char* module, const char* format, va_list args) {
  if (t_current) {
    t_current->Post(vxNoticeKind::Error, module, format, args);
  } else {
    PostUnowned(vxNoticeKind::Error, module, format, args);
  }
}

void GlobalWarning(const char* module, const char* format, va_list args) {
  if (t_current) {
    t_current->Post(vxNoticeKind::Warning, module, format, args);
  } else {
    PostUnowned(vxNoticeKind::Warning, module, format, args);
  }
}

// Returning 1 tells libtiff that the message was handled, so the
// process-wide handlers are not called as well.
int FileError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  static_cast<vxTiffMessages*>(user)->Post(vxNoticeKind::Error, module, format, args);
  return 1;
}

int FileWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
  static_cast<vxTiffMessages*>(user)->Post(vxNoticeKind::Warning, module, format, args);
  return 1;
}

std::once_flag g_handlersInstalled;

}  // namespace

vxTiffMessages::vxTiffMessages() : previous_(t_current) {
  std::call_once(g_handlersInstalled, [] {
    TIFFSetErrorHandler(GlobalError);
    TIFFSetWarningHandler(GlobalWarning);
  });
  t_current = this;
}

vxTiffMessages::~vxTiffMessages() { t_current = previous_; }

TIFFOpenOptions* vxTiffMessages::NewOpenOptions() {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  const uint64_t limit = std::min<uint64_t>(vxMaxImageBytes(), INT64_MAX);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(limit));
  TIFFOpenOptionsSetErrorHandlerExtR(options, FileError, this);
  TIFFOpenOptionsSetWarningHandlerExtR(options, FileWarning, this);
  return options;
}

void vxTiffMessages::Post(vxNoticeKind kind, const char* module, const char* format, va_list args) {
  const bool error = kind == vxNoticeKind::Error;
  if (error) ++errors_;
  const bool show = !quiet_ && posted_ < kMaxNotices;
  if (!show && !error) return;
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  try {
    std::string line = module && *module ? std::string(module) + ": " + text : std::string(text);
    if (error) vxSetLastError(line);
    if (show) {
      ++posted_;
      vxPostNotice(kind, "TIFF", line);
    }
  } catch (...) {
  }
}
