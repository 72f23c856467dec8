// Windows and OS/2 bitmaps: the reader/writer class and the layout of a file
// as the reader sees it.
//
// A bitmap file is a 14-byte file header ("BM", file size, two reserved
// words, offset of the pixel data), an information header whose first field
// is its own size, an optional set of bit-field masks, an optional colour
// table and the pixel rows, bottom row first unless the height is negative.
//
//   header size   form                        colour-table entry
//   12            OS/2 1.x core header        3 bytes (blue, green, red)
//   16 .. 64      OS/2 2.x, possibly cut      4 bytes
//   40            Windows 3 (masks follow it  4 bytes (blue, green, red, 0)
//                 for compression 3 and 6)
//   52, 56        with RGB / RGBA masks       4 bytes
//   108, 124      V4 and V5                   4 bytes
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/rwimage.h"

namespace bmp {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kOs2v2HeaderSize = 64;
constexpr uint32_t kLargestHeaderSize = 124;

enum Compression : uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitFields = 3,
  kAlphaBitFields = 6,
};

// Everything the reader needs to know about a file before it decodes pixels.
struct Layout {
  long long fileLength = 0;
  uint32_t headerSize = 0;
  bool core = false;  // 12-byte OS/2 1.x header
  int64_t width = 0;
  int64_t height = 0;    // always positive here
  bool topDown = false;  // the file's height was negative
  int bitCount = 0;
  uint32_t compression = kRgb;
  uint32_t imageSize = 0;
  int32_t xPelsPerMeter = 1;
  int32_t yPelsPerMeter = 1;
  uint32_t coloursUsed = 0;
  uint32_t coloursImportant = 0;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue of 16- and 32-bit pixels
  uint64_t tableStart = 0;        // file offset of the colour table
  uint64_t tableEntries = 0;      // entries in the file's table
  int entrySize = 4;
  uint32_t paletteEntries = 0;  // entries kept in the image (palette depths)
  uint64_t dataStart = 0;       // file offset of the pixel data
};

}  // namespace bmp

class vxBMP : public vxRWImage {
 public:
  vxBMP();
  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override;
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override;
  int GetFileInfo(const char* fileName, vxFileInfo* info) override;

 private:
  // Reads the file and information headers and works out where the table and
  // the pixels are. 0, or -2 with the reason left by vxSetLastError. With
  // `headersOnly`, stops after the dimensions and the bit count.
  int ReadLayout(FILE* stream, bmp::Layout& layout, bool headersOnly);
};
