#include "formats/registry.h"

namespace {

struct Registration {
  int type;
  vxRWImage* (*create)();
};

constexpr Registration kFormats[] = {
    {TypeWIF, vxCreateWIF},   {TypeBMP, vxCreateBMP},   {TypePCX, vxCreatePCX},
    {TypePPM, vxCreatePPM},   {TypePGM, vxCreatePGM},   {TypeTIFF, vxCreateTIFF},
    {TypeTGA, vxCreateTGA},   {TypeGIF, vxCreateGIF},   {TypeJPEG, vxCreateJPEG},
};

}  // namespace

vxRWImage* vxImage::CreateRWImage(int type) {
  for (const Registration& r : kFormats) {
    if (r.type == type) return r.create();
  }
  return nullptr;
}
