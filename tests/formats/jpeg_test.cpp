// The JPEG class against libjpeg-turbo's own tools and ImageMagick, and on
// broken and hostile files: a clear result, never a crash, a hang or an
// allocation sized by a lying header.
#include "formats/jpeg/jpeg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/options.h"
#include "format_util.h"

namespace {

using namespace format_test;

// Offset of the first marker `code` (after FF) at or after `from`.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code, size_t from = 2) {
  for (size_t i = from; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
  }
  return bytes.size();
}

// The number of components in the frame header of a JPEG file; 0 if none.
int FrameComponents(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const size_t sof = FindMarker(bytes, 0xC0);
  return sof + 9 < bytes.size() ? bytes[sof + 9] : 0;
}

class JpegTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string colour = DataPath("chelsea.ppm");
  const std::string grey = DataPath("camera.pgm");

  // djpeg's decoding of a file, as top-down RGB.
  std::vector<uint8_t> Djpeg(const std::string& jpeg, const std::string& args = "") {
    return ByTool("djpeg -pnm " + args + " " + Quote(jpeg), dir).rgb;
  }

  // The decoding of cjpeg's encoding of the same picture: our writer drives
  // the same library with the same settings, so the two must agree exactly.
  std::vector<uint8_t> CjpegRoundTrip(const vxImage& image, const std::string& args) {
    const std::string ppm = dir.File("reference.ppm"), jpeg = dir.File("reference.jpg");
    WritePpm(ppm, image);
    Shell("cjpeg " + args + " " + Quote(ppm) + " > " + Quote(jpeg));
    return Djpeg(jpeg);
  }

  // cjpeg's encoding of a crop of the photograph, as a file and as bytes.
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
};

TEST_F(JpegTest, ReadsFilesOfOtherToolsExactlyAsDjpegDecodesThem) {
  const std::string c = Quote(colour), g = Quote(grey);
  const struct {
    const char* name;
    std::string command;
    bool grey;
  } cases[] = {
      {"baseline 4:2:0", "cjpeg -quality 85 " + c, false},
      {"4:4:4", "cjpeg -quality 85 -sample 1x1 " + c, false},
      {"4:2:2", "cjpeg -sample 2x1 " + c, false},
      {"progressive", "cjpeg -progressive " + c, false},
      {"restart markers", "cjpeg -restart 2B " + c, false},
      {"arithmetic", "cjpeg -arithmetic " + c, false},
      {"RGB colour space", "cjpeg -rgb " + c, false},
      {"optimised tables", "cjpeg -optimize -quality 60 " + c, false},
      {"grey", "cjpeg " + g, true},
      {"grey progressive", "cjpeg -progressive " + g, true},
      {"colour source made grey", "cjpeg -grayscale " + c, true},
      {"odd size 17x13", "convert " + c + "[17x13+100+100] -quality 75 jpg:-", false},
      {"ImageMagick", "convert " + c + " -quality 92 jpg:-", false},
      {"ImageMagick CMYK", "convert " + c + " -colorspace CMYK -quality 90 jpg:-", false},
      {"ImageMagick YCCK", "convert " + c + " -colorspace CMYK -define jpeg:colorspace=5 jpg:-",
       false},
      {"1x1 colour", "convert -size 1x1 xc:'#3366cc' jpg:-", false},
      {"1x1 grey", "convert -size 1x1 xc:gray40 -colorspace gray jpg:-", true},
  };
  const std::string jpeg = dir.File("in.jpg");
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    Shell(k.command + " > " + Quote(jpeg));
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
    EXPECT_EQ(image.BitCount(), k.grey ? 8 : 24);
    EXPECT_EQ(image.IsGreyRamp(), k.grey);
    EXPECT_EQ(image.loadedBytes, static_cast<int>(std::filesystem::file_size(jpeg)));
    const Picture got = PictureOf(image), expected = ByTool("djpeg -pnm " + Quote(jpeg), dir);
    EXPECT_TRUE(got == expected) << Psnr(got.rgb, expected.rgb) << " dB";
  }
  EXPECT_EQ(InfoOf(jpeg), Info(1, 1, 8, jpeg));
}

TEST_F(JpegTest, WritesFilesThatToolsReadWithTheRightComponentsAndQuality) {
  vxScopedImage picture;
  MakePattern(picture, 67, 45, 24);
  vxSaveOptions options;
  options.quality = 90;
  const std::string out = dir.File("colour.jpg");
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, &options), 0);
  EXPECT_EQ(FrameComponents(out), 3);
  EXPECT_EQ(RunCapture("identify -format '%Q %w %h' " + Quote(out)), "90 67 45");
  const std::vector<uint8_t> decoded = Djpeg(out);
  EXPECT_TRUE(decoded == CjpegRoundTrip(picture, "-quality 90"));  // upright, channels in order
  EXPECT_GE(Psnr(decoded, TopDownRGB(picture)), 20.0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(out.c_str()), 0);
  EXPECT_TRUE(TopDownRGB(back) == decoded);

  MakePattern(picture, 33, 20, 8);
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, nullptr), 0);  // no options: quality 80
  EXPECT_EQ(FrameComponents(out), 1);
  EXPECT_EQ(RunCapture("identify -format '%Q %[channels]' " + Quote(out)), "80 gray");
  EXPECT_TRUE(Djpeg(out) == CjpegRoundTrip(picture, "-grayscale -quality 80"));

  options.quality = 1000;  // out of range: the nearest quality
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, &options), 0);
  EXPECT_EQ(RunCapture("identify -format '%Q' " + Quote(out)), "100");
}

// Palettes that are no grey ramp are written by their colours: grey
// palettes (a reversed ramp, 64 greys as a grey GIF has) as one component,
// colour palettes as three.
TEST_F(JpegTest, PalettesThatAreNoGreyRampAreWrittenByTheirColours) {
  vxScopedImage reversed, greys, colours;
  MakePattern(reversed, 40, 24, 8);
  greys.Create(40, 24, 8, 64);
  colours.Create(40, 24, 8, 8);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i), w = static_cast<uint8_t>(i * 255 / 63);
    reversed.palette[i] = vxRGBA{v, v, v, 0};
    if (i < 64) greys.palette[i] = vxRGBA{w, w, w, 0};
    if (i < 8)
      colours.palette[i] = {uint8_t(i & 1 ? 220 : 20), uint8_t(i & 2 ? 220 : 20),
                            uint8_t(i & 4 ? 220 : 20), 0};
  }
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 40; ++x) {
      greys.SetColor(x, y, static_cast<unsigned char>((x + y) % 64));
      colours.SetColor(x, y, static_cast<unsigned char>(x / 5));
    }
  }
  const std::string out = dir.File("palette.jpg");
  for (auto [image, components] : {std::pair{&reversed, 1}, {&greys, 1}, {&colours, 3}}) {
    SCOPED_TRACE(image->ColoursUsed());
    ASSERT_EQ(WriteWith(TypeJPEG, out, *image), 0);
    EXPECT_EQ(FrameComponents(out), components);
    EXPECT_TRUE(Djpeg(out) ==
                CjpegRoundTrip(*image, components == 1 ? "-grayscale -quality 80" : "-quality 80"));
    if (image == &greys) {
      EXPECT_GE(Psnr(Djpeg(out), TopDownRGB(greys)), 35.0);
    }
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
    EXPECT_EQ(image.Width(), (451 + d - 1) / d);
    EXPECT_EQ(image.Height(), (300 + d - 1) / d);
    EXPECT_TRUE(TopDownRGB(image) == Djpeg(jpeg, "-scale 1/" + std::to_string(d)));
  }
  vxBitmapInfoHeader* block = nullptr;
  EXPECT_EQ(vxReadJpegScaled(jpeg.c_str(), 3, &block), -2);
  EXPECT_EQ(vxReadJpegScaled(dir.File("missing.jpg").c_str(), 2, &block), -1);
  EXPECT_EQ(block, nullptr);
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

// A file cut in half gives the whole picture with a warning; one cut inside
// its first scan, and a frame header that ends at once, give their messages
// to the notices, under JPEG, never to standard error.
TEST_F(JpegTest, CutFilesGiveWhatIsThereAndTheLibraryMessagesGoToNotices) {
  std::vector<uint8_t> bytes = MakeBytes("-quality 90", "451x300+0+0");
  const std::string half = dir.File("half.jpg"), cut = dir.File("cut.jpg");
  const std::string junk = dir.File("junk.jpg"), errors = dir.File("stderr.txt");
  WriteFileBytes(half, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  bytes.resize(FindMarker(bytes, 0xDA) + 20);
  WriteFileBytes(cut, bytes);
  WriteFileBytes(junk, {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x08, 0xFF, 0xD9});
  NoticeCapture halfNotices;
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(half.c_str()), 0);
  EXPECT_EQ(image.Width(), 451);
  EXPECT_EQ(image.Height(), 300);
  EXPECT_EQ(halfNotices.Count("Premature end of JPEG file", "JPEG"), 1);

  NoticeCapture notices;
  int partial, refused;
  {
    StderrToFile redirect(errors);
    partial = image.LoadImage(cut.c_str());
    refused = image.LoadImage(junk.c_str());
  }
  EXPECT_EQ(partial, 0);
  EXPECT_EQ(refused, -2);
  EXPECT_TRUE(ReadFileBytes(errors).empty());
  ASSERT_GE(notices.notices().size(), 2u);
  for (const vxNotice& n : notices.notices()) EXPECT_EQ(n.caption, "JPEG");
  EXPECT_EQ(notices.notices().back().kind, vxNoticeKind::Error);
  EXPECT_EQ(notices.notices().back().file, junk);
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
    MemoryCeiling ceiling(100000);
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
