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
  const std::vector<uint8_t> expected = {'W', '6', 4, 3, 0x01, 0xC3, 0x01, 0x2C, 0x35, 200, 0, 27, 0, 0,
                                         'V', 'X', ',', 'M', 'a', 'r', ' ', '5', ',', '1', '9', '9', '7'};
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

TEST(Header, StepRuleDependsOnTheVersion) {
  EXPECT_EQ(StepNumerator(30, 3, 6), 30);  // q / 3 before 3.7
  EXPECT_EQ(StepNumerator(30, 2, 9), 30);
  EXPECT_EQ(StepNumerator(30, 3, 7), 32);  // (q + 2) / 3 from 3.7 on
  EXPECT_EQ(StepNumerator(30, 4, 3), 32);
  EXPECT_NEAR(StepNumerator(255, 4, 3) / 3.0, 85.67, 0.01);
  EXPECT_EQ(StepNumerator(1, 4, 3) / 3.0, 1.0);
}

TEST(Layout, AutomaticLevels) {
  EXPECT_EQ(AutomaticLevels(512, 512), 6);
  EXPECT_EQ(AutomaticLevels(2048, 2048), 7);
  EXPECT_EQ(AutomaticLevels(8192, 8192), 8);
  EXPECT_EQ(AutomaticLevels(65535, 65535), 8);
  EXPECT_EQ(AutomaticLevels(16, 16), 1);
  EXPECT_EQ(AutomaticLevels(32, 4000), 2);
  // Pictures smaller than 16 would get no level at all; they get one.
  EXPECT_EQ(AutomaticLevels(15, 15), 1);
  EXPECT_EQ(AutomaticLevels(1, 1), 1);
  EXPECT_EQ(AutomaticLevels(5000, 3), 1);
}

TEST(Layout, AutomaticSplitFollowsTheQuality) {
  const int L = 6;
  EXPECT_EQ(AutomaticSplit(1, L), 7);
  EXPECT_EQ(AutomaticSplit(3, L), 7);
  EXPECT_EQ(AutomaticSplit(4, L), 6);
  EXPECT_EQ(AutomaticSplit(7, L), 5);
  EXPECT_EQ(AutomaticSplit(13, L), 4);
  EXPECT_EQ(AutomaticSplit(25, L), 3);
  EXPECT_EQ(AutomaticSplit(49, L), 2);
  EXPECT_EQ(AutomaticSplit(97, L), 1);
  EXPECT_EQ(AutomaticSplit(192, L), 1);
  EXPECT_EQ(AutomaticSplit(193, L), 0);
  EXPECT_EQ(AutomaticSplit(255, 8), 2);
  EXPECT_EQ(AutomaticSplit(255, 1), 0);
  for (int q = 1; q <= 255; ++q) {
    for (int levels = 1; levels <= 8; ++levels) EXPECT_LE(AutomaticSplit(q, levels), 15);
  }
}

TEST(Layout, PaddedHalfSizes) {
  EXPECT_EQ(PaddedHalf(17, 1), 9);  // an 18 x 18 padded picture
  EXPECT_EQ(PaddedHalf(16, 1), 8);
  EXPECT_EQ(PaddedHalf(1, 1), 1);
  EXPECT_EQ(PaddedHalf(1, 3), 4);    // padded up to one 8 x 8 block
  EXPECT_EQ(PaddedHalf(451, 5), 240);
  EXPECT_EQ(PaddedHalf(65535, 8), 32768);
  const PlaneLayout p = LumaLayout(17, 17, 1, 2);
  EXPECT_EQ(p.pw2, 9);
  EXPECT_EQ(p.ph2, 9);
  EXPECT_EQ(p.w0, 9);  // with one level the lowest band is the whole plane
  EXPECT_EQ(p.ncoarse, 81);
}

TEST(Layout, CoarseCountSweepsAndTheChromaSplit) {
  // 512 x 512, L = 6: lowest band 8 x 8.
  PlaneLayout luma = LumaLayout(512, 512, 6, 2);
  EXPECT_EQ(luma.w0, 8);
  EXPECT_EQ(luma.ncoarse, 8 * 8 * 16);  // lowest band and two detail levels
  EXPECT_EQ(luma.sweeps, 3);            // levels 3, 4 and 5
  EXPECT_FALSE(luma.DetailBlockCoded());
  PlaneLayout chroma = ChromaLayout(luma);
  EXPECT_EQ(chroma.split, 1);
  EXPECT_EQ(chroma.ncoarse, 8 * 8 * 4);
  EXPECT_EQ(chroma.sweeps, 4);

  luma = LumaLayout(512, 512, 6, 7);  // q < 4: everything block coded
  EXPECT_EQ(luma.ncoarse, 256 * 256);
  EXPECT_EQ(luma.sweeps, -1);
  EXPECT_TRUE(luma.DetailBlockCoded());
  chroma = ChromaLayout(luma);
  EXPECT_EQ(chroma.split, 6);
  EXPECT_EQ(chroma.ncoarse, 256 * 256);
  EXPECT_TRUE(chroma.DetailBlockCoded());

  luma = LumaLayout(512, 512, 6, 6);  // split = L: chroma details go arithmetic
  chroma = ChromaLayout(luma);
  EXPECT_EQ(chroma.split, 5);
  EXPECT_EQ(chroma.sweeps, 0);
  EXPECT_FALSE(chroma.DetailBlockCoded());

  luma = LumaLayout(512, 512, 6, 5);  // split = L - 1: coarse is the whole plane
  EXPECT_EQ(luma.ncoarse, 256 * 256);
  EXPECT_EQ(luma.sweeps, 0);
  chroma = ChromaLayout(luma);
  EXPECT_EQ(chroma.split, 4);
  EXPECT_EQ(chroma.ncoarse, 256 * 256 / 4);
  EXPECT_EQ(chroma.sweeps, 1);

  luma = LumaLayout(512, 512, 6, 0);  // split 0: the chroma planes keep it
  chroma = ChromaLayout(luma);
  EXPECT_EQ(chroma.split, 0);
  EXPECT_EQ(chroma.ncoarse, 64);
  EXPECT_EQ(chroma.sweeps, 5);
}

}  // namespace
