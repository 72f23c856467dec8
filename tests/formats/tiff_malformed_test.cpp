// Broken and hostile TIFF files: a clear result, never a crash, a hang or an
// allocation sized by a lying header.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "jpeg_tiff_util.h"

namespace {

using namespace jt;

// A little-endian TIFF of one uncompressed strip holding `dataBytes` bytes,
// whatever size its header claims.
std::vector<uint8_t> ClaimingTiff(uint32_t width, uint32_t height, uint16_t bitsPerSample,
                                  uint32_t dataBytes) {
  const uint32_t data = 8 + 2 + 9 * 12 + 4;  // right behind the directory of 9 entries
  std::vector<uint8_t> b = TiffDirectory(false, {{256, 4, 1, width},
                                                 {257, 4, 1, height},
                                                 {258, 3, 1, bitsPerSample},
                                                 {259, 3, 1, 1},
                                                 {262, 3, 1, 1},
                                                 {273, 4, 1, data},
                                                 {277, 3, 1, 1},
                                                 {278, 4, 1, height},
                                                 {279, 4, 1, dataBytes}});
  b.resize(b.size() + dataBytes, 0x80);
  return b;
}

TEST(TiffMalformed, EveryPrefixAndCorruptionGivesAResultCode) {
  TempDir dir;
  const std::string c = Quote(DataPath("chelsea.ppm")), g = Quote(DataPath("camera.pgm"));
  const std::string rgb = Quote(dir.File("rgb.tif"));
  ASSERT_EQ(RunCommand("convert " + c + "'[40x40+200+100]' +repage -compress none " + rgb), 0);
  const std::vector<std::string> makers = {
      "convert " + g + "'[24x16+200+200]' +repage -compress none",
      "convert " + c + "'[24x16+200+100]' +repage -compress lzw",
      "tiffcp -t -w 16 -l 16 -c zip " + rgb,
      "convert " + c + "'[24x16+200+100]' +repage -colors 32 -type Palette",
      "convert " + g + "'[37x23+250+200]' +repage -monochrome -compress group4",
      "convert " + c + "'[12x10+200+100]' +repage -alpha set -depth 16 -compress zip",
      "tiffcp -c jpeg -r 16 " + rgb,
  };
  NoticeCapture quiet;
  for (const std::string& make : makers) {
    SCOPED_TRACE(make);
    const std::string good = dir.File("good.tif");
    ASSERT_EQ(RunCommand(make + " " + Quote(good)), 0);
    const std::vector<uint8_t> bytes = ReadFileBytes(good);
    Torture(bytes, dir.File("bad.tif"), std::max<size_t>(1, bytes.size() / 400), 200,
            [](const std::string& path) {
              vxScopedImage image;
              const int result = ReadWith(TypeTIFF, path, image).result;
              EXPECT_TRUE(result == 0 || result == -2 || result == -3) << result;
              std::unique_ptr<vxRWImage> rw(vxCreateTIFF());
              vxFileInfo info{};
              const int info_result = rw->GetFileInfo(path.c_str(), &info);
              EXPECT_TRUE(info_result == 0 || info_result == -2);
            });
  }
}

TEST(TiffMalformed, SizesClaimedByTheHeaderAreCheckedBeforeDecoding) {
  TempDir dir;
  NoticeCapture notices;
  struct Case {
    const char* name;
    uint32_t width, height;
    uint16_t bits;
    int result;
  };
  const Case cases[] = {
      {"a terapixel", 1u << 20, 1u << 20, 8, -3},
      {"sides libtiff refuses itself", 0xFFFFFFFFu, 0xFFFFFFFFu, 8, -2},
      {"within the ceiling, scan lines", 20000, 20000, 8, -2},
      {"within the ceiling, RGBA interface", 12000, 12000, 16, -2},
      {"no pixels", 0, 100, 8, -2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string tiff = dir.File("claim.tif");
    WriteFileBytes(tiff, ClaimingTiff(k.width, k.height, k.bits, 64));
    vxScopedImage image;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadWith(TypeTIFF, tiff, image).result, k.result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
}

}  // namespace
