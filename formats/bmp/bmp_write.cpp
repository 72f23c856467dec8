// Writing an image block as a bitmap with the 40-byte header: 24-, 8- and
// 4-bit rows as held in memory, 1-bit images (one byte per pixel in memory)
// packed eight pixels to the byte, most significant bit first.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/notice.h"
#include "formats/bmp/bmp.h"

using namespace bmp;

namespace {

std::string WriteFailure(int error) {
  return std::string("write failed: ") + std::strerror(error ? error : EIO);
}

}  // namespace

int vxBMP::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                 unsigned char* bits, void* options) {
  if (!fileName || !header || !bits) return vxCannotOpen;
  const int bitCount = header->bitCount;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) {
    vxPostNotice(vxNoticeKind::Error, "",
                 "Unexpected biBitCoun " + std::to_string(bitCount) + " \n");
    vxSetLastError("cannot write " + std::to_string(bitCount) + "-bit images as BMP");
    return vxCannotOpen;
  }
  const int32_t width = header->width;
  const int32_t height = header->height;
  if (width <= 0 || height <= 0) {
    vxSetLastError("the image has no pixels");
    return vxCannotOpen;
  }
  FILE* stream = vxOpenWritten(fileName);
  if (!stream) {
    vxSetLastError(std::string("cannot create the file: ") + std::strerror(errno));
    return vxCannotOpen;
  }
  errno = 0;

  // The table written is the image's palette, cut to what the depth can
  // index; a palette image without one gets a black table so that the file
  // stays readable.
  const uint32_t used = header->coloursUsed;
  uint32_t entries;
  if (bitCount == 24) {
    entries = std::min<uint32_t>(used, 256);
  } else {
    const uint32_t full = 1u << bitCount;
    entries = used == 0 ? full : std::min(used, full);
  }
  const uint32_t important = std::min(header->coloursImportant, entries);

  // The true file size: ImageMagick refuses files whose size field is 0.
  const size_t stride = vxRowStride(width, bitCount);
  const uint64_t fileStride = bitCount == 1 ? (static_cast<uint64_t>(width) + 31) / 32 * 4 : stride;
  const uint64_t dataOffset = kFileHeaderSize + kInfoHeaderSize + 4 * uint64_t{entries};
  const uint64_t fileSize = dataOffset + fileStride * static_cast<uint64_t>(height);
  WriteByte(stream, 'B');
  WriteByte(stream, 'M');
  WriteLong(stream, fileSize > UINT32_MAX ? 0 : static_cast<uint32_t>(fileSize));
  WriteWord(stream, 0);
  WriteWord(stream, 0);
  WriteLong(stream, static_cast<uint32_t>(dataOffset));
  WriteLong(stream, kInfoHeaderSize);
  WriteLong(stream, static_cast<uint32_t>(width));
  WriteLong(stream, static_cast<uint32_t>(height));
  WriteWord(stream, 1);
  WriteWord(stream, static_cast<uint16_t>(bitCount));
  WriteLong(stream, kRgb);
  WriteLong(stream, 0);  // image size
  WriteLong(stream, 1);
  WriteLong(stream, 1);
  WriteLong(stream, entries);
  WriteLong(stream, important);
  for (uint32_t i = 0; i < entries; ++i) {
    const vxRGBA e = i < used ? palette[i] : vxRGBA{0, 0, 0, 0};
    const unsigned char out[4] = {e.blue, e.green, e.red, 0};
    std::fwrite(out, 1, 4, stream);
  }

  bool failed = std::ferror(stream) != 0;
  if (bitCount == 1) {
    std::vector<unsigned char> packed(static_cast<size_t>(fileStride));
    for (int32_t y = 0; y < height && !failed; ++y) {
      const unsigned char* row = bits + static_cast<size_t>(y) * stride;
      std::fill(packed.begin(), packed.end(), 0);
      for (int32_t x = 0; x < width; ++x) {
        if (row[x] & 1) packed[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
      }
      failed = std::fwrite(packed.data(), 1, packed.size(), stream) != packed.size();
    }
  } else {
    for (int32_t y = 0; y < height && !failed; ++y) {
      failed = std::fwrite(bits + static_cast<size_t>(y) * stride, 1, stride, stream) != stride;
    }
  }
  int error = failed ? errno : 0;
  if (vxCloseWritten(stream) != 0) {
    if (error == 0) error = errno;
    failed = true;
  }
  if (failed) {
    vxSetLastError(WriteFailure(error));
    return vxCannotOpen;
  }
  return vxOK;
}
