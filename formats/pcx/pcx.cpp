// PCX reader (1, 2, 4 or 8 bits per plane, any number of planes, with the
// trailing 256-colour palette) and writer (8-bit palette and 24-bit images,
// run-length encoded).
//
// Header, 128 bytes, little-endian:
//   0 manufacturer 10   1 version   2 encoding 1   3 bits per pixel per plane
//   4 X min  6 Y min  8 X max  10 Y max (u16, inclusive)  12, 14 resolution
//  16 16-entry colour map (red, green, blue)  64 reserved  65 planes
//  66 bytes per line per plane (u16)  68 palette info  70, 72 screen size
// Each scan line, top first, holds every plane in turn, bytes-per-line bytes
// each, run-length encoded: a byte 0xC0 | n repeats the next byte n times,
// any other byte stands for itself. An 8-bit file may end with 0x0C and 256
// red, green, blue entries.
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

constexpr size_t kHeaderSize = 128;
constexpr long kPaletteBlock = 769;  // 0x0C and 256 x 3 bytes
// Pictures whose pixel area is at most this size are allocated even when the
// file is too short to fill them; larger ones must be backed by the file.
constexpr uint64_t kAlwaysAllowedBytes = uint64_t{4} << 20;
// A run of two bytes gives at most 63 bytes.
constexpr uint64_t kMaxBytesPerByte = 32;

inline int Word(const unsigned char* b) { return b[0] | (b[1] << 8); }
inline void PutWord(unsigned char* b, unsigned v) {
  b[0] = static_cast<unsigned char>(v & 0xFF);
  b[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

struct PcxHeader {
  int version, encoding, bitsPerPixel;
  int xMin, yMin, xMax, yMax;
  int planes, bytesPerLine;
  vxRGBA colourMap[16];

  explicit PcxHeader(const unsigned char* b)
      : version(b[1]),
        encoding(b[2]),
        bitsPerPixel(b[3]),
        xMin(Word(b + 4)),
        yMin(Word(b + 6)),
        xMax(Word(b + 8)),
        yMax(Word(b + 10)),
        planes(b[65]),
        bytesPerLine(Word(b + 66)) {
    for (int i = 0; i < 16; ++i) {
      colourMap[i] = vxRGBA{b[16 + 3 * i + 2], b[16 + 3 * i + 1], b[16 + 3 * i], 0};
    }
  }
  int Width() const { return xMax - xMin + 1; }
  int Height() const { return yMax - yMin + 1; }
  // Three or more 8-bit planes hold red, green and blue (a fourth, if any,
  // is alpha and dropped).
  bool TrueColour() const { return bitsPerPixel == 8 && planes >= 3; }
};

// Undoes the run-length coding of scan lines.
class PlaneDecoder {
 public:
  enum Status { Good = 0, EndOfFile = 2, ReadError = 4 };

  PlaneDecoder(FILE* f, const PcxHeader& h)
      : file_(f),
        bits_(h.bitsPerPixel ? h.bitsPerPixel : 1),
        planes_(h.planes ? h.planes : 1),
        bytesPerLine_(h.bytesPerLine),
        mask_((1 << bits_) - 1) {}

  int Start() {
    status_ = Good;
    runCount_ = 0;
    if (std::fseek(file_, static_cast<long>(kHeaderSize), SEEK_SET) != 0) status_ = ReadError;
    return CheckStatus();
  }

  // Decodes one scan line of `pixels` pixels. With 8 bits per plane the line
  // holds the planes interleaved (pixels x planes bytes); with fewer bits it
  // holds one index per pixel, plane p giving bits p x b upwards. What the
  // data does not reach stays 0. Returns the status.
  int ReadLine(uint8_t* line, int pixels) {
    if (bits_ == 8) {
      std::memset(line, 0, static_cast<size_t>(pixels) * planes_);
      for (int p = 0; p < planes_; ++p) {
        for (int k = 0; k < bytesPerLine_; ++k) {
          int v;
          if (!NextByte(v)) return status_;
          if (k < pixels) line[p + static_cast<size_t>(k) * planes_] = static_cast<uint8_t>(v);
        }
      }
    } else {
      std::memset(line, 0, static_cast<size_t>(pixels));
      const int perByte = 8 / bits_;
      for (int p = 0; p < planes_; ++p) {
        int pos = 0;
        for (int k = 0; k < bytesPerLine_; ++k) {
          int v;
          if (!NextByte(v)) return status_;
          for (int i = 0; i < perByte; ++i, ++pos) {
            if (pos >= pixels) continue;
            const int pixel = (v >> (8 - bits_ * (i + 1))) & mask_;
            line[pos] = static_cast<uint8_t>(line[pos] | (pixel << (p * bits_)));
          }
        }
      }
    }
    runCount_ = 0;  // a run reaching past the line is dropped
    return status_;
  }

  int CheckStatus() {
    if (std::feof(file_)) {
      status_ = EndOfFile;
    } else if (std::ferror(file_)) {
      status_ = ReadError;
    }
    return status_;
  }

 private:
  bool NextByte(int& value) {
    while (runCount_ < 1) {
      const int c = std::getc(file_);
      if (c == EOF) {
        CheckStatus();
        return false;
      }
      if ((c & 0xC0) == 0xC0) {
        runCount_ = c & 0x3F;
        const int d = std::getc(file_);
        if (d == EOF) {
          CheckStatus();
          return false;
        }
        runValue_ = d;
      } else {
        runCount_ = 1;
        runValue_ = c;
      }
    }
    --runCount_;
    value = runValue_;
    return true;
  }

  FILE* file_;
  int bits_;
  int planes_;
  int bytesPerLine_;
  int mask_;
  int status_ = Good;
  int runCount_ = 0;
  int runValue_ = 0;
};

// Run-length encodes one plane line at a time.
class PlaneEncoder {
 public:
  PlaneEncoder(FILE* f, int planes, int bytesPerLine)
      : file_(f), planes_(planes), buffer_(static_cast<size_t>(bytesPerLine)) {
    out_.reserve(2 * buffer_.size() + 2);
  }

  // Writes a line of `pixels` pixels, one byte each (planes interleaved).
  // Returns false when a write failed.
  bool WriteLine(const uint8_t* line, int pixels) {
    for (int p = 0; p < planes_; ++p) {
      std::fill(buffer_.begin(), buffer_.end(), 0);
      for (int k = 0; k < pixels; ++k) buffer_[k] = line[p + static_cast<size_t>(k) * planes_];
      if (!EncodeBuffer()) return false;
    }
    return true;
  }

 private:
  bool EncodeBuffer() {
    out_.clear();
    const size_t n = buffer_.size();
    for (size_t i = 0; i < n;) {
      const uint8_t v = buffer_[i];
      size_t run = 1;
      while (i + run < n && buffer_[i + run] == v) ++run;
      i += run;
      while (run > 63) {
        out_.push_back(0xFF);
        out_.push_back(v);
        run -= 63;
      }
      // A lone byte with both top bits set would read as a count.
      if (run > 1 || (v & 0xC0) == 0xC0) out_.push_back(static_cast<uint8_t>(0xC0 | run));
      out_.push_back(v);
    }
    return std::fwrite(out_.data(), 1, out_.size(), file_) == out_.size();
  }

  FILE* file_;
  int planes_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> out_;
};

class vxPCXImage final : public vxRWImage {
 public:
  vxPCXImage() { SetIdentity(TypePCX, 3, "PCX", "Microsoft Paint Image"); }

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

// Checks the fields that size the picture and its decoding; empty when the
// header is usable, otherwise the reason it is not.
std::string HeaderProblem(const PcxHeader& h) {
  if (h.xMax < h.xMin) return "the PCX header's X max lies below its X min";
  if (h.yMax < h.yMin) return "the PCX header's Y max lies below its Y min";
  if (h.planes == 0) return "the PCX header gives no colour planes";
  const int b = h.bitsPerPixel;
  if (b != 1 && b != 2 && b != 4 && b != 8) {
    return "unsupported PCX depth of " + std::to_string(b) + " bits per plane";
  }
  if (b < 8 && b * h.planes > 8) {
    return "unsupported PCX depth of " + std::to_string(b) + " bits x " + std::to_string(h.planes) +
           " planes";
  }
  if (static_cast<int64_t>(h.bytesPerLine) * 8 < static_cast<int64_t>(h.Width()) * b) {
    return "the PCX header's bytes per line (" + std::to_string(h.bytesPerLine) +
           ") are too few for a width of " + std::to_string(h.Width()) + " pixels";
  }
  return {};
}

int vxPCXImage::Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header,
                     vxRGBA** palette, unsigned char** bits, void*) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  unsigned char raw[kHeaderSize];
  if (std::fread(raw, 1, kHeaderSize, f.get()) != kHeaderSize) {
    return Refuse("the PCX header is cut short");
  }
  const PcxHeader h(raw);
  const std::string problem = HeaderProblem(h);
  if (!problem.empty()) return Refuse(problem);
  const long long length = vxStreamLength(f.get());
  const int width = h.Width(), height = h.Height();
  const bool trueColour = h.TrueColour();

  const uint64_t available = length > static_cast<long long>(kHeaderSize)
                                 ? static_cast<uint64_t>(length) - kHeaderSize
                                 : 0;
  const uint64_t encoded = static_cast<uint64_t>(h.bytesPerLine) * static_cast<uint64_t>(h.planes) *
                           static_cast<uint64_t>(height);
  const uint64_t area =
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * (trueColour ? 3 : 1);
  if (area > kAlwaysAllowedBytes && encoded > available * kMaxBytesPerByte) {
    return Refuse("the PCX file is too short for a picture of " + std::to_string(width) + " x " +
                  std::to_string(height) + " pixels");
  }

  vxRGBA colours[256] = {};
  int colourCount = 0;
  if (!trueColour) {
    // The 256-colour palette, when present, is the last 769 bytes.
    int marker = EOF;
    if (length >= static_cast<long long>(kHeaderSize) + kPaletteBlock &&
        std::fseek(f.get(), static_cast<long>(length - kPaletteBlock), SEEK_SET) == 0) {
      marker = std::fgetc(f.get());
    }
    unsigned char rgb[768];
    if (marker == 12 && std::fread(rgb, 1, sizeof rgb, f.get()) == sizeof rgb) {
      for (int i = 0; i < 256; ++i)
        colours[i] = vxRGBA{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
      colourCount = 256;
    } else {
      std::memcpy(colours, h.colourMap, sizeof h.colourMap);
      colourCount = 16;
    }
  }

  vxBitmapInfoHeader* block = vxAllocateBlock(width, height, trueColour ? 24 : 8, colourCount);
  if (!block) return vxNoMemory;
  vxRGBA* pal = vxBlockPalette(block);
  std::memcpy(pal, colours, sizeof(vxRGBA) * static_cast<size_t>(colourCount));
  unsigned char* pixels = vxBlockBits(block);
  const size_t stride = vxRowStride(width, trueColour ? 24 : 8);

  PlaneDecoder decoder(f.get(), h);
  const int planes = h.planes;
  std::vector<uint8_t> line(static_cast<size_t>(width) * (h.bitsPerPixel == 8 ? planes : 1));
  if (decoder.Start() == PlaneDecoder::Good) {
    for (int r = 0; r < height; ++r) {
      const int status = decoder.ReadLine(line.data(), width);
      // A cut-off line is kept: what it did not reach is 0.
      unsigned char* out = pixels + stride * static_cast<size_t>(height - 1 - r);
      if (trueColour) {
        for (int x = 0; x < width; ++x) {
          const uint8_t* in = line.data() + static_cast<size_t>(x) * planes;
          out[3 * x + 0] = in[2];
          out[3 * x + 1] = in[1];
          out[3 * x + 2] = in[0];
        }
      } else if (h.bitsPerPixel == 8) {
        for (int x = 0; x < width; ++x) out[x] = line[static_cast<size_t>(x) * planes];
      } else {
        std::memcpy(out, line.data(), static_cast<size_t>(width));
      }
      if (status != PlaneDecoder::Good) break;
    }
  }

  *byteCount = length < 0 ? 0 : (length > INT32_MAX ? INT32_MAX : static_cast<int>(length));
  *header = block;
  *palette = pal;
  *bits = pixels;
  return vxOK;
}

int vxPCXImage::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                      unsigned char* bits, void*) {
  const int bitCount = header ? header->bitCount : 0;
  if (!header || !bits || header->width <= 0 || header->height <= 0 ||
      (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)) {
    vxSetLastError("PCX cannot store this image");
    return vxCannotOpen;
  }
  // Bytes per line must fit 16 bits, and X max and Y max too.
  if (header->width > 65534 || header->height > 65536) {
    vxSetLastError("the picture is too large for a PCX file (at most 65534 x 65536 pixels)");
    return vxCannotOpen;
  }
  FILE* f = vxOpenWritten(fileName);
  if (!f) {
    vxSetLastError("cannot create the file");
    return vxCannotOpen;
  }
  const int width = header->width, height = header->height;
  const bool trueColour = bitCount == 24;
  const int planes = trueColour ? 3 : 1;
  const int bytesPerLine = (8 * width + 15) / 16 * 2;

  unsigned char head[kHeaderSize] = {};
  head[0] = 10;
  head[1] = trueColour ? 3 : 5;
  head[2] = 1;
  head[3] = 8;
  PutWord(head + 8, static_cast<unsigned>(width - 1));
  PutWord(head + 10, static_cast<unsigned>(height - 1));
  PutWord(head + 12, 100);
  PutWord(head + 14, 100);
  head[65] = static_cast<unsigned char>(planes);
  PutWord(head + 66, static_cast<unsigned>(bytesPerLine));
  PutWord(head + 68, 1);
  bool ok = std::fwrite(head, 1, kHeaderSize, f) == kHeaderSize;

  // 1- and 4-bit images are written as 8-bit indices with their palette.
  PlaneEncoder encoder(f, planes, bytesPerLine);
  const size_t stride = vxRowStride(width, bitCount);
  std::vector<uint8_t> line(static_cast<size_t>(width) * planes);
  for (int y = height - 1; ok && y >= 0; --y) {
    const unsigned char* in = bits + stride * static_cast<size_t>(y);
    for (int x = 0; x < width; ++x) {
      if (trueColour) {
        line[3 * x + 0] = in[3 * x + 2];
        line[3 * x + 1] = in[3 * x + 1];
        line[3 * x + 2] = in[3 * x + 0];
      } else if (bitCount == 4) {
        line[x] = static_cast<uint8_t>((in[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F);
      } else {
        line[x] = in[x];
      }
    }
    ok = encoder.WriteLine(line.data(), width);
  }

  if (ok && !trueColour) {
    // Entries the image does not have are written as black.
    unsigned char block[kPaletteBlock] = {};
    block[0] = 12;
    const uint32_t colours = std::min<uint32_t>(header->coloursUsed, 256);
    for (uint32_t i = 0; i < colours; ++i) {
      block[1 + 3 * i] = palette[i].red;
      block[2 + 3 * i] = palette[i].green;
      block[3 + 3 * i] = palette[i].blue;
    }
    ok = std::fwrite(block, 1, sizeof block, f) == sizeof block;
  }
  const int closed = vxCloseWritten(f);
  return ok && closed == 0 ? vxOK : vxCannotOpen;
}

int vxPCXImage::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) return vxCannotOpen;
  unsigned char raw[kHeaderSize];
  if (std::fread(raw, 1, kHeaderSize, f.get()) != kHeaderSize) return vxNotRecognised;
  const PcxHeader h(raw);
  if (h.xMax < h.xMin || h.yMax < h.yMin) return vxNotRecognised;
  const long long length = vxStreamLength(f.get());
  info->width = static_cast<uint16_t>(h.Width());
  info->height = static_cast<uint16_t>(h.Height());
  info->bitsPerPixel = static_cast<uint8_t>(h.bitsPerPixel * h.planes);
  info->fileSize = length < 0 ? 0 : static_cast<uint32_t>(length);
  return vxOK;
}

}  // namespace

vxRWImage* vxCreatePCX() { return new vxPCXImage; }
