// The TIFF reader/writer class (type 7).
#include <algorithm>
#include <climits>
#include <new>

#include "formats/registry.h"
#include "formats/tiff/tiff_codec.h"

namespace {

class vxTIFF : public vxRWImage {
 public:
  vxTIFF() { SetIdentity(TypeTIFF, 3, "TIF", "Tagged Image File Format"); }

  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* /*options*/) override {
    vxBitmapInfoHeader* block = nullptr;
    long long fileSize = 0;
    const int result = vxTiffReadFile(fileName, &block, &fileSize);
    if (result != 0) return result;
    *header = block;
    *palette = vxBlockPalette(block);
    *bits = vxBlockBits(block);
    if (byteCount) *byteCount = static_cast<int>(std::min<long long>(fileSize, INT_MAX));
    return 0;
  }

  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* /*options*/) override {
    return vxTiffWriteFile(fileName, header, palette, bits);
  }

  int GetFileInfo(const char* fileName, vxFileInfo* info) override {
    return vxTiffFileInfo(fileName, info);
  }
};

}  // namespace

vxRWImage* vxCreateTIFF() { return new (std::nothrow) vxTIFF; }
