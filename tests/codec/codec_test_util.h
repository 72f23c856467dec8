// Helpers of the codec tests: pictures as the codec sees them (rows in buffer
// order, padded to 4 bytes, blue-green-red), in-memory encode and decode.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/byte_stream.h"
#include "codec/compress.h"
#include "codec/decoder.h"
#include "support/test_support.h"

namespace codec_test {

struct Picture {
  int width = 0;
  int height = 0;
  bool colour = false;
  std::vector<uint8_t> pixels;  // buffer rows: row 0 is the bottom line

  size_t Stride() const { return wif::RowStride(width, colour); }
  uint8_t* Row(int y) { return pixels.data() + Stride() * static_cast<size_t>(y); }
  const uint8_t* Row(int y) const { return pixels.data() + Stride() * static_cast<size_t>(y); }
};

inline Picture Blank(int width, int height, bool colour) {
  Picture p;
  p.width = width;
  p.height = height;
  p.colour = colour;
  p.pixels.assign(p.Stride() * static_cast<size_t>(height), 0);
  return p;
}

// fill(x, y, channel) with y a buffer row and channel 0 (blue or grey), 1, 2.
inline Picture Make(int width, int height, bool colour,
                    const std::function<uint8_t(int, int, int)>& fill) {
  Picture p = Blank(width, height, colour);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = p.Row(y);
    for (int x = 0; x < width; ++x) {
      if (colour) {
        for (int c = 0; c < 3; ++c) row[3 * x + c] = fill(x, y, c);
      } else {
        row[x] = fill(x, y, 0);
      }
    }
  }
  return p;
}

// A flat picture of one colour given as red, green, blue.
inline Picture Flat(int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
  const uint8_t bgr[3] = {blue, green, red};
  return Make(width, height, true, [&](int, int, int c) { return bgr[c]; });
}

// A photo of tests/data as a grey or colour picture (the top line becomes the
// last buffer row, as in a bottom-up bitmap).
inline bool LoadPhoto(const std::string& name, bool colour, Picture& out) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  if (!testing_support::ReadNetpbmRGB(testing_support::DataPath(name), w, h, rgb)) return false;
  out = Blank(w, h, colour);
  for (int top = 0; top < h; ++top) {
    uint8_t* row = out.Row(h - 1 - top);
    const uint8_t* src = rgb.data() + static_cast<size_t>(top) * w * 3;
    for (int x = 0; x < w; ++x) {
      if (colour) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      } else {
        row[x] = static_cast<uint8_t>((src[3 * x] + src[3 * x + 1] + src[3 * x + 2]) / 3);
      }
    }
  }
  return true;
}

inline std::vector<uint8_t> Encode(const Picture& p, int quality, int levels = 0,
                                   wif::Status* status = nullptr, int split = 0) {
  wif::ByteSink sink;
  wif::Compress compress(sink);
  wif::EncodeRequest r;
  r.pixels = p.pixels.data();
  r.colour = p.colour;
  r.width = p.width;
  r.height = p.height;
  r.quality = quality;
  r.levels = levels;
  r.split = split;
  const wif::Status s = compress.Run(r);
  if (status) *status = s;
  return sink.TakeBytes();
}

inline wif::Status Decode(const std::vector<uint8_t>& file, Picture& out, bool fullRange = true) {
  wif::ByteSource source(file.data(), file.size());
  wif::Header h;
  if (!wif::ReadHeader(source, h)) return wif::Status::Corrupt;
  out = Blank(h.width, h.height, h.kind == wif::kKindColour);
  wif::decoder d(source, out.pixels.data());
  d.SetFullRangeChroma(fullRange);
  return d.Run();
}

// PSNR over every sample of the pictures (the row padding left out).
inline double Psnr(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.colour != b.colour) return 0;
  std::vector<uint8_t> x, y;
  const size_t bytes = static_cast<size_t>(a.width) * (a.colour ? 3 : 1);
  for (int r = 0; r < a.height; ++r) {
    x.insert(x.end(), a.Row(r), a.Row(r) + bytes);
    y.insert(y.end(), b.Row(r), b.Row(r) + bytes);
  }
  return testing_support::Psnr(x, y);
}

}  // namespace codec_test
