// Decoding and encoding steps shared by the JPEG class and vxReadJpegScaled.
#pragma once

#include "engine/image.h"

struct vxJpegPicture {
  vxBitmapInfoHeader* block = nullptr;  // the upright picture; null for a header-only call
  int width = 0;                        // full size of the upright picture
  int height = 0;
  bool grey = false;
  long long fileSize = 0;
};

// Reads the file's header (headerOnly) or decodes it at 1/denominator of its
// size and turns it upright by its EXIF orientation. Returns 0, -1 (cannot
// open), -2 (not a JPEG file, corrupt, or refused), -3 (no memory). The
// library's fatal message is posted as a notice and left as the last error.
int vxJpegDecodeFile(const char* fileName, int denominator, bool headerOnly,
                     vxJpegPicture* picture);

// Writes an 8-bit (or 1/4-bit palette) or 24-bit image at quality 1..100.
// Returns 0, or -1 when the file cannot be created or anything failed.
int vxJpegEncodeFile(const char* fileName, const vxBitmapInfoHeader* header, const vxRGBA* palette,
                     const unsigned char* bits, int quality);
