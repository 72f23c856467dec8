#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <map>

#include "engine/notice.h"

namespace fuzz {

namespace {

std::string ScratchDir() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace

void Init() {
  static bool done = false;
  if (done) return;
  done = true;
  // Pictures up to 16 MiB: larger ones take the same paths, only slower.
  vxSetMaxImageBytes(uint64_t{16} << 20);
  vxSetNoticeSink(nullptr);
}

const std::string& ScratchPath(const char* suffix) {
  static std::map<std::string, std::string> paths;
  std::string& path = paths[suffix];
  if (path.empty()) {
    path = ScratchDir() + "/lunark-fuzz-" + std::to_string(getpid()) + "-" + suffix;
  }
  return path;
}

const std::string& WriteInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath("input");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

unsigned Touch(const vxBitmapInfoHeader* header, const unsigned char* bits) {
  unsigned sum = 0;
  const size_t stride = vxRowStride(header->width, header->bitCount);
  const size_t bytes = stride * static_cast<size_t>(header->height);
  for (size_t i = 0; i < bytes; ++i) sum += bits[i];
  return sum;
}

}  // namespace fuzz
