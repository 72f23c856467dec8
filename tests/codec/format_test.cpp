// The header, its byte layout and the values both coders derive from it.
#include <gtest/gtest.h>

#include <cstring>

#include "codec/byte_stream.h"
#include "codec/wif_format.h"

namespace {

using namespace wif;

TEST(Header, BytesAreBigEndianWithSplitInTheHighNibble) {
  Header h;
  h.kind = kKindColour;
  h.width = 0x01C3;
  h.height = 0x012C;
  h.split = 3;
  h.levels = 5;
  h.quality = 200;
  ByteSink sink;
  WriteHeaderAndSignature(sink, h);
  const std::vector<uint8_t> expected = {'W', '6', 4,   3,   0x01, 0xC3, 0x01, 0x2C, 0x35,
                                         200, 0,   27,  0,   0,    'V',  'X',  ',',  'M',
                                         'a', 'r', ' ', '5', ',',  '1',  '9',  '9',  '7'};
  EXPECT_EQ(sink.bytes(), expected);

  ByteSource source(sink.bytes().data(), sink.bytes().size());
  Header back;
  ASSERT_TRUE(ReadHeader(source, back));
  EXPECT_EQ(back.kind, kKindColour);
  EXPECT_EQ(back.width, 0x01C3);
  EXPECT_EQ(back.height, 0x012C);
  EXPECT_EQ(back.split, 3);
  EXPECT_EQ(back.levels, 5);
  EXPECT_EQ(back.quality, 200);
  EXPECT_EQ(back.headerLength, 27);

  ByteSource tooShort(sink.bytes().data(), 13);
  EXPECT_FALSE(ReadHeader(tooShort, back));
}

// The automatic choices and the sizes derived from them, at the edges of
// their ranges. Pictures smaller than 16 would get no level; they get one.
TEST(Layout, AutomaticLevelsSplitAndPaddedSizes) {
  const int levels[][3] = {{512, 512, 6}, {2048, 2048, 7}, {8192, 8192, 8}, {65535, 65535, 8},
                           {16, 16, 1},   {32, 4000, 2},   {15, 15, 1},     {1, 1, 1},
                           {5000, 3, 1}};
  for (const auto& c : levels)
    EXPECT_EQ(AutomaticLevels(c[0], c[1]), c[2]) << c[0] << " x " << c[1];
  const int splits[][3] = {{1, 6, 7},  {3, 6, 7},  {4, 6, 6},   {7, 6, 5},   {13, 6, 4},
                           {25, 6, 3}, {49, 6, 2}, {97, 6, 1},  {192, 6, 1}, {193, 6, 0},
                           {255, 8, 2}, {255, 1, 0}};
  for (const auto& c : splits) EXPECT_EQ(AutomaticSplit(c[0], c[1]), c[2]) << c[0] << " L" << c[1];
  for (int q = 1; q <= 255; ++q) {
    for (int l = 1; l <= 8; ++l) ASSERT_LE(AutomaticSplit(q, l), 15);  // it has a nibble
  }
  // Half the size, rounded up to a multiple of 2^(levels - 1).
  const int halves[][3] = {{17, 1, 9}, {16, 1, 8},    {1, 1, 1},
                           {1, 3, 4},  {451, 5, 240}, {65535, 8, 32768}};
  for (const auto& c : halves) EXPECT_EQ(PaddedHalf(c[0], c[1]), c[2]) << c[0] << " L" << c[1];
}

// Which levels are coarse, how many arithmetic sweeps follow, and how the
// chroma planes' split follows the luma's.
TEST(Layout, CoarseCountSweepsAndTheChromaSplit) {
  PlaneLayout one = LumaLayout(17, 17, 1, 2);
  EXPECT_EQ(one.w0, 9);  // with one level the lowest band is the whole plane
  EXPECT_EQ(one.ncoarse, 81);
  struct Case {
    int split;
    int64_t ncoarse;
    int sweeps;
    bool blockCoded;
    int chromaSplit;
    int64_t chromaCoarse;
    int chromaSweeps;
    bool chromaBlockCoded;
  };
  // 512 x 512, L = 6: lowest band 8 x 8.
  const Case cases[] = {
      {2, 8 * 8 * 16, 3, false, 1, 8 * 8 * 4, 4, false},     // levels 3, 4 and 5 swept
      {7, 256 * 256, -1, true, 6, 256 * 256, -1, true},      // q < 4: all block coded
      {6, 256 * 256, -1, true, 5, 256 * 256, 0, false},      // split = L: chroma details arithmetic
      {5, 256 * 256, 0, false, 4, 256 * 256 / 4, 1, false},  // coarse is the whole plane
      {0, 64, 5, false, 0, 64, 5, false},                    // split 0: the chroma keep it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.split);
    const PlaneLayout luma = LumaLayout(512, 512, 6, c.split);
    EXPECT_EQ(luma.w0, 8);
    EXPECT_EQ(luma.ncoarse, c.ncoarse);
    EXPECT_EQ(luma.sweeps, c.sweeps);
    EXPECT_EQ(luma.DetailBlockCoded(), c.blockCoded);
    const PlaneLayout chroma = ChromaLayout(luma);
    EXPECT_EQ(chroma.split, c.chromaSplit);
    EXPECT_EQ(chroma.ncoarse, c.chromaCoarse);
    EXPECT_EQ(chroma.sweeps, c.chromaSweeps);
    EXPECT_EQ(chroma.DetailBlockCoded(), c.chromaBlockCoded);
  }
}

}  // namespace
