// Pins the codec's output: the MD5 of the encoded stream and of the decoded
// pixels for a few pictures and qualities. Every implementation of the
// transform's inner loops and every thread count must give these very bytes,
// so a faster path can never change a file that was written before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/kernels.h"
#include "codec/rounding.h"
#include "codec/wavelet_kernels.h"
#include "codec_test_util.h"

namespace {

using codec_test::Picture;

// RFC 1321 MD5, enough to fingerprint test output.
class Md5 {
 public:
  static std::string Hex(const uint8_t* data, size_t size) {
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::vector<uint8_t> m(data, data + size);
    const uint64_t bits = static_cast<uint64_t>(size) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 0; i < 8; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    for (size_t off = 0; off < m.size(); off += 64) Block(h, m.data() + off);
    char out[33];
    for (int i = 0; i < 16; ++i) {
      std::snprintf(out + 2 * i, 3, "%02x",
                    static_cast<unsigned>((h[i / 4] >> (8 * (i % 4))) & 0xFF));
    }
    return std::string(out, 32);
  }

 private:
  static uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }
  static void Block(uint32_t h[4], const uint8_t* p) {
    static const auto K = [] {  // floor(|sin(i + 1)| 2^32)
      std::array<uint32_t, 64> k{};
      for (int i = 0; i < 64; ++i)
        k[i] = static_cast<uint32_t>(std::fabs(std::sin(i + 1.0)) * 0x1p32);
      return k;
    }();
    static const int R[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      w[i] = p[4 * i] | (p[4 * i + 1] << 8) | (p[4 * i + 2] << 16) |
             (static_cast<uint32_t>(p[4 * i + 3]) << 24);
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      const uint32_t t = d;
      d = c;
      c = b;
      b = b + Rotl(a + f + K[i] + w[g], R[i / 16][i % 4]);
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
};

std::string Md5Of(const std::vector<uint8_t>& v) { return Md5::Hex(v.data(), v.size()); }

// The roundings as first written, with trunc and floor.
int32_t RoundFormula(float v, double half, double low, double high) {
  const double r =
      v > 0 ? std::trunc(static_cast<double>(v) + half) : std::trunc(static_cast<double>(v) - half);
  return static_cast<int32_t>(r > high ? high : r < low ? low : r);
}
int32_t SampleFormula(float v) {
  return v > 255.0f ? 255 : v >= 0.0f ? static_cast<int32_t>(std::trunc(v + 0.499)) : 0;
}
int32_t ChromaFormula(float v, bool fullRange) {
  const double t = std::floor(static_cast<double>(v) + 128.0 + 0.499);
  return static_cast<int32_t>(
      std::clamp(t, fullRange ? -32768.0 : 0.0, fullRange ? 32767.0 : 255.0));
}

TEST(Rounding, ConversionsGiveTheValuesOfTheirFormulas) {
  std::vector<float> values;
  for (int i = -700000; i <= 700000; ++i) values.push_back(static_cast<float>(i) / 1024.0f);
  for (double edge : {0.0, 0.49, 0.499, 0.501, 0.51, 127.51, 128.0, 128.49, 128.51, 129.49, 255.0,
                      255.501, 32639.5, 32640.0, 32767.0, 2147483647.0, 2147483648.0}) {
    for (double sign : {1.0, -1.0}) {
      float f = static_cast<float>(sign * edge);
      for (int k = 0; k < 40; ++k) f = std::nextafter(f, -1e30f);
      for (int k = 0; k < 80; ++k, f = std::nextafter(f, 1e30f)) values.push_back(f);
    }
  }
  for (float v : {1e9f, -1e9f, 3e9f, -3e9f, 1e20f, -1e20f, -0.0f}) values.push_back(v);
  int mismatches = 0;
  for (float v : values) {
    mismatches += wif::RoundDetail(v) != RoundFormula(v, 0.49, -128, 127);
    mismatches += wif::RoundCoefficient(v) != RoundFormula(v, 0.499, -2147483648.0, 2147483647.0);
    mismatches += wif::SampleByte(v) != SampleFormula(v);
    mismatches += wif::ChromaValue(v, true) != ChromaFormula(v, true);
    mismatches += wif::ChromaValue(v, false) != ChromaFormula(v, false);
    if (mismatches != 0) {
      ADD_FAILURE() << "first mismatch at " << v;
      break;
    }
  }
  // The row conversions of every kernel path agree with them, value for value.
  for (wif::KernelPath path :
       {wif::KernelPath::Plain, wif::KernelPath::Sse2, wif::KernelPath::Avx2}) {
    if (!wif::KernelPathAvailable(path)) continue;
    const wif::WaveletKernels& k = wif::KernelsFor(path);
    const size_t n = values.size();
    std::vector<int8_t> details(n);
    std::vector<uint8_t> samples(n);
    std::vector<int16_t> full(n), bytes(n);
    std::vector<int32_t> coefficients(n);
    k.roundDetails(values.data(), details.data(), n);
    k.roundCoefficients(values.data(), coefficients.data(), n);
    k.sampleBytes(values.data(), samples.data(), n);
    k.chromaValues(values.data(), full.data(), n, true);
    k.chromaValues(values.data(), bytes.data(), n, false);
    size_t bad = 0;
    for (size_t i = 0; i < n; ++i) {
      const float v = values[i];
      bad += details[i] != wif::RoundDetail(v) || samples[i] != wif::SampleByte(v) ||
             full[i] != wif::ChromaValue(v, true) || bytes[i] != wif::ChromaValue(v, false) ||
             coefficients[i] != wif::RoundCoefficient(v);
    }
    EXPECT_EQ(bad, 0u) << wif::KernelPathName(path);

    // Combining the colour planes: chroma over the whole 16-bit range (as a
    // damaged stream can give), rows of every length around the vector width.
    std::mt19937 rng(7);
    for (size_t count = 0; count <= 40; ++count) {
      std::vector<uint8_t> y(count), got(3 * count + 1, 0xAB);
      std::vector<int16_t> a(count), b(count);
      for (size_t i = 0; i < count; ++i) {
        y[i] = static_cast<uint8_t>(rng());
        const bool wide = rng() % 4 == 0;
        a[i] = static_cast<int16_t>(wide ? rng() : rng() % 400 - 72);
        b[i] = static_cast<int16_t>(wide ? rng() : rng() % 400 - 72);
      }
      for (const bool rgb : {false, true}) {
        k.combineColour(y.data(), a.data(), b.data(), got.data(), count, rgb);
        for (size_t i = 0; i < count; ++i) {
          const int blue = y[i] + a[i] + b[i] - 256, red = y[i] - b[i] + 128;
          const int expected[3] = {rgb ? red : blue, y[i] - a[i] + 128, rgb ? blue : red};
          for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(got[3 * i + c], std::clamp(expected[c], 0, 255))
                << wif::KernelPathName(path) << " count " << count << " pixel " << i;
          }
        }
        EXPECT_EQ(got[3 * count], 0xAB) << "wrote past the row, count " << count;
      }
    }
    // The luma of every sum of three bytes.
    std::vector<uint8_t> sums(3 * 766);
    for (size_t i = 0; i < sums.size(); ++i) sums[i] = static_cast<uint8_t>((i / 3 + i % 3) / 3);
    std::vector<float> thirds(766);
    k.colourPlane(sums.data(), thirds.data(), thirds.size(), -1);
    for (int sum = 0; sum <= 765; ++sum) {
      EXPECT_EQ(thirds[sum], static_cast<float>(sum) / 3.0f)
          << wif::KernelPathName(path) << " sum " << sum;
    }
  }
}

struct GoldenCase {
  const char* picture;  // "camera", "chelsea" or "saturated"
  int quality;
  int levels;
  const char* encoded;
  const char* decoded;
};

// Digests of the current output. Changing one of these changes the format's
// bytes: only ever on purpose.
const GoldenCase kCases[] = {
    {"camera", 2, 0, "7574bc1f15476a9865971ba44cfccd7d", "e4f8420ff3e8d217c90335b8664197ad"},
    {"camera", 20, 0, "3f5bb382b91d037b14cafb6d08d24dcf", "f3a1f033e3d970f67143f0289120b69e"},
    {"camera", 90, 0, "e954709c76cd2fc14f0146b6057af499", "0ea75da8edc72cac733a12a7f228460d"},
    {"camera", 250, 3, "7a430f1f23f45084decd10dfa7af54dc", "c6c7f23e620977c51f76ac33521be949"},
    {"chelsea", 2, 0, "5dcb2c45a1770502552a7ec863d15efe", "88261a95ae1f6cb438fb7d34a22d0c50"},
    {"chelsea", 30, 0, "65001b7cf625808e6833003d10a27491", "72805da0ce6f7f65a53cf59def2b8cef"},
    {"chelsea", 120, 0, "4c148f65b518bc6bbbb8869ad35f98f7", "ba6bc877caf3fee84c06623064f78707"},
    {"saturated", 1, 2, "ba11d2c543a89859f4480c4eaaf761c8", "65b38805ddd687c1750f84224c65dabd"},
    {"saturated", 40, 0, "ccc677657ae87a9219be2c69de6420b4", "b30b61f195fcfba03b60b34a3cd287e9"},
};

class GoldenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(codec_test::LoadPhoto("camera.pgm", false, camera_));
    ASSERT_TRUE(codec_test::LoadPhoto("chelsea.ppm", true, chelsea_));
    // Pure colours with hard edges: chroma far outside a byte's range and
    // detail values that saturate at fine qualities.
    static const uint8_t kColours[6][3] = {{0, 0, 255},   {0, 255, 0},   {255, 0, 0},
                                           {255, 255, 0}, {255, 0, 255}, {0, 0, 0}};
    saturated_ = codec_test::Make(
        75, 41, true, [](int x, int y, int c) { return kColours[(x / 7 + y / 5) % 6][c]; });
  }
  void TearDown() override {
    wif::SetKernelPath(wif::BestKernelPath());
    wif::SetThreads(0);
  }
  const Picture& Get(const std::string& name) const {
    return name == "camera" ? camera_ : name == "chelsea" ? chelsea_ : saturated_;
  }
  Picture camera_, chelsea_, saturated_;
};

TEST_F(GoldenTest, EveryPathAndThreadCountGivesThePinnedBytes) {
  const wif::KernelPath paths[] = {wif::KernelPath::Plain, wif::KernelPath::Sse2,
                                   wif::KernelPath::Avx2};
  for (wif::KernelPath path : paths) {
    if (!wif::SetKernelPath(path)) continue;
    for (int threads : {1, 2, 4}) {
      wif::SetThreads(threads);
      for (const GoldenCase& c : kCases) {
        SCOPED_TRACE(std::string(c.picture) + " q" + std::to_string(c.quality) + " " +
                     wif::KernelPathName(path) + " threads " + std::to_string(threads));
        const Picture& p = Get(c.picture);
        wif::Status s;
        const std::vector<uint8_t> file = codec_test::Encode(p, c.quality, c.levels, &s);
        ASSERT_EQ(s, wif::Status::Ok);
        Picture back;
        ASSERT_EQ(codec_test::Decode(file, back), wif::Status::Ok);
        EXPECT_EQ(Md5Of(file), c.encoded);
        EXPECT_EQ(Md5Of(back.pixels), c.decoded);
      }
    }
  }
}

// Decoding planes at once trusts the section lengths only as far as the data
// agrees with them; otherwise the planes are decoded again one by one.
TEST(PlanesAtOnce, WrongLengthsFallBackToTheSequentialDecode) {
  codec_test::ThreadsReset reset;
  const Picture photo = codec_test::Photo("chelsea.ppm", true);
  const std::vector<uint8_t> file = codec_test::Encode(photo, 30);
  wif::SetThreads(1);
  Picture expected;
  ASSERT_EQ(codec_test::Decode(file, expected), wif::Status::Ok);
  const auto starts = codec_test::SectionStarts(file);
  // Section 3 one byte longer (section 4 then starts inside its data),
  // section 2 running past the end, section 3 of length zero.
  const std::pair<size_t, uint32_t> bends[] = {
      {starts[2], codec_test::BigEndian32(file, starts[2]) + 1},
      {starts[1], 0x7FFFFFFF},
      {starts[2], 0}};
  for (auto [at, length] : bends) {
    std::vector<uint8_t> bent = file;
    for (int i = 0; i < 4; ++i) bent[at + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    for (int threads : {1, 2}) {
      wif::SetThreads(threads);
      Picture back;
      EXPECT_EQ(codec_test::Decode(bent, back), wif::Status::Ok) << length;
      EXPECT_EQ(back.pixels, expected.pixels) << length << " threads " << threads;
    }
  }
}

// With many levels a short picture's planes are padded far below its last
// row, so some of the row bands shared between threads start below the
// picture: they repeat its last row like the one-thread pass.
TEST(PlanesAtOnce, BandsBelowAShortPictureGiveTheOneThreadBytes) {
  codec_test::ThreadsReset reset;
  for (bool colour : {true, false}) {
    for (int height : {1, 3, 37}) {
      const Picture p = codec_test::Make(150, height, colour, [](int x, int y, int c) {
        return static_cast<uint8_t>((x * 7 + y * 13 + c * 50) & 0xFF);
      });
      std::vector<uint8_t> files[3];
      for (int t = 0; t < 3; ++t) {
        wif::SetThreads(t + 1);
        wif::Status s;
        files[t] = codec_test::Encode(p, 12, 8, &s);
        ASSERT_EQ(s, wif::Status::Ok) << height;
        EXPECT_EQ(files[t], files[0]) << "colour " << colour << " height " << height << " t" << t;
      }
    }
  }
}

// Two planes' buffers at most (about 8 bytes per first-level coefficient
// each) besides the destination: the decode stays within 2.5 times the raw
// picture in all.
TEST(PlanesAtOnce, DecodingHoldsTwoPlanesAtMost) {
  codec_test::ThreadsReset reset;
  const Picture p = codec_test::Make(512, 384, true, [](int x, int y, int c) {
    return static_cast<uint8_t>((x * (c + 1) + y * 3) & 0xFF);
  });
  const std::vector<uint8_t> file = codec_test::Encode(p, 20);
  for (int threads : {1, 2, 4}) {
    wif::SetThreads(threads);
    const auto run = codec_test::RunDecoder(file, p.width, p.height, true);
    ASSERT_EQ(run.status, wif::Status::Ok);
    EXPECT_LE(run.peak, 512ull * 384 * 3 * 3 / 2) << threads;
  }
}

// A smooth picture's detail planes are nearly empty, so all three planes are
// held at once and the picture is written by bands of rows (heights that do
// not share out evenly among the bands included): the pixels are those of
// the one-thread decode.
TEST(PlanesAtOnce, SmoothPicturesWrittenByBandsGiveTheSamePixels) {
  codec_test::ThreadsReset reset;
  for (int height : {203, 400}) {
    const Picture p = codec_test::Make(480, height, true, [](int x, int y, int c) {
      return static_cast<uint8_t>(std::min(255, 60 + x / 4 + y / 4 + 20 * c));
    });
    const std::vector<uint8_t> file = codec_test::Encode(p, 20);
    codec_test::DecoderRun runs[2];
    for (int t = 0; t < 2; ++t) {
      wif::SetThreads(t + 1);
      runs[t] = codec_test::RunDecoder(file, p.width, p.height, true);
      ASSERT_EQ(runs[t].status, wif::Status::Ok) << height;
      EXPECT_EQ(runs[t].byBands, t == 1) << height;
    }
    EXPECT_EQ(runs[1].out.pixels, runs[0].out.pixels) << height;
  }
}

// A very large colour picture decodes its planes one after another: a second
// plane's buffers would add a third of a gigabyte or more to the peak.
TEST(PlanesAtOnce, OnlyForPicturesWhereTwoPlanesFitComfortably) {
  codec_test::ThreadsReset reset;
  const struct {
    int threads, side;
    uint8_t kind;
    bool atOnce;
  } cases[] = {{2, 4096, wif::kKindColour, true},
               {2, 16384, wif::kKindColour, false},
               {2, 4096, wif::kKindGrey, false},
               {1, 4096, wif::kKindColour, false}};
  for (const auto& c : cases) {
    wif::SetThreads(c.threads);
    wif::Header h;
    h.kind = c.kind;
    h.width = h.height = static_cast<uint16_t>(c.side);
    h.levels = 8;
    h.split = 6;
    EXPECT_EQ(wif::DecodesPlanesAtOnce(h), c.atOnce) << c.threads << " " << c.side;
  }
}

}  // namespace
