// Loads any picture the engine reads, compresses it to WIF at a quality and
// reports what it wrote: the engine used as a library by another program.
//   lunark_example INPUT OUTPUT.wif [QUALITY]
#include <cstdio>
#include <cstdlib>

#include "engine/image.h"
#include "engine/options.h"
#include "formats/output_depth.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT.wif [QUALITY]\n", argv[0]);
    return 2;
  }
  vxScopedImage image;
  if (image.LoadImage(argv[1]) != 0) {
    std::fprintf(stderr, "%s: cannot load\n", argv[1]);
    return 1;
  }
  vxConvertForOutput(image, TypeWIF);
  vxSaveOptions options;
  options.quality = argc > 3 ? std::atoi(argv[3]) : 50;
  if (image.SaveImage(argv[2], TypeWIF, &options) != 0) {
    std::fprintf(stderr, "%s: cannot save\n", argv[2]);
    return 1;
  }
  vxFileInfo info{};
  if (vxImage::GetInfo(argv[2], &info) != 0) return 1;
  std::printf("%s: %ux%u, %u bits, %u bytes\n", argv[2], info.width, info.height, info.bitsPerPixel,
              info.fileSize);
  return 0;
}
