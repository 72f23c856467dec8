// The JPEG class against libjpeg-turbo's own tools and ImageMagick.
#include "formats/jpeg/jpeg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/options.h"
#include "formats/registry.h"
#include "jpeg_tiff_util.h"

namespace {

using namespace jt;

// The number of components in the frame header of a JPEG file; 0 if none.
int FrameComponents(const std::vector<uint8_t>& bytes) {
  for (size_t i = 2; i + 9 < bytes.size();) {
    if (bytes[i] != 0xFF) return 0;
    const int marker = bytes[i + 1];
    const size_t length = (bytes[i + 2] << 8) | bytes[i + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return bytes[i + 9];
    }
    i += 2 + length;
  }
  return 0;
}

class JpegTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string colour = DataPath("chelsea.ppm");
  const std::string grey = DataPath("camera.pgm");
  std::string File(const std::string& name) const { return dir.File(name); }

  // djpeg's decoding of a file, as top-down RGB.
  std::vector<uint8_t> Djpeg(const std::string& jpeg, int& w, int& h,
                             const std::string& args = "") {
    const std::string out = File("djpeg.pnm");
    return ToolRGB("djpeg -pnm " + args + " " + Quote(jpeg) + " > " + Quote(out), out, w, h);
  }

  // The decoding of cjpeg's encoding of the same picture: our writer drives
  // the same library with the same settings, so the two must agree exactly.
  std::vector<uint8_t> CjpegRoundTrip(const vxImage& image, const std::string& args) {
    const std::string ppm = File("reference.ppm"), jpeg = File("reference.jpg");
    WritePpm(ppm, image);
    EXPECT_EQ(RunCommand("cjpeg " + args + " " + Quote(ppm) + " > " + Quote(jpeg)), 0);
    int w, h;
    return Djpeg(jpeg, w, h);
  }
};

TEST_F(JpegTest, ReadsFilesOfOtherToolsExactlyAsDjpegDecodesThem) {
  struct Case {
    const char* name;
    std::string command;  // writes %o
    bool grey;
  };
  const std::string c = Quote(colour), g = Quote(grey);
  const std::vector<Case> cases = {
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
  for (const Case& k : cases) {
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
    const std::vector<uint8_t> expected = Djpeg(jpeg, w, h);
    EXPECT_EQ(image.Width(), w);
    EXPECT_EQ(image.Height(), h);
    const std::vector<uint8_t> got = TopDownRGB(image);
    EXPECT_TRUE(got == expected) << Psnr(got, expected) << " dB";
  }
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
  int w, h;
  const std::vector<uint8_t> decoded = Djpeg(out, w, h);
  ASSERT_EQ(w, 67);
  ASSERT_EQ(h, 45);
  EXPECT_TRUE(decoded == CjpegRoundTrip(picture, "-quality 90"));  // upright, channels in order
  EXPECT_GE(Psnr(decoded, TopDownRGB(picture)), 20.0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(out.c_str()), 0);
  EXPECT_TRUE(TopDownRGB(back) == decoded);

  MakePattern(picture, 33, 20, 8);
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, nullptr), 0);  // no options: quality 80
  EXPECT_EQ(FrameComponents(ReadFileBytes(out)), 1);
  EXPECT_EQ(RunCapture("identify -format '%Q %[channels]' " + Quote(out)), "80 gray");
  EXPECT_TRUE(Djpeg(out, w, h) == CjpegRoundTrip(picture, "-grayscale -quality 80"));

  options.quality = 1000;  // out of range: the nearest quality
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture, &options), 0);
  EXPECT_EQ(RunCapture("identify -format '%Q' " + Quote(out)), "100");
}

TEST_F(JpegTest, PalettesThatAreNoGreyRampAreWrittenByTheirColours) {
  // A reversed grey ramp, 64 greys (as a grey GIF has), and a colour palette.
  vxScopedImage picture;
  MakePattern(picture, 40, 24, 8);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i);
    picture.palette[i] = vxRGBA{v, v, v, 0};
  }
  const std::string out = File("palette.jpg");
  int w, h;
  ASSERT_EQ(WriteWith(TypeJPEG, out, picture), 0);
  EXPECT_EQ(FrameComponents(ReadFileBytes(out)), 1);
  EXPECT_TRUE(Djpeg(out, w, h) == CjpegRoundTrip(picture, "-grayscale -quality 80"));

  vxScopedImage greys;
  greys.Create(40, 24, 8, 64);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / 63);
    greys.palette[i] = vxRGBA{v, v, v, 0};
  }
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) greys.SetColor(x, y, static_cast<unsigned char>((x + y) % 64));
  ASSERT_EQ(WriteWith(TypeJPEG, out, greys), 0);
  EXPECT_TRUE(Djpeg(out, w, h) == CjpegRoundTrip(greys, "-grayscale -quality 80"));
  EXPECT_GE(Psnr(Djpeg(out, w, h), TopDownRGB(greys)), 35.0);

  vxScopedImage colours;
  colours.Create(40, 24, 8, 8);
  for (int i = 0; i < 8; ++i) {
    colours.palette[i] =
        vxRGBA{static_cast<uint8_t>(i & 1 ? 220 : 20), static_cast<uint8_t>(i & 2 ? 220 : 20),
               static_cast<uint8_t>(i & 4 ? 220 : 20), 0};
  }
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) colours.SetColor(x, y, static_cast<unsigned char>(x / 5));
  ASSERT_EQ(WriteWith(TypeJPEG, out, colours), 0);
  EXPECT_EQ(FrameComponents(ReadFileBytes(out)), 3);
  EXPECT_TRUE(Djpeg(out, w, h) == CjpegRoundTrip(colours, "-quality 80"));
}

TEST_F(JpegTest, FileInformationComesFromTheHeader) {
  const std::string jpeg = File("info.jpg");
  ASSERT_EQ(RunCommand("cjpeg " + Quote(grey) + " > " + Quote(jpeg)), 0);
  EXPECT_EQ(InfoOf(jpeg), Info(512, 512, 8, jpeg));

  std::unique_ptr<vxRWImage> rw(vxCreateJPEG());
  vxFileInfo info{};
  EXPECT_EQ(rw->GetFileInfo(File("missing.jpg").c_str(), &info), -1);
  WriteFileBytes(File("bad.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x12});
  NoticeCapture notices;
  EXPECT_EQ(rw->GetFileInfo(File("bad.jpg").c_str(), &info), -2);
}

TEST_F(JpegTest, OptionsComeFromTheApplicationsDialog) {
  std::unique_ptr<vxRWImage> rw(vxCreateJPEG());
  EXPECT_EQ(rw->OutOptions(), nullptr);  // no dialog installed: no options
  int asked = 0;
  auto previous = vxSetOptionsDialogHook([&asked](int type) {
    asked = type;
    auto* options = new vxSaveOptions;
    options->quality = 33;
    return options;
  });
  void* options = rw->OutOptions();
  vxSetOptionsDialogHook(previous);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(asked, TypeJPEG);
  EXPECT_EQ(static_cast<vxSaveOptions*>(options)->quality, 33);
  vxFreeOptions(options);
}

TEST_F(JpegTest, FailedWritesReturnAnErrorAndNeverReplaceTheOldFile) {
  vxScopedImage picture;
  MakePattern(picture, 300, 200, 24);
  NoticeCapture notices;
  EXPECT_EQ(WriteWith(TypeJPEG, "/dev/full", picture), -1);
  EXPECT_EQ(WriteWith(TypeJPEG, File("no/such/folder.jpg"), picture), -1);
  EXPECT_EQ(notices.Count("Info", "Could Not Open:" + File("no/such/folder.jpg")), 1);

  const std::string target = File("kept.jpg");
  ASSERT_EQ(RunCommand("cjpeg " + Quote(grey) + " > " + Quote(target)), 0);
  const std::vector<uint8_t> before = ReadFileBytes(target);
  vxSaveOptions best;
  best.quality = 100;
  {
    FileSizeLimit limit(8192);
    EXPECT_EQ(WriteWith(TypeJPEG, File("direct.jpg"), picture, &best), -1);
    EXPECT_NE(picture.SaveImage(target.c_str(), TypeJPEG, &best), 0);
  }
  EXPECT_TRUE(ReadFileBytes(target) == before);
  EXPECT_EQ(CountEntries(dir.path()),
            2);  // kept.jpg and the truncated direct.jpg, no temporary file
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
    int w, h;
    EXPECT_TRUE(TopDownRGB(image) == Djpeg(jpeg, w, h, "-scale 1/" + std::to_string(d)));
  }
  vxBitmapInfoHeader* block = nullptr;
  EXPECT_EQ(vxReadJpegScaled(jpeg.c_str(), 3, &block), -2);
  EXPECT_EQ(vxReadJpegScaled(File("missing.jpg").c_str(), 2, &block), -1);
  EXPECT_EQ(block, nullptr);
}

}  // namespace
