#include "codec/codec_status.h"

#include <cstdio>

namespace wif {

void ReportFatal(const char* message) {
  std::fputs(message, stderr);
  std::fputs(" \n", stderr);
}

void Report(const char* message) { std::fputs(message, stderr); }

}  // namespace wif
