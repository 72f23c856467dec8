// End-to-end behaviour of Compress and decoder in memory.
#include <gtest/gtest.h>

#include <cstdio>

#include "codec/wif_format.h"
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

struct QualityRow {
  int quality;
  size_t bytes;
  double psnr;
};

std::vector<QualityRow> QualitySweep(const Picture& p, const std::vector<int>& qualities) {
  std::vector<QualityRow> rows;
  for (int q : qualities) {
    Status s;
    const auto file = Encode(p, q, 0, &s);
    EXPECT_EQ(s, Status::Ok) << "q=" << q;
    Picture back;
    EXPECT_EQ(Decode(file, back), Status::Ok) << "q=" << q;
    rows.push_back({q, file.size(), codec_test::Psnr(p, back)});
  }
  return rows;
}

// Size and fidelity fall together as the quality number rises, and q = 1 is
// near-lossless. The table is printed for the record.
TEST(RoundTrip, QualityTableOfTheTestPhotos) {
  const std::vector<int> qualities = {1, 5, 10, 25, 50, 100, 200, 255};
  for (const auto& [name, colour] : {std::pair{"camera.pgm", false}, std::pair{"chelsea.ppm", true}}) {
    const Picture p = Photo(name, colour);
    const auto rows = QualitySweep(p, qualities);
    std::printf("%s (%d x %d %s)\n  quality   bpp    PSNR dB\n", name, p.width, p.height,
                colour ? "colour" : "grey");
    for (const QualityRow& r : rows) {
      std::printf("  %7d %6.3f %8.2f\n", r.quality, codec_test::BitsPerPixel(r.bytes, p), r.psnr);
    }
    EXPECT_GT(rows.front().psnr, colour ? 45.0 : 48.0) << name << " at q=1";
    for (size_t i = 1; i < rows.size(); ++i) {
      EXPECT_LT(rows[i].bytes, rows[i - 1].bytes) << name << " q=" << rows[i].quality;
      EXPECT_LT(rows[i].psnr, rows[i - 1].psnr) << name << " q=" << rows[i].quality;
    }
  }
}

}  // namespace
