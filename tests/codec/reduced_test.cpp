// Reduced decoding: the coarse levels of the pyramid as a smaller picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/wif_reduced.h"
#include "codec_test_util.h"

namespace {

using codec_test::Picture;

// A full decode shrunk by `factor`: each pixel the mean of the (factor + 1)
// square centred on full pixel factor * x, clipped at the edges. The wavelet's
// low band at level d is centred there (on every 2^d-th pixel), not in the
// middle of a 2^d square.
Picture BoxDown(const Picture& full, int factor) {
  const int w = (full.width + factor - 1) / factor;
  const int h = (full.height + factor - 1) / factor;
  const int channels = full.colour ? 3 : 1;
  const int r = factor / 2;
  Picture out = codec_test::Blank(w, h, full.colour);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < channels; ++c) {
        int sum = 0, n = 0;
        for (int yy = std::max(0, y * factor - r); yy <= std::min(full.height - 1, y * factor + r);
             ++yy) {
          for (int xx = std::max(0, x * factor - r); xx <= std::min(full.width - 1, x * factor + r);
               ++xx) {
            sum += full.Row(yy)[channels * xx + c];
            ++n;
          }
        }
        out.Row(y)[channels * x + c] = static_cast<uint8_t>((sum + n / 2) / n);
      }
    }
  }
  return out;
}

Picture Reduced(const std::vector<uint8_t>& file, int levels, const Picture& like,
                wif::Status* status) {
  Picture out = codec_test::Blank(wif::ReducedSide(like.width, levels),
                                  wif::ReducedSide(like.height, levels), like.colour);
  *status = wif::DecodeReduced(file.data(), file.size(), levels, out.pixels.data());
  return out;
}

// Photos at coarse, middle and fine qualities, and an odd size whose file
// has fewer levels than asked for at the deepest (its lowest band is then
// the whole answer).
TEST(ReducedDecode, CloseToADownscaledFullDecode) {
  Picture camera, chelsea;
  ASSERT_TRUE(codec_test::LoadPhoto("camera.pgm", false, camera));
  ASSERT_TRUE(codec_test::LoadPhoto("chelsea.ppm", true, chelsea));
  const Picture odd = codec_test::Make(37, 21, true, [](int x, int y, int c) {
    return static_cast<uint8_t>(40 + 3 * x + 5 * y + 30 * c);
  });
  const struct {
    const Picture* picture;
    int quality, levels;
    double psnr;
  } cases[] = {{&camera, 2, 0, 33},  {&camera, 30, 0, 33},  {&camera, 150, 0, 33},
               {&chelsea, 2, 0, 33}, {&chelsea, 30, 0, 33}, {&chelsea, 150, 0, 33},
               {&odd, 10, 3, 28}};
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
  Picture photo;
  ASSERT_TRUE(codec_test::LoadPhoto("chelsea.ppm", true, photo));
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
  Picture photo;
  ASSERT_TRUE(codec_test::LoadPhoto("camera.pgm", false, photo));
  testing_support::TempDir dir;
  const std::string path = dir.File("camera.wif");
  testing_support::WriteFileBytes(path, codec_test::Encode(photo, 25));

  vxBitmapInfoHeader* block = nullptr;
  int fw = 0, fh = 0;
  ASSERT_EQ(vxReadWifReduced(path.c_str(), 2, &block, &fw, &fh), 0);
  EXPECT_EQ(fw, 512);
  EXPECT_EQ(fh, 512);
  EXPECT_EQ(block->width, 128);
  EXPECT_EQ(block->height, 128);
  EXPECT_EQ(block->bitCount, 8);
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
