// Reduced decoding of WIF files, for showing a very large picture quickly.
//
// The coarse levels of the wavelet pyramid are a smaller copy of the picture:
// stopping the inverse transform `levels` levels early gives it at
// 1/2^levels of its size (each side rounded up) for a fraction of the time
// and memory of a full decode.
#pragma once

#include "engine/image.h"

// Decodes the WIF file at 1/2^levels of its size (levels 0 to 3; 0 is a full
// decode) into a new image block with the layout of vxImage: 8-bit grey with
// the grey ramp, or 24-bit. The block's palette and pixels are
// vxBlockPalette(*header) and vxBlockBits(*header); release it with
// vxFreeBlock. The full size goes to *fullWidth and *fullHeight when they are
// not null. Returns 0; -1 when the file cannot be opened; -2 when it is not a
// WIF file, is corrupt, or levels is out of range or beyond the file's own
// number of levels; -3 when the block cannot be allocated. On failure nothing
// is written through the pointers.
int vxReadWifReduced(const char* fileName, int levels, vxBitmapInfoHeader** header,
                     int* fullWidth = nullptr, int* fullHeight = nullptr);
