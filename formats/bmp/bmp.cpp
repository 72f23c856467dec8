#include "formats/bmp/bmp.h"

#include <algorithm>
#include <limits>
#include <string>

#include "engine/notice.h"
#include "formats/registry.h"

using namespace bmp;

namespace {

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int Refuse(const std::string& reason) {
  vxSetLastError(reason);
  return vxNotRecognised;
}

bool DecodableCompression(const Layout& l) {
  switch (l.compression) {
    case kRgb:
      return true;
    case kRle8:
      return l.bitCount == 8;
    case kRle4:
      return l.bitCount == 4;
    case kBitFields:
    case kAlphaBitFields:
      // Masks live behind a 40-byte header or inside a larger Windows header;
      // OS/2 2.x headers use these numbers for Huffman and RLE24 coding.
      return (l.bitCount == 16 || l.bitCount == 32) &&
             (l.headerSize == kInfoHeaderSize ||
              (l.headerSize >= 52 && l.headerSize != kOs2v2HeaderSize));
    default:
      return false;
  }
}

}  // namespace

vxRWImage* vxCreateBMP() { return new vxBMP; }

vxBMP::vxBMP() { SetIdentity(TypeBMP, 3, "BMP|DIB", "Windows Bitmap|Device Independent Bitmap"); }

int vxBMP::ReadLayout(FILE* stream, Layout& l, bool headersOnly) {
  l.fileLength = vxStreamLength(stream);
  if (l.fileLength < kFileHeaderSize + 4 || std::fseek(stream, 10, SEEK_SET) != 0) {
    return Refuse("file too short for a bitmap header");
  }
  const uint32_t dataOffset = ReadLong(stream);
  l.headerSize = ReadLong(stream);
  if (l.headerSize < kCoreHeaderSize || l.headerSize > kLargestHeaderSize ||
      (l.headerSize > kCoreHeaderSize && l.headerSize < 16)) {
    return Refuse("unsupported bitmap header size " + std::to_string(l.headerSize) +
                  " (headers of 12 to 124 bytes are known)");
  }
  if (kFileHeaderSize + l.headerSize > static_cast<uint64_t>(l.fileLength)) {
    return Refuse("file too short for its " + std::to_string(l.headerSize) + "-byte header");
  }
  // The fields a shortened OS/2 2.x header leaves out read as zero.
  unsigned char h[kLargestHeaderSize] = {};
  if (std::fread(h + 4, 1, l.headerSize - 4, stream) != l.headerSize - 4) {
    return Refuse("cannot read the bitmap header");
  }
  l.core = l.headerSize == kCoreHeaderSize;
  int64_t rawHeight;
  if (l.core) {
    l.width = Le16(h + 4);
    rawHeight = Le16(h + 6);
    l.bitCount = Le16(h + 10);
  } else {
    l.width = static_cast<int32_t>(Le32(h + 4));
    rawHeight = static_cast<int32_t>(Le32(h + 8));
    l.bitCount = Le16(h + 14);
    l.compression = Le32(h + 16);
    l.imageSize = Le32(h + 20);
    l.xPelsPerMeter = static_cast<int32_t>(Le32(h + 24));
    l.yPelsPerMeter = static_cast<int32_t>(Le32(h + 28));
    l.coloursUsed = Le32(h + 32);
    l.coloursImportant = Le32(h + 36);
  }
  if (l.width <= 0) return Refuse("invalid width " + std::to_string(l.width));
  if (rawHeight == 0 || rawHeight == std::numeric_limits<int32_t>::min()) {
    return Refuse("invalid height " + std::to_string(rawHeight));
  }
  l.topDown = rawHeight < 0;
  l.height = l.topDown ? -rawHeight : rawHeight;
  const int b = l.bitCount;
  if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) {
    return Refuse("unsupported depth of " + std::to_string(b) + " bits per pixel");
  }
  if (headersOnly) return 0;

  if (!DecodableCompression(l)) {
    vxPostNotice(vxNoticeKind::Error, "", "Unrecognized compression format\n");
    return Refuse("unrecognised compression " + std::to_string(l.compression) + " for " +
                  std::to_string(b) + "-bit pixels");
  }

  uint64_t position = kFileHeaderSize + l.headerSize;
  if (b == 16) {
    l.masks[0] = 0x7C00;
    l.masks[1] = 0x03E0;
    l.masks[2] = 0x001F;
  } else if (b == 32) {
    l.masks[0] = 0xFF0000;
    l.masks[1] = 0x00FF00;
    l.masks[2] = 0x0000FF;
  }
  if (l.compression == kBitFields || l.compression == kAlphaBitFields) {
    if (l.headerSize == kInfoHeaderSize) {
      const uint64_t maskBytes = l.compression == kBitFields ? 12 : 16;
      if (position + maskBytes > static_cast<uint64_t>(l.fileLength)) {
        return Refuse("file too short for its bit-field masks");
      }
      for (uint32_t& mask : l.masks) mask = ReadLong(stream);
      position += maskBytes;
    } else {
      for (int i = 0; i < 3; ++i) l.masks[i] = Le32(h + 40 + 4 * i);
    }
  }

  l.entrySize = l.core ? 3 : 4;
  if (b <= 8) {
    const uint32_t full = 1u << b;
    l.tableEntries = (l.coloursUsed != 0 && !l.core) ? l.coloursUsed : full;
    if (l.tableEntries > 256) {
      return Refuse("colour table of " + std::to_string(l.tableEntries) +
                    " entries (at most 256 are possible)");
    }
    l.paletteEntries = std::min<uint32_t>(static_cast<uint32_t>(l.tableEntries), full);
  } else if (b == 24) {
    // A 24-bit file may carry a table for palette displays; it is skipped.
    l.tableEntries = l.coloursUsed != 0 ? l.coloursUsed : l.coloursImportant;
  } else {
    l.tableEntries = l.coloursUsed;
  }
  l.tableStart = position;
  const uint64_t tableEnd = position + l.tableEntries * static_cast<uint64_t>(l.entrySize);
  if (tableEnd > static_cast<uint64_t>(l.fileLength)) {
    return Refuse("the colour table runs past the end of the file");
  }
  // Writers may leave a gap behind the table; an offset that points into the
  // table or beyond the file is not trusted.
  const bool offsetUsable =
      dataOffset >= tableEnd && dataOffset < static_cast<uint64_t>(l.fileLength);
  l.dataStart = offsetUsable ? dataOffset : tableEnd;
  return 0;
}

int vxBMP::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FILE* stream = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!stream) return vxCannotOpen;
  Layout l;
  const int result = ReadLayout(stream, l, true);
  std::fclose(stream);
  if (result != 0) return vxNotRecognised;
  info->width = static_cast<uint16_t>(l.width);
  info->height = static_cast<uint16_t>(l.height);
  info->bitsPerPixel = static_cast<uint8_t>(l.bitCount);
  info->fileSize = static_cast<uint32_t>(l.fileLength);
  return 0;
}
