// End-to-end behaviour of Compress and decoder in memory: round trips, the
// header's choices, damaged streams (an error or a picture, never a crash, a
// hang or a read outside a buffer: the sanitizer build is the judge) and the
// reduced decoding of the pyramid's coarse levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>

#include "codec/wif_format.h"
#include "codec/wif_reduced.h"
#include "codec_test_util.h"
#include "engine/image.h"

namespace {

using codec_test::Decode;
using codec_test::Encode;
using codec_test::Photo;
using codec_test::Picture;
using codec_test::SectionStarts;
using wif::Status;

// Size and fidelity fall as the quality number rises (up to a few bytes and
// hundredths of a dB between neighbours); quality 1 is near-lossless
// (the colour photo: its luma is coded as a grey picture's plane).
TEST(RoundTrip, EveryQualityOnAPhotoCrop) {
  const Picture full = Photo("chelsea.ppm", true);
  Picture whole;
  ASSERT_EQ(Decode(Encode(full, 1), whole), Status::Ok);
  EXPECT_GT(codec_test::Psnr(full, whole), 45.0);
  const Picture crop = codec_test::Make(
      128, 128, true, [&](int x, int y, int c) { return full.Row(y + 100)[(x + 150) * 3 + c]; });
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

uint32_t DcOfFirstSection(const std::vector<uint8_t>& file) {
  return (uint32_t{file[31]} << 8) | file[32];
}

double Sum(const Picture& p) { return std::accumulate(p.pixels.begin(), p.pixels.end(), 0.0); }

// Block-coded (q 1 .. 5) and arithmetic qualities: the lengths chain the
// sections to the end of the file, each ending with a terminator's 0xFF.
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
          EXPECT_GE(q == 1 ? codec_test::Psnr(p, back) : 99.0, 40.0);  // close at q 1
        }
      }
    }
  }
}

TEST(Encoder, RefusesWhatTheFormatCannotHold) {
  const int cases[][4] = {{8, 0, 0, 0},   {8, 256, 0, 0}, {8, 50, 9, 0},     {8, 50, -1, 0},
                          {8, 50, 0, 16}, {0, 50, 0, 0},  {65536, 50, 0, 0}, {8, 255, 8, 15}};
  for (const auto& c : cases) {  // width, q, L, split; the last is the largest accepted
    Picture p = codec_test::Blank(8, 8, true);
    p.width = c[0];
    Status s;
    const bool accepted = c[3] == 15;
    EXPECT_EQ(Encode(p, c[1], c[2], &s, c[3]).empty(), !accepted) << c[0] << " " << c[1];
    EXPECT_EQ(s, accepted ? Status::Ok : Status::Failed) << c[2] << " " << c[3];
  }
}

// White at the smallest step and eight levels has a first coefficient just
// below the 16 bits it is written in (beyond them it is clamped:
// Prediction.DcMagnitudeAndSign); it comes back exactly.
TEST(Encoder, WhiteNearTheFirstCoefficientLimitComesBackExactly) {
  const Picture white = codec_test::Make(512, 512, false, [](int, int, int) { return 255; });
  const auto whiteFile = Encode(white, 1, 8);
  EXPECT_EQ(whiteFile[8], (9 << 4) | 8);
  EXPECT_NEAR(DcOfFirstSection(whiteFile), 255 * 256, 8);
  Picture back;
  ASSERT_EQ(Decode(whiteFile, back), Status::Ok);
  EXPECT_EQ(back.pixels, white.pixels);
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
  EXPECT_NEAR(Sum(darker) / Sum(reference), 30.0 / 32.0, 0.01);

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
// for the ceiling on a picture's buffers.
TEST(Decoder, RefusesOtherKindsZeroLevelsAndOversizedBuffers) {
  const auto file = Encode(
      codec_test::Make(20, 20, true, [](int, int, int c) { return uint8_t(9 + 90 * c); }), 20);
  const struct {
    size_t at;
    uint8_t value;
    Status status;
    const char* message;
  } cases[] = {
      {1, '7', Status::Corrupt, "decoder: wrong image format. \n"},
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
  testing_support::ImageCeiling ceiling(1000);
  codec_test::Quiet quiet;
  EXPECT_EQ(Decode(file, out), Status::NoMemory);
}

struct Outcome {
  int ok = 0;
  int failed = 0;
};

// Decodes a damaged stream into a buffer sized from its own header.
void DecodeDamaged(const std::vector<uint8_t>& bytes, Outcome& outcome) {
  wif::ByteSource source(bytes.data(), bytes.size());
  wif::Header h;
  if (!wif::ReadHeader(source, h) || uint64_t{h.width} * h.height > (1u << 20)) return;
  std::vector<uint8_t> destination(wif::RowStride(h.width, true) * (h.height + 1u));
  wif::decoder d(source, destination.data());
  const Status s = d.Run();
  EXPECT_LE(d.ReadsPastEnd(), wif::BitReader::kMaxReadsPastEnd + 1);
  (s == Status::Ok ? outcome.ok : outcome.failed) += 1;
}

std::vector<std::vector<uint8_t>> SampleFiles() {
  std::vector<std::vector<uint8_t>> files;
  for (bool colour : {false, true}) {
    const Picture p = codec_test::Make(24, 20, colour, [](int x, int y, int c) {
      return static_cast<uint8_t>((x * 11 + y * 5 + c * 70 + (x ^ y) * 3) & 0xFF);
    });
    for (int q : {1, 5, 10, 50, 255}) files.push_back(codec_test::Encode(p, q, q == 50 ? 3 : 0));
  }
  return files;
}

TEST(Robustness, TruncationAtEveryByte) {
  const auto files = SampleFiles();
  codec_test::Quiet quiet;
  testing_support::ImageCeiling small(8 << 20);
  Outcome outcome;
  for (const auto& file : files) {
    for (size_t cut = 0; cut < file.size(); ++cut) {
      DecodeDamaged(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(cut)),
                    outcome);
    }
  }
  EXPECT_GT(outcome.failed, 0);
}

// Bit flips, byte changes, terminator-like bytes, insertions and cuts, and
// random bodies behind valid headers: a deterministic sample of what the
// fuzz targets do.
TEST(Robustness, MutatedFilesAndRandomBodies) {
  const auto files = SampleFiles();
  std::mt19937 rng(2024);
  codec_test::Quiet quiet;
  testing_support::ImageCeiling small(8 << 20);
  Outcome outcome;
  for (int round = 0; round < 600; ++round) {
    for (const auto& file : files) {
      std::vector<uint8_t> m = file;
      const int kind = static_cast<int>(rng() % 5);
      if (kind == 4) {
        m.resize(27 + rng() % 3000);
        for (size_t i = 27; i < m.size(); ++i) m[i] = static_cast<uint8_t>(rng());
      }
      for (int e = 1 + static_cast<int>(rng() % 4); kind < 4 && e > 0; --e) {
        const size_t at = rng() % 8 == 0 ? rng() % m.size() : 14 + rng() % (m.size() - 14);
        if (kind == 0) m[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        if (kind == 1) m[at] = static_cast<uint8_t>(rng());
        if (kind == 2) m[at] = rng() % 2 ? 0xFF : 0x00;
        if (kind == 3) m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
      }
      if (rng() % 3 == 0) m.resize(14 + rng() % (m.size() - 14));
      DecodeDamaged(m, outcome);
    }
  }
  EXPECT_GT(outcome.failed, 1000);
  EXPECT_GT(outcome.ok, 10);
}

// A full decode shrunk by `factor`: each pixel the mean of the (factor + 1)
// square centred on full pixel factor * x, where the wavelet's low band at
// that level is centred, clipped at the edges.
Picture BoxDown(const Picture& full, int factor) {
  const int channels = full.colour ? 3 : 1, r = factor / 2;
  auto mean = [&](int x, int y, int c) {
    int sum = 0, n = 0;
    for (int yy = std::max(0, y - r); yy <= std::min(full.height - 1, y + r); ++yy) {
      for (int xx = std::max(0, x - r); xx <= std::min(full.width - 1, x + r); ++xx, ++n)
        sum += full.Row(yy)[channels * xx + c];
    }
    return static_cast<uint8_t>((sum + n / 2) / n);
  };
  return codec_test::Make((full.width + factor - 1) / factor, (full.height + factor - 1) / factor,
                          full.colour,
                          [&](int x, int y, int c) { return mean(x * factor, y * factor, c); });
}

Picture Reduced(const std::vector<uint8_t>& file, int levels, const Picture& like,
                wif::Status* status) {
  Picture out = codec_test::Blank(wif::ReducedSide(like.width, levels),
                                  wif::ReducedSide(like.height, levels), like.colour);
  *status = wif::DecodeReduced(file.data(), file.size(), levels, out.pixels.data());
  return out;
}

// Photos at coarse, middle and fine qualities, and an odd size whose file
// has fewer levels than the deepest asked for (its lowest band is the answer).
TEST(ReducedDecode, CloseToADownscaledFullDecode) {
  const Picture camera = Photo("camera.pgm", false), chelsea = Photo("chelsea.ppm", true);
  const Picture odd = codec_test::Make(37, 21, true, [](int x, int y, int c) {
    return static_cast<uint8_t>(40 + 3 * x + 5 * y + 30 * c);
  });
  const struct {
    const Picture* picture;
    int quality, levels;
    double psnr;
  } cases[] = {
      {&camera, 30, 0, 33}, {&chelsea, 2, 0, 33}, {&chelsea, 150, 0, 33}, {&odd, 10, 3, 28}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> file = codec_test::Encode(*c.picture, c.quality, c.levels);
    Picture full;
    ASSERT_EQ(codec_test::Decode(file, full), wif::Status::Ok);
    for (int levels = 1; levels <= 3; ++levels) {
      SCOPED_TRACE(std::to_string(c.picture->width) + " q" + std::to_string(c.quality) +
                   " levels " + std::to_string(levels));
      wif::Status s;
      const Picture small = Reduced(file, levels, *c.picture, &s);
      ASSERT_EQ(s, wif::Status::Ok);
      const Picture box = BoxDown(full, 1 << levels);
      ASSERT_EQ(small.width, box.width);
      ASSERT_EQ(small.height, box.height);
      EXPECT_GT(codec_test::Psnr(small, box), c.psnr);
    }
  }
}

// Deeper than the file's levels, a section length past the end, or cut short.
TEST(ReducedDecode, BrokenLengthsAndTruncationsAreErrors) {
  const Picture photo = Photo("chelsea.ppm", true);
  const std::vector<uint8_t> file = codec_test::Encode(photo, 40, 3);
  wif::Status s;
  Reduced(file, 4, photo, &s);
  EXPECT_EQ(s, wif::Status::Corrupt);
  std::vector<uint8_t> bad = file;
  bad[27] = 0xFF;
  Reduced(bad, 1, photo, &s);
  EXPECT_EQ(s, wif::Status::Corrupt);
  for (size_t keep : {size_t{10}, size_t{40}, file.size() / 3, file.size() - 1}) {
    Reduced(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)), 2,
            photo, &s);
    EXPECT_NE(s, wif::Status::Ok) << keep;
  }
}

TEST(ReducedDecode, FileInterface) {
  const Picture photo = Photo("camera.pgm", false);
  testing_support::TempDir dir;
  const std::string path = dir.File("camera.wif");
  testing_support::WriteFileBytes(path, codec_test::Encode(photo, 25));

  vxBitmapInfoHeader* block = nullptr;
  int fw = 0, fh = 0;
  ASSERT_EQ(vxReadWifReduced(path.c_str(), 2, &block, &fw, &fh), 0);
  EXPECT_EQ((std::vector<int>{fw, fh, block->width, block->height, block->bitCount}),
            (std::vector<int>{512, 512, 128, 128, 8}));
  EXPECT_EQ(vxBlockPalette(block)[200].green, 200);
  vxFreeBlock(block);

  block = nullptr;
  ASSERT_EQ(vxReadWifReduced(path.c_str(), 0, &block), 0);  // a full decode
  EXPECT_EQ(block->width, 512);
  Picture full;
  ASSERT_EQ(codec_test::Decode(testing_support::ReadFileBytes(path), full), wif::Status::Ok);
  EXPECT_EQ(0, std::memcmp(vxBlockBits(block), full.pixels.data(), full.pixels.size()));
  vxFreeBlock(block);

  block = nullptr;
  EXPECT_EQ(vxReadWifReduced(path.c_str(), 4, &block), -2);
  EXPECT_EQ(vxReadWifReduced(dir.File("missing.wif").c_str(), 1, &block), -1);
  EXPECT_EQ(block, nullptr);
}

}  // namespace
