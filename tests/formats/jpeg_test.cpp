// The JPEG class against libjpeg-turbo's tools and ImageMagick, camera files
// turned upright by their EXIF orientation, and broken and hostile files.
#include "formats/jpeg/jpeg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/options.h"
#include "format_util.h"
#include "formats/jpeg/exif.h"

namespace {

using namespace format_test;

// Offset of the first marker `code` (after FF) at or after `from`.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code, size_t from = 2) {
  for (size_t i = from; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
  }
  return bytes.size();
}

class JpegTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string colour = DataPath("chelsea.ppm");

  Picture Djpeg(const std::string& jpeg, const std::string& args = "") {
    return ByTool("djpeg -pnm " + args + " " + Quote(jpeg), dir);
  }

  // Our writer drives cjpeg's library with its settings: the two agree exactly.
  Picture CjpegRoundTrip(const vxImage& image, const std::string& args) {
    const std::string ppm = dir.File("reference.ppm"), jpeg = dir.File("reference.jpg");
    WritePpm(ppm, image);
    Shell("cjpeg " + args + " " + Quote(ppm) + " > " + Quote(jpeg));
    return Djpeg(jpeg);
  }

  std::string Make(const std::string& name, const std::string& cjpegArgs,
                   const std::string& crop = "48x32+200+120") {
    const std::string jpeg = dir.File(name);
    Shell("convert " + Quote(colour) + "[" + crop + "] ppm:- | cjpeg " + cjpegArgs + " > " +
          Quote(jpeg));
    return jpeg;
  }
  std::vector<uint8_t> MakeBytes(const std::string& cjpegArgs, const std::string& crop) {
    return ReadFileBytes(Make("made.jpg", cjpegArgs, crop));
  }

  // A camera's file: four flat quadrants stored 48 x 32, tagged `orientation`.
  std::string Camera(int orientation) {
    vxScopedImage stored;
    MakeQuadrants(stored, 48, 32);
    const std::string ppm = dir.File("stored.ppm"), jpeg = dir.File("camera.jpg");
    WritePpm(ppm, stored);
    Shell("cjpeg -quality 95 -sample 1x1 " + Quote(ppm) + " > " + Quote(jpeg) +
          " && exiftool -q -Orientation=" + std::to_string(orientation) +
          " -n -overwrite_original " + Quote(jpeg));
    return jpeg;
  }
};

TEST_F(JpegTest, ReadsFilesOfOtherToolsExactlyAsDjpegDecodesThem) {
  const std::string c = Quote(colour), g = Quote(DataPath("camera.pgm"));
  const struct {
    const char* name;
    std::string command;
    bool grey;
  } cases[] = {{"baseline 4:2:0", "cjpeg -quality 85 " + c, false},
               {"4:4:4", "cjpeg -quality 85 -sample 1x1 " + c, false},
               {"progressive", "cjpeg -progressive " + c, false},
               {"RGB colour space", "cjpeg -rgb " + c, false},
               {"grey", "cjpeg " + g, true},
               {"colour source made grey", "cjpeg -grayscale " + c, true},
               {"odd size 17x13", "convert " + c + "[17x13+100+100] -quality 75 jpg:-", false},
               {"ImageMagick CMYK", "convert " + c + " -colorspace CMYK -quality 90 jpg:-", false},
               {"ImageMagick YCCK",
                "convert " + c + " -colorspace CMYK -define jpeg:colorspace=5 jpg:-", false},
               {"1x1", "convert -size 1x1 xc:'#3366cc' jpg:-", false}};
  const std::string jpeg = dir.File("in.jpg");
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    Shell(k.command + " > " + Quote(jpeg));
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
    EXPECT_EQ(image.BitCount(), k.grey ? 8 : 24);
    EXPECT_EQ(image.IsGreyRamp(), k.grey);
    const Picture got = PictureOf(image), expected = Djpeg(jpeg);
    EXPECT_TRUE(got == expected) << Psnr(got.rgb, expected.rgb) << " dB";
  }
  EXPECT_EQ(InfoOf(jpeg), Info(1, 1, 24, jpeg));
}

// Colour pictures as three components; grey palettes (the ramp, a reversed
// ramp, 64 greys) as one, by their greys; colour palettes as three. The
// quality asked for, 80 without options, clamped when out of range.
TEST_F(JpegTest, WritesWhatCjpegWritesWithTheRightComponentsAndQuality) {
  vxScopedImage colour, ramp, reversed, greys, colours;
  MakePattern(colour, 67, 45, 24);
  MakePattern(ramp, 33, 20, 8);
  MakePattern(reversed, 40, 24, 8);
  MakeIndexed(greys, 40, 24, 8, 64);
  MakeIndexed(colours, 40, 24, 8, 8);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i), w = static_cast<uint8_t>(i * 255 / 63);
    reversed.palette[i] = vxRGBA{v, v, v, 0};
    if (i < 64) greys.palette[i] = vxRGBA{w, w, w, 0};
  }
  const struct {
    vxImage* image;
    int quality;  // 0: no options
    int components, written;
  } cases[] = {{&colour, 90, 3, 90},  {&ramp, 0, 1, 80},  {&ramp, 1000, 1, 100},
               {&reversed, 0, 1, 80}, {&greys, 0, 1, 80}, {&colours, 0, 3, 80}};
  const std::string out = dir.File("out.jpg");
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.image->ColoursUsed()) + " colours, quality " +
                 std::to_string(k.quality));
    vxSaveOptions options;
    options.quality = k.quality;
    ASSERT_EQ(WriteWith(TypeJPEG, out, *k.image, k.quality ? &options : nullptr), 0);
    const std::vector<uint8_t> bytes = ReadFileBytes(out);
    const size_t sof = FindMarker(bytes, 0xC0);
    ASSERT_LT(sof + 9, bytes.size());
    EXPECT_EQ(bytes[sof + 9], k.components);
    EXPECT_EQ(RunCapture("identify -format '%Q' " + Quote(out)), std::to_string(k.written));
    const Picture decoded = Djpeg(out);
    EXPECT_TRUE(decoded == CjpegRoundTrip(*k.image, (k.components == 1 ? "-grayscale -quality "
                                                                       : "-quality ") +
                                                        std::to_string(k.written)));
  }
}

TEST_F(JpegTest, ReducedDecodeMatchesDjpegScaling) {
  const std::string jpeg = Make("big.jpg", "-quality 90", "451x300+0+0");
  for (int d : {1, 2, 4, 8}) {
    SCOPED_TRACE(d);
    vxBitmapInfoHeader* block = nullptr;
    int fullWidth = 0, fullHeight = 0;
    ASSERT_EQ(vxReadJpegScaled(jpeg.c_str(), d, &block, &fullWidth, &fullHeight), 0);
    vxScopedImage image;
    image.AdoptBlock(block);
    EXPECT_EQ(fullWidth, 451);
    EXPECT_EQ(fullHeight, 300);
    EXPECT_TRUE(PictureOf(image) == Djpeg(jpeg, "-scale 1/" + std::to_string(d)));
  }
}

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
      {"ASCII", ExifSegment(false, {{0x0112, 2, 1, 6}}), 0},
      {"not Exif", changed(0, {'X'}), 0},
      {"bad TIFF magic", changed(8, {43}), 0},
      {"directory at 2^32 - 1", changed(10, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
      {"directory at 29", changed(10, {29, 0, 0, 0}), 0},
      {"65535 entries", changed(14, {0xFF, 0xFF}, ExifSegment(false, {{0x0100, 3, 1, 6}})), 0}};
  for (const auto& c : cases) EXPECT_EQ(Parse(c.segment), c.orientation) << c.name;
  EXPECT_EQ(vxExifOrientation(nullptr, 100), 0);
  const std::vector<uint8_t> good = ExifSegment(true, {{0x0100, 3, 1, 640}, {0x0112, 3, 1, 5}});
  for (size_t n = 0; n <= good.size(); ++n) {
    const int o = Parse(good, n);
    EXPECT_TRUE(o == 0 || o == 5) << n;
  }
}

// The whole picture, its information and the reduced decode (by its top-left
// quadrant) stand upright.
TEST_F(JpegTest, EveryExifOrientationOpensUpright) {
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string jpeg = Camera(o);
    const Picture upright = ByTool("convert " + Quote(jpeg) + " -auto-orient ppm:-", dir);
    const int w = upright.width, h = upright.height;
    EXPECT_EQ(w, o >= 5 ? 32 : 48);
    Picture p;
    ASSERT_EQ(LoadPicture(jpeg, p), 0);
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    EXPECT_GE(Psnr(p.rgb, upright.rgb), 45.0);
    EXPECT_EQ(InfoOf(jpeg), Info(w, h, 24, jpeg));

    vxBitmapInfoHeader* block = nullptr;
    int fullWidth = 0, fullHeight = 0;
    ASSERT_EQ(vxReadJpegScaled(jpeg.c_str(), 2, &block, &fullWidth, &fullHeight), 0);
    vxScopedImage half;
    half.AdoptBlock(block);
    EXPECT_EQ(std::tie(fullWidth, fullHeight), std::tie(w, h));
    ASSERT_EQ(half.Width(), w / 2);
    const std::vector<uint8_t> halfRgb = TopDownRGB(half);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(halfRgb[3 * (w / 2 + 1) + c], upright.rgb[3 * (w + 1) + c], 12);
  }
}

// Without the tag dropped the file would be turned twice; a picture turned
// the wrong way would be far below 24 dB.
TEST_F(JpegTest, SavingACameraFileWritesTheUprightPixelsWithoutTheTag) {
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(Camera(6).c_str()), 0);
  const std::string out = dir.File("saved.jpg");
  vxSaveOptions options;
  options.quality = 95;
  ASSERT_EQ(image.SaveImage(out.c_str(), TypeJPEG, &options), 0);
  Picture back;
  ASSERT_EQ(LoadPicture(out, back), 0);
  EXPECT_EQ(std::tie(back.width, back.height), std::make_tuple(32, 48));
  EXPECT_GE(Psnr(back.rgb, TopDownRGB(image)), 24.0);
}

TEST_F(JpegTest, EveryPrefixAndCorruptionGivesAResultCode) {
  NoticeCapture quiet;
  for (const char* args : {"-quality 80", "-progressive -sample 1x1", "-arithmetic -restart 1B"}) {
    SCOPED_TRACE(args);
    const std::vector<uint8_t> bytes = MakeBytes(args, "48x32+200+120");
    ASSERT_GT(bytes.size(), 200u);
    ReadHostileCopies(bytes, dir, 1, 300, TypeJPEG, {vxNotRecognised});
  }
}

// A file cut in half gives the whole picture; its warnings and the refusal
// of a frame header that ends at once go to the notices, never to stderr.
TEST_F(JpegTest, CutFilesGiveWhatIsThereAndTheLibraryMessagesGoToNotices) {
  const std::vector<uint8_t> bytes = MakeBytes("-quality 90", "451x300+0+0");
  const std::string half = dir.File("half.jpg"), junk = dir.File("junk.jpg");
  const std::string errors = dir.File("stderr.txt");
  WriteFileBytes(half, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  WriteFileBytes(junk, {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x08, 0xFF, 0xD9});
  NoticeCapture notices;
  vxScopedImage image;
  int partial, refused;
  {
    StderrToFile redirect(errors);
    partial = image.LoadImage(half.c_str());
    refused = image.LoadImage(junk.c_str());
  }
  EXPECT_EQ(partial, 0);
  EXPECT_EQ(refused, -2);
  EXPECT_EQ(std::make_tuple(image.Width(), image.Height()), std::make_tuple(451, 300));
  EXPECT_TRUE(ReadFileBytes(errors).empty());
  ASSERT_GE(notices.notices().size(), 2u);
  for (const vxNotice& n : notices.notices()) EXPECT_EQ(n.caption, "JPEG");
}

// A header claiming 60000 x 60000 pixels in a few hundred bytes is refused
// at once (and still described); a real picture above the ceiling is too
// large; a progressive file repeating its last scan without end is stopped.
TEST_F(JpegTest, HostileHeadersAndScansAreRefusedBeforeDecoding) {
  NoticeCapture notices;
  std::vector<uint8_t> bytes = MakeBytes("-quality 50", "8x8+0+0");
  const size_t sof = FindMarker(bytes, 0xC0);
  ASSERT_LT(sof + 9, bytes.size());
  bytes[sof + 5] = bytes[sof + 7] = 0xEA;
  bytes[sof + 6] = bytes[sof + 8] = 0x60;
  const std::string huge = dir.File("huge.jpg");
  WriteFileBytes(huge, bytes);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadDirect(TypeJPEG, huge), -2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(InfoOf(huge), Info(60000, 60000, 24, huge));
  {
    ImageCeiling ceiling(100000);
    EXPECT_EQ(ReadDirect(TypeJPEG, Make("big.jpg", "", "451x300+0+0")), -3);
  }

  bytes = MakeBytes("-progressive", "16x16+200+120");
  size_t last = FindMarker(bytes, 0xDA);
  for (size_t next = last; next < bytes.size(); next = FindMarker(bytes, 0xDA, next + 2))
    last = next;
  const size_t end = FindMarker(bytes, 0xD9, last);
  ASSERT_LT(end, bytes.size());
  const std::vector<uint8_t> scan(bytes.begin() + last, bytes.begin() + end);
  std::vector<uint8_t> hostile(bytes.begin(), bytes.begin() + end);
  for (int i = 0; i < 1200; ++i) hostile.insert(hostile.end(), scan.begin(), scan.end());
  hostile.insert(hostile.end(), {0xFF, 0xD9});
  WriteFileBytes(dir.File("scans.jpg"), hostile);
  EXPECT_EQ(ReadDirect(TypeJPEG, dir.File("scans.jpg")), -2);
  EXPECT_EQ(notices.Count("Too many scans", "JPEG"), 1);
}

}  // namespace
