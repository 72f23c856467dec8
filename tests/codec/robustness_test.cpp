// Damaged streams: truncated, mutated and random WIF data must give an
// error or a picture, never a crash, a hang or a read outside a buffer (the
// sanitizer build is the judge).
#include <gtest/gtest.h>

#include <random>

#include "codec_test_util.h"
#include "engine/image.h"

namespace {

using codec_test::Picture;
using wif::Status;

// Collects the codec's diagnostics (thousands of them) for one scope, and
// keeps the decodes' buffers small.
struct QuietAndSmall {
  uint64_t ceiling = vxMaxImageBytes();
  QuietAndSmall() {
    testing::internal::CaptureStderr();
    vxSetMaxImageBytes(8 << 20);
  }
  ~QuietAndSmall() {
    testing::internal::GetCapturedStderr();
    vxSetMaxImageBytes(ceiling);
  }
};

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
  QuietAndSmall quiet;
  Outcome outcome;
  for (const auto& file : files) {
    for (size_t cut = 0; cut < file.size(); ++cut) {
      DecodeDamaged(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(cut)), outcome);
    }
  }
  EXPECT_GT(outcome.failed, 0);
}

// Mutated files (bit flips, byte changes, terminator-like bytes, insertions,
// mostly past the header, sometimes cut) and random bodies behind valid
// headers. The fuzz targets go much further; this keeps a deterministic
// sample in the ordinary suite.
TEST(Robustness, MutatedFilesAndRandomBodies) {
  const auto files = SampleFiles();
  std::mt19937 rng(2024);
  QuietAndSmall quiet;
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

}  // namespace
