#include "engine/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "engine/notice.h"
#include "engine/options.h"
#include "engine/safe_file.h"
#include "formats/rwimage.h"

namespace {

uint64_t g_maxImageBytes = uint64_t{1} << 30;

int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

size_t vxRowStride(int64_t width, int bitCount) {
  if (width <= 0) return 0;
  uint64_t rowBytes;
  if (bitCount == 4) {
    rowBytes = (static_cast<uint64_t>(width) * 4 + 7) / 8;
  } else {
    rowBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>((bitCount + 7) / 8);
  }
  return static_cast<size_t>((rowBytes + 3) / 4 * 4);
}

uint64_t vxMaxImageBytes() { return g_maxImageBytes; }
void vxSetMaxImageBytes(uint64_t bytes) { g_maxImageBytes = bytes; }

namespace {

// Asks for large pages over the whole 2 MiB pages inside a big block, before
// it is touched: a picture of tens of megabytes then takes a few dozen page
// faults instead of thousands. The block is still freed as usual.
void AdviseLargePages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kLarge = uintptr_t{2} << 20;
  if (bytes < 2 * kLarge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kLarge - 1) & ~(kLarge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLarge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace

vxBitmapInfoHeader* vxAllocateBlock(int64_t width, int64_t height, int bitCount, int colours) {
  constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) return nullptr;
  if (colours < 0 || colours > 256) return nullptr;
  const uint64_t stride = vxRowStride(width, bitCount);
  const uint64_t rows = static_cast<uint64_t>(height) + 1;
  if (stride != 0 && rows > std::numeric_limits<uint64_t>::max() / stride) return nullptr;
  const uint64_t pixelBytes = stride * rows;
  if (pixelBytes > g_maxImageBytes) {
    vxSetLastError("image too large (" + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels exceeds the memory ceiling)");
    return nullptr;
  }
  const uint64_t total = 40 + 4 * static_cast<uint64_t>(colours) + pixelBytes;
  if (total > std::numeric_limits<size_t>::max()) return nullptr;
  auto* block = static_cast<vxBitmapInfoHeader*>(std::calloc(1, static_cast<size_t>(total)));
  if (!block) {
    vxSetLastError("out of memory");
    return nullptr;
  }
  AdviseLargePages(block, static_cast<size_t>(total));
  block->size = 40;
  block->width = static_cast<int32_t>(width);
  block->height = static_cast<int32_t>(height);
  block->planes = 1;
  block->bitCount = static_cast<uint16_t>(bitCount);
  block->xPelsPerMeter = 1;
  block->yPelsPerMeter = 1;
  block->coloursUsed = static_cast<uint32_t>(colours);
  block->coloursImportant = static_cast<uint32_t>(colours);
  return block;
}

void vxFreeBlock(void* block) { std::free(block); }

void vxSetGreyRamp(vxRGBA* palette, int count) {
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i);
    palette[i] = vxRGBA{v, v, v, 0};
  }
}

vxImage::vxImage(const char* fileName) { LoadImage(fileName); }

void vxImage::Delete() {
  vxFreeBlock(header);
  vxFreeBlock(altHeader);
  std::free(paletteHandle);
  header = nullptr;
  palette = nullptr;
  bits = nullptr;
  altHeader = nullptr;
  altPalette = nullptr;
  altBits = nullptr;
  paletteHandle = nullptr;
}

void vxImage::AdoptBlock(vxBitmapInfoHeader* block) {
  Delete();
  header = block;
  if (block) {
    palette = vxBlockPalette(block);
    bits = vxBlockBits(block);
  }
}

void vxImage::TakeBlock(vxImage& other) {
  Delete();
  header = other.header;
  palette = other.palette;
  bits = other.bits;
  other.header = nullptr;
  other.palette = nullptr;
  other.bits = nullptr;
}

int vxImage::Create(int width, int height, int bitCount, int colours) {
  if (bitCount == 24) colours = 0;
  vxBitmapInfoHeader* block = vxAllocateBlock(width, height, bitCount, colours);
  if (!block) {
    header = nullptr;
    return 0;
  }
  header = block;
  palette = vxBlockPalette(block);
  bits = vxBlockBits(block);
  vxSetGreyRamp(palette, colours);
  std::memset(bits, 128, Stride() * static_cast<size_t>(height));
  return 1;
}

vxSize vxImage::GetSize() const {
  if (!header) return {};
  return {header->width, header->height};
}

vxRGBA vxImage::PaletteEntry(int index) const {
  if (!header || index < 0 || index >= static_cast<int>(header->coloursUsed)) return {0, 0, 0, 0};
  return palette[index];
}

bool vxImage::IsGreyRamp() const {
  if (!header || header->bitCount != 8 || header->coloursUsed != 256) return false;
  for (int i = 0; i < 256; ++i) {
    const vxRGBA& e = palette[i];
    if (e.red != i || e.green != i || e.blue != i) return false;
  }
  return true;
}

int vxImage::GetColor(int x, int y, unsigned char* index) const {
  if (!header || header->bitCount != 8) return -2;
  x = ClampInt(x, 0, header->width - 1);
  y = ClampInt(y, 0, header->height - 1);
  *index = Row(y)[x];
  return 0;
}

int vxImage::GetColor(int x, int y, unsigned char* red, unsigned char* green,
                      unsigned char* blue) const {
  if (!header || header->bitCount != 24) return -2;
  x = ClampInt(x, 0, header->width - 1);
  y = ClampInt(y, 0, header->height - 1);
  const unsigned char* p = Row(y) + 3 * static_cast<size_t>(x);
  *blue = p[0];
  *green = p[1];
  *red = p[2];
  return 0;
}

int vxImage::SetColor(int x, int y, unsigned char index) {
  if (!header || header->bitCount != 8) return -2;
  x = ClampInt(x, 0, header->width - 1);
  y = ClampInt(y, 0, header->height - 1);
  Row(y)[x] = index;
  return 0;
}

int vxImage::SetColor(int x, int y, unsigned char red, unsigned char green, unsigned char blue) {
  if (!header || header->bitCount != 24) return -2;
  x = ClampInt(x, 0, header->width - 1);
  y = ClampInt(y, 0, header->height - 1);
  unsigned char* p = Row(y) + 3 * static_cast<size_t>(x);
  p[0] = blue;
  p[1] = green;
  p[2] = red;
  return 0;
}

void vxImage::InitializePos() {
  streamX = 0;
  streamY = header ? header->height - 1 : 0;
}

namespace {

void AdvanceCursor(int32_t& x, int32_t& y, int width, int height) {
  if (++x >= width) {
    x = 0;
    if (--y < 0) y = height - 1;
  }
}

}  // namespace

int vxImage::StreamColor(unsigned char index) {
  if (SetColor(streamX, streamY, index) != 0) return -2;
  AdvanceCursor(streamX, streamY, header->width, header->height);
  return 0;
}

int vxImage::StreamColor(unsigned char red, unsigned char green, unsigned char blue) {
  if (SetColor(streamX, streamY, red, green, blue) != 0) return -2;
  AdvanceCursor(streamX, streamY, header->width, header->height);
  return 0;
}

int vxImage::CreateRGBPalette(int count, const vxRGBA* entries) {
  std::free(paletteHandle);
  paletteHandle = nullptr;
  if (count < 0) count = 0;
  const size_t bytes = offsetof(vxLogicalPalette, entries) + 4 * static_cast<size_t>(std::max(count, 1));
  auto* pal = static_cast<vxLogicalPalette*>(std::calloc(1, bytes));
  if (!pal) return 0;
  pal->version = 0x300;
  pal->count = static_cast<uint16_t>(count);
  for (int i = 0; i < count; ++i) {
    pal->entries[i] = vxPaletteEntry{entries[i].red, entries[i].green, entries[i].blue, 0};
  }
  paletteHandle = pal;
  return 1;
}

int vxImage::LoadImage(const char* fileName) {
  vxNoticeFileScope scope(fileName ? fileName : "");
  vxClearLastError();
  const int type = GetFileType(fileName);
  if (type < 0) {
    // Say why: a missing or unreadable file is not an unknown format.
    FILE* probe = fileName ? std::fopen(fileName, "rb") : nullptr;
    if (!probe) {
      vxSetLastError(std::string("cannot open the file: ") + std::strerror(errno));
    } else {
      std::fclose(probe);
      vxSetLastError("not a recognised image file");
    }
    return type;
  }
  vxRWImage* reader = CreateRWImage(type);
  if (!reader) {
    vxSetLastError("no reader for this file type");
    return -3;
  }
  void* options = reader->InOptions();
  int byteCount = -1;
  vxBitmapInfoHeader* newHeader = nullptr;
  vxRGBA* newPalette = nullptr;
  unsigned char* newBits = nullptr;
  const int result = reader->Read(fileName, &byteCount, &newHeader, &newPalette, &newBits, options);
  delete reader;
  if (result == 0 && newHeader) {
    // The old block is released here: nothing can reach it once the new one
    // is in place.
    Delete();
    header = newHeader;
    palette = newPalette;
    bits = newBits;
  }
  if (byteCount >= 0) loadedBytes = byteCount;
  return result;
}

int vxImage::SaveImage(const char* fileName, int type) {
  if (type != TypeWIF) return SaveImage(fileName, type, nullptr);
  vxRWImage* writer = CreateRWImage(type);
  if (!writer) return -3;
  void* options = writer->OutOptions();
  delete writer;
  if (!options) return vxSaveCancelled;
  const int result = SaveImage(fileName, type, options);
  vxFreeOptions(options);
  return result;
}

int vxImage::SaveImage(const char* fileName, int type, void* options) {
  vxNoticeFileScope scope(fileName ? fileName : "");
  vxClearLastError();
  if (!header || !fileName) return -1;
  vxRWImage* writer = CreateRWImage(type);
  if (!writer) {
    vxSetLastError("no writer for this file type");
    return -3;
  }
  const int result = vxWriteReplacing(fileName, [&](const char* tempPath) {
    return writer->Write(tempPath, header, palette, bits, options);
  });
  delete writer;
  return result;
}

void* vxImage::GetInOptions(int type) {
  vxRWImage* rw = CreateRWImage(type);
  if (!rw) return nullptr;
  void* options = rw->InOptions();
  delete rw;
  return options;
}

void* vxImage::GetOutOptions(int type) {
  vxRWImage* rw = CreateRWImage(type);
  if (!rw) return nullptr;
  void* options = rw->OutOptions();
  delete rw;
  return options;
}

int vxImage::GetInfo(const char* fileName, vxFileInfo* info) {
  vxNoticeFileScope scope(fileName ? fileName : "");
  const int type = GetFileType(fileName);
  if (type < 0) return type;
  vxRWImage* reader = CreateRWImage(type);
  if (!reader) return -1;
  vxFileInfo local = *info;
  const int result = reader->GetFileInfo(fileName, &local);
  delete reader;
  if (result != 0) return -1;
  *info = local;
  return 0;
}
