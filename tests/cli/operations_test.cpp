// The image operations of `lunark convert`, run through the built program:
// each option must reach the right engine operation with the right value.
#include <gtest/gtest.h>

#include <functional>
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

// Converts the photo with `options` into `out`; `log` gets what was printed.
int ConvertPhoto(const std::string& out, const std::string& options, std::string* log = nullptr) {
  int status = 0;
  const std::string printed =
      Lunark("convert '" + DataPath("chelsea.ppm") + "' '" + out + "' " + options, &status);
  if (log) *log = printed;
  return status;
}

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

// The result of each option (applied in the order given) equals the engine's
// own result on the loaded photo; the engine tests pin the operations.
TEST(CliOperations, OptionsApplyTheEngineOperations) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  const auto tone = [](vxImage& im, bool contrast, int amount) {
    if (im.Make8Bit() != 1) return false;
    const std::vector<vxRGBA> source(im.palette, im.palette + im.ColoursUsed());
    const int done =
        contrast ? im.Contrast(source.data(), amount) : im.Brightness(source.data(), amount);
    return done == 1 && im.ApplyColorMap() == 1;
  };
  TempDir dir;
  const struct {
    const char* options;
    std::function<bool(vxImage&)> apply;
  } cases[] = {
      {"--rotate 90", [](vxImage& im) { return im.Rotate(90) == 1; }},
      {"--rotate -90", [](vxImage& im) { return im.Rotate(-90) == 1; }},
      {"--flip h", [](vxImage& im) { return im.Flip(1) == 0; }},
      {"--flip v --rotate 90", [](vxImage& im) { return im.Flip(0) == 0 && im.Rotate(90) == 1; }},
      {"--resize 100x100", [](vxImage& im) { return im.ZoomImage(100, 100) == 1; }},
      {"--invert", [](vxImage& im) { return im.InvertColor() == 0; }},
      {"--grey", [](vxImage& im) { return im.Make8Bit() == 1; }},
      {"--grey --filter lowpass2",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(1) == 1; }},
      {"--grey --filter laplace1",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(9) == 1; }},
      {"--grey --contrast 50", [&](vxImage& im) { return tone(im, true, 50); }},
      {"--grey --brightness 40", [&](vxImage& im) { return tone(im, false, 40); }},
  };
  const std::string out = dir.File("o.ppm");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    std::string log;
    ASSERT_EQ(ConvertPhoto(out, c.options, &log), 0) << log;
    int w = 0, h = 0;
    std::vector<uint8_t> ours;
    ASSERT_TRUE(ReadNetpbmRGB(out, w, h, ours));
    vxScopedImage engine;
    ASSERT_EQ(engine.LoadImage(DataPath("chelsea.ppm").c_str()), 0);
    ASSERT_TRUE(c.apply(engine));
    EXPECT_EQ(ours, TopDownRGB(engine));
  }
}

// The palette methods and sizes reach the quantizer, and --colour brings the
// result back to 24 bits without new colours. Tone changes need a palette.
TEST(CliOperations, QuantizeOptionsAndToneOnColour) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  TempDir dir;
  const std::string out = dir.File("q.ppm");
  const std::pair<const char*, size_t> cases[] = {{"--quantize median --colours 16", 16},
                                                  {"--quantize best --colours 16", 16},
                                                  {"--quantize median --colours 32 --colour", 32},
                                                  {"--quantize fast", 256}};
  for (const auto& [options, most] : cases) {
    std::string log;
    ASSERT_EQ(ConvertPhoto(out, options, &log), 0) << options << ": " << log;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReadNetpbmRGB(out, w, h, rgb)) << options;
    EXPECT_LE(CountColours(rgb), most) << options;
    EXPECT_GT(CountColours(rgb), most / 8) << options;  // not a smaller palette
  }
  std::string log;
  EXPECT_EQ(ConvertPhoto(dir.File("x.ppm"), "--contrast 10", &log), 1);
  EXPECT_NE(log.find("works on palette images"), std::string::npos) << log;
}

// --quality reaches the JPEG writer: a lower quality gives a smaller file
// whose quantisation tables ImageMagick estimates at that quality.
TEST(CliOperations, JpegQualityReachesTheWriter) {
  TempDir dir;
  size_t sizes[2] = {};
  const int qualities[2] = {20, 95};
  for (int k = 0; k < 2; ++k) {
    const std::string out = dir.File("q" + std::to_string(qualities[k]) + ".jpg");
    std::string log;
    ASSERT_EQ(ConvertPhoto(out, "--quality " + std::to_string(qualities[k]), &log), 0) << log;
    sizes[k] = ReadFileBytes(out).size();
    if (HaveTool("identify")) {
      EXPECT_EQ(RunCapture("identify -format %Q '" + out + "'"), std::to_string(qualities[k]));
    }
  }
  EXPECT_LT(sizes[0] * 2, sizes[1]);
}

}  // namespace
