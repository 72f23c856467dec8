// EXIF orientation: the parser on its own, and camera-style JPEG files shown
// upright (ImageMagick's -auto-orient is the judge).
#include "formats/jpeg/exif.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/options.h"
#include "formats/jpeg/jpeg.h"
#include "jpeg_tiff_util.h"

namespace {

using namespace jt;

using Entry = IfdEntry;

// An APP1 payload: "Exif\0\0" and a TIFF header with directory 0 at `offset`.
std::vector<uint8_t> ExifSegment(bool bigEndian, const std::vector<Entry>& entries,
                                 uint32_t offset = 8) {
  std::vector<uint8_t> segment = {'E', 'x', 'i', 'f', 0, 0};
  const std::vector<uint8_t> tiff = TiffDirectory(bigEndian, entries, offset);
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

// Parses an exact-sized heap copy, so that any read past the end is caught.
int Parse(const std::vector<uint8_t>& bytes, size_t size) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  std::memcpy(copy.get(), bytes.data(), size);
  return vxExifOrientation(copy.get(), size);
}
int Parse(const std::vector<uint8_t>& bytes) { return Parse(bytes, bytes.size()); }

TEST(ExifParser, FindsTheOrientationOrStatesNothing) {
  const std::vector<Entry> entries = {{0x010F, 2, 6, 100}, {0x0112, 3, 1, 6}, {0x8769, 4, 1, 200}};
  std::vector<uint8_t> notExif = ExifSegment(false, {{0x0112, 3, 1, 6}});
  notExif[0] = 'X';
  std::vector<uint8_t> badMagic = ExifSegment(false, {{0x0112, 3, 1, 6}});
  badMagic[8] = 43;
  const struct {
    const char* name;
    std::vector<uint8_t> segment;
    int orientation;
  } cases[] = {
      {"little-endian", ExifSegment(false, entries), 6},
      {"big-endian", ExifSegment(true, entries), 6},
      {"directory further on", ExifSegment(true, {{0x0112, 3, 1, 8}}, 40), 8},
      {"a LONG, as a few writers do", ExifSegment(false, {{0x0112, 4, 1, 3}}), 3},
      {"no orientation", ExifSegment(false, {{0x010F, 2, 6, 100}}), 0},
      {"value 0", ExifSegment(false, {{0x0112, 3, 1, 0}}), 0},
      {"value 9", ExifSegment(false, {{0x0112, 3, 1, 9}}), 0},
      {"ASCII", ExifSegment(false, {{0x0112, 2, 1, 6}}), 0},
      {"no values", ExifSegment(false, {{0x0112, 3, 0, 6}}), 0},
      {"not Exif", notExif, 0},
      {"bad TIFF magic", badMagic, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.segment), c.orientation) << c.name;
  EXPECT_EQ(vxExifOrientation(nullptr, 100), 0);
}

TEST(ExifParser, NeverReadsOutsideTheSegment) {
  const std::vector<uint8_t> good = ExifSegment(true, {{0x0100, 3, 1, 640}, {0x0112, 3, 1, 5}});
  for (size_t n = 0; n <= good.size(); ++n) {
    const int o = Parse(good, n);
    EXPECT_TRUE(o == 0 || o == 5) << n;
  }
  // Directory offsets and entry counts that point past the end.
  for (uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x7FFFFFFFu, 29u, 30u}) {
    std::vector<uint8_t> bad = ExifSegment(false, {{0x0112, 3, 1, 6}});
    for (int i = 0; i < 4; ++i) bad[10 + i] = uint8_t(offset >> (8 * i));
    EXPECT_EQ(Parse(bad), 0) << offset;
  }
  std::vector<uint8_t> manyEntries = ExifSegment(false, {{0x0100, 3, 1, 6}});
  manyEntries[14] = manyEntries[15] = 0xFF;
  EXPECT_EQ(Parse(manyEntries), 0);
}

class ExifJpegTest : public ::testing::Test {
 protected:
  TempDir dir;
  vxScopedImage stored;  // the pixels as the camera stored them
  void SetUp() override { MakeQuadrants(stored, 48, 32); }

  std::string Camera(int orientation) {
    const std::string ppm = dir.File("stored.ppm");
    const std::string jpeg = dir.File("o" + std::to_string(orientation) + ".jpg");
    WritePpm(ppm, stored);
    EXPECT_EQ(RunCommand("cjpeg -quality 95 -sample 1x1 " + Quote(ppm) + " > " + Quote(jpeg) +
                         " && exiftool -q -Orientation=" + std::to_string(orientation) +
                         " -n -overwrite_original " + Quote(jpeg)),
              0);
    return jpeg;
  }
};

TEST_F(ExifJpegTest, EveryOrientationOpensUpright) {
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string jpeg = Camera(o);
    int w, h;
    const std::vector<uint8_t> upright =
        ToolRGB("convert " + Quote(jpeg) + " -auto-orient " + Quote("ppm:" + dir.File("u.ppm")),
                dir.File("u.ppm"), w, h);
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
    ASSERT_EQ(image.Width(), w);
    ASSERT_EQ(image.Height(), h);
    EXPECT_EQ(w, o >= 5 ? 32 : 48);
    EXPECT_GE(Psnr(TopDownRGB(image), upright), 45.0);

    EXPECT_EQ(InfoOf(jpeg), Info(w, h, 24, jpeg));

    // The reduced decode stands upright too.
    vxBitmapInfoHeader* block = nullptr;
    int fullWidth = 0, fullHeight = 0;
    ASSERT_EQ(vxReadJpegScaled(jpeg.c_str(), 2, &block, &fullWidth, &fullHeight), 0);
    vxScopedImage half;
    half.AdoptBlock(block);
    EXPECT_EQ(fullWidth, w);
    EXPECT_EQ(fullHeight, h);
    EXPECT_EQ(half.Width(), w / 2);
    unsigned char r, g, b;  // top-left quadrant of the upright picture
    vxScopedImage* views[] = {&image, &half};
    for (vxScopedImage* v : views) {
      ASSERT_EQ(v->GetColor(1, v->Height() - 2, &r, &g, &b), 0);
      const std::vector<uint8_t>& u = upright;
      const size_t at = 3 * (size_t(w) + 1);
      EXPECT_NEAR(r, u[at], 12);
      EXPECT_NEAR(g, u[at + 1], 12);
      EXPECT_NEAR(b, u[at + 2], 12);
    }
  }
}

TEST_F(ExifJpegTest, SavingWritesTheUprightPixelsWithoutTheTag) {
  const std::string jpeg = Camera(6);
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
  const std::string out = dir.File("saved.jpg");
  vxSaveOptions options;
  options.quality = 95;
  ASSERT_EQ(image.SaveImage(out.c_str(), TypeJPEG, &options), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(out);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find(std::string("Exif\0\0", 6)), std::string::npos);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(out.c_str()), 0);
  EXPECT_EQ(back.Width(), 32);
  EXPECT_EQ(back.Height(), 48);
  // Colour edges lose some sharpness to chroma subsampling; a picture turned
  // the wrong way would be far below this.
  EXPECT_GE(Psnr(TopDownRGB(back), TopDownRGB(image)), 24.0);
}

}  // namespace
