// Helpers of the bitmap tests: a builder for hand-made files, the external
// decoders that judge the reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format_util.h"

namespace bmp_test {

using namespace format_test;

inline uint32_t Get32(const std::vector<uint8_t>& in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) |
         (static_cast<uint32_t>(in[at + 3]) << 24);
}
inline void Set32(std::vector<uint8_t>& in, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) in[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file put together field by field.
struct Bitmap {
  uint32_t headerSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  uint32_t coloursImportant = 0;
  std::vector<uint32_t> masks;  // behind a 40-byte header, or inside a larger one
  std::vector<vxRGBA> table;    // 3-byte entries for a 12-byte header
  std::vector<uint8_t> gap;     // bytes between the table and the pixels
  std::optional<uint32_t> offset;
  std::vector<uint8_t> pixels;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> h;
    if (headerSize == 12) {
      Put32(h, 12);
      Put16(h, static_cast<uint32_t>(width));
      Put16(h, static_cast<uint32_t>(height));
      Put16(h, 1);
      Put16(h, bitCount);
    } else {
      Put32(h, headerSize);
      Put32(h, static_cast<uint32_t>(width));
      Put32(h, static_cast<uint32_t>(height));
      Put16(h, 1);
      Put16(h, bitCount);
      Put32(h, compression);
      Put32(h, 0);
      Put32(h, 2835);
      Put32(h, 2835);
      Put32(h, coloursUsed);
      Put32(h, coloursImportant);
      if (headerSize > 40) {
        for (size_t i = 0; i < 4; ++i) Put32(h, i < masks.size() ? masks[i] : 0);
        h.resize(headerSize);
      } else if (headerSize < 40) {
        h.resize(headerSize);  // a shortened OS/2 2.x header
      } else {
        for (uint32_t m : masks) Put32(h, m);
      }
    }
    for (const vxRGBA& e : table) {
      h.insert(h.end(), {e.blue, e.green, e.red});
      if (headerSize != 12) h.push_back(0);
    }
    h.insert(h.end(), gap.begin(), gap.end());
    std::vector<uint8_t> out = {'B', 'M'};
    const uint32_t dataOffset = static_cast<uint32_t>(14 + h.size());
    Put32(out, static_cast<uint32_t>(14 + h.size() + pixels.size()));
    Put32(out, 0);
    Put32(out, offset.value_or(dataOffset));
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
  }
};

// Sixteen clearly different colours.
inline std::vector<vxRGBA> SixteenColours() {
  std::vector<vxRGBA> t;
  for (int i = 0; i < 16; ++i) {
    t.push_back(vxRGBA{static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 15),
                       static_cast<uint8_t>((i * 67) & 0xFF), 0});
  }
  return t;
}

// Top-down RGB of 8-bit index rows given bottom-up, for expectations.
inline Picture FromIndices(int width, int height, const std::vector<std::vector<int>>& topDownRows,
                           const std::vector<vxRGBA>& table) {
  Picture p{width, height, {}};
  for (const auto& row : topDownRows) {
    for (int x = 0; x < width; ++x) {
      const vxRGBA e = table[row[x]];
      p.rgb.insert(p.rgb.end(), {e.red, e.green, e.blue});
    }
  }
  return p;
}

inline std::optional<Picture> DecodeWith(const std::string& command, const std::string& ppm) {
  Picture p;
  if (testing_support::RunCommand("(" + command + ") 2>/dev/null") != 0) return std::nullopt;
  if (!testing_support::ReadNetpbmRGB(ppm, p.width, p.height, p.rgb)) return std::nullopt;
  return p;
}

// ImageMagick's decoding of a file (alpha dropped, 8 bits per sample).
inline std::optional<Picture> ByImageMagick(const std::string& file) {
  const std::string ppm = file + ".im.ppm";
  return DecodeWith("convert '" + file + "' -alpha off -depth 8 'ppm:" + ppm + "'", ppm);
}

// netpbm's decoding of a file.
inline std::optional<Picture> ByNetpbm(const std::string& file) {
  const std::string ppm = file + ".pbm.ppm";
  return DecodeWith("bmptopnm '" + file + "' | ppmtoppm > '" + ppm + "'", ppm);
}

// Lunark's decoding; `result` gets LoadImage's result.
inline Picture ByLunark(const std::string& file, int* result = nullptr) {
  Picture p;
  const int r = format_test::LoadPicture(file, p);
  if (result) *result = r;
  return p;
}

inline bool HaveJudges() {
  return testing_support::HaveTool("convert") && testing_support::HaveTool("bmptopnm") &&
         testing_support::HaveTool("ppmtoppm");
}

}  // namespace bmp_test
