#include "engine/notice.h"

#include <mutex>

namespace {

std::mutex g_sinkMutex;
vxNoticeSink g_sink;
thread_local std::string t_file;
thread_local std::string t_lastError;
thread_local std::vector<vxNotice>* t_capture = nullptr;

}  // namespace

vxNoticeSink vxSetNoticeSink(vxNoticeSink sink) {
  std::lock_guard lock(g_sinkMutex);
  std::swap(g_sink, sink);
  return sink;
}

void vxPostNotice(vxNoticeKind kind, std::string_view caption, std::string_view text) {
  vxNotice notice{kind, std::string(caption), std::string(text), t_file};
  if (t_capture) {
    t_capture->push_back(std::move(notice));
    return;
  }
  vxDeliverNotice(notice);
}

void vxDeliverNotice(const vxNotice& notice) {
  std::lock_guard lock(g_sinkMutex);
  if (g_sink) g_sink(notice);
}

vxNoticeCapture::vxNoticeCapture(std::vector<vxNotice>& into) : previous_(t_capture) {
  t_capture = &into;
}
vxNoticeCapture::~vxNoticeCapture() { t_capture = previous_; }

vxNoticeFileScope::vxNoticeFileScope(std::string_view file) : previous_(t_file) { t_file = file; }
vxNoticeFileScope::~vxNoticeFileScope() { t_file = previous_; }

void vxSetLastError(std::string_view reason) {
  if (t_lastError.empty()) t_lastError = reason;
}
void vxClearLastError() { t_lastError.clear(); }
const std::string& vxLastError() { return t_lastError; }
