// The JPEG reader/writer class (type 12).
#include <algorithm>
#include <climits>
#include <new>

#include "engine/options.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/registry.h"

namespace {

class vxJPEG : public vxRWImage {
 public:
  vxJPEG() { SetIdentity(TypeJPEG, 3, "JPG", "JPEG"); }

  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* /*options*/) override {
    vxJpegPicture picture;
    const int result = vxJpegDecodeFile(fileName, 1, false, &picture);
    if (result != 0) return result;
    *header = picture.block;
    *palette = vxBlockPalette(picture.block);
    *bits = vxBlockBits(picture.block);
    if (byteCount) *byteCount = static_cast<int>(std::min<long long>(picture.fileSize, INT_MAX));
    return 0;
  }

  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override {
    int quality = vxDefaultJpegQuality;
    if (options) quality = std::clamp(static_cast<vxSaveOptions*>(options)->quality, 1, 100);
    return vxJpegEncodeFile(fileName, header, palette, bits, quality);
  }

  // Width and height of the upright picture, 8 bits for grey files and 24
  // for colour ones, and the file's length, from the header alone.
  int GetFileInfo(const char* fileName, vxFileInfo* info) override {
    vxJpegPicture picture;
    const int result = vxJpegDecodeFile(fileName, 1, true, &picture);
    if (result != 0) return result;
    info->width = static_cast<uint16_t>(picture.width);
    info->height = static_cast<uint16_t>(picture.height);
    info->bitsPerPixel = picture.grey ? 8 : 24;
    info->fileSize = static_cast<uint32_t>(picture.fileSize);
    return 0;
  }

  void* OutOptions() override { return vxRunOptionsDialog(TypeJPEG); }
};

}  // namespace

vxRWImage* vxCreateJPEG() { return new (std::nothrow) vxJPEG; }
