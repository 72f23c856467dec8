// Type detection by content: any bytes give a type id or -1, and the file
// and stream forms agree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/rwimage.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const std::string& path = fuzz::WriteInput(data, size);
  const int byName = vxImage::GetFileType(path.c_str());
  FILE* stream = std::fopen(path.c_str(), "rb");
  if (!stream) return 0;
  const int byStream = vxImage::GetFileType(stream);
  const long position = std::ftell(stream);
  std::fclose(stream);
  if (byName != byStream || position != 0) std::abort();
  if (byName >= 0) {
    vxRWImage* rw = vxImage::CreateRWImage(byName);
    if (!rw) std::abort();  // detection named a type that has no reader
    delete rw;
  }
  return 0;
}
