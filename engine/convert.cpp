// Colour-depth conversions: palette to true colour, colour to grey, grey
// palettes to the identity ramp, palette baking, inversion, and the 8-bit
// display copy of a true-colour image.
#include <algorithm>
#include <cstring>

#include "engine/image.h"
#include "engine/palette_table.h"
#include "engine/quantizer.h"

namespace {

// The luminance products, truncated one by one, as tables.
struct LuminanceTables {
  LuminanceTables() {
    for (int v = 0; v < 256; ++v) {
      red[v] = static_cast<int>(0.299 * v);
      green[v] = static_cast<int>(0.587 * v);
      blue[v] = static_cast<int>(0.114 * v);
    }
  }
  int red[256];
  int green[256];
  int blue[256];
};

const LuminanceTables& Luminance() {
  static const LuminanceTables tables;
  return tables;
}

bool Is8Bit(const vxImage& image) { return !image.IsEmpty() && image.BitCount() == 8; }
bool Is24Bit(const vxImage& image) { return !image.IsEmpty() && image.BitCount() == 24; }

// A new 8-bit block of the image's size with a 256-entry grey ramp, whose
// pixel at each place is map[old index]. Null when memory is short.
vxBitmapInfoHeader* RemapToGreyRamp(const vxImage& image, const uint8_t* map) {
  const int w = image.Width(), h = image.Height();
  vxBitmapInfoHeader* block = vxAllocateBlock(w, h, 8, 256);
  if (!block) return nullptr;
  vxSetGreyRamp(vxBlockPalette(block), 256);
  const size_t stride = vxRowStride(w, 8);
  unsigned char* out = vxBlockBits(block);
  for (int y = 0; y < h; ++y) {
    const unsigned char* in = image.Row(y);
    unsigned char* o = out + stride * static_cast<size_t>(y);
    for (int x = 0; x < w; ++x) o[x] = map[in[x]];
  }
  return block;
}

// Replaces every index by map[index] and sets the palette to the grey ramp.
// A palette shorter than 256 entries is replaced by a full ramp in a new
// block, so that every grey level has an entry. Returns 1, or -3 when memory
// is short (the image is then unchanged).
int RemapGreyInPlace(vxImage& image, const uint8_t* map) {
  if (image.ColoursUsed() != 256) {
    vxBitmapInfoHeader* block = RemapToGreyRamp(image, map);
    if (!block) return -3;
    image.AdoptBlock(block);
    return 1;
  }
  const int w = image.Width();
  for (int y = 0; y < image.Height(); ++y) {
    unsigned char* row = image.Row(y);
    for (int x = 0; x < w; ++x) row[x] = map[row[x]];
  }
  vxSetGreyRamp(image.palette, 256);
  return 1;
}

}  // namespace

vxPaletteTable::vxPaletteTable(const vxImage& image) {
  std::memset(entry, 0, sizeof entry);
  const int n = std::min(image.IsEmpty() ? 0 : image.ColoursUsed(), 256);
  for (int i = 0; i < n; ++i) entry[i] = image.palette[i];
}

int vxLuminance(int red, int green, int blue) {
  const LuminanceTables& t = Luminance();
  return t.red[red] + t.green[green] + t.blue[blue];
}

vxBitmapInfoHeader* vxExpandTo24Bit(const vxImage& image) {
  const vxPaletteTable table(image);
  const int w = image.Width(), h = image.Height();
  vxBitmapInfoHeader* block = vxAllocateBlock(w, h, 24, 0);
  if (!block) return nullptr;
  const size_t stride = vxRowStride(w, 24);
  unsigned char* out = vxBlockBits(block);
  for (int y = 0; y < h; ++y) {
    const unsigned char* in = image.Row(y);
    unsigned char* o = out + stride * static_cast<size_t>(y);
    for (int x = 0; x < w; ++x, o += 3) {
      const vxRGBA& e = table.entry[in[x]];
      o[0] = e.blue;
      o[1] = e.green;
      o[2] = e.red;
    }
  }
  return block;
}

vxBitmapInfoHeader* vxLinearGreyBlock(const vxImage& image) {
  const vxPaletteTable table(image);
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) map[i] = table.entry[i].red;
  return RemapToGreyRamp(image, map);
}

int vxImage::Make24Bit() {
  if (!Is8Bit(*this)) return -8;
  vxBitmapInfoHeader* block = vxExpandTo24Bit(*this);
  if (!block) return -3;
  AdoptBlock(block);
  return 1;
}

int vxImage::MakeGrayScale() {
  if (!Is8Bit(*this)) return -1;
  const vxPaletteTable table(*this);
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) {
    const vxRGBA& e = table.entry[i];
    map[i] = static_cast<uint8_t>(vxLuminance(e.red, e.green, e.blue));
  }
  return RemapGreyInPlace(*this, map);
}

int vxImage::MakeLinearGray() {
  if (!Is8Bit(*this)) return -8;
  vxBitmapInfoHeader* block = vxLinearGreyBlock(*this);
  if (!block) return -3;
  AdoptBlock(block);
  return 1;
}

int vxImage::Make8Bit() {
  if (!Is24Bit(*this)) return -1;
  const int w = Width(), h = Height();
  vxBitmapInfoHeader* block = vxAllocateBlock(w, h, 8, 256);
  if (!block) return -3;
  vxSetGreyRamp(vxBlockPalette(block), 256);
  const LuminanceTables& lum = Luminance();
  const size_t stride = vxRowStride(w, 8);
  unsigned char* out = vxBlockBits(block);
  for (int y = 0; y < h; ++y) {
    const unsigned char* in = Row(y);
    unsigned char* o = out + stride * static_cast<size_t>(y);
    for (int x = 0; x < w; ++x, in += 3) {
      o[x] = static_cast<unsigned char>(lum.blue[in[0]] + lum.green[in[1]] + lum.red[in[2]]);
    }
  }
  AdoptBlock(block);
  return 1;
}

int vxImage::Create8bitColor(int colours, vxColorReduction method) {
  if (!Is24Bit(*this)) return -1;
  vxQuantizer quantizer;
  vxBMINFO* block = quantizer.Quantize(bits, Width(), Height(), colours, method);
  if (!block) return -3;
  // A copy made earlier describes the picture as it was then.
  vxFreeBlock(altHeader);
  altHeader = block;
  altPalette = vxBlockPalette(block);
  altBits = vxBlockBits(block);
  return 1;
}

int vxImage::SwapRB() {
  if (!Is24Bit(*this)) return -1;
  const int w = Width();
  for (int y = 0; y < Height(); ++y) {
    unsigned char* p = Row(y);
    for (int x = 0; x < w; ++x, p += 3) std::swap(p[0], p[2]);
  }
  return 1;
}

int vxImage::IsGrayScale() const {
  if (IsEmpty() || header->bitCount == 24) return 0;
  for (uint32_t i = 0; i < header->coloursUsed; ++i) {
    if (palette[i].red != palette[i].green || palette[i].red != palette[i].blue) return 0;
  }
  return 1;
}

int vxImage::IsColorMapSorted() const { return !IsEmpty() && header->bitCount != 24 ? 1 : 0; }

int vxImage::ApplyColorMap() {
  // Colour palettes already are the result, and 24-bit images have none.
  if (!Is8Bit(*this) || !IsGrayScale()) return 1;
  const vxPaletteTable table(*this);
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) map[i] = table.entry[i].red;
  return RemapGreyInPlace(*this, map);
}

int vxImage::InvertColor() {
  if (Is24Bit(*this)) {
    const size_t rowBytes = 3 * static_cast<size_t>(Width());
    for (int y = 0; y < Height(); ++y) {
      unsigned char* p = Row(y);
      for (size_t i = 0; i < rowBytes; ++i) p[i] = static_cast<unsigned char>(255 - p[i]);
    }
    return 0;
  }
  if (!Is8Bit(*this)) return -2;
  if (!IsGrayScale()) {
    for (int i = 0; i < ColoursUsed(); ++i) {
      vxRGBA& e = palette[i];
      e = vxRGBA{static_cast<uint8_t>(255 - e.blue), static_cast<uint8_t>(255 - e.green),
                 static_cast<uint8_t>(255 - e.red), e.reserved};
    }
    return 0;
  }
  // Grey: indices are inverted as grey levels, which they must first be.
  if (!IsGreyRamp() && MakeLinearGray() != 1) return -3;
  const int w = Width();
  for (int y = 0; y < Height(); ++y) {
    unsigned char* row = Row(y);
    for (int x = 0; x < w; ++x) row[x] = static_cast<unsigned char>(255 - row[x]);
  }
  return 0;
}
