// GIF reader (GIF87a and GIF89a, the first image of a file). GIF is
// read-only here: Write refuses without touching any file.
//
// File layout:
//   "GIF" "87a"|"89a"
//   logical screen: width u16, height u16, flags u8 (bit 7 global table,
//                   bits 0-2 n: 2^(n+1) entries), background u8, aspect u8
//   [global colour table: entries of red, green, blue]
//   blocks: 0x21 label sub-blocks...  extension
//           0x2C image descriptor: left, top, width, height u16, flags u8
//                (bit 7 local table, bit 6 interlaced, bits 0-2 m)
//                [local table] code-size u8, LZW data in sub-blocks
//           0x3B trailer
//   A sub-block is a length byte (0 ends a sequence) and that many bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/notice.h"
#include "formats/registry.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr int kMaxCodes = 4096;
constexpr int kStackSize = 8192;
// LZW cannot expand one byte of data into more than about 2730 pixels
// (4095-value strings behind 12-bit codes); a picture that would need more is
// not backed by the file. Small pictures are allowed whatever the file holds.
constexpr uint64_t kMaxPixelsPerByte = 4096;
constexpr uint64_t kAlwaysAllowedPixels = uint64_t{4} << 20;

// An OK/Cancel box in the viewer; its answer does not matter.
void ErrorBox(const std::string& text) { vxPostNotice(vxNoticeKind::Error, "", text); }
// A plain box whose caption is its own text.
void PlainBox(const std::string& text) { vxPostNotice(vxNoticeKind::Warning, text, text); }

class vxGIFImage final : public vxRWImage {
 public:
  vxGIFImage() { SetIdentity(TypeGIF, 1, "GIF", "Graphics Interchange Format"); }

  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override;
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette, unsigned char* bits,
            void* options) override;
  int GetFileInfo(const char* fileName, vxFileInfo* info) override;

 private:
  struct Screen {
    int width = 0;
    int height = 0;
    int flags = 0;
    int background = 0;
    int aspect = 0;
  };

  // Signature, version and logical screen; false when the screen descriptor
  // is cut short.
  bool ReadScreen(Screen& screen);
  void DoExtension(int label);
  // Reads the image behind a 0x2C separator; the block goes to *result.
  int ReadImage(const vxRGBA* global, int globalCount, vxBitmapInfoHeader** result);

  // One data sub-block into buf (256 bytes): its length, or -1 when the
  // length or the data is missing (`got` then holds the bytes that were read).
  int GetDataBlock(unsigned char* buf, int* got = nullptr);
  void SkipSubBlocks();

  void InitDecoder(int codeSize);
  void ResetTable();
  int GetCode(int size);
  int FirstCode();
  bool Push(int value);
  // The next pixel value, or a negative value at the end of the data.
  int LZWReadByte();

  FILE* file_ = nullptr;
  bool zeroDataBlock_ = false;
  bool showComments_ = false;

  unsigned char buf_[280] = {};
  int curBit_ = 0;
  int lastBit_ = 0;
  int lastByte_ = 2;
  bool done_ = false;

  int setCodeSize_ = 0;
  int codeSize_ = 0;
  int clearCode_ = 0;
  int endCode_ = 0;
  int maxCode_ = 0;
  int maxCodeSize_ = 0;
  int firstCode_ = 0;
  int oldCode_ = 0;
  bool fresh_ = false;
  int table_[2][kMaxCodes] = {};
  int stack_[kStackSize] = {};
  int sp_ = 0;
};

bool vxGIFImage::ReadScreen(Screen& screen) {
  char signature[3] = {}, version[3] = {};
  if (std::fread(signature, 1, 3, file_) != 3) ErrorBox("error reading magic number");
  if (std::fread(version, 1, 3, file_) != 3) ErrorBox("error reading version");
  if (std::memcmp(signature, "GIF", 3) != 0) ErrorBox("not a GIF file");
  if (std::memcmp(version, "87a", 3) != 0 && std::memcmp(version, "89a", 3) != 0) {
    ErrorBox("bad version number, not '87a' or '89a'");
  }
  unsigned char d[7];
  if (std::fread(d, 1, 7, file_) != 7) return false;
  screen.width = d[0] | (d[1] << 8);
  screen.height = d[2] | (d[3] << 8);
  screen.flags = d[4];
  screen.background = d[5];
  screen.aspect = d[6];
  return true;
}

int vxGIFImage::GetDataBlock(unsigned char* buf, int* got) {
  if (got) *got = 0;
  const int count = std::fgetc(file_);
  if (count == EOF) {
    PlainBox("error in getting DataBlock size");
    return -1;
  }
  zeroDataBlock_ = count == 0;
  if (count > 0) {
    const size_t n = std::fread(buf, 1, static_cast<size_t>(count), file_);
    if (got) *got = static_cast<int>(n);
    if (n != static_cast<size_t>(count)) {
      PlainBox("error in reading DataBlock");
      return -1;
    }
  }
  return count;
}

void vxGIFImage::SkipSubBlocks() {
  unsigned char junk[256];
  while (GetDataBlock(junk) > 0) {
  }
}

void vxGIFImage::DoExtension(int label) {
  unsigned char block[256];
  switch (label) {
    case 0xF9:  // graphic control: disposal, delay and transparency do not change the picture
      if (GetDataBlock(block) > 0) SkipSubBlocks();
      return;
    case 0xFE: {  // comment
      int n;
      while ((n = GetDataBlock(block)) > 0) {
        if (showComments_) {
          PlainBox("gif comment: " + std::string(reinterpret_cast<char*>(block), n));
        }
      }
      return;
    }
    default: {
      std::string name;
      if (label == 0x01) {
        name = "Plain Text";
      } else if (label == 0xFF) {
        name = "Application";
      } else {
        char text[32];
        std::snprintf(text, sizeof text, "UNKNOWN (0x%02x)", label);
        name = text;
      }
      PlainBox("got a '" + name + "' extension");
      SkipSubBlocks();
      return;
    }
  }
}

void vxGIFImage::ResetTable() {
  for (int i = 0; i < clearCode_; ++i) {
    table_[0][i] = 0;
    table_[1][i] = i;
  }
  for (int i = clearCode_; i < kMaxCodes; ++i) table_[0][i] = table_[1][i] = 0;
  codeSize_ = setCodeSize_ + 1;
  maxCodeSize_ = 2 * clearCode_;
  maxCode_ = clearCode_ + 2;
  sp_ = 0;
}

void vxGIFImage::InitDecoder(int codeSize) {
  setCodeSize_ = codeSize;
  clearCode_ = 1 << codeSize;
  endCode_ = clearCode_ + 1;
  curBit_ = 0;
  lastBit_ = 0;
  lastByte_ = 2;
  done_ = false;
  std::memset(buf_, 0, sizeof buf_);
  fresh_ = true;
  ResetTable();
}

int vxGIFImage::GetCode(int size) {
  // Codes are packed least significant bit first. The buffer holds the last
  // two bytes of the previous sub-block and then the current one, so a code
  // may straddle two sub-blocks; very short sub-blocks are chained until the
  // code is complete.
  while (curBit_ + size > lastBit_) {
    if (done_) {
      if (curBit_ >= lastBit_) ErrorBox("ran off the end of my bits");
      return -1;
    }
    buf_[0] = buf_[lastByte_ - 2];
    buf_[1] = buf_[lastByte_ - 1];
    int got = 0;
    int count = GetDataBlock(buf_ + 2, &got);
    if (count <= 0) {
      done_ = true;
      count = got;  // a cut-off sub-block still gives the bytes it had
    }
    lastByte_ = 2 + count;
    curBit_ = (curBit_ - lastBit_) + 16;
    lastBit_ = (2 + count) * 8;
  }
  const int at = curBit_ >> 3;
  const uint32_t word = buf_[at] | (uint32_t{buf_[at + 1]} << 8) | (uint32_t{buf_[at + 2]} << 16);
  curBit_ += size;
  return static_cast<int>((word >> ((curBit_ - size) & 7)) & ((1u << size) - 1));
}

// The first code of the stream or after a clear code: a literal value.
int vxGIFImage::FirstCode() {
  do {
    firstCode_ = oldCode_ = GetCode(codeSize_);
  } while (firstCode_ == clearCode_);
  // The end code (or a code that is not in the table yet) here means the
  // data ends or is corrupt.
  if (firstCode_ >= clearCode_) return -2;
  return firstCode_;
}

bool vxGIFImage::Push(int value) {
  if (sp_ >= kStackSize) return false;
  stack_[sp_++] = value;
  return true;
}

int vxGIFImage::LZWReadByte() {
  if (fresh_) {
    fresh_ = false;
    return FirstCode();
  }
  if (sp_ > 0) return stack_[--sp_];

  int code;
  while ((code = GetCode(codeSize_)) >= 0) {
    if (code == clearCode_) {
      ResetTable();
      return FirstCode();
    }
    if (code == endCode_) {
      if (zeroDataBlock_) return -2;
      unsigned char junk[256];
      int count;
      while ((count = GetDataBlock(junk)) > 0) {
      }
      if (count != 0) PlainBox("missing EOD in data stream (common occurence)");
      return -2;
    }
    const int incode = code;
    if (code >= maxCode_) {
      Push(firstCode_);
      code = oldCode_;
    }
    // A corrupt stream can link table entries into a cycle; the stack bound
    // ends such a chain as surely as a direct self-reference.
    while (code >= clearCode_) {
      if (!Push(table_[1][code]) || code == table_[0][code]) {
        ErrorBox("circular table entry BIG ERROR");
        return -3;
      }
      code = table_[0][code];
    }
    firstCode_ = table_[1][code];
    if (!Push(firstCode_)) {
      ErrorBox("circular table entry BIG ERROR");
      return -3;
    }
    if (maxCode_ < kMaxCodes) {
      table_[0][maxCode_] = oldCode_;
      table_[1][maxCode_] = firstCode_;
      ++maxCode_;
      if (maxCode_ >= maxCodeSize_ && maxCodeSize_ < kMaxCodes) {
        maxCodeSize_ *= 2;
        ++codeSize_;
      }
    }
    oldCode_ = incode;
    if (sp_ > 0) return stack_[--sp_];
  }
  return code;
}

int vxGIFImage::ReadImage(const vxRGBA* global, int globalCount, vxBitmapInfoHeader** result) {
  unsigned char d[9];
  if (std::fread(d, 1, 9, file_) != 9) {
    vxSetLastError("the GIF image descriptor is cut short");
    return vxNotRecognised;
  }
  const int width = d[4] | (d[5] << 8);
  const int height = d[6] | (d[7] << 8);
  const int flags = d[8];
  if (width == 0 || height == 0) {
    vxSetLastError("the GIF image has no pixels (width or height 0)");
    return vxNotRecognised;
  }

  vxRGBA local[256] = {};
  int localCount = 0;
  if (flags & 0x80) {
    localCount = 2 << (flags & 7);
    unsigned char rgb[768] = {};
    const size_t got = std::fread(rgb, 3, static_cast<size_t>(localCount), file_);
    for (size_t i = 0; i < got; ++i)
      local[i] = vxRGBA{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
  }

  const int codeSize = std::fgetc(file_);
  if (codeSize == EOF) {
    vxSetLastError("the GIF image data is missing");
    return vxNotRecognised;
  }
  // Pixel values are below 2^codeSize and must fit one byte.
  if (codeSize < 1 || codeSize > 8) {
    vxSetLastError("corrupt GIF image data (code size " + std::to_string(codeSize) + ")");
    return vxNotRecognised;
  }

  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const long here = std::ftell(file_);
  const long long length = vxStreamLength(file_);
  const uint64_t available =
      (here >= 0 && length > here) ? static_cast<uint64_t>(length - here) : 0;
  if (pixels > kAlwaysAllowedPixels && pixels > available * kMaxPixelsPerByte) {
    vxSetLastError("the GIF file is too short for a picture of " + std::to_string(width) + " x " +
                   std::to_string(height) + " pixels");
    return vxNotRecognised;
  }

  const int colours = localCount ? localCount : 256;
  vxBitmapInfoHeader* block = vxAllocateBlock(width, height, 8, colours);
  if (!block) return vxNoMemory;
  vxRGBA* pal = vxBlockPalette(block);
  if (localCount) {
    std::memcpy(pal, local, sizeof(vxRGBA) * static_cast<size_t>(localCount));
  } else {
    std::memcpy(pal, global, sizeof(vxRGBA) * static_cast<size_t>(globalCount));
  }

  // Rows arrive top first (memory row height - 1); interlaced images in four
  // passes: every 8th row from 0, every 8th from 4, every 4th from 2, every
  // 2nd from 1. Pixels the data never reaches stay 0.
  static constexpr int kPassStart[4] = {0, 4, 2, 1};
  static constexpr int kPassStep[4] = {8, 8, 4, 2};
  const bool interlaced = (flags & 0x40) != 0;
  const size_t stride = vxRowStride(width, 8);
  unsigned char* pixelsBase = vxBlockBits(block);
  InitDecoder(codeSize);
  int x = 0, row = 0, pass = 0;
  unsigned char* out = pixelsBase + stride * static_cast<size_t>(height - 1);
  for (;;) {
    const int v = LZWReadByte();
    if (v < 0) break;
    out[x] = static_cast<unsigned char>(v);
    if (++x < width) continue;
    x = 0;
    if (!interlaced) {
      if (++row >= height) break;
    } else {
      row += kPassStep[pass];
      while (row >= height && pass < 4) {
        if (++pass < 4) row = kPassStart[pass];
      }
      if (pass >= 4) break;
    }
    out = pixelsBase + stride * static_cast<size_t>(height - 1 - row);
  }
  *result = block;
  return vxOK;
}

int vxGIFImage::Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header,
                     vxRGBA** palette, unsigned char** bits, void*) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  file_ = f.get();
  Screen screen;
  if (!ReadScreen(screen)) {
    vxSetLastError("the GIF header is cut short");
    return vxNotRecognised;
  }
  vxRGBA global[256] = {};
  const int globalCount = 2 << (screen.flags & 7);
  if (screen.flags & 0x80) {
    unsigned char rgb[768] = {};
    const size_t got = std::fread(rgb, 3, static_cast<size_t>(globalCount), file_);
    for (size_t i = 0; i < got; ++i) {
      global[i] = vxRGBA{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
    }
  }
  if (screen.aspect != 0 && screen.aspect != 49) {
    const double ratio = (screen.aspect + 15) / 64.0;
    char text[128];
    std::snprintf(text, sizeof text,
                  "warning - non-square pixels; to fix do a 'pnmscale -%cscale %g'",
                  ratio < 1.0 ? 'x' : 'y', ratio < 1.0 ? 1.0 / ratio : ratio);
    PlainBox(text);
  }

  int images = 0;
  int result = vxNotRecognised;
  vxBitmapInfoHeader* block = nullptr;
  for (;;) {
    const int c = std::fgetc(file_);
    if (c == EOF) break;
    if (c == ';') {
      if (images == 0) ErrorBox("only 0 images found in file");
      break;
    }
    if (c == '!') {
      const int label = std::fgetc(file_);
      if (label == EOF) break;
      DoExtension(label);
      continue;
    }
    if (c != ',') continue;  // stray bytes between blocks are skipped
    ++images;
    result = ReadImage(global, globalCount, &block);
    break;
  }
  if (images == 0) vxSetLastError("the GIF file holds no image");
  if (result != vxOK) return result;

  const long long length = vxStreamLength(file_);
  *byteCount = length < 0 ? 0 : (length > INT32_MAX ? INT32_MAX : static_cast<int>(length));
  *header = block;
  *palette = vxBlockPalette(block);
  *bits = vxBlockBits(block);
  return vxOK;
}

int vxGIFImage::Write(const char*, vxBitmapInfoHeader*, vxRGBA*, unsigned char*, void*) {
  vxSetLastError("GIF is a read-only format");
  return vxCannotOpen;
}

int vxGIFImage::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FilePtr f(std::fopen(fileName, "rb"));
  if (!f) return vxCannotOpen;
  file_ = f.get();
  Screen screen;
  if (!ReadScreen(screen)) return vxNotRecognised;
  const long long length = vxStreamLength(file_);
  info->width = static_cast<uint16_t>(screen.width);
  info->height = static_cast<uint16_t>(screen.height);
  info->bitsPerPixel = static_cast<uint8_t>((screen.flags & 7) + 1);
  info->fileSize = length < 0 ? 0 : static_cast<uint32_t>(length);
  return vxOK;
}

}  // namespace

vxRWImage* vxCreateGIF() { return new vxGIFImage; }
