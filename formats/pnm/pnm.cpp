// PGM (P5) and PPM (P6) readers and writers.
#include "formats/pnm/pnm.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/notice.h"
#include "engine/threads.h"
#include "formats/registry.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A picture whose pixel area is at most this size is allocated even when the
// file is too short to fill it (a cut-off download still shows its top).
// Larger pictures must be backed by the file's sample bytes.
constexpr uint64_t kAlwaysAllowedBytes = uint64_t{4} << 20;

// Sample data from this size on is read on two threads when the process may
// use them.
constexpr uint64_t kSplitReadBytes = uint64_t{16} << 20;

// One header number: skips anything that is not a digit ("#" comments up to
// the end of their line), then reads digits. The first byte after the digits
// is pushed back. -1 when the stream ends first or the value exceeds INT_MAX.
int ReadPNMNumber(FILE* stream) {
  int c = std::fgetc(stream);
  while (c != EOF && (c < '0' || c > '9')) {
    if (c == '#') {
      while (c != EOF && c != '\n') c = std::fgetc(stream);
      if (c == EOF) return -1;
    }
    c = std::fgetc(stream);
  }
  if (c == EOF) return -1;
  int64_t value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return -1;
    c = std::fgetc(stream);
  }
  if (c != EOF) std::ungetc(c, stream);
  return static_cast<int>(value);
}

int32_t SaturatedCount(uint64_t n) {
  return n > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

// v scaled from 0..maxValue to 0..255, rounded; samples above the maximum
// (which no valid file holds) give 255.
uint8_t ScaleSample(uint32_t v, uint32_t maxValue) {
  if (v >= maxValue) return 255;
  return static_cast<uint8_t>((v * 255 + maxValue / 2) / maxValue);
}

// The grey level written for palette index `index` of an image with
// `colours` entries: the index itself for the identity ramp, otherwise the
// entry's red component (black beyond the palette).
struct GreyLevels {
  uint8_t level[256];
  GreyLevels(const vxRGBA* palette, uint32_t colours) {
    bool ramp = colours == 256;
    for (uint32_t i = 0; ramp && i < 256; ++i) {
      ramp = palette[i].red == i && palette[i].green == i && palette[i].blue == i;
    }
    for (int i = 0; i < 256; ++i) {
      if (ramp) {
        level[i] = static_cast<uint8_t>(i);
      } else {
        level[i] = static_cast<uint32_t>(i) < colours ? palette[i].red : 0;
      }
    }
  }
};

// The palette index of pixel x of a 1-, 4- or 8-bit memory row.
inline unsigned IndexAt(const unsigned char* row, int bitCount, int x) {
  if (bitCount == 4) return (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
  return row[x];
}

bool WritableHeader(const vxBitmapInfoHeader* header, const unsigned char* bits) {
  if (!header || !bits || header->width <= 0 || header->height <= 0) return false;
  const int b = header->bitCount;
  return b == 1 || b == 4 || b == 8 || b == 24;
}

class vxPNMImage : public vxRWImage {
 public:
  int GetFileInfo(const char* fileName, vxFileInfo* info) override;

 protected:
  // Reads a P5 (channels 1) or P6 (channels 3) file.
  int ReadMap(const char* fileName, int channels, int* byteCount, vxBitmapInfoHeader** header,
              vxRGBA** palette, unsigned char** bits);
  // Writes the header and height rows produced by `makeRow` (top line first).
  template <typename MakeRow>
  int WriteMap(const char* fileName, char magicDigit, const vxBitmapInfoHeader* header,
               size_t rowBytes, MakeRow makeRow);
};

class vxPGMImage final : public vxPNMImage {
 public:
  vxPGMImage() { SetIdentity(TypePGM, 3, "PGM", "Portable Gray Map"); }
  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override {
    return ReadMap(fileName, 1, byteCount, header, palette, bits);
  }
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override;
};

class vxPPMImage final : public vxPNMImage {
 public:
  vxPPMImage() { SetIdentity(TypePPM, 3, "PPM", "Portable Pixel Map"); }
  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override {
    return ReadMap(fileName, 3, byteCount, header, palette, bits);
  }
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override;
};

int vxPNMImage::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) return vxCannotOpen;
  char magic[2];
  int width, height, maxValue;
  if (ReadPNMHeader(f.get(), magic, &width, &height, &maxValue) != 0 || width <= 0 || height <= 0 ||
      maxValue <= 0 || maxValue > 65535) {
    return vxNotRecognised;
  }
  const long long length = vxStreamLength(f.get());
  info->width = static_cast<uint16_t>(width);
  info->height = static_cast<uint16_t>(height);
  info->bitsPerPixel = magic[0] == 'P' && magic[1] == '6' ? 24 : 8;
  info->fileSize = length < 0 ? 0 : static_cast<uint32_t>(length);
  return vxOK;
}

int vxPNMImage::ReadMap(const char* fileName, int channels, int* byteCount,
                        vxBitmapInfoHeader** header, vxRGBA** palette, unsigned char** bits) {
  // Reads of a megabyte (a buffer set before any reading, and declared before
  // the stream so that it outlives it): a large picture's rows one read each
  // cost as much in system calls as the copying.
  constexpr size_t kReadBuffer = size_t{1} << 20;
  std::unique_ptr<char[]> readBuffer(new (std::nothrow) char[kReadBuffer]);
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  if (readBuffer) std::setvbuf(f.get(), readBuffer.get(), _IOFBF, kReadBuffer);
  char magic[2];
  int width, height, maxValue;
  if (ReadPNMHeader(f.get(), magic, &width, &height, &maxValue) != 0) {
    vxSetLastError("the portable-map header is cut short or malformed");
    return vxNotRecognised;
  }
  if (magic[0] != 'P' || magic[1] != (channels == 3 ? '6' : '5')) {
    vxSetLastError(channels == 3 ? "not a binary PPM (P6) file" : "not a binary PGM (P5) file");
    return vxNotRecognised;
  }
  if (width <= 0 || height <= 0) {
    vxSetLastError("the picture has no pixels (width or height 0)");
    return vxNotRecognised;
  }
  if (maxValue <= 0 || maxValue > 65535) {
    vxSetLastError("maximum sample value " + std::to_string(maxValue) + " is outside 1 to 65535");
    return vxNotRecognised;
  }
  const uint32_t maxv = static_cast<uint32_t>(maxValue);
  const int sampleBytes = maxValue > 255 ? 2 : 1;
  const uint64_t pixelBytes = static_cast<uint64_t>(channels) * sampleBytes;
  const uint64_t rowBytes = static_cast<uint64_t>(width) * pixelBytes;
  const uint64_t dataBytes = rowBytes * static_cast<uint64_t>(height);

  const long start = std::ftell(f.get());
  const long long length = vxStreamLength(f.get());
  const uint64_t available =
      (start >= 0 && length > start) ? static_cast<uint64_t>(length - start) : 0;
  const uint64_t area = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                        static_cast<uint64_t>(channels);
  if (dataBytes > available && area > kAlwaysAllowedBytes) {
    vxSetLastError("the file holds " + std::to_string(available) + " of the " +
                   std::to_string(dataBytes) + " sample bytes its header announces");
    return vxNotRecognised;
  }

  vxBitmapInfoHeader* block =
      vxAllocateBlock(width, height, channels == 3 ? 24 : 8, channels == 3 ? 0 : 256);
  if (!block) return vxNoMemory;
  vxRGBA* pal = vxBlockPalette(block);
  unsigned char* pixels = vxBlockBits(block);

  // Eight-bit grey samples stay palette indices, with the palette scaled to
  // the maximum; two-byte samples are scaled to grey levels on a ramp.
  if (channels == 1) {
    if (sampleBytes == 1) {
      for (int i = 0; i < 256; ++i) {
        const uint8_t v = ScaleSample(static_cast<uint32_t>(i), maxv);
        pal[i] = vxRGBA{v, v, v, 0};
      }
    } else {
      vxSetGreyRamp(pal, 256);
    }
  }
  uint8_t lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = ScaleSample(static_cast<uint32_t>(i), maxv);

  const size_t stride = vxRowStride(width, channels == 3 ? 24 : 8);
  const size_t rowSize = static_cast<size_t>(rowBytes);
  // Stores the `got` bytes read of file row `line` (top line first); false
  // when the row is cut short, the rest of the picture then staying black.
  auto storeRow = [&](const uint8_t* row, size_t got, int line) {
    const size_t complete = got / pixelBytes;
    unsigned char* out = pixels + stride * static_cast<size_t>(height - 1 - line);
    // Byte samples, the common case, take a plain copy or a swap of red and
    // blue through the scaling table, without the per-sample choices below.
    if (sampleBytes == 1) {
      const uint8_t* in = row;
      if (channels == 1) {
        std::memcpy(out, in, complete);
      } else if (maxv == 255) {
        vxSwapRedBlue(in, out, complete);
      } else {
        for (size_t x = 0; x < complete; ++x, in += 3, out += 3) {
          out[0] = lut[in[2]];
          out[1] = lut[in[1]];
          out[2] = lut[in[0]];
        }
      }
      return got == rowSize;
    }
    for (size_t x = 0; x < complete; ++x) {
      const uint8_t* in = row + x * pixelBytes;
      uint8_t v[3];
      for (int c = 0; c < channels; ++c) {
        if (sampleBytes == 2) {
          const uint32_t s = (uint32_t{in[2 * c]} << 8) | in[2 * c + 1];
          v[c] = ScaleSample(s, maxv);
        } else {
          v[c] = channels == 1 ? in[c] : lut[in[c]];
        }
      }
      if (channels == 1) {
        out[x] = v[0];
      } else {
        out[3 * x + 0] = v[2];
        out[3 * x + 1] = v[1];
        out[3 * x + 2] = v[0];
      }
    }
    return got == rowSize;
  };
  // Whole rows are read a couple of megabytes at a time into one buffer (a
  // read that large goes past the stream's own buffer, one copy fewer) by
  // `readBytes(buffer, bytes, line)`, which gives the bytes it read. False
  // when the buffer cannot be had.
  const size_t rowsPerRead =
      std::min<size_t>(std::max<size_t>(1, (size_t{2} << 20) / rowSize), static_cast<size_t>(height));
  auto readRows = [&](int first, int last, auto&& readBytes) {
    const size_t capacity = rowSize * std::min<size_t>(rowsPerRead, static_cast<size_t>(last - first));
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[capacity]);
    if (!rows) return false;
    size_t filled = 0;  // bytes the last read gave
    size_t used = 0;    // of them, taken by rows so far
    for (int line = first; line < last; ++line) {
      if (used == filled) {
        const size_t want = rowSize * std::min<size_t>(rowsPerRead, static_cast<size_t>(last - line));
        filled = readBytes(rows.get(), want, line);
        used = 0;
      }
      const size_t got = std::min(rowSize, filled - used);
      if (!storeRow(rows.get() + used, got, line)) break;
      used += got;
    }
    return true;
  };
  // A large picture in a regular file is read by two threads at once, each
  // taking half of the rows from its own place in the file: copying out of
  // the system's cache and the first touch of the picture's pages are most
  // of the time of loading it. A file cut short leaves the same rows black
  // either way.
  const int fd = fileno(f.get());
  struct stat st;
  const bool split = start >= 0 && dataBytes >= kSplitReadBytes && height >= 2 &&
                     vxWorkerThreads() >= 2 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool read = false;
  if (split) {
    auto readAt = [&](uint8_t* buffer, size_t bytes, int line) {
      off_t at = static_cast<off_t>(start) + static_cast<off_t>(line) * static_cast<off_t>(rowSize);
      size_t got = 0;
      while (got < bytes) {
        const ssize_t n = pread(fd, buffer + got, bytes - got, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
        at += n;
      }
      return got;
    };
    const int half = height / 2;
    bool lowerRead = false;
    std::thread lower;
    try {
      lower = std::thread([&] { lowerRead = readRows(half, height, readAt); });
    } catch (const std::system_error&) {
      lowerRead = readRows(half, height, readAt);  // no thread to be had: one after the other
    }
    read = readRows(0, half, readAt);
    if (lower.joinable()) lower.join();
    read = read && lowerRead;
  } else {
    read = readRows(0, height, [&](uint8_t* buffer, size_t bytes, int) {
      return std::fread(buffer, 1, bytes, f.get());
    });
  }
  if (!read) {
    vxFreeBlock(block);
    return vxNoMemory;
  }

  const uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  *byteCount = channels == 3 ? SaturatedCount(14 + 3 * samples * sampleBytes)
                             : SaturatedCount(samples * sampleBytes);
  *header = block;
  *palette = pal;
  *bits = pixels;
  return vxOK;
}

template <typename MakeRow>
int vxPNMImage::WriteMap(const char* fileName, char magicDigit, const vxBitmapInfoHeader* header,
                         size_t rowBytes, MakeRow makeRow) {
  FILE* f = vxOpenWritten(fileName);
  if (!f) {
    vxSetLastError("cannot create the file");
    return vxCannotOpen;
  }
  const std::string head = vxPortableMapHeader(magicDigit, header->width, header->height);
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  // Rows are gathered into writes of about a megabyte: a large picture's
  // rows one write each cost as much in system calls as making them.
  const size_t perWrite = std::max<size_t>(1, (size_t{1} << 20) / std::max<size_t>(rowBytes, 1));
  std::vector<uint8_t> rows(rowBytes * std::min<size_t>(perWrite, static_cast<size_t>(header->height)));
  size_t filled = 0;
  for (int y = header->height - 1; ok && y >= 0; --y) {
    makeRow(y, rows.data() + filled);
    filled += rowBytes;
    if (filled == rows.size() || y == 0) {
      ok = std::fwrite(rows.data(), 1, filled, f) == filled;
      filled = 0;
    }
  }
  const int closed = vxCloseWritten(f);
  return ok && closed == 0 ? vxOK : vxCannotOpen;
}

int vxPGMImage::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                      unsigned char* bits, void*) {
  if (!WritableHeader(header, bits)) {
    vxSetLastError("PGM cannot store this image");
    return vxCannotOpen;
  }
  const int bitCount = header->bitCount;
  const int width = header->width;
  const size_t stride = vxRowStride(width, bitCount);
  const GreyLevels grey(palette, bitCount == 24 ? 0 : std::min<uint32_t>(header->coloursUsed, 256));
  return WriteMap(fileName, '5', header, static_cast<size_t>(width), [&](int y, uint8_t* out) {
    const unsigned char* in = bits + stride * static_cast<size_t>(y);
    for (int x = 0; x < width; ++x) {
      if (bitCount == 24) {
        // The luminance used by the engine's grey conversions.
        const unsigned char* p = in + 3 * static_cast<size_t>(x);
        out[x] =
            static_cast<uint8_t>(static_cast<int>(0.299 * p[2]) + static_cast<int>(0.587 * p[1]) +
                                 static_cast<int>(0.114 * p[0]));
      } else {
        out[x] = grey.level[IndexAt(in, bitCount, x)];
      }
    }
  });
}

int vxPPMImage::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                      unsigned char* bits, void*) {
  if (!WritableHeader(header, bits)) {
    vxSetLastError("PPM cannot store this image");
    return vxCannotOpen;
  }
  const int bitCount = header->bitCount;
  const int width = header->width;
  const size_t stride = vxRowStride(width, bitCount);
  const uint32_t colours = bitCount == 24 ? 0 : std::min<uint32_t>(header->coloursUsed, 256);
  return WriteMap(fileName, '6', header, 3 * static_cast<size_t>(width), [&](int y, uint8_t* out) {
    const unsigned char* in = bits + stride * static_cast<size_t>(y);
    if (bitCount == 24) {
      vxSwapRedBlue(in, out, static_cast<size_t>(width));
      return;
    }
    for (int x = 0; x < width; ++x) {
      const unsigned index = IndexAt(in, bitCount, x);
      const vxRGBA e = index < colours ? palette[index] : vxRGBA{0, 0, 0, 0};
      out[3 * x + 0] = e.red;
      out[3 * x + 1] = e.green;
      out[3 * x + 2] = e.blue;
    }
  });
}

}  // namespace

std::string vxPortableMapHeader(char magicDigit, int width, int height) {
  return std::string("P") + magicDigit + " " + std::to_string(width) + " " +
         std::to_string(height) + " 255\n";
}

bool vxMapPortableMap(const char* fileName, vxPortableMapView& view) {
  // The header is read and checked first, by the reader's own code, so that
  // a file of another kind is never mapped (mapping reads the whole file).
  FilePtr stream(std::fopen(fileName, "rb"));
  if (!stream) return false;
  const int m0 = std::fgetc(stream.get());
  const int m1 = std::fgetc(stream.get());
  if (m0 != 'P' || (m1 != '5' && m1 != '6')) return false;
  std::rewind(stream.get());
  char magic[2];
  int width, height, maxValue;
  if (ReadPNMHeader(stream.get(), magic, &width, &height, &maxValue) != 0) return false;
  const long start = std::ftell(stream.get());
  const int channels = magic[1] == '6' ? 3 : 1;
  if (start < 0 || width <= 0 || height <= 0 || maxValue <= 0 || maxValue > 255 ||
      (channels == 3 && maxValue != 255)) {
    return false;
  }
  const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * channels;
  const long long length = vxStreamLength(stream.get());
  if (length < start || bytes > static_cast<uint64_t>(length - start)) return false;
  stream.reset();
  // The file may have changed since: its size is checked again on the mapping.
  vxMappedFile& file = view.file;
  if (!file.Open(fileName) || file.size() < static_cast<uint64_t>(start) + bytes) return false;
  view.samples = file.data() + start;
  view.width = width;
  view.height = height;
  view.channels = channels;
  view.greyLevels = nullptr;
  if (channels == 1 && maxValue != 255) {
    for (int i = 0; i < 256; ++i) {
      view.scale[i] = ScaleSample(static_cast<uint32_t>(i), static_cast<uint32_t>(maxValue));
    }
    view.greyLevels = view.scale;
  }
  return true;
}

int ReadPNMHeader(FILE* stream, char* magic, int* width, int* height, int* maxValue) {
  const int m0 = std::fgetc(stream);
  const int m1 = std::fgetc(stream);
  if (m1 == EOF) return -1;
  const int w = ReadPNMNumber(stream);
  if (w < 0) return -1;
  const int h = ReadPNMNumber(stream);
  if (h < 0) return -1;
  const int m = ReadPNMNumber(stream);
  if (m < 0) return -1;
  // Exactly one byte separates the maximum from the samples, whatever it is;
  // the samples begin right after it.
  if (std::fgetc(stream) == EOF) return -1;
  magic[0] = static_cast<char>(m0);
  magic[1] = static_cast<char>(m1);
  *width = w;
  *height = h;
  *maxValue = m;
  return 0;
}

vxRWImage* vxCreatePPM() { return new vxPPMImage; }
vxRWImage* vxCreatePGM() { return new vxPGMImage; }
