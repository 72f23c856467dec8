#include "engine/display/oswinclass.h"

#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_screenBits{32};

// Expands the rows [first, last) of a bottom-up block into the top-down
// 32-bit picture. Palette pixels go through the 256-entry table, so an index
// beyond the palette shows black.
void ExpandRows(const vxBitmapInfoHeader* block, const unsigned char* bits, const QRgb* table,
                uchar* out, qsizetype outStride, int first, int last) {
  const int width = block->width;
  const int height = block->height;
  const size_t stride = vxRowStride(width, block->bitCount);
  for (int y = first; y < last; ++y) {
    const unsigned char* src = bits + stride * static_cast<size_t>(height - 1 - y);
    auto* dst = reinterpret_cast<QRgb*>(out + outStride * y);
    switch (block->bitCount) {
      case 24:
        for (int x = 0; x < width; ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
        break;
      case 4:
        for (int x = 0; x < width; ++x) {
          const unsigned char pair = src[x >> 1];
          dst[x] = table[(x & 1) ? (pair & 0x0F) : (pair >> 4)];
        }
        break;
      default:  // 8-bit, and 1-bit held one byte per pixel
        for (int x = 0; x < width; ++x) dst[x] = table[src[x]];
        break;
    }
  }
}

// Expands rows [first, last), on several threads when they are many: the
// first touch of a fresh picture's memory costs as much as the conversion.
void Expand(const vxBitmapInfoHeader* block, const unsigned char* bits, const QRgb* table,
            uchar* out, qsizetype outStride, int first, int last) {
  const int rows = last - first;
  const int64_t pixels = static_cast<int64_t>(block->width) * rows;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int bands = pixels < (int64_t{1} << 20) ? 1 : std::min({cores, 8, rows});
  const auto bound = [&](int band) {
    return first + static_cast<int>(int64_t{rows} * band / bands);
  };
  std::vector<std::thread> helpers;
  for (int band = 1; band < bands; ++band) {
    helpers.emplace_back(ExpandRows, block, bits, table, out, outStride, bound(band),
                         bound(band + 1));
  }
  ExpandRows(block, bits, table, out, outStride, first, bound(1));
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace

int vxOSWinClass::ScreenBitsPerPixel() { return g_screenBits.load(); }
void vxOSWinClass::SetScreenBitsPerPixel(int bits) { g_screenBits.store(bits); }

const vxBitmapInfoHeader* vxOSWinClass::DrawnBlock() const {
  return useAlternate ? altHeader : header;
}

void vxOSWinClass::BuildColorTable(const vxBitmapInfoHeader* block) {
  colorTable_.fill(qRgb(0, 0, 0), 256);
  if (!block || block->bitCount > 8) return;
  const int inBlock = static_cast<int>(std::min<uint32_t>(block->coloursUsed, 256));
  if (paletteHandle) {
    const int n = std::min<int>(paletteHandle->count, inBlock);
    for (int i = 0; i < n; ++i) {
      const vxPaletteEntry& e = paletteHandle->entries[i];
      colorTable_[i] = qRgb(e.red, e.green, e.blue);
    }
    return;
  }
  const vxRGBA* entries = useAlternate ? altPalette : palette;
  if (!entries) return;
  for (int i = 0; i < inBlock; ++i)
    colorTable_[i] = qRgb(entries[i].red, entries[i].green, entries[i].blue);
}

void vxOSWinClass::UpdateDisplay() {
  const vxBitmapInfoHeader* block = DrawnBlock();
  const unsigned char* pixels = useAlternate ? altBits : bits;
  ++displayGeneration_;
  cachedBlock_ = block;
  cachedSize_ = block ? QSize(block->width, block->height) : QSize();
  bandReady_.clear();
  if (!block || !pixels || block->width <= 0 || block->height <= 0) {
    cache_ = QImage();
    return;
  }
  BuildColorTable(block);
  // The cached picture's memory is kept while the size stays (palette
  // previews come here on every slider step).
  if (cache_.width() != block->width || cache_.height() != block->height ||
      cache_.format() != QImage::Format_RGB32) {
    cache_ = QImage(block->width, block->height, QImage::Format_RGB32);
  }
  if (cache_.isNull()) return;  // too large for a QImage: nothing is drawn
  cache_.detach();
  bandReady_.assign((block->height + kBandRows - 1) / kBandRows, 0);
  if (block->bitCount == 24 && ScreenBitsPerPixel() == 8) {
    // What a palette screen shows of a true-colour picture without a
    // display copy: an ordered dither to the 6 x 6 x 6 colour cube.
    EnsureRows(0, block->height);
    cache_ = cache_.convertToFormat(QImage::Format_Indexed8, Qt::ColorOnly | Qt::OrderedDither)
                 .convertToFormat(QImage::Format_RGB32);
  }
}

void vxOSWinClass::EnsureRows(int first, int last) const {
  const vxBitmapInfoHeader* block = cachedBlock_;
  if (!block || cache_.isNull() || bandReady_.empty()) return;
  if (block->width != cache_.width() || block->height != cache_.height()) return;
  const unsigned char* pixels = block == altHeader ? altBits : bits;
  first = std::clamp(first, 0, block->height);
  last = std::clamp(last, first, block->height);
  // The missing bands in the range, expanded in runs.
  const int lastBand = (last + kBandRows - 1) / kBandRows;
  for (int band = first / kBandRows; band < lastBand;) {
    if (bandReady_[band]) {
      ++band;
      continue;
    }
    int end = band;
    while (end < lastBand && !bandReady_[end]) bandReady_[end++] = 1;
    // The cache is not shared (detached when it was made): writing through
    // the const picture's bits changes no one else's copy.
    auto* out = const_cast<uchar*>(cache_.constBits());
    Expand(block, pixels, colorTable_.constData(), out, cache_.bytesPerLine(), band * kBandRows,
           std::min(end * kBandRows, block->height));
    band = end;
  }
}

const QImage& vxOSWinClass::DisplayImage() {
  if (EnsureCache()) EnsureRows(0, cache_.height());
  return cache_;
}

int vxOSWinClass::SetDrawPalette() {
  if (!DrawnBlock()) return 0;
  UpdateDisplay();
  return 1;
}

int vxOSWinClass::RealizePalette(bool) { return 0; }

bool vxOSWinClass::EnsureCache() {
  const vxBitmapInfoHeader* block = DrawnBlock();
  if (!block) return false;
  // A block replaced without a display preparation is noticed by its address
  // or its size. A picture too large for a QImage stays null and is not
  // retried on every paint.
  if (cachedBlock_ != block || cachedSize_ != QSize(block->width, block->height)) UpdateDisplay();
  return !cache_.isNull();
}

void vxOSWinClass::DrawRegion(QPainter& dc, const QRectF& target, const QRectF& source, int flags) {
  if (target.width() <= 0 || target.height() <= 0) return;
  if (source.width() <= 0 || source.height() <= 0) return;
  if (!EnsureCache()) return;
  const bool smooth = (flags & vxDrawHalftone) != 0;
  const bool wasSmooth = dc.testRenderHint(QPainter::SmoothPixmapTransform);
  dc.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
  // Only the rows drawn need to be ready; a smooth scale reads one row more
  // on each side.
  const int margin = smooth ? 1 : 0;
  EnsureRows(static_cast<int>(std::floor(source.top())) - margin,
             static_cast<int>(std::ceil(source.bottom())) + margin);
  // QPainter clips a source rectangle that reaches beyond the picture and
  // shrinks the target in proportion, so the scale stays target / source.
  dc.drawImage(target, cache_, source);
  dc.setRenderHint(QPainter::SmoothPixmapTransform, wasSmooth);
}

void vxOSWinClass::Draw(QPainter& dc, int width, int height, int flags) {
  const vxBitmapInfoHeader* block = DrawnBlock();
  if (!block) return;
  DrawRegion(dc, QRectF(0, 0, width, height), QRectF(0, 0, block->width, block->height), flags);
}

void vxOSWinClass::Draw(QPainter& dc, int left, int top, int right, int bottom, int flags) {
  const int w = right - left;
  const int h = bottom - top;
  DrawRegion(dc, QRectF(0, 0, w, h), QRectF(left, top, w, h), flags);
}

void vxOSWinClass::Draw(QPainter& dc, int x, int y, int width, int height, int zoom, int flags) {
  if (zoom < 1) return;
  DrawRegion(dc, QRectF(x, y, width, height), QRectF(x, y, width / zoom, height / zoom), flags);
}

void vxOSWinClass::Draw(QPainter& dc, int width, int height, int srcX, int srcY, int, int,
                        float zoom, int flags) {
  if (!(zoom > 0.0f)) return;
  const double inverse = 1.0 / static_cast<double>(zoom);
  const auto scaled = [inverse](int v) { return std::trunc(v * inverse); };
  DrawRegion(dc, QRectF(0, 0, width, height),
             QRectF(scaled(srcX), scaled(srcY), scaled(width), scaled(height)), flags);
}

namespace {

// One band of output rows [first, last) of an area-average reduction.
void ReduceRows(const vxBitmapInfoHeader* block, const unsigned char* bits, const QRgb* table,
                const std::vector<int>& xStart, QImage& out, int first, int last) {
  const int width = block->width;
  const int height = block->height;
  const int outWidth = out.width();
  const int outHeight = out.height();
  const size_t stride = vxRowStride(width, block->bitCount);
  std::vector<uint32_t> sums(static_cast<size_t>(outWidth) * 3);
  for (int oy = first; oy < last; ++oy) {
    const int y0 = static_cast<int>(int64_t{oy} * height / outHeight);
    const int y1 = std::max(y0 + 1, static_cast<int>(int64_t{oy + 1} * height / outHeight));
    std::fill(sums.begin(), sums.end(), 0u);
    for (int y = y0; y < y1; ++y) {
      const unsigned char* src = bits + stride * static_cast<size_t>(height - 1 - y);
      uint32_t* sum = sums.data();
      for (int ox = 0; ox < outWidth; ++ox, sum += 3) {
        const int x0 = xStart[ox];
        const int x1 = xStart[ox + 1];
        uint32_t r = 0, g = 0, b = 0;
        switch (block->bitCount) {
          case 24:
            for (const unsigned char* p = src + 3 * x0; p < src + 3 * x1; p += 3) {
              b += p[0];
              g += p[1];
              r += p[2];
            }
            break;
          case 4:
            for (int x = x0; x < x1; ++x) {
              const unsigned char pair = src[x >> 1];
              const QRgb c = table[(x & 1) ? (pair & 0x0F) : (pair >> 4)];
              r += qRed(c);
              g += qGreen(c);
              b += qBlue(c);
            }
            break;
          default:
            for (int x = x0; x < x1; ++x) {
              const QRgb c = table[src[x]];
              r += qRed(c);
              g += qGreen(c);
              b += qBlue(c);
            }
            break;
        }
        sum[0] += r;
        sum[1] += g;
        sum[2] += b;
      }
    }
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(oy));
    const uint32_t rows = static_cast<uint32_t>(y1 - y0);
    for (int ox = 0; ox < outWidth; ++ox) {
      const uint32_t n = rows * static_cast<uint32_t>(xStart[ox + 1] - xStart[ox]);
      const uint32_t half = n / 2;
      const uint32_t* sum = &sums[static_cast<size_t>(ox) * 3];
      dst[ox] = qRgb(static_cast<int>((sum[0] + half) / n), static_cast<int>((sum[1] + half) / n),
                     static_cast<int>((sum[2] + half) / n));
    }
  }
}

}  // namespace

QImage vxOSWinClass::ReducedImage(int width, int height) {
  const vxBitmapInfoHeader* block = DrawnBlock();
  const unsigned char* pixels = useAlternate ? altBits : bits;
  if (!block || !pixels || block->width <= 0 || block->height <= 0) return {};
  width = std::clamp(width, 1, block->width);
  height = std::clamp(height, 1, block->height);
  // Sums of up to 2^24 pixels of 255 stay within 32 bits; a reduction
  // beyond 4096 x 4096 per output pixel is not asked for by any window.
  if (int64_t{block->width / width + 1} * (block->height / height + 1) > (int64_t{1} << 24)) {
    return {};
  }
  BuildColorTable(block);
  QImage out(width, height, QImage::Format_RGB32);
  if (out.isNull()) return {};
  std::vector<int> xStart(static_cast<size_t>(width) + 1);
  for (int ox = 0; ox <= width; ++ox) {
    xStart[ox] = static_cast<int>(int64_t{ox} * block->width / width);
  }
  for (int ox = 0; ox < width; ++ox) xStart[ox + 1] = std::max(xStart[ox + 1], xStart[ox] + 1);
  const int64_t work = int64_t{block->width} * block->height;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int bands = work < (int64_t{1} << 20) ? 1 : std::min({cores, 8, height});
  const auto bound = [&](int band) { return static_cast<int>(int64_t{height} * band / bands); };
  std::vector<std::thread> helpers;
  for (int band = 1; band < bands; ++band) {
    helpers.emplace_back(ReduceRows, block, pixels, colorTable_.constData(), std::cref(xStart),
                         std::ref(out), bound(band), bound(band + 1));
  }
  ReduceRows(block, pixels, colorTable_.constData(), xStart, out, 0, bound(1));
  for (std::thread& helper : helpers) helper.join();
  return out;
}

QImage vxOSWinClass::ToQImage() const {
  if (!header || !bits || header->width <= 0 || header->height <= 0) return {};
  const int width = header->width;
  const int height = header->height;
  QImage out(width, height, QImage::Format_RGB32);
  if (out.isNull()) return {};
  QRgb table[256];
  for (int i = 0; i < 256; ++i) {
    const vxRGBA e = PaletteEntry(i);
    table[i] = qRgb(e.red, e.green, e.blue);
  }
  ExpandRows(header, bits, table, out.bits(), out.bytesPerLine(), 0, height);
  return out;
}
