// Placeholders for the colour, geometry and tone operations until they land.
#include "engine/image.h"

int vxImage::Make24Bit() { return -8; }
int vxImage::MakeGrayScale() { return -1; }
int vxImage::MakeLinearGray() { return -8; }
int vxImage::Make8Bit() { return -1; }
int vxImage::Create8bitColor(int, vxColorReduction) { return 1; }
int vxImage::SwapRB() { return -1; }
int vxImage::IsGrayScale() const {
  if (!header || header->bitCount == 24) return 0;
  for (uint32_t i = 0; i < header->coloursUsed; ++i) {
    if (palette[i].red != palette[i].green || palette[i].red != palette[i].blue) return 0;
  }
  return 1;
}
int vxImage::IsColorMapSorted() const { return header && header->bitCount != 24 ? 1 : 0; }
int vxImage::ApplyColorMap() { return 1; }
int vxImage::InvertColor() { return -2; }
int vxImage::ZoomImage(int, int) { return 0; }
int vxImage::Rotate(int) { return -1; }
int vxImage::Flip(int) { return -2; }
int vxImage::Brightness(const vxRGBA*, int) { return 0; }
int vxImage::Contrast(const vxRGBA*, int) { return 1; }
int vxImage::Filter(int) { return 1; }

#include "engine/quantizer.h"
vxQuantizer::vxQuantizer() = default;
vxQuantizer::~vxQuantizer() = default;
vxBMINFO* vxQuantizer::Quantize(const unsigned char*, long, long, long, vxColorReduction) { return nullptr; }
