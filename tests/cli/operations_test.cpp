// The image operations of `lunark convert`, run through the built program.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "cli_util.h"
#include "engine/image.h"
#include "formats/rwimage.h"

using namespace testing_support;
using cli_test::Lunark;

namespace {

// The tests with files need the PPM and PGM classes and skip without them.
bool HaveNetpbmFormats() {
  std::unique_ptr<vxRWImage> ppm(vxImage::CreateRWImage(TypePPM));
  std::unique_ptr<vxRWImage> pgm(vxImage::CreateRWImage(TypePGM));
  return ppm && pgm;
}

// Converts the photo with `options` into `out` and reads the result.
std::vector<uint8_t> ConvertPhoto(const std::string& out, const std::string& options,
                                  int* w = nullptr) {
  int status = 0, width = 0, height = 0;
  const std::string log =
      Lunark("convert '" + DataPath("chelsea.ppm") + "' '" + out + "' " + options, &status);
  EXPECT_EQ(status, 0) << options << ": " << log;
  std::vector<uint8_t> rgb;
  EXPECT_TRUE(ReadNetpbmRGB(out, width, height, rgb)) << options;
  if (w) *w = width;
  return rgb;
}

// Distinct colours among top-down RGB triples.
size_t CountColours(const std::vector<uint8_t>& rgb) {
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    colours.insert(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  return colours.size();
}

TEST(CliOperations, MalformedValuesAreUsageErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"--quantize octree", "--quantize takes median, best or fast"},
      {"--colours 1", "--colours takes a number from 2 to 256"},
      {"--colors 257", "--colours takes a number from 2 to 256"},
      {"--rotate 45", "--rotate takes 90 or -90"},
      {"--flip x", "--flip takes h or v"},
      {"--filter blur", "unknown filter 'blur'"},
      {"--brightness 101", "--brightness takes a number from -100 to 100"},
      {"--contrast -101", "--contrast takes a number from -100 to 100"},
      {"--resize 0x5", "--resize takes WIDTHxHEIGHT"},
      {"--rotate", "--rotate needs a value"},
  };
  for (const auto& [option, message] : cases) {
    int status = 0;
    const std::string out = Lunark(std::string("convert in.ppm out.ppm ") + option, &status);
    EXPECT_EQ(status, 2) << option;
    EXPECT_NE(out.find(message), std::string::npos) << option << ": " << out;
  }
}

// ImageMagick is the judge of which way the turns and mirrors go.
TEST(CliOperations, TurnsAndMirrorsAgreeWithImageMagick) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  for (const auto& [ours, theirs] : {std::pair{"--rotate 90", "-rotate 90"},
                                     {"--rotate -90", "-rotate -90"},
                                     {"--flip h", "-flop"},
                                     {"--flip v --rotate 90", "-flip -rotate 90"}}) {
    const std::string reference = dir.File("theirs.ppm");
    ASSERT_EQ(
        RunCommand("convert '" + DataPath("chelsea.ppm") + "' " + theirs + " '" + reference + "'"),
        0);
    int w = 0, h = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ReadNetpbmRGB(reference, w, h, expected));
    EXPECT_EQ(ConvertPhoto(dir.File("ours.ppm"), ours), expected) << ours;
  }
}

TEST(CliOperations, QuantizeAndResize) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  TempDir dir;
  int w = 0;
  for (const char* method : {"median", "best"}) {
    const std::vector<uint8_t> q =
        ConvertPhoto(dir.File("q.ppm"), std::string("--quantize ") + method + " --colours 16");
    EXPECT_LE(CountColours(q), 16u) << method;
  }
  // 451 x 300 into 100 x 100: the picture fills the bottom rows, black above.
  const std::vector<uint8_t> small = ConvertPhoto(dir.File("s.ppm"), "--resize 100x100", &w);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(small[0] | small[1] | small[2], 0);
  EXPECT_NE(small[3 * 99 * 100] | small[3 * 99 * 100 + 1], 0);

  int status = 0;
  const std::string log =
      Lunark("convert '" + DataPath("chelsea.ppm") + "' '" + dir.File("x.ppm") + "' --contrast 10",
             &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(log.find("works on palette images"), std::string::npos) << log;
}

// The command line applies the same engine operations the viewer offers: the
// result of each option equals the engine's own result on the loaded photo.
TEST(CliOperations, OperationsMatchTheEngine) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  TempDir dir;
  struct Case {
    const char* options;
    bool (*apply)(vxImage&);  // the same steps through the engine; null: checked apart
  } cases[] = {
      {"--invert", [](vxImage& im) { return im.InvertColor() == 0; }},
      {"--grey --filter lowpass2",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(1) == 1; }},
      {"--grey --filter laplace1",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(9) == 1; }},
      {"--grey", [](vxImage& im) { return im.Make8Bit() == 1; }},
      {"--grey --contrast 50",
       [](vxImage& im) {
         if (im.Make8Bit() != 1) return false;
         const std::vector<vxRGBA> source(im.palette, im.palette + im.ColoursUsed());
         return im.Contrast(source.data(), 50) == 1 && im.ApplyColorMap() == 1;
       }},
      {"--grey --brightness 40",
       [](vxImage& im) {
         if (im.Make8Bit() != 1) return false;
         const std::vector<vxRGBA> source(im.palette, im.palette + im.ColoursUsed());
         return im.Brightness(source.data(), 40) == 1 && im.ApplyColorMap() == 1;
       }},
      {"--quantize median --colours 32 --colour", nullptr},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> ours = ConvertPhoto(dir.File("o.ppm"), c.options);
    if (!c.apply) {
      // Back to 24 bits after a 32-colour palette: still at most 32 colours.
      EXPECT_LE(CountColours(ours), 32u) << c.options;
      continue;
    }
    vxScopedImage engine;
    ASSERT_EQ(engine.LoadImage(DataPath("chelsea.ppm").c_str()), 0);
    ASSERT_TRUE(c.apply(engine)) << c.options;
    EXPECT_EQ(ours, TopDownRGB(engine)) << c.options;
  }

  // The fixed 3-3-2 palette: every colour is one of its entries.
  const std::vector<uint8_t> fast = ConvertPhoto(dir.File("f.ppm"), "--quantize fast");
  EXPECT_LE(CountColours(fast), 256u);
  EXPECT_GT(CountColours(fast), 16u);
}

// --quality reaches the JPEG writer: a lower quality gives a smaller file
// whose quantisation tables ImageMagick estimates at that quality.
TEST(CliOperations, JpegQualityReachesTheWriter) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  TempDir dir;
  size_t sizes[2] = {};
  const int qualities[2] = {20, 95};
  for (int k = 0; k < 2; ++k) {
    const std::string out = dir.File("q" + std::to_string(qualities[k]) + ".jpg");
    int status = 0;
    const std::string log = Lunark("convert '" + DataPath("chelsea.ppm") + "' '" + out +
                                       "' --quality " + std::to_string(qualities[k]),
                                   &status);
    ASSERT_EQ(status, 0) << log;
    sizes[k] = ReadFileBytes(out).size();
    if (HaveTool("identify")) {
      EXPECT_EQ(RunCapture("identify -format %Q '" + out + "'"), std::to_string(qualities[k]));
    }
  }
  EXPECT_LT(sizes[0] * 2, sizes[1]);
}

}  // namespace
