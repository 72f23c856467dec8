// Helpers of the JPEG, TIFF and EXIF tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format_util.h"

namespace jt {

using namespace testing_support;
using namespace format_test;

// Reads with a format class directly, as a library caller would; the image
// takes what was read. Returns Read's result.
inline int ReadWith(int type, const std::string& path, vxImage& image) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  int byteCount = -1;
  const int result = rw->Read(path.c_str(), &byteCount, &header, &palette, &bits, nullptr);
  if (result == 0) {
    EXPECT_EQ(palette, vxBlockPalette(header));
    EXPECT_EQ(bits, vxBlockBits(header));
    image.AdoptBlock(header);
  }
  return result;
}

inline int WriteWith(int type, const std::string& path, vxBitmapInfoHeader* header, vxRGBA* palette,
                     unsigned char* bits, void* options = nullptr) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  return rw->Write(path.c_str(), header, palette, bits, options);
}
inline int WriteWith(int type, const std::string& path, vxImage& image, void* options = nullptr) {
  return WriteWith(type, path, image.header, image.palette, image.bits, options);
}

// One entry of a TIFF directory; a SHORT value sits in the first two bytes
// of its field.
struct IfdEntry {
  uint16_t tag, type;
  uint32_t count, value;
};

// A TIFF header and directory 0 at `offset`, with no next directory.
inline std::vector<uint8_t> TiffDirectory(bool bigEndian, const std::vector<IfdEntry>& entries,
                                          uint32_t offset = 8) {
  std::vector<uint8_t> t = {uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
  auto word = [&](uint32_t v) {
    if (bigEndian)
      t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)});
    else
      t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  auto dword = [&](uint32_t v) {
    word(bigEndian ? v >> 16 : v & 0xFFFF);
    word(bigEndian ? v & 0xFFFF : v >> 16);
  };
  word(42);
  dword(offset);
  t.resize(std::max<size_t>(t.size(), offset), 0);
  word(static_cast<uint32_t>(entries.size()));
  for (const IfdEntry& e : entries) {
    word(e.tag);
    word(e.type);
    dword(e.count);
    if (e.type == 3) {
      word(e.value);
      word(0);
    } else {
      dword(e.value);
    }
  }
  dword(0);
  return t;
}

// Top-down RGB of a netpbm file that a shell command wrote to `ppm`.
inline std::vector<uint8_t> ToolRGB(const std::string& command, const std::string& ppm, int& width,
                                    int& height) {
  std::vector<uint8_t> rgb;
  width = height = 0;
  if (RunCommand(command) != 0 || !ReadNetpbmRGB(ppm, width, height, rgb)) {
    ADD_FAILURE() << "tool failed: " << command;
  }
  return rgb;
}

// A picture with distinct flat regions: lossy codecs keep it nearly exact
// and every flip or turn changes it.
inline void MakeQuadrants(vxImage& image, int width, int height) {
  image.Delete();
  image.Create(width, height, 24, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool top = y >= height / 2, left = x < width / 2;
      const unsigned char r = top ? (left ? 230 : 20) : (left ? 20 : 200);
      const unsigned char g = top ? (left ? 30 : 220) : (left ? 40 : 200);
      const unsigned char b = top ? (left ? 30 : 30) : (left ? 210 : 40);
      image.SetColor(x, y, r, g, b);
    }
  }
}

// Writes an image as a binary PPM for the tools to read.
inline void WritePpm(const std::string& path, const vxImage& image) {
  const std::string head =
      "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
  WriteFileBytes(path, Concat(std::vector<uint8_t>(head.begin(), head.end()), TopDownRGB(image)));
}

// Feeds every prefix of `bytes` (stepping by `step`) and `flips` single-byte
// corruptions to `read`, which must neither crash nor fail in a way other
// than its result code.
inline void Torture(const std::vector<uint8_t>& bytes, const std::string& path, size_t step,
                    int flips, const std::function<void(const std::string&)>& read) {
  for (size_t n = 0; n < bytes.size(); n += step) {
    WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
    read(path);
  }
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  for (int i = 0; i < flips; ++i) {
    std::vector<uint8_t> bad = bytes;
    const int hits = 1 + static_cast<int>(next() % 4);
    for (int h = 0; h < hits; ++h)
      bad[next() % bad.size()] ^= static_cast<uint8_t>(1 + next() % 255);
    WriteFileBytes(path, bad);
    read(path);
  }
}

}  // namespace jt
