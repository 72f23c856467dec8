// Bit packing, terminators, the end of the stream and the byte streams below.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "codec/bit_io.h"

namespace {

using namespace wif;

// One small generator for the random scripts below, the same everywhere.
struct Lcg {
  uint32_t state;
  uint32_t operator()() { return state = state * 1103515245u + 12345u; }
};

// The writer gathers bits and hands them on in groups; whatever the
// alignment, its bytes must be those of packing one bit at a time: the first
// bit in bit 0 of a byte, a field most significant bit first, a terminator
// writing its partial byte (even an empty one), then 0x00 0x00 0xFF.
TEST(BitIO, WriterMatchesBitByBitPackingAtEveryAlignment) {
  std::vector<uint8_t> expected;
  std::vector<int> partial;  // bits of the reference's partial byte, first bit first
  auto flush = [&](bool terminate) {
    uint8_t byte = 0;
    for (size_t i = 0; i < partial.size(); ++i) byte |= static_cast<uint8_t>(partial[i] << i);
    expected.push_back(byte);
    if (terminate) expected.insert(expected.end(), {0x00, 0x00, 0xFF});
    partial.clear();
  };
  auto bit = [&](int b) {
    partial.push_back(b);
    if (partial.size() == 8) flush(false);
  };
  ByteSink sink;
  BitWriter w(sink);
  Lcg next{7};
  for (int step = 0; step < 5000; ++step) {
    const uint32_t kind = next() >> 28;
    if (kind < 5) {
      const int count = static_cast<int>(next() >> 27) + 1;  // 1 .. 32
      const uint32_t value = next() ^ (next() << 7);
      w.PutBits(value, count);
      for (int i = count - 1; i >= 0; --i) bit(static_cast<int>((value >> i) & 1u));
    } else if (kind < 10) {
      const int b = static_cast<int>(next() >> 31);
      w.PutBit(static_cast<uint32_t>(b));
      bit(b);
    } else if (kind < 14) {
      const int b = static_cast<int>(next() >> 31);
      const uint64_t count = next() >> 25;  // 0 .. 127
      w.PutRepeated(static_cast<uint32_t>(b), count);
      for (uint64_t i = 0; i < count; ++i) bit(b);
    } else if (kind == 14) {
      w.Reset();  // the partial byte's bits are dropped
      partial.clear();
    } else {
      w.Terminate();
      flush(true);
    }
  }
  w.Terminate();
  flush(true);
  EXPECT_EQ(sink.bytes(), expected);
}

// Byte-level reads drop a partly read byte; a terminator is found past
// whatever precedes its 0xFF. Reading past the end gives zeros for a while,
// then fails the stream, reported once.
TEST(BitIO, ByteLevelReadsTerminatorsAndTheEndOfTheStream) {
  const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0x01, 0x7F, 0xFF, 0xAB};
  ByteSource source(data, sizeof data);
  BitReader r(source);
  uint32_t v;
  r.GetBit();
  ASSERT_TRUE(r.ReadBigEndian(4, v));
  EXPECT_EQ(v, 0x3456789Au);
  ASSERT_TRUE(r.SkipTerminator());
  ASSERT_TRUE(r.ReadBigEndian(1, v));
  EXPECT_EQ(v, 0xABu);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r.ReadBigEndian(2, v));
  EXPECT_TRUE(r.failed());
  EXPECT_FALSE(r.SkipTerminator());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad input file\n");

  ByteSource one(data + 7, 1);
  BitReader e(one);
  EXPECT_EQ(e.GetBits(8), 0xFFu);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 14 * 8; ++i) ASSERT_EQ(e.GetBit(), 0u);
  EXPECT_FALSE(e.failed());
  EXPECT_EQ(e.readsPastEnd(), 14);
  EXPECT_EQ(e.GetBit(), 0u);
  EXPECT_TRUE(e.failed());
  for (int i = 0; i < 100; ++i) e.GetBit();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad input file\n");
}

// The reader takes several bytes at a time where it can; Reset,
// ReadBigEndian, SkipTerminator and Position must give the unread whole
// bytes back, so that they see the stream exactly where one byte at a time
// would have left it, in memory and from a file read in 64 KiB windows.
TEST(BitIO, ReadingAheadKeepsByteLevelReadsAndPositionsExact) {
  struct Step {
    int count;          // a field of `count` bits; -1 - count zeros then a one
    uint32_t value;
    uint64_t position;  // nonzero: a terminator that ends there
  };
  std::vector<Step> steps;
  ByteSink sink;
  BitWriter w(sink);
  Lcg next{11};
  for (int i = 0; i < 120000; ++i) {
    const uint32_t pick = next() >> 24;
    const int count = static_cast<int>(next() >> 27) + 1;  // 1 .. 32
    const uint32_t value = (next() ^ (next() << 9)) & (count == 32 ? ~0u : (1u << count) - 1);
    if (pick < 200) {
      w.PutBits(value, count);
      steps.push_back({count, value, 0});
    } else if (pick < 250) {
      w.PutRepeated(0, value & 63);
      w.PutBit(1);
      steps.push_back({-1 - static_cast<int>(value & 63), 0, 0});
    } else {
      w.Terminate();
      steps.push_back({0, 0, sink.Position()});
    }
  }
  w.Terminate();
  steps.push_back({0, 0, sink.Position()});
  const std::vector<uint8_t>& bytes = sink.bytes();
  ASSERT_GT(bytes.size(), 200000u);  // several file windows

  auto replay = [&](ByteSource& source) {
    BitReader r(source);
    bool byBytes = false;  // the two ways of crossing a terminator, in turn
    for (const Step& s : steps) {
      if (s.position == 0) {
        ASSERT_EQ(s.count > 0 ? r.GetBits(s.count) : r.CountZeros(1000),
                  s.count > 0 ? s.value : static_cast<uint64_t>(-1 - s.count));
        continue;
      }
      byBytes = !byBytes;
      if (byBytes) {
        // The rest of the partial byte is dropped, then 0x00 0x00 (and 0x00
        // again when nothing was pending) up to the 0xFF.
        r.Reset();
        uint32_t zeros = 1;
        ASSERT_TRUE(r.ReadBigEndian(2, zeros));
        ASSERT_EQ(zeros, 0u);
      }
      ASSERT_TRUE(r.SkipTerminator());
      ASSERT_EQ(r.Position(), s.position);
      ASSERT_EQ(source.Position(), s.position);
    }
    EXPECT_EQ(r.readsPastEnd(), 0);
    EXPECT_FALSE(r.failed());
  };
  ByteSource memory(bytes.data(), bytes.size());
  replay(memory);
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ByteSource file(f);
  ASSERT_TRUE(file.Rewind());
  replay(file);
  std::fclose(f);
}

// The block code's combined read must take what a field read and a count of
// zeros would, at every position and near the end of the stream; asking for
// the position between reads gives back the bytes read ahead, and reading
// must go on from the same bit.
TEST(BitIO, FieldThenZerosReadsAsAFieldAndACountOfZeros) {
  Lcg next{3};
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<uint8_t> bytes(1 + next() % 3000);
    const int sparseness = trial % 4;  // longer runs of zeros
    for (auto& b : bytes) {
      uint32_t v = next() >> 8;
      for (int i = 0; i < sparseness; ++i) v &= next() >> 8;
      b = static_cast<uint8_t>(v);
    }
    ByteSource oneSource(bytes.data(), bytes.size()), twoSource(bytes.data(), bytes.size());
    BitReader one(oneSource), two(twoSource);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 6000 && !two.failed(); ++i) {
      const int k = static_cast<int>(next() >> 29) % 7;  // 0 .. 6
      const uint64_t limit = i % 500 == 499 ? 40 : 0xFFFFFFFFull >> k;
      const uint32_t field = two.GetBits(k);
      const uint64_t zeros = two.CountZeros(limit);
      const uint64_t combined = one.GetBitsThenZeros(k, limit);
      // Too many zeros end the stream's reading, wherever each stopped.
      ASSERT_EQ(combined > (limit << k) + ((1u << k) - 1), zeros > limit) << i;
      if (zeros > limit) break;
      ASSERT_EQ(combined, (zeros << k) | field) << i;
      if (i % 7 == 0) {
        ASSERT_EQ(one.Position(), two.Position()) << i;
      }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(one.readsPastEnd(), two.readsPastEnd());
  }
}

// A file is read in windows of 64 KiB; the last bytes delivered can be
// stepped back over even just after the next window has been read.
TEST(ByteStreams, UngetReachesBackAcrossAFileWindow) {
  std::vector<uint8_t> bytes(3 * 65536 + 5);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  for (size_t past = 0; past < 3; ++past) {
    for (size_t back = 1; back <= ByteSource::kLookBehind; ++back) {
      ByteSource source(f);
      ASSERT_TRUE(source.Rewind());
      const size_t stop = 2 * 65536 + past;  // just into the third window
      for (size_t i = 0; i < stop; ++i) source.Get();
      source.Unget(back);
      EXPECT_EQ(source.Position(), stop - back);
      for (size_t i = stop - back; i < stop + 4; ++i) ASSERT_EQ(source.Get(), bytes[i]) << back;
    }
  }
  std::fclose(f);
}

// Section lengths are patched in after their data: into the file when the
// bytes have already been spilled, into the buffer otherwise.
TEST(ByteStreams, PatchReachesBytesAlreadyInTheFile) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    ByteSink sink(f);
    sink.PutBigEndian32(0);
    for (int i = 0; i < 200000; ++i) sink.Put(static_cast<uint8_t>(i));
    sink.Patch32(0, 0xA1B2C3D4);
    sink.Patch32(199998, 0x01020304);
    ASSERT_TRUE(sink.Flush());
    EXPECT_EQ(sink.Position(), 200004u);
  }
  ByteSource source(f);
  ASSERT_TRUE(source.Rewind());
  std::vector<uint8_t> bytes;
  for (int c; (c = source.Get()) >= 0;) bytes.push_back(static_cast<uint8_t>(c));
  ASSERT_EQ(bytes.size(), 200004u);
  EXPECT_EQ(source.Position(), 200004u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5),
            (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 199998, bytes.begin() + 200003),
            (std::vector<uint8_t>{1, 2, 3, 4, static_cast<uint8_t>(199998)}));
  std::fclose(f);
}

}  // namespace
