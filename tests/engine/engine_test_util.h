// Small builders and measures shared by the engine operation tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/image.h"
#include "support/test_support.h"

namespace engine_test {

// A 24-bit image from top-down RGB triples.
inline void FromTopDownRGB(vxImage& image, int w, int h, const std::vector<uint8_t>& rgb) {
  image.Delete();
  ASSERT_EQ(image.Create(w, h, 24, 0), 1);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = &rgb[3 * static_cast<size_t>(w) * (h - 1 - y)];
    unsigned char* row = image.Row(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x + 0] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x + 0];
    }
  }
}

// Loads a binary PPM/PGM without the engine's readers.
inline bool LoadNetpbm(vxImage& image, const std::string& path) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  if (!testing_support::ReadNetpbmRGB(path, w, h, rgb)) return false;
  FromTopDownRGB(image, w, h, rgb);
  return !image.IsEmpty();
}

// An 8-bit image with the given palette; pixel (x, y) holds indexOf(x, y).
template <class IndexOf>
void MakeIndexed(vxImage& image, int w, int h, const std::vector<vxRGBA>& palette, IndexOf indexOf) {
  image.Delete();
  vxBitmapInfoHeader* block = vxAllocateBlock(w, h, 8, static_cast<int>(palette.size()));
  ASSERT_NE(block, nullptr);
  image.AdoptBlock(block);
  if (!palette.empty()) std::memcpy(image.palette, palette.data(), 4 * palette.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.Row(y)[x] = static_cast<unsigned char>(indexOf(x, y));
  }
}

inline vxRGBA Grey(int v) {
  const auto g = static_cast<uint8_t>(v);
  return vxRGBA{g, g, g, 0};
}

inline vxRGBA Rgb(int r, int g, int b) {
  return vxRGBA{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
}

// Mean Euclidean distance between the pixels of two pictures (top-down RGB).
inline double MeanColourError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i + 2 < a.size(); i += 3) {
    double d = 0;
    for (int k = 0; k < 3; ++k) d += std::pow(static_cast<double>(a[i + k]) - b[i + k], 2);
    sum += std::sqrt(d);
  }
  return sum / static_cast<double>(a.size() / 3);
}

// Lowers the memory ceiling for the length of a scope, so that the next
// allocation of an image block fails.
class TightMemory {
 public:
  TightMemory() : old_(vxMaxImageBytes()) { vxSetMaxImageBytes(16); }
  ~TightMemory() { vxSetMaxImageBytes(old_); }

 private:
  uint64_t old_;
};

// Header, palette and pixels of an image (not the row padding) as bytes, for
// checking that an image is as it was.
inline std::vector<uint8_t> Snapshot(const vxImage& image) {
  const auto* p = reinterpret_cast<const uint8_t*>(image.header);
  std::vector<uint8_t> out(p, p + 40 + 4 * static_cast<size_t>(image.ColoursUsed()));
  const size_t used = static_cast<size_t>(image.Width()) * (image.BitCount() / 8);
  for (int y = 0; y < image.Height(); ++y) out.insert(out.end(), image.Row(y), image.Row(y) + used);
  return out;
}

}  // namespace engine_test
