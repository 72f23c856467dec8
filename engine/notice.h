// Notices: the messages that readers and writers show the user while they
// work ("Unrecognized compression format", libtiff's warnings, ...).
//
// The engine never writes to a terminal or a window itself. It posts notices
// to one sink that the program installs: the viewer shows them as message
// boxes, the command-line tool prints one line each on standard error, tests
// capture them. Without a sink, notices are dropped.
//
// Besides notices, an operation that fails may leave a one-line reason for
// its caller (vxSetLastError); it is kept per thread, so parallel batch jobs
// each see their own.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class vxNoticeKind {
  Error,    // an OK/Cancel message box in the original program
  Warning,  // a plain message box
  Info,
};

struct vxNotice {
  vxNoticeKind kind;
  std::string caption;  // may be empty
  std::string text;
  std::string file;  // the file being read or written on this thread, if known
};

using vxNoticeSink = std::function<void(const vxNotice&)>;

// Installs the sink (thread-safe; notices from several threads are delivered
// one at a time) and returns the previous one.
vxNoticeSink vxSetNoticeSink(vxNoticeSink sink);
void vxPostNotice(vxNoticeKind kind, std::string_view caption, std::string_view text);

// Sends a notice, as it stands, to the installed sink: for notices held back
// by a vxNoticeCapture and shown later.
void vxDeliverNotice(const vxNotice& notice);

// While it lives, notices posted on this thread are kept in `into` instead of
// going to the sink: work done ahead of time (reading the next picture of a
// folder before the user asks for it) keeps its messages until its result is
// shown, and drops them when it never is.
class vxNoticeCapture {
 public:
  explicit vxNoticeCapture(std::vector<vxNotice>& into);
  ~vxNoticeCapture();
  vxNoticeCapture(const vxNoticeCapture&) = delete;
  vxNoticeCapture& operator=(const vxNoticeCapture&) = delete;

 private:
  std::vector<vxNotice>* previous_;
};

// Names the file that notices posted on this thread concern, for the
// lifetime of the scope.
class vxNoticeFileScope {
 public:
  explicit vxNoticeFileScope(std::string_view file);
  ~vxNoticeFileScope();
  vxNoticeFileScope(const vxNoticeFileScope&) = delete;
  vxNoticeFileScope& operator=(const vxNoticeFileScope&) = delete;

 private:
  std::string previous_;
};

// The reason of the last failure on this thread ("image too large", ...).
// The first reason set after a clear is kept; later ones do not replace it.
void vxSetLastError(std::string_view reason);
void vxClearLastError();
const std::string& vxLastError();
