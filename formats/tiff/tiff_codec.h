// Reading and writing TIFF files through libtiff, for the TIFF class.
#pragma once

#include "engine/image.h"

// Reads the first page of a TIFF file into a new upright block (8-bit grey or
// palette, or 24-bit). Returns 0, -1 (cannot open), -2 (libtiff cannot read
// it, or no picture data), -3 (too large or no memory).
int vxTiffReadFile(const char* fileName, vxBitmapInfoHeader** block, long long* fileSize);

// Width and height of the upright picture, bits per sample times samples per
// pixel, and the file's length. Returns 0, -1 (cannot open), -2.
int vxTiffFileInfo(const char* fileName, vxFileInfo* info);

// Writes an uncompressed TIFF file: 8-bit as grey (min-is-black) or palette,
// 24-bit as RGB. Returns 0, or -1 when the file cannot be created or any
// write, flush or close failed.
int vxTiffWriteFile(const char* fileName, const vxBitmapInfoHeader* header, const vxRGBA* palette,
                    const unsigned char* bits);
