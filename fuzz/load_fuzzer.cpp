// Type detection and loading through the engine, as the viewer and the
// command line do it, plus the information call.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const std::string& path = fuzz::WriteInput(data, size);
  vxScopedImage image;
  if (image.LoadImage(path.c_str()) == 0) {
    volatile unsigned sink = fuzz::Touch(image.header, image.bits);
    (void)sink;
  }
  vxFileInfo info{};
  vxImage::GetInfo(path.c_str(), &info);
  return 0;
}
