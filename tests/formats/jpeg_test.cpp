// The JPEG class against libjpeg-turbo's own tools and ImageMagick, and on
// broken and hostile files: a clear result, never a crash, a hang or an
// allocation sized by a lying header.
#include "formats/jpeg/jpeg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/options.h"
#include "formats/registry.h"
#include "jpeg_tiff_util.h"

namespace {

using namespace jt;

// Offset of the first marker `code` (after FF) at or after `from`.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code, size_t from = 2) {
  for (size_t i = from; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
  }
  return bytes.size();
}

// The number of components in the frame header of a JPEG file; 0 if none.
int FrameComponents(const std::vector<uint8_t>& bytes) {
  const size_t sof = FindMarker(bytes, 0xC0);
  return sof + 9 < bytes.size() ? bytes[sof + 9] : 0;
}

class JpegTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string colour = DataPath("chelsea.ppm");
  const std::string grey = DataPath("camera.pgm");
  std::string File(const std::string& name) const { return dir.File(name); }

  // djpeg's decoding of a file, as top-down RGB.
  std::vector<uint8_t> Djpeg(const std::string& jpeg, const std::string& args = "") {
    const std::string out = File("djpeg.pnm");
    int w, h;
    return ToolRGB("djpeg -pnm " + args + " " + Quote(jpeg) + " > " + Quote(out), out, w, h);
  }

  // The decoding of cjpeg's encoding of the same picture: our writer drives
  // the same library with the same settings, so the two must agree exactly.
  std::vector<uint8_t> CjpegRoundTrip(const vxImage& image, const std::string& args) {
    const std::string ppm = File("reference.ppm"), jpeg = File("reference.jpg");
    WritePpm(ppm, image);
    EXPECT_EQ(RunCommand("cjpeg " + args + " " + Quote(ppm) + " > " + Quote(jpeg)), 0);
    return Djpeg(jpeg);
  }

  // cjpeg's encoding of a crop of the photograph.
  std::string Make(const std::string& name, const std::string& cjpegArgs,
                   const std::string& crop = "48x32+200+120") {
    const std::string jpeg = dir.File(name);
    EXPECT_EQ(RunCommand("convert " + Quote(colour) + "[" + crop + "] ppm:- | cjpeg " + cjpegArgs +
                         " > " + Quote(jpeg)),
              0);
    return jpeg;
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
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string jpeg = File("in.jpg");
    ASSERT_EQ(RunCommand(k.command + " > " + Quote(jpeg)), 0);
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
    EXPECT_EQ(image.BitCount(), k.grey ? 8 : 24);
    if (k.grey) {
      EXPECT_TRUE(image.IsGreyRamp());
    }
    EXPECT_EQ(image.loadedBytes, static_cast<int>(std::filesystem::file_size(jpeg)));
    int w, h;
    const std::vector<uint8_t> expected =
        ToolRGB("djpeg -pnm " + Quote(jpeg) + " > " + Quote(File("d.pnm")), File("d.pnm"), w, h);
    EXPECT_EQ(image.Width(), w);
    EXPECT_EQ(image.Height(), h);
    const std::vector<uint8_t> got = TopDownRGB(image);
    EXPECT_TRUE(got == expected) << Psnr(got, expected) << " dB";
  }
  EXPECT_EQ(InfoOf(File("in.jpg")), Info(1, 1, 8, File("in.jpg")));
}

TEST_F(JpegTest, WritesFilesThatToolsReadWithTheRightComponentsAndQuality) {
  vxScopedImage picture;
  MakePattern(picture, 67, 45, 24);
  vxSaveOptions options;
  options.quality = 90;
  const std::string out = File("colour.jpg");
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, &options), 0);
  EXPECT_EQ(FrameComponents(ReadFileBytes(out)), 3);
  EXPECT_EQ(RunCapture("identify -format '%Q %w %h' " + Quote(out)), "90 67 45");
  const std::vector<uint8_t> decoded = Djpeg(out);
  EXPECT_TRUE(decoded == CjpegRoundTrip(picture, "-quality 90"));  // upright, channels in order
  EXPECT_GE(Psnr(decoded, TopDownRGB(picture)), 20.0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(out.c_str()), 0);
  EXPECT_TRUE(TopDownRGB(back) == decoded);

  MakePattern(picture, 33, 20, 8);
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, nullptr), 0);  // no options: quality 80
  EXPECT_EQ(FrameComponents(ReadFileBytes(out)), 1);
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
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i);
    reversed.palette[i] = vxRGBA{v, v, v, 0};
  }
  greys.Create(40, 24, 8, 64);
  colours.Create(40, 24, 8, 8);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / 63);
    greys.palette[i] = vxRGBA{v, v, v, 0};
  }
  for (int i = 0; i < 8; ++i) {
    colours.palette[i] =
        vxRGBA{static_cast<uint8_t>(i & 1 ? 220 : 20), static_cast<uint8_t>(i & 2 ? 220 : 20),
               static_cast<uint8_t>(i & 4 ? 220 : 20), 0};
  }
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 40; ++x) {
      greys.SetColor(x, y, static_cast<unsigned char>((x + y) % 64));
      colours.SetColor(x, y, static_cast<unsigned char>(x / 5));
    }
  }
  const std::string out = File("palette.jpg");
  for (auto [image, components] : {std::pair{&reversed, 1}, {&greys, 1}, {&colours, 3}}) {
    SCOPED_TRACE(image->ColoursUsed());
    ASSERT_EQ(WriteWith(TypeJPEG, out, *image), 0);
    EXPECT_EQ(FrameComponents(ReadFileBytes(out)), components);
    EXPECT_TRUE(Djpeg(out) ==
                CjpegRoundTrip(*image, components == 1 ? "-grayscale -quality 80" : "-quality 80"));
    if (image == &greys) {
      EXPECT_GE(Psnr(Djpeg(out), TopDownRGB(greys)), 35.0);
    }
  }
}

TEST_F(JpegTest, ReducedDecodeMatchesDjpegScaling) {
  const std::string jpeg = File("big.jpg");
  ASSERT_EQ(RunCommand("cjpeg -quality 90 " + Quote(colour) + " > " + Quote(jpeg)), 0);
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
  EXPECT_EQ(vxReadJpegScaled(File("missing.jpg").c_str(), 2, &block), -1);
  EXPECT_EQ(block, nullptr);
}

TEST_F(JpegTest, EveryPrefixAndCorruptionGivesAResultCode) {
  NoticeCapture quiet;
  for (const char* args : {"-quality 80", "-progressive -sample 1x1", "-arithmetic -restart 1B"}) {
    SCOPED_TRACE(args);
    const std::vector<uint8_t> bytes = ReadFileBytes(Make("good.jpg", args));
    ASSERT_GT(bytes.size(), 200u);
    Torture(bytes, dir.File("bad.jpg"), 1, 300, [](const std::string& path) {
      vxScopedImage image;
      const int result = ReadWith(TypeJPEG, path, image);
      EXPECT_TRUE(result == 0 || result == -2) << result;
      if (result == 0) {
        EXPECT_FALSE(image.IsEmpty());
      }
      std::unique_ptr<vxRWImage> rw(vxCreateJPEG());
      vxFileInfo info{};
      const int infoResult = rw->GetFileInfo(path.c_str(), &info);
      EXPECT_TRUE(infoResult == 0 || infoResult == -2);
    });
  }
}

TEST_F(JpegTest, ATruncatedFileGivesThePartThatIsThereWithAWarning) {
  const std::string jpeg = Make("whole.jpg", "-quality 90", "451x300+0+0");
  std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(jpeg, bytes);
  NoticeCapture notices;
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
  EXPECT_EQ(image.Width(), 451);
  EXPECT_EQ(image.Height(), 300);
  EXPECT_EQ(notices.Count("JPEG", "Premature end of JPEG file"), 1);
}

TEST_F(JpegTest, LibraryMessagesGoToNoticesNotToStandardError) {
  const std::string jpeg = Make("cut.jpg", "-quality 90");
  std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
  bytes.resize(FindMarker(bytes, 0xDA) + 20);
  WriteFileBytes(dir.File("cut.jpg"), bytes);
  WriteFileBytes(dir.File("junk.jpg"), {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x08, 0xFF, 0xD9});

  const std::string errors = dir.File("stderr.txt");
  NoticeCapture notices;
  vxScopedImage a, b;
  int partial, refused;
  {
    StderrToFile redirect(errors);
    partial = a.LoadImage(dir.File("cut.jpg").c_str());
    refused = b.LoadImage(dir.File("junk.jpg").c_str());
  }
  EXPECT_EQ(partial, 0);
  EXPECT_EQ(refused, -2);
  EXPECT_TRUE(ReadFileBytes(errors).empty());
  ASSERT_GE(notices.notices().size(), 2u);
  for (const vxNotice& n : notices.notices()) EXPECT_EQ(n.caption, "JPEG");
  EXPECT_EQ(notices.notices().back().kind, vxNoticeKind::Error);
  EXPECT_EQ(notices.notices().back().file, dir.File("junk.jpg"));
}

TEST_F(JpegTest, AHeaderThatClaimsAHugePictureIsRefusedBeforeDecoding) {
  std::vector<uint8_t> bytes = ReadFileBytes(Make("small.jpg", "-quality 50", "8x8+0+0"));
  const size_t sof = FindMarker(bytes, 0xC0);
  ASSERT_LT(sof + 9, bytes.size());
  // 60000 x 60000 pixels in a few hundred bytes.
  bytes[sof + 5] = bytes[sof + 7] = 0xEA;
  bytes[sof + 6] = bytes[sof + 8] = 0x60;
  WriteFileBytes(dir.File("huge.jpg"), bytes);
  NoticeCapture notices;
  vxScopedImage image;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadWith(TypeJPEG, dir.File("huge.jpg"), image), -2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // The header alone is still described.
  EXPECT_EQ(InfoOf(dir.File("huge.jpg")), Info(60000, 60000, 24, dir.File("huge.jpg")));

  // A real picture above the memory ceiling is refused as too large.
  MemoryCeiling ceiling(100000);
  EXPECT_EQ(ReadWith(TypeJPEG, Make("big.jpg", "", "451x300+0+0"), image), -3);
}

TEST_F(JpegTest, AProgressiveFileWithEndlessScansIsStopped) {
  std::vector<uint8_t> bytes = ReadFileBytes(Make("p.jpg", "-progressive", "16x16+200+120"));
  // Repeat the last scan (a refinement scan, header and data) until the file
  // holds far more scans than any real picture.
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
  NoticeCapture notices;
  vxScopedImage image;
  EXPECT_EQ(ReadWith(TypeJPEG, dir.File("scans.jpg"), image), -2);
  EXPECT_EQ(notices.Count("JPEG", "Too many scans"), 1);
}

}  // namespace
