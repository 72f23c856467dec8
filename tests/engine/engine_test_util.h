// Small builders shared by the engine operation tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/image.h"
#include "support/test_support.h"

namespace engine_test {

// An 8-bit image with the given palette; pixel (x, y) holds indexOf(x, y).
template <class IndexOf>
void MakeIndexed(vxImage& image, int w, int h, const std::vector<vxRGBA>& palette,
                 IndexOf indexOf) {
  image.AdoptBlock(vxAllocateBlock(w, h, 8, static_cast<int>(palette.size())));
  ASSERT_FALSE(image.IsEmpty());
  if (!palette.empty()) std::memcpy(image.palette, palette.data(), 4 * palette.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.Row(y)[x] = static_cast<unsigned char>(indexOf(x, y));
  }
}

inline vxRGBA Rgb(int r, int g, int b) {
  return vxRGBA{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
}
inline vxRGBA Grey(int v) { return Rgb(v, v, v); }

// A palette of 256 greys, entry i showing level(i).
template <class Level>
std::vector<vxRGBA> GreyPalette(Level level) {
  std::vector<vxRGBA> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = Grey(level(i));
  return pal;
}

// Header, palette and pixels (without row padding) of an image.
inline std::vector<uint8_t> Snapshot(const vxImage& image) {
  const auto* p = reinterpret_cast<const uint8_t*>(image.header);
  std::vector<uint8_t> out(p, p + 40 + 4 * static_cast<size_t>(image.ColoursUsed()));
  const size_t used = static_cast<size_t>(image.Width()) * (image.BitCount() / 8);
  for (int y = 0; y < image.Height(); ++y) out.insert(out.end(), image.Row(y), image.Row(y) + used);
  return out;
}

}  // namespace engine_test
