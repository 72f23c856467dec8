// Reduction of a 24-bit picture to an 8-bit palette picture.
#pragma once

#include "engine/image.h"
#include "engine/quantizer_detail.h"

// The result block of a quantization: an image block (header, palette, rows)
// for an 8-bit picture. The caller owns it and frees it with vxFreeBlock.
using vxBMINFO = vxBitmapInfoHeader;

class vxQuantizer {
 public:
  vxQuantizer();
  ~vxQuantizer();
  vxQuantizer(const vxQuantizer&) = delete;
  vxQuantizer& operator=(const vxQuantizer&) = delete;

  // Quantizes the rows of a 24-bit image (layout of vxImage) to at most
  // `colours` colours (0 or less means 256) by `method`. Returns the new
  // block, or null when memory is short.
  vxBMINFO* Quantize(const unsigned char* bits, long width, long height, long colours,
                     vxColorReduction method);

 private:
  // Each method fills the palette and rows of `out`, an 8-bit block of the
  // input's size made by Quantize. They may throw std::bad_alloc, which
  // Quantize turns into a null result.
  void MedianCut(const unsigned char* bits, long width, long height, int colours, vxBMINFO* out);
  void BestQuantization(const unsigned char* bits, long width, long height, int colours,
                        vxBMINFO* out);
  void FastQuantization(const unsigned char* bits, long width, long height, vxBMINFO* out);

  vxDiffusionTables diffusion_;
};
