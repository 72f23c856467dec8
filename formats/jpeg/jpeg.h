// JPEG files through the JPEG library (libjpeg API).
//
// The format class itself is made by vxCreateJPEG (formats/registry.h). Here
// are the parts other code calls directly.
#pragma once

#include "engine/image.h"

// Decodes a JPEG file at 1/denominator of its size (denominator 1, 2, 4 or 8,
// by the library's DCT scaling, which costs far less time and memory than a
// full decode) into a new image block with the layout of vxImage: 8-bit grey
// with the grey ramp, or 24-bit. The picture is turned upright by its EXIF
// orientation. The block's palette and pixels are vxBlockPalette(*header) and
// vxBlockBits(*header); release it with vxFreeBlock. The full upright size
// goes to *fullWidth and *fullHeight when they are not null.
// Returns 0; -1 when the file cannot be opened; -2 when it is not a JPEG
// file, is corrupt, or the denominator is not 1, 2, 4 or 8; -3 when the block
// cannot be allocated. On failure nothing is written through the pointers.
int vxReadJpegScaled(const char* fileName, int denominator, vxBitmapInfoHeader** header,
                     int* fullWidth = nullptr, int* fullHeight = nullptr);
