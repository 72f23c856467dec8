// Helpers of the codec tests: pictures as the codec sees them (rows in buffer
// order, padded to 4 bytes, blue-green-red), in-memory encode and decode.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/byte_stream.h"
#include "codec/compress.h"
#include "codec/decoder.h"
#include "codec/kernels.h"
#include "engine/image.h"
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

inline Picture Photo(const std::string& name, bool colour) {
  Picture p;
  EXPECT_TRUE(LoadPhoto(name, colour, p)) << name;
  return p;
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

inline wif::Status Decode(const std::vector<uint8_t>& file, Picture& out) {
  wif::ByteSource source(file.data(), file.size());
  wif::Header h;
  if (!wif::ReadHeader(source, h)) return wif::Status::Corrupt;
  out = Blank(h.width, h.height, h.kind == wif::kKindColour);
  wif::decoder d(source, out.pixels.data());
  return d.Run();
}

// Puts the codec back on its automatic thread count at the end of a scope.
struct ThreadsReset {
  ~ThreadsReset() { wif::SetThreads(0); }
};

// Swallows what the codec writes to stderr for one scope.
struct Quiet {
  Quiet() { testing::internal::CaptureStderr(); }
  ~Quiet() { testing::internal::GetCapturedStderr(); }
};

inline uint32_t BigEndian32(const std::vector<uint8_t>& f, size_t at) {
  return (uint32_t{f[at]} << 24) | (uint32_t{f[at + 1]} << 16) | (uint32_t{f[at + 2]} << 8) |
         f[at + 3];
}

// Where each section starts, following the lengths from the end of the
// header; the last entry is where the chain ends.
inline std::vector<size_t> SectionStarts(const std::vector<uint8_t>& file) {
  std::vector<size_t> starts;
  size_t pos = (static_cast<size_t>(file[10]) << 8) | file[11];
  for (uint32_t len = 4; len >= 4 && pos + 4 <= file.size(); pos += len) {
    starts.push_back(pos);
    len = BigEndian32(file, pos);
  }
  starts.push_back(pos);
  return starts;
}

// A whole decoder run, header included, into a picture of the given shape.
struct DecoderRun {
  wif::Status status;
  int pastEnd;
  uint64_t peak;
  bool byBands;
  Picture out;
};
inline DecoderRun RunDecoder(const std::vector<uint8_t>& file, int width, int height, bool colour) {
  DecoderRun run{wif::Status::Ok, 0, 0, false, Blank(width, height, colour)};
  wif::ByteSource source(file.data(), file.size());
  wif::decoder d(source, run.out.pixels.data());
  run.status = d.Run();
  run.pastEnd = d.ReadsPastEnd();
  run.peak = d.PeakBytes();
  run.byBands = d.WroteByBands();
  return run;
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
