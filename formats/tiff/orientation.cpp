#include "formats/tiff/orientation.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// Reverses the order of the pixels of every row.
void MirrorRows(unsigned char* bits, size_t stride, int width, int height, int pixelBytes) {
  for (int y = 0; y < height; ++y) {
    unsigned char* left = bits + stride * static_cast<size_t>(y);
    unsigned char* right = left + static_cast<size_t>(width - 1) * pixelBytes;
    while (left < right) {
      for (int b = 0; b < pixelBytes; ++b) std::swap(left[b], right[b]);
      left += pixelBytes;
      right -= pixelBytes;
    }
  }
}

// Swaps the rows top to bottom.
void MirrorColumns(unsigned char* bits, size_t stride, int height) {
  for (int low = 0, high = height - 1; low < high; ++low, --high) {
    unsigned char* a = bits + stride * static_cast<size_t>(low);
    unsigned char* b = bits + stride * static_cast<size_t>(high);
    std::swap_ranges(a, a + stride, b);
  }
}

// Writes the transposed picture, with rows and/or columns reversed, into
// `out` (height pixels wide, width lines high). Works in tiles so that both
// the reads and the writes stay in the cache.
template <int kPixelBytes>
void Transpose(const unsigned char* bits, size_t stride, int width, int height, unsigned char* out,
               size_t outStride, bool reverseRows, bool reverseColumns) {
  constexpr int kTile = 64;
  const int outWidth = height;
  const int outHeight = width;
  for (int y0 = 0; y0 < outHeight; y0 += kTile) {
    const int y1 = std::min(y0 + kTile, outHeight);
    for (int x0 = 0; x0 < outWidth; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, outWidth);
      for (int y = y0; y < y1; ++y) {
        // Along an upright line the stored row changes by one each pixel:
        // the source walks one stride per step, up or down the block.
        const int storedColumn = reverseColumns ? width - 1 - y : y;
        const int firstRow = reverseRows ? height - 1 - x0 : x0;
        const unsigned char* in = bits + stride * static_cast<size_t>(height - 1 - firstRow) +
                                  static_cast<size_t>(storedColumn) * kPixelBytes;
        const ptrdiff_t step =
            reverseRows ? static_cast<ptrdiff_t>(stride) : -static_cast<ptrdiff_t>(stride);
        unsigned char* to = out + outStride * static_cast<size_t>(outHeight - 1 - y) +
                            static_cast<size_t>(x0) * kPixelBytes;
        for (int i = 0; i < x1 - x0; ++i) {
          const unsigned char* from = in + step * i;
          for (int b = 0; b < kPixelBytes; ++b) to[kPixelBytes * i + b] = from[b];
        }
      }
    }
  }
}

}  // namespace

int vxOrientBlock(vxBitmapInfoHeader** block, int orientation) {
  vxBitmapInfoHeader* source = *block;
  if (!source || orientation < 2 || orientation > 8) return 0;
  const int pixelBytes = source->bitCount == 24 ? 3 : 1;
  const int width = source->width;
  const int height = source->height;
  const size_t stride = vxRowStride(width, source->bitCount);
  unsigned char* bits = vxBlockBits(source);

  if (orientation <= 4) {
    if (orientation == 2 || orientation == 3) MirrorRows(bits, stride, width, height, pixelBytes);
    if (orientation == 3 || orientation == 4) MirrorColumns(bits, stride, height);
    return 0;
  }

  vxBitmapInfoHeader* target =
      vxAllocateBlock(height, width, source->bitCount, static_cast<int>(source->coloursUsed));
  if (!target) return -3;
  std::memcpy(vxBlockPalette(target), vxBlockPalette(source), sizeof(vxRGBA) * source->coloursUsed);
  unsigned char* out = vxBlockBits(target);
  const size_t outStride = vxRowStride(height, source->bitCount);

  // Upright pixel (line y, column x), counted from the top left, comes from
  // stored row x (or height-1-x) and stored column y (or width-1-y).
  const bool reverseRows = orientation == 6 || orientation == 7;
  const bool reverseColumns = orientation == 7 || orientation == 8;
  if (pixelBytes == 3) {
    Transpose<3>(bits, stride, width, height, out, outStride, reverseRows, reverseColumns);
  } else {
    Transpose<1>(bits, stride, width, height, out, outStride, reverseRows, reverseColumns);
  }
  vxFreeBlock(source);
  *block = target;
  return 0;
}
