#include "formats/jpeg/exif.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned kOrientationTag = 0x0112;
constexpr unsigned kTypeShort = 3;
constexpr unsigned kTypeLong = 4;
constexpr size_t kEntryBytes = 12;

// Bounded reads of the TIFF structure; every offset is checked by the caller
// against `size` first.
struct TiffBytes {
  const unsigned char* data;
  size_t size;
  bool bigEndian;

  unsigned Word(size_t at) const {
    return bigEndian ? (data[at] << 8) | data[at + 1] : data[at] | (data[at + 1] << 8);
  }
  uint32_t Long(size_t at) const {
    const uint32_t b0 = data[at], b1 = data[at + 1], b2 = data[at + 2], b3 = data[at + 3];
    return bigEndian ? (b0 << 24) | (b1 << 16) | (b2 << 8) | b3
                     : (b3 << 24) | (b2 << 16) | (b1 << 8) | b0;
  }
};

}  // namespace

int vxExifOrientation(const unsigned char* data, size_t size) {
  static const unsigned char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (!data || size < sizeof kExif + 8 || std::memcmp(data, kExif, sizeof kExif) != 0) return 0;
  TiffBytes tiff{data + sizeof kExif, size - sizeof kExif, false};
  if (tiff.data[0] == 'I' && tiff.data[1] == 'I') {
    tiff.bigEndian = false;
  } else if (tiff.data[0] == 'M' && tiff.data[1] == 'M') {
    tiff.bigEndian = true;
  } else {
    return 0;
  }
  if (tiff.Word(2) != 42) return 0;

  const uint64_t directory = tiff.Long(4);
  if (directory + 2 > tiff.size) return 0;
  const unsigned count = tiff.Word(static_cast<size_t>(directory));
  for (unsigned i = 0; i < count; ++i) {
    const uint64_t entry = directory + 2 + uint64_t{i} * kEntryBytes;
    if (entry + kEntryBytes > tiff.size) break;
    const auto at = static_cast<size_t>(entry);
    if (tiff.Word(at) != kOrientationTag) continue;
    const unsigned type = tiff.Word(at + 2);
    if (tiff.Long(at + 4) < 1) return 0;
    uint32_t value = 0;
    if (type == kTypeShort) {
      value = tiff.Word(at + 8);
    } else if (type == kTypeLong) {
      value = tiff.Long(at + 8);
    } else {
      return 0;
    }
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
  }
  return 0;
}
