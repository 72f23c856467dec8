// Quarter turns, mirroring and resampling.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/image.h"

namespace {

bool IsPixelImage(const vxImage& image) {
  return !image.IsEmpty() && (image.BitCount() == 8 || image.BitCount() == 24);
}

// Copies the turned picture into `out` (h pixels wide, w rows), working in
// square tiles so that both the rows read and the rows written stay in cache.
// Clockwise, old pixel (x, y) lands on (y, w - 1 - x); counter-clockwise on
// (h - 1 - y, x).
template <int kBytes, bool kClockwise>
void TurnQuarter(const vxImage& image, unsigned char* out, size_t outStride) {
  constexpr int kTile = 32;
  const int w = image.Width(), h = image.Height();
  const size_t inStride = image.Stride();
  for (int ny0 = 0; ny0 < w; ny0 += kTile) {
    const int ny1 = std::min(ny0 + kTile, w);
    for (int nx0 = 0; nx0 < h; nx0 += kTile) {
      const int nx1 = std::min(nx0 + kTile, h);
      for (int ny = ny0; ny < ny1; ++ny) {
        unsigned char* dst = out + outStride * static_cast<size_t>(ny);
        // The source column is fixed for one new row; the source row follows nx.
        const int sx = kClockwise ? w - 1 - ny : ny;
        for (int nx = nx0; nx < nx1; ++nx) {
          const int sy = kClockwise ? nx : h - 1 - nx;
          const unsigned char* src =
              image.bits + inStride * static_cast<size_t>(sy) + static_cast<size_t>(sx) * kBytes;
          unsigned char* d = dst + static_cast<size_t>(nx) * kBytes;
          for (int k = 0; k < kBytes; ++k) d[k] = src[k];
        }
      }
    }
  }
}

// Source coordinate of each new coordinate along one axis of a resample by
// scale s from `oldSize` to `newSize`, or -1 where the picture does not reach.
// Old coordinate i lands on trunc(i * s). At s <= 1 several may land on one
// place and the last copy wins: columns are copied left to right, so the
// largest i wins (`largestWins`), rows from the top memory row down, so the
// smallest. At s > 1 a new place between two landings repeats the one before
// it, so an enlarged picture has no holes.
std::vector<int> SourceMap(int oldSize, int newSize, double s, bool largestWins) {
  std::vector<int> map(static_cast<size_t>(newSize), -1);
  const auto land = [&](int i) {
    const double t = static_cast<double>(i) * s;
    return std::min(static_cast<int64_t>(t), static_cast<int64_t>(newSize) - 1);
  };
  if (s <= 1.0) {
    for (int i = 0; i < oldSize; ++i) {
      int& slot = map[static_cast<size_t>(land(i))];
      if (slot < 0 || largestWins) slot = i;
    }
    return map;
  }
  const double extent = static_cast<double>(oldSize) * s;
  int i = 0;
  for (int n = 0; n < newSize && static_cast<double>(n) < extent; ++n) {
    while (i + 1 < oldSize && land(i + 1) <= n) ++i;
    map[static_cast<size_t>(n)] = i;
  }
  return map;
}

}  // namespace

int vxImage::Rotate(int angle) {
  if (!IsPixelImage(*this)) return -1;
  if (angle != 90 && angle != -90) return -2;
  const int w = Width(), h = Height(), bitCount = BitCount();
  // The palette goes with the pixels: the indices keep their meaning.
  const int colours = bitCount == 8 ? ColoursUsed() : 0;
  vxBitmapInfoHeader* block = vxAllocateBlock(h, w, bitCount, colours);
  if (!block) return -3;
  if (colours > 0) std::memcpy(vxBlockPalette(block), palette, 4 * static_cast<size_t>(colours));
  unsigned char* out = vxBlockBits(block);
  const size_t outStride = vxRowStride(h, bitCount);
  if (bitCount == 8) {
    if (angle == 90) {
      TurnQuarter<1, true>(*this, out, outStride);
    } else {
      TurnQuarter<1, false>(*this, out, outStride);
    }
  } else if (angle == 90) {
    TurnQuarter<3, true>(*this, out, outStride);
  } else {
    TurnQuarter<3, false>(*this, out, outStride);
  }
  AdoptBlock(block);
  return 1;
}

int vxImage::Flip(int mode) {
  if (!IsPixelImage(*this)) return -2;
  const int w = Width(), h = Height();
  if (mode == 1) {
    for (int y = 0; y < h; ++y) {
      unsigned char* row = Row(y);
      if (BitCount() == 8) {
        std::reverse(row, row + w);
        continue;
      }
      for (int x = 0; x < w / 2; ++x) {
        unsigned char* a = row + 3 * static_cast<size_t>(x);
        unsigned char* b = row + 3 * static_cast<size_t>(w - 1 - x);
        std::swap_ranges(a, a + 3, b);
      }
    }
  } else if (mode == 0) {
    const size_t stride = Stride();
    for (int i = 0; i < h / 2; ++i) std::swap_ranges(Row(i), Row(i) + stride, Row(h - 1 - i));
  }
  return 0;
}

int vxImage::ZoomImage(int width, int height) {
  if (!IsPixelImage(*this) || width <= 0 || height <= 0) return 0;
  const int w = Width(), h = Height(), bitCount = BitCount();
  const int colours = bitCount == 8 ? ColoursUsed() : 0;
  // A fresh block is zero-filled: places the picture does not reach are
  // index 0 or black, never leftover memory.
  vxBitmapInfoHeader* block = vxAllocateBlock(width, height, bitCount, colours);
  if (!block) return 0;
  block->imageSize = header->imageSize;
  block->xPelsPerMeter = header->xPelsPerMeter;
  block->yPelsPerMeter = header->yPelsPerMeter;
  if (colours > 0) std::memcpy(vxBlockPalette(block), palette, 4 * static_cast<size_t>(colours));

  // One scale for both axes keeps the aspect ratio.
  const double sx = static_cast<double>(width) / w;
  const double sy = static_cast<double>(height) / h;
  const double s = static_cast<float>(std::min(sx, sy));
  std::vector<int> columns, rows;
  try {
    columns = SourceMap(w, width, s, true);
    rows = SourceMap(h, height, s, false);
  } catch (const std::bad_alloc&) {
    vxFreeBlock(block);
    return 0;
  }

  const int bytes = bitCount / 8;
  const size_t outStride = vxRowStride(width, bitCount);
  unsigned char* out = vxBlockBits(block);
  for (int ny = 0; ny < height; ++ny) {
    const int sy0 = rows[static_cast<size_t>(ny)];
    if (sy0 < 0) continue;
    const unsigned char* src = Row(sy0);
    unsigned char* dst = out + outStride * static_cast<size_t>(ny);
    for (int nx = 0; nx < width; ++nx) {
      const int sx0 = columns[static_cast<size_t>(nx)];
      if (sx0 < 0) continue;
      const unsigned char* p = src + static_cast<size_t>(sx0) * bytes;
      unsigned char* d = dst + static_cast<size_t>(nx) * bytes;
      for (int k = 0; k < bytes; ++k) d[k] = p[k];
    }
  }
  AdoptBlock(block);
  return 1;
}
