// Turning a decoded picture upright by its Orientation value.
//
// TIFF's Orientation tag (274), which EXIF reuses for camera pictures, says
// where the first stored row and the first stored column belong when the
// picture is shown:
//
//   value  stored row 0     stored column 0
//     1    top              left      (as stored)
//     2    top              right     (mirrored left to right)
//     3    bottom           right     (turned half a turn)
//     4    bottom           left      (mirrored top to bottom)
//     5    left side        top       (transposed)
//     6    right side       top       (turned a quarter clockwise to show)
//     7    right side       bottom    (transverse)
//     8    left side        bottom    (turned a quarter anticlockwise to show)
//
// Readers decode the stored rows first-row-at-the-top and then call
// vxOrientBlock, so every format shares one set of rules.
#pragma once

#include "engine/image.h"

// True for the values whose upright picture has width and height swapped.
inline bool vxOrientationSwapsSides(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// Rearranges the pixels of an 8- or 24-bit block (made by vxAllocateBlock)
// whose top line holds stored row 0, so that the picture stands upright.
// Values 2 to 4 work in place; 5 to 8 build a block with width and height
// swapped (palette copied), free the old one and store the new one in
// *block. Values outside 2..8 leave the block as it is. Returns 0, or -3 when
// the new block cannot be allocated; the old block is then kept unchanged.
int vxOrientBlock(vxBitmapInfoHeader** block, int orientation);
