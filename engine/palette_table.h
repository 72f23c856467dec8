// Palette lookups and block builders shared by the depth conversions and the
// filters.
#pragma once

#include "engine/image.h"

// The palette of an 8-bit image as a full table of 256 entries: entries at or
// beyond the image's colours used are black, so that any index is looked up
// safely however short the palette is.
struct vxPaletteTable {
  explicit vxPaletteTable(const vxImage& image);
  vxRGBA entry[256];
};

// Grey level of a colour: trunc(0.299 R) + trunc(0.587 G) + trunc(0.114 B),
// each product truncated on its own (at most 254).
int vxLuminance(int red, int green, int blue);

// New blocks made from an 8-bit image, which stays untouched; null when
// memory is short. vxExpandTo24Bit resolves every index through the palette;
// vxLinearGreyBlock gives a 256-entry grey ramp image whose indices are the
// red components of the old entries.
vxBitmapInfoHeader* vxExpandTo24Bit(const vxImage& image);
vxBitmapInfoHeader* vxLinearGreyBlock(const vxImage& image);
