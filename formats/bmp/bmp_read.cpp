// Reading a bitmap into an image block: 1-, 4- and 8-bit files become 8-bit
// palette images, 16-, 24- and 32-bit files become 24-bit images (alpha is
// dropped). Rows land bottom-up whatever the file's row order.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/notice.h"
#include "formats/bmp/bmp.h"

using namespace bmp;

namespace {

// A plain file that holds less than this fraction of the pixel bytes its
// header claims is taken as a header that lies, not as a truncated picture:
// otherwise a few hundred bytes could make the reader allocate a gigabyte.
constexpr uint64_t kMaxShortfall = 256;
// A run-length file can skip to the end of the picture in two bytes, so the
// same rule would refuse sound files; instead it may not stand for more than
// this many bytes of plain pixel rows per byte of coded data, beyond a
// picture of kRunLengthAlwaysAllowed bytes. (A run codes at most 255 pixels
// in 2 bytes and a delta skips at most 255 rows in 4.)
constexpr uint64_t kMaxRunLengthExpansion = 1024;
constexpr uint64_t kRunLengthAlwaysAllowed = uint64_t{4} << 20;

uint64_t SaturatingProduct(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
    return std::numeric_limits<uint64_t>::max();
  }
  return a * b;
}

// One colour component of a 16- or 32-bit pixel, widened to 8 bits by
// repeating its bits (a 5-bit 31 becomes 255, not 248).
class Channel {
 public:
  explicit Channel(uint32_t mask)
      : mask_(mask),
        shift_(mask ? std::countr_zero(mask) : 0),
        bits_(mask ? std::bit_width(mask >> shift_) : 0) {}

  uint8_t operator()(uint32_t pixel) const {
    if (bits_ == 0) return 0;
    const uint32_t v = (pixel & mask_) >> shift_;
    if (bits_ >= 8) return static_cast<uint8_t>(v >> (bits_ - 8));
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
      out = (out << bits_) | v;
      filled += bits_;
    }
    return static_cast<uint8_t>(out >> (filled - 8));
  }

 private:
  uint32_t mask_;
  int shift_;
  int bits_;
};

// Reads `rows` rows of `fileStride` bytes and hands each to `store` with its
// file row number. A short last row is completed with zeros; reading stops
// there. Returns the bytes read.
template <typename Store>
uint64_t ReadPlainRows(FILE* stream, int64_t rows, size_t fileStride, Store&& store) {
  std::vector<unsigned char> row(fileStride);
  uint64_t count = 0;
  for (int64_t r = 0; r < rows; ++r) {
    const size_t got = std::fread(row.data(), 1, fileStride, stream);
    count += got;
    if (got == 0) break;
    if (got < fileStride) std::memset(row.data() + got, 0, fileStride - got);
    store(r, row.data());
    if (got < fileStride) break;
  }
  return count;
}

// Run-length data (RLE8, or RLE4 with `nibbles`) into 8-bit rows, first file
// row into memory row 0. Writing goes on through the row padding into the
// next row when a run is longer than the row, but never past the last row;
// a delta or a row count beyond the picture ends decoding. Returns the bytes
// consumed, the pad bytes of absolute runs not counted.
uint64_t DecodeRunLength(FILE* stream, unsigned char* bits, size_t stride, int64_t height,
                         bool nibbles) {
  const uint64_t end = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  uint64_t position = 0;
  uint64_t count = 0;
  int64_t row = 0;
  uint64_t x = 0;
  auto put = [&](int value) {
    if (position < end) bits[position] = static_cast<unsigned char>(value);
    ++position;
  };
  while (row < height) {
    const int c = std::fgetc(stream);
    if (c == EOF) break;
    ++count;
    if (c > 0) {
      const int v = std::fgetc(stream);
      if (v == EOF) break;
      ++count;
      for (int i = 0; i < c; ++i) put(nibbles ? ((i & 1) ? v & 0x0F : v >> 4) : v);
      x += static_cast<uint64_t>(c);
      continue;
    }
    const int e = std::fgetc(stream);
    if (e == EOF) break;
    ++count;
    if (e == 0) {  // end of line
      ++row;
      x = 0;
      position = static_cast<uint64_t>(row) * stride;
    } else if (e == 1) {  // end of bitmap
      break;
    } else if (e == 2) {  // delta
      const int dx = std::fgetc(stream);
      const int dy = std::fgetc(stream);
      if (dx == EOF || dy == EOF) break;
      count += 2;
      x += static_cast<uint64_t>(dx);
      row += dy;
      position = static_cast<uint64_t>(row) * stride + x;
    } else {  // absolute run of e pixels, padded to 16 bits
      const int bytes = nibbles ? (e + 1) / 2 : e;
      bool cut = false;
      for (int i = 0; i < bytes; ++i) {
        const int v = std::fgetc(stream);
        if (v == EOF) {
          cut = true;
          break;
        }
        ++count;
        if (!nibbles) {
          put(v);
        } else {
          put(v >> 4);
          if (2 * i + 1 < e) put(v & 0x0F);
        }
      }
      if (cut) break;
      x += static_cast<uint64_t>(e);
      if (bytes & 1) std::fgetc(stream);
    }
  }
  return count;
}

void FlipRows(unsigned char* bits, size_t stride, int64_t height) {
  std::vector<unsigned char> spare(stride);
  for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    unsigned char* a = bits + static_cast<size_t>(top) * stride;
    unsigned char* b = bits + static_cast<size_t>(bottom) * stride;
    std::memcpy(spare.data(), a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, spare.data(), stride);
  }
}

}  // namespace

int vxBMP::Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
                unsigned char** bits, void* options) {
  FILE* stream = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!stream) return vxCannotOpen;
  Layout l;
  if (const int result = ReadLayout(stream, l, false); result != 0) {
    std::fclose(stream);
    return result;
  }
  const uint64_t available = static_cast<uint64_t>(l.fileLength) - l.dataStart;
  const bool runLength = l.compression == kRle8 || l.compression == kRle4;
  const uint64_t fileStride = (static_cast<uint64_t>(l.width) * l.bitCount + 31) / 32 * 4;
  const uint64_t needed = SaturatingProduct(fileStride, static_cast<uint64_t>(l.height));
  if (available == 0 || (!runLength && needed / kMaxShortfall > available) ||
      (runLength && needed > kRunLengthAlwaysAllowed &&
       needed / kMaxRunLengthExpansion > available)) {
    std::fclose(stream);
    vxSetLastError("the file holds " + std::to_string(available) +
                   " bytes of pixel data, far too few for " + std::to_string(l.width) + " x " +
                   std::to_string(l.height) + " pixels");
    return vxNotRecognised;
  }

  const int outBits = l.bitCount <= 8 ? 8 : 24;
  const int colours = outBits == 8 ? static_cast<int>(l.paletteEntries) : 0;
  vxBitmapInfoHeader* block = vxAllocateBlock(l.width, l.height, outBits, colours);
  if (!block) {
    std::fclose(stream);
    vxSetLastError("out of memory");
    return vxNoMemory;
  }
  if (!l.core) {
    block->imageSize = l.imageSize;
    block->xPelsPerMeter = l.xPelsPerMeter;
    block->yPelsPerMeter = l.yPelsPerMeter;
  }
  vxRGBA* pal = vxBlockPalette(block);
  unsigned char* pixels = vxBlockBits(block);

  // The table lies inside the file (checked with the layout).
  std::fseek(stream, static_cast<long>(l.tableStart), SEEK_SET);
  for (uint32_t i = 0; i < l.paletteEntries; ++i) {
    unsigned char e[4] = {};
    std::fread(e, 1, static_cast<size_t>(l.entrySize), stream);
    pal[i] = vxRGBA{e[0], e[1], e[2], 0};
  }

  std::fseek(stream, static_cast<long>(l.dataStart), SEEK_SET);
  const size_t stride = vxRowStride(l.width, outBits);
  const auto width = static_cast<size_t>(l.width);
  const int64_t height = l.height;
  auto rowOf = [&](int64_t fileRow) {
    const int64_t memoryRow = l.topDown ? height - 1 - fileRow : fileRow;
    return pixels + static_cast<size_t>(memoryRow) * stride;
  };
  uint64_t count = 0;
  if (runLength) {
    count = DecodeRunLength(stream, pixels, stride, height, l.compression == kRle4);
    if (l.topDown) FlipRows(pixels, stride, height);
  } else {
    switch (l.bitCount) {
      case 1:
        count = ReadPlainRows(stream, height, fileStride, [&](int64_t r, const unsigned char* in) {
          unsigned char* out = rowOf(r);
          for (size_t x = 0; x < width; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
        });
        break;
      case 4:
        count = ReadPlainRows(stream, height, fileStride, [&](int64_t r, const unsigned char* in) {
          unsigned char* out = rowOf(r);
          for (size_t x = 0; x < width; ++x) out[x] = (x & 1) ? in[x >> 1] & 0x0F : in[x >> 1] >> 4;
        });
        break;
      case 8:
      case 24:
        count = ReadPlainRows(stream, height, fileStride, [&](int64_t r, const unsigned char* in) {
          std::memcpy(rowOf(r), in, stride);
        });
        break;
      case 16:
      case 32: {
        const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]);
        const bool wide = l.bitCount == 32;
        count = ReadPlainRows(stream, height, fileStride, [&](int64_t r, const unsigned char* in) {
          unsigned char* out = rowOf(r);
          for (size_t x = 0; x < width; ++x) {
            const unsigned char* p = in + (wide ? 4 : 2) * x;
            uint32_t pixel = p[0] | (p[1] << 8);
            if (wide)
              pixel |= (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
            out[3 * x] = blue(pixel);
            out[3 * x + 1] = green(pixel);
            out[3 * x + 2] = red(pixel);
          }
        });
        break;
      }
    }
  }
  std::fclose(stream);

  *header = block;
  *palette = pal;
  *bits = pixels;
  if (byteCount) {
    const uint64_t consumed = l.dataStart + count;
    *byteCount = static_cast<int>(std::min<uint64_t>(consumed, std::numeric_limits<int>::max()));
  }
  return vxOK;
}
