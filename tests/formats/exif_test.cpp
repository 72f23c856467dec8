// EXIF orientation: the parser on its own, and camera-style JPEG files shown
// upright (ImageMagick's -auto-orient is the judge).
#include "formats/jpeg/exif.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/options.h"
#include "format_util.h"
#include "formats/jpeg/jpeg.h"

namespace {

using namespace format_test;

// An APP1 payload: "Exif\0\0" and a TIFF header with directory 0 at `offset`.
std::vector<uint8_t> ExifSegment(bool bigEndian, const std::vector<IfdEntry>& entries,
                                 uint32_t offset = 8) {
  return Concat({'E', 'x', 'i', 'f', 0, 0}, TiffDirectory(bigEndian, entries, offset));
}

// Parses an exact-sized heap copy of the first `size` bytes, so that any
// read past the end is caught.
int Parse(const std::vector<uint8_t>& bytes, size_t size = SIZE_MAX) {
  size = std::min(size, bytes.size());
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  std::memcpy(copy.get(), bytes.data(), size);
  return vxExifOrientation(copy.get(), size);
}

// Orientation in a SHORT, a LONG and other forms; entries around it; and
// segments, directory offsets or entry counts that lead past the end.
TEST(ExifParser, FindsTheOrientationOrStatesNothing) {
  const std::vector<IfdEntry> entries = {
      {0x010F, 2, 6, 100}, {0x0112, 3, 1, 6}, {0x8769, 4, 1, 200}};
  const std::vector<uint8_t> six = ExifSegment(false, {{0x0112, 3, 1, 6}});
  auto changed = [&six](size_t at, std::vector<uint8_t> values, std::vector<uint8_t> s = {}) {
    if (s.empty()) s = six;
    std::copy(values.begin(), values.end(), s.begin() + at);
    return s;
  };
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
      {"not Exif", changed(0, {'X'}), 0},
      {"bad TIFF magic", changed(8, {43}), 0},
      {"directory at 2^32 - 1", changed(10, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
      {"directory at 2^32 - 16", changed(10, {0xF0, 0xFF, 0xFF, 0xFF}), 0},
      {"directory at 2^31 - 1", changed(10, {0xFF, 0xFF, 0xFF, 0x7F}), 0},
      {"directory at 29", changed(10, {29, 0, 0, 0}), 0},
      {"directory at 30", changed(10, {30, 0, 0, 0}), 0},
      {"65535 entries", changed(14, {0xFF, 0xFF}, ExifSegment(false, {{0x0100, 3, 1, 6}})), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.segment), c.orientation) << c.name;
  EXPECT_EQ(vxExifOrientation(nullptr, 100), 0);

  const std::vector<uint8_t> good = ExifSegment(true, {{0x0100, 3, 1, 640}, {0x0112, 3, 1, 5}});
  for (size_t n = 0; n <= good.size(); ++n) {
    const int o = Parse(good, n);
    EXPECT_TRUE(o == 0 || o == 5) << n;
  }
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
    Shell("cjpeg -quality 95 -sample 1x1 " + Quote(ppm) + " > " + Quote(jpeg) +
          " && exiftool -q -Orientation=" + std::to_string(orientation) +
          " -n -overwrite_original " + Quote(jpeg));
    return jpeg;
  }
};

// The whole picture, its information and the reduced decode stand upright.
TEST_F(ExifJpegTest, EveryOrientationOpensUpright) {
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string jpeg = Camera(o);
    const Picture upright = ByTool("convert " + Quote(jpeg) + " -auto-orient ppm:-", dir);
    const int w = upright.width, h = upright.height;
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
    ASSERT_EQ(image.Width(), w);
    ASSERT_EQ(image.Height(), h);
    EXPECT_EQ(w, o >= 5 ? 32 : 48);
    EXPECT_GE(Psnr(TopDownRGB(image), upright.rgb), 45.0);
    EXPECT_EQ(InfoOf(jpeg), Info(w, h, 24, jpeg));

    vxBitmapInfoHeader* block = nullptr;
    int fullWidth = 0, fullHeight = 0;
    ASSERT_EQ(vxReadJpegScaled(jpeg.c_str(), 2, &block, &fullWidth, &fullHeight), 0);
    vxScopedImage half;
    half.AdoptBlock(block);
    EXPECT_EQ(fullWidth, w);
    EXPECT_EQ(fullHeight, h);
    EXPECT_EQ(half.Width(), w / 2);
    unsigned char r, g, b;  // top-left quadrant of the upright picture
    for (vxScopedImage* v : {&image, &half}) {
      ASSERT_EQ(v->GetColor(1, v->Height() - 2, &r, &g, &b), 0);
      const size_t at = 3 * (size_t(w) + 1);
      EXPECT_NEAR(r, upright.rgb[at], 12);
      EXPECT_NEAR(g, upright.rgb[at + 1], 12);
      EXPECT_NEAR(b, upright.rgb[at + 2], 12);
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
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find(std::string("Exif\0\0", 6)),
            std::string::npos);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(out.c_str()), 0);
  EXPECT_EQ(back.Width(), 32);
  EXPECT_EQ(back.Height(), 48);
  // Colour edges lose some sharpness to chroma subsampling; a picture turned
  // the wrong way would be far below this.
  EXPECT_GE(Psnr(TopDownRGB(back), TopDownRGB(image)), 24.0);
}

}  // namespace
