// Targa reader (colour-mapped, true-colour and grey, plain or run-length
// encoded, with two- and four-way interleaved rows) and writer (uncompressed
// 24-bit true colour).
//
// Header, 18 bytes, little-endian:
//   0 ID length u8         1 colour-map type u8    2 image type u8
//   3 map first index u16  5 map length u16       7 map entry size u8 (bits)
//   8 X origin u16        10 Y origin u16         12 width u16   14 height u16
//  16 pixel size u8 (bits) 17 descriptor u8: bits 0-3 attribute bits, bit 5
//     first row is the top row, bits 6-7 interleave (0 none, 1 two-way,
//     2 four-way)
// then the ID field, the colour map and the pixels. Image types: 1 mapped,
// 2 true colour, 3 grey; 9, 10, 11 the same run-length encoded, where each
// packet starts with a byte i: bit 7 set repeats the next pixel i - 127
// times, clear gives i + 1 literal pixels. Packets may span rows.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/notice.h"
#include "formats/registry.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr size_t kHeaderSize = 18;
// Pictures whose pixel area is at most this size are allocated even when the
// file is too short to fill them; larger ones must be backed by the file.
constexpr uint64_t kAlwaysAllowedBytes = uint64_t{4} << 20;
// A repeat packet of two bytes gives up to 128 pixels.
constexpr uint64_t kMaxRlePixelsPerByte = 64;

struct TgaHeader {
  int idLength;
  int colourMapType;
  int imageType;
  int mapFirst;
  int mapLength;
  int mapEntrySize;
  int width;
  int height;
  int pixelSize;
  int descriptor;

  explicit TgaHeader(const unsigned char* b)
      : idLength(b[0]),
        colourMapType(b[1]),
        imageType(b[2]),
        mapFirst(b[3] | (b[4] << 8)),
        mapLength(b[5] | (b[6] << 8)),
        mapEntrySize(b[7]),
        width(b[12] | (b[13] << 8)),
        height(b[14] | (b[15] << 8)),
        pixelSize(b[16]),
        descriptor(b[17]) {}

  bool Mapped() const { return imageType == 1 || imageType == 9; }
  bool Grey() const { return imageType == 3 || imageType == 11; }
  bool RunLength() const { return imageType >= 9; }
  bool KnownType() const {
    return imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 ||
           imageType == 10 || imageType == 11;
  }
  // Bytes of the colour map that follows the ID field.
  uint64_t MapBytes() const {
    if (colourMapType == 0) return 0;
    return static_cast<uint64_t>(mapLength) * static_cast<uint64_t>((mapEntrySize + 7) / 8);
  }
  bool PixelSizeFits() const {
    if (Mapped()) return pixelSize == 8 || pixelSize == 15 || pixelSize == 16;
    if (Grey()) return pixelSize == 8 || pixelSize == 16;
    return pixelSize == 8 || pixelSize == 15 || pixelSize == 16 || pixelSize == 24 ||
           pixelSize == 32;
  }
};

bool SupportedEntrySize(int bits) {
  return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// A 5-bit component widened to 8 bits, rounded.
inline uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v * 255 + 15) / 31); }

// Blue, green, red of a 15/16-bit value stored as bytes j, k (little-endian
// x RRRRR GGGGG BBBBB).
inline void Split555(unsigned j, unsigned k, uint8_t& b, uint8_t& g, uint8_t& r) {
  r = Widen5((k & 0x7C) >> 2);
  g = Widen5(((k & 0x03) << 3) | (j >> 5));
  b = Widen5(j & 0x1F);
}

// Buffered input that counts what it consumed and stops at the end of the
// file.
class ByteSource {
 public:
  explicit ByteSource(FILE* f) : file_(f) {}
  bool Read(uint8_t* dst, size_t n) {
    while (n > 0) {
      if (pos_ == end_ && !Fill()) return false;
      const size_t take = std::min(n, end_ - pos_);
      std::memcpy(dst, buffer_ + pos_, take);
      pos_ += take;
      dst += take;
      n -= take;
      consumed_ += take;
    }
    return true;
  }
  uint64_t consumed() const { return consumed_; }

 private:
  bool Fill() {
    pos_ = 0;
    end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    return end_ > 0;
  }
  FILE* file_;
  uint8_t buffer_[1 << 15];
  size_t pos_ = 0;
  size_t end_ = 0;
  uint64_t consumed_ = 0;
};

struct Pixel {
  uint8_t blue = 0, green = 0, red = 0, index = 0;
};

// Reads pixels one at a time, undoing the run-length packets.
class PixelReader {
 public:
  PixelReader(ByteSource& source, const TgaHeader& h)
      : source_(source),
        grey_(h.Grey()),
        runLength_(h.RunLength()),
        bytes_((h.pixelSize + 7) / 8) {}

  bool Next(Pixel& p) {
    if (runLength_) {
      if (runCount_ == 0) {
        uint8_t packet;
        if (!source_.Read(&packet, 1)) return false;
        repeat_ = (packet & 0x80) != 0;
        runCount_ = repeat_ ? packet - 127 : packet + 1;
        --runCount_;
        if (!ReadRaw(last_)) return false;
      } else {
        --runCount_;
        if (!repeat_ && !ReadRaw(last_)) return false;
      }
      p = last_;
      return true;
    }
    return ReadRaw(p);
  }

 private:
  bool ReadRaw(Pixel& p) {
    uint8_t b[4];
    if (!source_.Read(b, static_cast<size_t>(bytes_))) return false;
    switch (bytes_) {
      case 1:
        p = Pixel{b[0], b[0], b[0], b[0]};
        break;
      case 2:
        if (grey_) {
          // Grey with an attribute (alpha) byte.
          p = Pixel{b[0], b[0], b[0], b[0]};
        } else {
          Split555(b[0], b[1], p.blue, p.green, p.red);
          p.index = b[0];
        }
        break;
      default:  // 24 bits, or 32 with an attribute byte that is dropped
        p = Pixel{b[0], b[1], b[2], 0};
        break;
    }
    return true;
  }

  ByteSource& source_;
  bool grey_;
  bool runLength_;
  int bytes_;
  int runCount_ = 0;
  bool repeat_ = false;
  Pixel last_;
};

class vxTGAImage final : public vxRWImage {
 public:
  vxTGAImage() { SetIdentity(TypeTGA, 3, "TGA|VST", "Targa Image|True-Vista Image"); }

  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override;
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override;
  int GetFileInfo(const char* fileName, vxFileInfo* info) override;
};

int Refuse(const std::string& reason) {
  vxSetLastError(reason);
  return vxNotRecognised;
}

int vxTGAImage::Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header,
                     vxRGBA** palette, unsigned char** bits, void*) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  unsigned char raw[kHeaderSize];
  if (std::fread(raw, 1, kHeaderSize, f.get()) != kHeaderSize) {
    return Refuse("the Targa header is cut short");
  }
  const TgaHeader h(raw);
  const long long length = vxStreamLength(f.get());
  if (!h.KnownType()) return Refuse("unsupported Targa image type " + std::to_string(h.imageType));
  if (h.Mapped() && h.colourMapType == 0)
    return Refuse("colour-mapped Targa file without a colour map");
  if (h.Mapped() && !SupportedEntrySize(h.mapEntrySize)) {
    return Refuse("unsupported Targa colour-map entry size " + std::to_string(h.mapEntrySize));
  }
  if (!h.PixelSizeFits()) {
    return Refuse("unsupported Targa pixel size " + std::to_string(h.pixelSize) +
                  " for image type " + std::to_string(h.imageType));
  }
  if (h.width == 0 || h.height == 0) return Refuse("the picture has no pixels (width or height 0)");
  const uint64_t dataStart = kHeaderSize + static_cast<uint64_t>(h.idLength) + h.MapBytes();
  if (length >= 0 && dataStart > static_cast<uint64_t>(length)) {
    return Refuse("the Targa ID field or colour map runs past the end of the file");
  }

  const uint64_t available = length >= 0 ? static_cast<uint64_t>(length) - dataStart : 0;
  const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
  const uint64_t pixelBytes = static_cast<uint64_t>((h.pixelSize + 7) / 8);
  const bool backed =
      h.RunLength() ? pixels <= available * kMaxRlePixelsPerByte : pixels * pixelBytes <= available;
  if (!backed && pixels * (h.Mapped() ? 1 : 3) > kAlwaysAllowedBytes) {
    return Refuse("the Targa file is too short for a picture of " + std::to_string(h.width) +
                  " x " + std::to_string(h.height) + " pixels");
  }

  if (std::fseek(f.get(), static_cast<long>(kHeaderSize) + h.idLength, SEEK_SET) != 0) {
    return Refuse("cannot read the Targa file");
  }
  // A colour-mapped picture always gets 256 slots; map entries beyond them
  // are read past, and an index byte cannot reach outside them.
  const int colours = h.Mapped() ? 256 : 0;
  vxBitmapInfoHeader* block = vxAllocateBlock(h.width, h.height, h.Mapped() ? 8 : 24, colours);
  if (!block) return vxNoMemory;
  vxRGBA* pal = vxBlockPalette(block);
  unsigned char* pixelArea = vxBlockBits(block);

  ByteSource source(f.get());
  uint64_t mapConsumed = 0;
  if (h.Mapped()) {
    const int entryBytes = (h.mapEntrySize + 7) / 8;
    for (int i = 0; i < h.mapLength; ++i) {
      uint8_t e[4];
      if (!source.Read(e, static_cast<size_t>(entryBytes))) break;
      const int slot = h.mapFirst + i;
      if (slot >= 256) continue;
      vxRGBA& out = pal[slot];
      switch (entryBytes) {
        case 1:
          out = vxRGBA{e[0], e[0], e[0], 0};
          break;
        case 2:
          Split555(e[0], e[1], out.blue, out.green, out.red);
          out.reserved = 0;
          break;
        case 3:
          out = vxRGBA{e[0], e[1], e[2], 0};
          break;
        default:
          out = vxRGBA{e[0], e[1], e[2], e[3]};
          break;
      }
    }
    mapConsumed = source.consumed();
  } else if (h.MapBytes() > 0) {
    // A map in a true-colour or grey file describes nothing we show.
    std::fseek(f.get(), static_cast<long>(dataStart), SEEK_SET);
    mapConsumed = h.MapBytes();
  }

  const size_t stride = vxRowStride(h.width, h.Mapped() ? 8 : 24);
  const bool topFirst = (h.descriptor & 0x20) != 0;
  const int interleave = (h.descriptor >> 6) & 3;
  const int step = interleave == 1 ? 2 : interleave == 2 ? 4 : 1;
  const uint64_t dataBefore = source.consumed();
  PixelReader reader(source, h);
  int trueRow = 0, baseRow = 0;
  bool more = true;
  for (int n = 0; more && n < h.height; ++n) {
    const int memoryRow = topFirst ? h.height - 1 - trueRow : trueRow;
    unsigned char* out = pixelArea + stride * static_cast<size_t>(memoryRow);
    Pixel p;
    for (int x = 0; x < h.width; ++x) {
      if (!reader.Next(p)) {
        more = false;  // cut short: the rest of the picture stays black
        break;
      }
      if (h.Mapped()) {
        out[x] = p.index;
      } else {
        out[3 * x + 0] = p.blue;
        out[3 * x + 1] = p.green;
        out[3 * x + 2] = p.red;
      }
    }
    trueRow += step;
    if (trueRow >= h.height) trueRow = ++baseRow;
  }

  const uint64_t count = 17 + mapConsumed + (source.consumed() - dataBefore);
  *byteCount = count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
  *header = block;
  *palette = pal;
  *bits = pixelArea;
  return vxOK;
}

int vxTGAImage::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                      unsigned char* bits, void*) {
  const int bitCount = header ? header->bitCount : 0;
  if (!header || !bits || header->width <= 0 || header->height <= 0 ||
      (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)) {
    vxSetLastError("Targa cannot store this image");
    return vxCannotOpen;
  }
  if (header->width > 65535 || header->height > 65535) {
    vxSetLastError("the picture is too large for a Targa file (at most 65535 x 65535 pixels)");
    return vxCannotOpen;
  }
  FILE* f = vxOpenWritten(fileName);
  if (!f) {
    vxSetLastError("cannot create the file");
    return vxCannotOpen;
  }
  const int width = header->width, height = header->height;
  unsigned char head[kHeaderSize] = {};
  head[2] = 2;
  head[12] = static_cast<unsigned char>(width & 0xFF);
  head[13] = static_cast<unsigned char>(width >> 8);
  head[14] = static_cast<unsigned char>(height & 0xFF);
  head[15] = static_cast<unsigned char>(height >> 8);
  head[16] = 24;
  bool ok = std::fwrite(head, 1, kHeaderSize, f) == kHeaderSize;

  const uint32_t colours = bitCount == 24 ? 0 : std::min<uint32_t>(header->coloursUsed, 256);
  const size_t stride = vxRowStride(width, bitCount);
  std::vector<uint8_t> row(3 * static_cast<size_t>(width));
  // Bottom row first, matching descriptor 0.
  for (int y = 0; ok && y < height; ++y) {
    const unsigned char* in = bits + stride * static_cast<size_t>(y);
    if (bitCount == 24) {
      std::memcpy(row.data(), in, row.size());
    } else {
      for (int x = 0; x < width; ++x) {
        const unsigned index = bitCount == 4 ? (in[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F : in[x];
        const vxRGBA e = index < colours ? palette[index] : vxRGBA{0, 0, 0, 0};
        row[3 * x + 0] = e.blue;
        row[3 * x + 1] = e.green;
        row[3 * x + 2] = e.red;
      }
    }
    ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
  }
  const int closed = vxCloseWritten(f);
  return ok && closed == 0 ? vxOK : vxCannotOpen;
}

int vxTGAImage::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) return vxCannotOpen;
  unsigned char raw[kHeaderSize];
  if (std::fread(raw, 1, kHeaderSize, f.get()) != kHeaderSize) return vxNotRecognised;
  const TgaHeader h(raw);
  const long long length = vxStreamLength(f.get());
  info->width = static_cast<uint16_t>(h.width);
  info->height = static_cast<uint16_t>(h.height);
  info->bitsPerPixel = h.Mapped() ? 8 : 24;
  info->fileSize = length < 0 ? 0 : static_cast<uint32_t>(length);
  return vxOK;
}

}  // namespace

vxRWImage* vxCreateTGA() { return new vxTGAImage; }

bool vxTgaHeaderPlausible(const unsigned char* head, size_t got, long long fileSize) {
  if (!head || got < kHeaderSize) return false;
  const TgaHeader h(head);
  if (h.colourMapType > 1 || !h.KnownType()) return false;
  if (h.Mapped() && h.colourMapType != 1) return false;
  if (h.colourMapType == 1 && (!SupportedEntrySize(h.mapEntrySize) || h.mapLength == 0))
    return false;
  if (!h.PixelSizeFits() || h.width == 0 || h.height == 0) return false;
  if (((h.descriptor >> 6) & 3) == 3) return false;  // reserved interleave
  if (fileSize >= 0) {
    // The pixels follow the ID field and the map, so both lie inside the file.
    const uint64_t dataStart = kHeaderSize + static_cast<uint64_t>(h.idLength) + h.MapBytes();
    if (dataStart >= static_cast<uint64_t>(fileSize)) return false;
  }
  return true;
}
