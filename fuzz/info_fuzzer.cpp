// The information call: through the engine (detection, then the reader of
// the type) and through every reader directly, whatever the bytes say.
#include <cstddef>
#include <cstdint>

#include "formats/rwimage.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const std::string& path = fuzz::WriteInput(data, size);
  vxFileInfo info{};
  vxImage::GetInfo(path.c_str(), &info);
  static const int kTypes[] = {TypeWIF, TypeBMP, TypePCX, TypePPM, TypePGM,
                               TypeTIFF, TypeTGA, TypeGIF, TypeJPEG};
  for (int type : kTypes) {
    vxRWImage* rw = vxImage::CreateRWImage(type);
    if (!rw) continue;
    vxFileInfo one{};
    rw->GetFileInfo(path.c_str(), &one);
    delete rw;
  }
  return 0;
}
