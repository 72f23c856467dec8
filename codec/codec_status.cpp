#include "codec/codec_status.h"

#include <cstdio>

namespace wif {

namespace {

thread_local bool tQuiet = false;

}  // namespace

void ReportFatal(const char* message) {
  if (tQuiet) return;
  std::fputs(message, stderr);
  std::fputs(" \n", stderr);
}

void Report(const char* message) {
  if (!tQuiet) std::fputs(message, stderr);
}

QuietReports::QuietReports() : previous_(tQuiet) { tQuiet = true; }
QuietReports::~QuietReports() { tQuiet = previous_; }

}  // namespace wif
