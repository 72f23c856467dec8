// lunark thumbnail INPUT OUTPUT.png SIZE: a PNG no larger than SIZE x SIZE,
// for file managers (the freedesktop thumbnailer convention). PNG goes
// through libpng so that the command-line tool stays free of Qt.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "engine/safe_file.h"
#include "formats/rwimage.h"

namespace cli {

namespace {

// The picture as top-down RGB, area-averaged down so that its longer side is
// at most `size` (never enlarged).
std::vector<uint8_t> Reduce(const vxImage& image, int size, int& outW, int& outH) {
  const int w = image.Width(), h = image.Height();
  const double scale = std::min(1.0, static_cast<double>(size) / std::max(w, h));
  outW = std::max(1, static_cast<int>(w * scale + 0.5));
  outH = std::max(1, static_cast<int>(h * scale + 0.5));
  std::vector<uint64_t> sums(static_cast<size_t>(outW) * outH * 3, 0);
  std::vector<uint32_t> counts(static_cast<size_t>(outW) * outH, 0);
  for (int y = 0; y < h; ++y) {
    const int oy = static_cast<int>(static_cast<int64_t>(h - 1 - y) * outH / h);  // top-down
    const unsigned char* row = image.Row(y);
    for (int x = 0; x < w; ++x) {
      const int ox = static_cast<int>(static_cast<int64_t>(x) * outW / w);
      const size_t o = static_cast<size_t>(oy) * outW + ox;
      uint8_t r, g, b;
      if (image.BitCount() == 24) {
        b = row[3 * x];
        g = row[3 * x + 1];
        r = row[3 * x + 2];
      } else {
        const vxRGBA e = image.PaletteEntry(row[x]);
        r = e.red;
        g = e.green;
        b = e.blue;
      }
      sums[3 * o] += r;
      sums[3 * o + 1] += g;
      sums[3 * o + 2] += b;
      ++counts[o];
    }
  }
  std::vector<uint8_t> rgb(sums.size());
  for (size_t o = 0; o < counts.size(); ++o) {
    const uint32_t n = counts[o] ? counts[o] : 1;
    for (int c = 0; c < 3; ++c) rgb[3 * o + c] = static_cast<uint8_t>((sums[3 * o + c] + n / 2) / n);
  }
  return rgb;
}

// Contains libpng's setjmp: the locals here are plain C types.
bool WritePng(const char* path, const uint8_t* rgb, int w, int h) {
  FILE* f = vxOpenWritten(path);
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(y) * w * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::ferror(f) == 0 && std::fclose(f) == 0;
}

}  // namespace

int RunThumbnail(const Args& args) {
  if (args.size() != 3) {
    Fail("", "thumbnail: give INPUT OUTPUT.png SIZE (see lunark --help)");
    return 2;
  }
  int size = 0;
  if (!ParseInt(args[2], size) || size < 1 || size > 4096) {
    Fail("", "thumbnail: SIZE must be a whole number from 1 to 4096, not '" + args[2] + "'");
    return 2;
  }
  vxScopedImage image;
  const int loaded = image.LoadImage(args[0].c_str());
  if (loaded != 0) {
    Fail(args[0], LoadFailure(loaded));
    return 1;
  }
  int w = 0, h = 0;
  const std::vector<uint8_t> rgb = Reduce(image, size, w, h);
  vxTempFile temp(args[1]);
  if (temp.path().empty() || !WritePng(temp.path().c_str(), rgb.data(), w, h) || temp.Commit() != 0) {
    Fail(args[1], temp.error().empty() ? "the thumbnail could not be written" : temp.error());
    return 1;
  }
  return 0;
}

}  // namespace cli
