#include "formats/jpeg/jpeg_errors.h"

#include <cstring>

#include "engine/notice.h"

namespace {

vxJpegError* ErrorOf(j_common_ptr cinfo) { return reinterpret_cast<vxJpegError*>(cinfo->err); }

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  vxJpegError* error = ErrorOf(cinfo);
  (*cinfo->err->format_message)(cinfo, error->message);
  std::longjmp(error->jump, 1);
}

// Warnings (the library shows the first one of a picture, such as "Premature
// end of JPEG file") become notices. The notice sink is C++ that may throw;
// nothing may unwind into the library, so failures to post are dropped.
void OutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  try {
    vxPostNotice(vxNoticeKind::Warning, "JPEG", text);
  } catch (...) {
  }
}

}  // namespace

jpeg_error_mgr* vxJpegErrorSetup(vxJpegError* error) {
  std::memset(error, 0, sizeof *error);
  jpeg_std_error(&error->pub);
  error->pub.error_exit = ErrorExit;
  error->pub.output_message = OutputMessage;
  return &error->pub;
}

void vxJpegFail(j_common_ptr cinfo, const char* text) {
  vxJpegError* error = ErrorOf(cinfo);
  std::snprintf(error->message, sizeof error->message, "%s", text);
  std::longjmp(error->jump, 1);
}
