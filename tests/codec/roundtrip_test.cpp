// End-to-end behaviour of Compress and decoder in memory.
#include <gtest/gtest.h>

#include "codec/wif_format.h"
#include "engine/image.h"
#include "codec_test_util.h"

namespace {

using codec_test::Decode;
using codec_test::Encode;
using codec_test::Picture;
using wif::Status;

Picture Photo(const char* name, bool colour) {
  Picture p;
  EXPECT_TRUE(codec_test::LoadPhoto(name, colour, p)) << name;
  return p;
}

// The whole quality range on textured crops of the photos: size and
// fidelity fall as the quality number rises, up to a few bytes and hundredths
// of a dB between neighbouring qualities; quality 1 is near-lossless on the
// whole photos.
TEST(RoundTrip, EveryQualityOnPhotoCrops) {
  for (bool colour : {false, true}) {
    const Picture full = Photo(colour ? "chelsea.ppm" : "camera.pgm", colour);
    Picture whole;
    ASSERT_EQ(Decode(Encode(full, 1), whole), Status::Ok);
    EXPECT_GT(codec_test::Psnr(full, whole), colour ? 45.0 : 48.0);
    const int size = 128, x0 = colour ? 150 : 192, y0 = colour ? 100 : 200;
    const int channels = colour ? 3 : 1;
    Picture crop = codec_test::Blank(size, size, colour);
    for (int y = 0; y < size; ++y) {
      const uint8_t* src = full.Row(y + y0) + x0 * channels;
      std::copy(src, src + size * channels, crop.Row(y));
    }
    std::vector<size_t> sizes(256);
    std::vector<double> psnrs(256);
    for (int q = 1; q <= 255; ++q) {
      const auto file = Encode(crop, q);
      Picture back;
      ASSERT_EQ(Decode(file, back), Status::Ok) << q;
      sizes[q] = file.size();
      psnrs[q] = codec_test::Psnr(crop, back);
      if (q == 1) continue;
      EXPECT_LE(sizes[q], sizes[q - 1] + sizes[q - 1] / 100) << "q=" << q;
      EXPECT_LT(psnrs[q], psnrs[q - 1] + 0.1) << "q=" << q;
      if (q > 8) {
        EXPECT_LT(sizes[q], sizes[q - 8]) << "q=" << q;
        EXPECT_LT(psnrs[q], psnrs[q - 8]) << "q=" << q;
      }
    }
  }
}

// Where each section starts, following the lengths from the end of the
// header; the last entry is where the chain ends.
std::vector<size_t> SectionStarts(const std::vector<uint8_t>& file) {
  std::vector<size_t> starts;
  size_t pos = (static_cast<size_t>(file[10]) << 8) | file[11];
  for (uint32_t len = 4; len >= 4 && pos + 4 <= file.size(); pos += len) {
    starts.push_back(pos);
    len = (uint32_t{file[pos]} << 24) | (uint32_t{file[pos + 1]} << 16) |
          (uint32_t{file[pos + 2]} << 8) | file[pos + 3];
  }
  starts.push_back(pos);
  return starts;
}

uint32_t DcOfFirstSection(const std::vector<uint8_t>& file) {
  return (uint32_t{file[31]} << 8) | file[32];
}

// Tiny, odd and ordinary sizes at block-coded (q 1 .. 5) and arithmetic
// qualities with several level counts: the lengths chain the sections to the
// end of the file, every section ends with the last byte of a terminator,
// and the file decodes, at quality 1 closely.
TEST(RoundTrip, SizesQualitiesAndLevels) {
  std::vector<std::pair<int, int>> sizes = {{64, 48}, {17, 17}, {3, 90}, {15, 15},
                                            {16, 16}, {1, 40},  {33, 2}};
  for (int w = 1; w <= 5; ++w) {
    for (int h = 1; h <= 5; ++h) sizes.emplace_back(w, h);
  }
  for (bool colour : {false, true}) {
    for (auto [w, h] : sizes) {
      const Picture p = codec_test::Make(w, h, colour, [&](int x, int y, int c) {
        return static_cast<uint8_t>(30 + x * 120 / w + y * 50 / h + c * 9 + (x * y) % 13);
      });
      for (int q : {1, 4, 5, 10, 25, 50, 200, 255}) {
        for (int levels : {0, 1, 3}) {
          SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) +
                       (colour ? " colour q" : " grey q") + std::to_string(q) + " L" +
                       std::to_string(levels));
          Status s;
          const auto file = Encode(p, q, levels, &s);
          ASSERT_EQ(s, Status::Ok);
          const auto starts = SectionStarts(file);
          ASSERT_EQ(starts.size(), colour ? 5u : 3u);
          EXPECT_EQ(starts.back(), file.size());
          for (size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(file[starts[i] - 1], 0xFF) << i;
          Picture back;
          ASSERT_EQ(Decode(file, back), Status::Ok);
          if (q == 1) {
            EXPECT_GE(codec_test::Psnr(p, back), 40.0);
          }
        }
      }
    }
  }
}

TEST(RoundTrip, EveryRequestedLevelCount) {
  Picture full = Photo("camera.pgm", false);
  for (int levels = 1; levels <= 8; ++levels) {
    const auto file = Encode(full, 10, levels);
    EXPECT_EQ(file[8] & 0x0F, levels);
    Picture back;
    ASSERT_EQ(Decode(file, back), Status::Ok) << levels;
    EXPECT_GT(codec_test::Psnr(full, back), 44.0) << levels;
  }
}

// Saturated colours have chroma outside -128 .. 127; the decoder keeps it at
// full range until the planes are combined. Passing each chroma plane
// through a byte, as older decoders did, turns pure red into about
// (218, 10, 42); a natural photo decodes alike either way.
TEST(RoundTrip, SaturatedColoursKeepTheirHue) {
  const Picture red = codec_test::Flat(40, 24, 250, 10, 10);
  Picture back;
  ASSERT_EQ(Decode(Encode(red, 1), back, true), Status::Ok);
  EXPECT_GE(codec_test::Psnr(red, back), 45.0);
  ASSERT_EQ(Decode(Encode(red, 1), back, false), Status::Ok);
  EXPECT_LT(codec_test::Psnr(red, back), 25.0);
  const auto photo = Encode(Photo("chelsea.ppm", true), 10);
  Picture full;
  ASSERT_EQ(Decode(photo, full, true), Status::Ok);
  ASSERT_EQ(Decode(photo, back, false), Status::Ok);
  EXPECT_EQ(full.pixels, back.pixels);
}

TEST(Encoder, RefusesWhatTheFormatCannotHold) {
  const Picture p = codec_test::Flat(8, 8, 1, 2, 3);
  const int cases[][4] = {{8, 0, 0, 0}, {8, 256, 0, 0}, {8, 50, 9, 0},  {8, 50, -1, 0},
                          {8, 50, 0, 16}, {0, 50, 0, 0}, {65536, 50, 0, 0}};  // width, q, L, split
  auto refused = [&](int width, int quality, int levels, int split) {
    wif::ByteSink sink;
    wif::Compress c(sink);
    wif::EncodeRequest r;
    r.pixels = p.pixels.data();
    r.colour = true;
    r.width = width;
    r.height = 8;
    r.quality = quality;
    r.levels = levels;
    r.split = split;
    return c.Run(r) == Status::Failed && sink.bytes().empty();
  };
  for (const auto& c : cases)
    EXPECT_TRUE(refused(c[0], c[1], c[2], c[3]))
        << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
  EXPECT_FALSE(refused(8, 255, 8, 15));
}

// A bright picture at the smallest step can have a first coefficient beyond
// 16 bits; its magnitude is clamped rather than wrapped. Plain white, just
// below the limit, comes back exactly.
TEST(Encoder, FirstCoefficientIsClampedToSixteenBits) {
  const Picture white = codec_test::Make(512, 512, false, [](int, int, int) { return 255; });
  const auto whiteFile = Encode(white, 1, 8);
  EXPECT_EQ(whiteFile[8], (9 << 4) | 8);
  EXPECT_NEAR(DcOfFirstSection(whiteFile), 255 * 256, 8);
  Picture back;
  ASSERT_EQ(Decode(whiteFile, back), Status::Ok);
  EXPECT_EQ(back.pixels, white.pixels);

  // The weight u(x) of each column (and row) in the first coefficient after
  // eight low-pass steps: white where u(x) u(y) > 0 and black elsewhere
  // gives the largest first coefficient there is, about 80900.
  const int n = 512;
  std::vector<double> u(n);
  std::vector<float> signal(n + 8), low(n), high(n);
  for (int x = 0; x < n; ++x) {
    std::fill(signal.begin(), signal.end(), 0.0f);
    signal[4 + x] = 1.0f;
    for (int length = n; length > 2; length /= 2) {
      wif::ExtendSymmetric(signal.data() + 4, length);
      wif::AnalyzeSignal(signal.data() + 4, length / 2, wif::kLowTaps, wif::kHighTaps, low.data(),
                         high.data());
      std::fill(signal.begin(), signal.end(), 0.0f);
      std::copy(low.begin(), low.begin() + length / 2, signal.begin() + 4);
    }
    u[x] = signal[4];
  }
  const Picture extreme = codec_test::Make(n, n, false, [&](int x, int y, int) {
    return static_cast<uint8_t>(u[x] * u[y] > 0 ? 255 : 0);
  });
  const auto file = Encode(extreme, 1, 8);
  EXPECT_EQ(DcOfFirstSection(file), 65535u);
  ASSERT_EQ(Decode(file, back), Status::Ok);
  double meanIn = 0, meanOut = 0;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      meanIn += extreme.Row(y)[x];
      meanOut += back.Row(y)[x];
    }
  }
  // A wrapped magnitude (about 15400) would take some 250 levels off the
  // mean; the clamped one about 30.
  EXPECT_LT((meanIn - meanOut) / (n * n), 60.0);
}

TEST(Decoder, HonoursTheVersionRuleTheHeaderLengthAndSkipsWhatItMayIgnore) {
  Picture p = Photo("camera.pgm", false);
  const auto file = Encode(p, 30);
  Picture reference;
  ASSERT_EQ(Decode(file, reference), Status::Ok);

  // Version 3.6 divides the quality by 3: step 10 instead of 32 / 3.
  auto old = file;
  old[2] = 3;
  old[3] = 6;
  Picture darker;
  ASSERT_EQ(Decode(old, darker), Status::Ok);
  double sumNew = 0, sumOld = 0;
  for (size_t i = 0; i < reference.pixels.size(); ++i) {
    sumNew += reference.pixels[i];
    sumOld += darker.pixels[i];
  }
  EXPECT_NEAR(sumOld / sumNew, 30.0 / 32.0, 0.01);

  // A longer header is skipped by its length.
  auto longer = file;
  longer.insert(longer.begin() + 27, {1, 2, 3, 0xFF, 5});
  longer[11] = 32;
  Picture same;
  ASSERT_EQ(Decode(longer, same), Status::Ok);
  EXPECT_EQ(same.pixels, reference.pixels);

  // Section lengths are read past, never trusted: the grey file reads its
  // second one between the coarse and the detail part.
  auto lengths = file;
  const auto starts = SectionStarts(file);
  for (int i = 0; i < 2; ++i) std::fill_n(lengths.begin() + static_cast<long>(starts[i]), 4, 0xEE);
  ASSERT_EQ(Decode(lengths, same), Status::Ok);
  EXPECT_EQ(same.pixels, reference.pixels);
  auto missing = file;
  missing.erase(missing.begin() + static_cast<long>(starts[1]),
                missing.begin() + static_cast<long>(starts[1]) + 4);
  testing::internal::CaptureStderr();
  const Status s = Decode(missing, same);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(s != Status::Ok || same.pixels != reference.pixels);

  // Whatever lies between the coded bits and the 0xFF of a terminator is
  // skipped (q = 1: section 1 holds only block-coded values).
  const auto q1 = Encode(p, 1);
  ASSERT_EQ(Decode(q1, reference), Status::Ok);
  auto junk = q1;
  const size_t ff = SectionStarts(q1)[1] - 1;
  ASSERT_EQ(q1[ff], 0xFF);
  junk.insert(junk.begin() + static_cast<long>(ff), {0x00, 0x37, 0xFE, 0x80});
  ASSERT_EQ(Decode(junk, same), Status::Ok);
  EXPECT_EQ(same.pixels, reference.pixels);
}

// Other kinds, a wrong mark, no levels, or planes too large for memory or
// for the ceiling on a picture's buffers. Truncations are Robustness's.
TEST(Decoder, RefusesOtherKindsZeroLevelsAndOversizedBuffers) {
  const auto file = Encode(codec_test::Flat(20, 20, 9, 99, 199), 20);
  const struct {
    size_t at;
    uint8_t value;
    Status status;
    const char* message;
  } cases[] = {
      {1, '7', Status::Corrupt, "decoder: wrong image format. \n"},
      {1, '8', Status::Corrupt, "decoder: wrong image format. \n"},
      {1, '4', Status::Corrupt, "decoder: wrong image format. \n"},
      {0, 'w', Status::Corrupt, "decoder: wrong image format. \n"},
      {8, static_cast<uint8_t>(file[8] & 0xF0), Status::Corrupt, "transform levels"},  // L = 0
      // L = 15 on a 20 x 20 picture: planes of 16384 x 16384
      {8, 0x0F, Status::NoMemory, "expanse: can not allocate memory\n \n"}};
  Picture out;
  for (const auto& c : cases) {
    auto bent = file;
    bent[c.at] = c.value;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Decode(bent, out), c.status) << c.at << " " << int(c.value);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
  const uint64_t ceiling = vxMaxImageBytes();
  vxSetMaxImageBytes(1000);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(file, out), Status::NoMemory);
  testing::internal::GetCapturedStderr();
  vxSetMaxImageBytes(ceiling);
}

}  // namespace
