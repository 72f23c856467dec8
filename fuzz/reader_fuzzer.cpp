// One reader of the registry, fed any bytes: Read and GetFileInfo must give
// an image or an error, never a crash, a hang or a wild allocation.
// FUZZ_TYPE (the type id) is set by the build, one target per format.
#include <cstddef>
#include <cstdint>

#include "formats/rwimage.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const std::string& path = fuzz::WriteInput(data, size);
  vxRWImage* rw = vxImage::CreateRWImage(FUZZ_TYPE);
  if (!rw) return 0;
  int count = -1;
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  if (rw->Read(path.c_str(), &count, &header, &palette, &bits, nullptr) == 0 && header) {
    volatile unsigned sink = fuzz::Touch(header, bits);
    (void)sink;
    vxFreeBlock(header);
  }
  vxFileInfo info{};
  rw->GetFileInfo(path.c_str(), &info);
  delete rw;
  return 0;
}
