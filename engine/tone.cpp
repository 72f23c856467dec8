// Brightness and contrast of palette images, and 3 x 3 convolution filters.
#include <algorithm>
#include <cmath>

#include "engine/image.h"
#include "engine/palette_table.h"

namespace {

// Rounds a channel value to the nearest level, clamped to 0..255.
uint8_t RoundLevel(double v) {
  if (v <= 0) return 0;
  if (v <= 255) return static_cast<uint8_t>(v + 0.499);
  return 255;
}

// Applies `adjust` to every channel of the source palette into the image's
// palette. A grey palette is adjusted through its red values alone.
template <class Adjust>
void AdjustPalette(vxImage& image, const vxRGBA* source, Adjust adjust) {
  const bool grey = image.IsGrayScale() != 0;
  for (int i = 0; i < image.ColoursUsed(); ++i) {
    const vxRGBA& s = source[i];
    vxRGBA& e = image.palette[i];
    if (grey) {
      const uint8_t v = adjust(s.red);
      e = vxRGBA{v, v, v, 0};
    } else {
      e = vxRGBA{adjust(s.blue), adjust(s.green), adjust(s.red), 0};
    }
  }
}

// Kernels: nine weights, top line first as seen on the screen (memory row
// y + 1), each line left to right, then the divisor.
constexpr int kKernels[14][10] = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 9},          // Low Pass 1
    {1, 1, 1, 1, 2, 1, 1, 1, 1, 10},         // Low Pass 2
    {1, 2, 1, 2, 4, 2, 1, 2, 1, 16},         // Low Pass 3
    {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1},  // High Pass 1
    {0, -1, 0, -1, 5, -1, 0, -1, 0, 1},      // High Pass 2
    {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},      // High Pass 3
    {1, -2, 1, -2, 5, -2, 1, -2, 1, 1},      // Difference 1
    {0, -1, 0, 0, 1, 0, 0, 0, 0, 1},         // Difference 2
    {0, 0, 0, -1, 1, 0, 0, 0, 0, 1},         // Difference 3
    {-1, 0, 0, 0, 1, 0, 0, 0, 0, 1},         // Laplace 1
    {0, 1, 0, 1, -4, 1, 0, 1, 0, 1},         // Laplace 2
    {-1, -1, -1, -1, 8, -1, -1, -1, -1, 1},  // Laplace 3
    {-1, -1, -1, -1, 9, -1, -1, -1, -1, 1},  // Laplace 4
    {-1, -2, -1, -2, 4, -2, -1, -2, -1, 1},  // no menu entry
};

template <int kDivisor>
uint8_t Finish(int sum, int divisor) {
  const int v = kDivisor ? sum / kDivisor : sum / divisor;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Filters one row. `up`, `mid` and `down` are the source rows above, at and
// below the output row (already clamped at the picture's top and bottom);
// neighbours left of the first or right of the last pixel repeat the edge
// pixel. kBytes is 1 for indices, 3 for colour pixels, each channel filtered
// on its own. kDivisor is the kernel's divisor when known at compile time.
template <int kBytes, int kDivisor>
void FilterRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
               unsigned char* out, int width, const int* k) {
  const int divisor = k[9];
  const auto at = [&](const unsigned char* row, int x, int c) {
    x = x < 0 ? 0 : (x >= width ? width - 1 : x);
    return static_cast<int>(row[static_cast<size_t>(x) * kBytes + c]);
  };
  const auto edge = [&](int x) {
    for (int c = 0; c < kBytes; ++c) {
      const int sum = k[0] * at(up, x - 1, c) + k[1] * at(up, x, c) + k[2] * at(up, x + 1, c) +
                      k[3] * at(mid, x - 1, c) + k[4] * at(mid, x, c) + k[5] * at(mid, x + 1, c) +
                      k[6] * at(down, x - 1, c) + k[7] * at(down, x, c) + k[8] * at(down, x + 1, c);
      out[static_cast<size_t>(x) * kBytes + c] = Finish<kDivisor>(sum, divisor);
    }
  };
  edge(0);
  if (width > 1) edge(width - 1);
  // Interior samples: every neighbour exists, kBytes samples away.
  const int k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5], k6 = k[6], k7 = k[7],
            k8 = k[8];
  const size_t end = static_cast<size_t>(width - 1) * kBytes;
  for (size_t i = kBytes; i < end; ++i) {
    const int sum = k0 * up[i - kBytes] + k1 * up[i] + k2 * up[i + kBytes] + k3 * mid[i - kBytes] +
                    k4 * mid[i] + k5 * mid[i + kBytes] + k6 * down[i - kBytes] + k7 * down[i] +
                    k8 * down[i + kBytes];
    out[i] = Finish<kDivisor>(sum, divisor);
  }
}

template <int kBytes, int kDivisor>
void FilterImage(const vxImage& source, unsigned char* out, size_t outStride, const int* k) {
  const int w = source.Width(), h = source.Height();
  for (int y = 0; y < h; ++y) {
    const unsigned char* up = source.Row(std::min(y + 1, h - 1));
    const unsigned char* down = source.Row(std::max(y - 1, 0));
    FilterRow<kBytes, kDivisor>(up, source.Row(y), down, out + outStride * static_cast<size_t>(y),
                                w, k);
  }
}

template <int kBytes>
void FilterWithKernel(const vxImage& source, unsigned char* out, size_t outStride, const int* k) {
  switch (k[9]) {
    case 1:
      return FilterImage<kBytes, 1>(source, out, outStride, k);
    case 9:
      return FilterImage<kBytes, 9>(source, out, outStride, k);
    case 10:
      return FilterImage<kBytes, 10>(source, out, outStride, k);
    case 16:
      return FilterImage<kBytes, 16>(source, out, outStride, k);
    default:
      return FilterImage<kBytes, 0>(source, out, outStride, k);
  }
}

}  // namespace

int vxImage::Brightness(const vxRGBA* source, int amount) {
  if (IsEmpty() || BitCount() == 24 || !source) return 0;
  const float a = static_cast<float>(amount);
  // The change is `amount` at 128 and fades to nothing at 0 and 255.
  AdjustPalette(*this, source, [a](int c) {
    const double v =
        c > 128 ? c + a * std::sqrt((255 - c) * 0.0078125) : c + a * std::sqrt(c * 0.0078125);
    return RoundLevel(v);
  });
  return 1;
}

int vxImage::Contrast(const vxRGBA* source, int amount) {
  if (IsEmpty() || !source) return 0;
  const float k = static_cast<float>(amount * 1.28);
  // One period of a sine over 0..255 pushes dark values down and bright ones
  // up; no value crosses the middle.
  AdjustPalette(*this, source, [k](int c) {
    const uint8_t r = RoundLevel(c - std::sin(c * 3.142 * 0.0078125) * k);
    return c < 128 ? std::min<uint8_t>(r, 128) : std::max<uint8_t>(r, 128);
  });
  return 1;
}

int vxImage::Filter(int index) {
  if (index < 0 || index >= 14) return -1;
  if (IsEmpty() || (BitCount() != 8 && BitCount() != 24)) return 1;
  // A colour palette image is filtered in colour, as a 24-bit image; a grey
  // one on its indices, which must be grey levels first.
  vxScopedImage converted;
  const vxImage* source = this;
  if (BitCount() == 8 && (!IsGrayScale() || !IsGreyRamp())) {
    vxBitmapInfoHeader* block = IsGrayScale() ? vxLinearGreyBlock(*this) : vxExpandTo24Bit(*this);
    if (!block) return -3;
    converted.AdoptBlock(block);
    source = &converted;
  }
  const int w = Width(), h = Height(), bitCount = source->BitCount();
  vxBitmapInfoHeader* block = vxAllocateBlock(w, h, bitCount, bitCount == 8 ? 256 : 0);
  if (!block) return -3;
  const size_t outStride = vxRowStride(w, bitCount);
  if (bitCount == 8) {
    vxSetGreyRamp(vxBlockPalette(block), 256);
    FilterWithKernel<1>(*source, vxBlockBits(block), outStride, kKernels[index]);
  } else {
    FilterWithKernel<3>(*source, vxBlockBits(block), outStride, kKernels[index]);
  }
  AdoptBlock(block);
  return 1;
}
