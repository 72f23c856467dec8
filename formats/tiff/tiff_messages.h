// libtiff's errors and warnings as engine notices.
//
// libtiff reports through handlers: per open file (TIFFOpenOptions, with a
// pointer to our state) and process-wide (TIFFSetErrorHandler). Each TIFF
// operation owns one vxTiffMessages; the per-file handlers post through it,
// and the process-wide handlers, installed once and never swapped, post
// through the one that is current on the calling thread. Parallel
// conversions therefore never share or exchange handlers, and each posts its
// messages under its own file name.
#pragma once

#include <tiffio.h>

#include <cstdarg>

#include "engine/notice.h"

class vxTiffMessages {
 public:
  vxTiffMessages();
  ~vxTiffMessages();
  vxTiffMessages(const vxTiffMessages&) = delete;
  vxTiffMessages& operator=(const vxTiffMessages&) = delete;

  // Open options whose handlers post through this object, with libtiff's
  // single allocations capped at the engine's memory ceiling. Free with
  // TIFFOpenOptionsFree; null when memory is short.
  TIFFOpenOptions* NewOpenOptions();

  // Posts one libtiff message (caption "TIFF", "module: text"). Errors also
  // become the thread's last error (the first one is kept). After
  // kMaxNotices notices, or once Quiet() was called, messages are no longer
  // posted: a broken file must not bury the user in message boxes.
  void Post(vxNoticeKind kind, const char* module, const char* format, va_list args);
  void Quiet() { quiet_ = true; }
  int errors() const { return errors_; }

  static constexpr int kMaxNotices = 8;

 private:
  int posted_ = 0;
  int errors_ = 0;
  bool quiet_ = false;
  vxTiffMessages* previous_;
};
