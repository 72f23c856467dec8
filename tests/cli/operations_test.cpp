// The image operations of `lunark convert`, run through the built program.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "engine/image.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::string Lunark(const std::string& arguments, int* status) {
  return RunCapture(std::string("'") + LUNARK_CLI_PATH + "' " + arguments + " 2>&1", status);
}

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

TEST(CliOperations, GreyQuantizeBrightnessAndResize) {
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM classes in this build";
  TempDir dir;
  int w = 0, h = 0;
  std::vector<uint8_t> photo;
  ASSERT_TRUE(ReadNetpbmRGB(DataPath("chelsea.ppm"), w, h, photo));
  const std::vector<uint8_t> grey = ConvertPhoto(dir.File("g.pgm"), "--grey");
  for (size_t i = 0; i < grey.size(); i += 3) {
    ASSERT_EQ(grey[i], static_cast<int>(0.299 * photo[i]) + static_cast<int>(0.587 * photo[i + 1]) +
                           static_cast<int>(0.114 * photo[i + 2]));
  }
  const std::vector<uint8_t> brighter = ConvertPhoto(dir.File("b.pgm"), "--grey --brightness 40");
  for (size_t i = 0; i < grey.size(); ++i) {
    ASSERT_GE(brighter[i], grey[i]);
    if (grey[i] == 128) {
      ASSERT_EQ(brighter[i], 168);
    }
  }

  for (const char* method : {"median", "best"}) {
    const std::vector<uint8_t> q =
        ConvertPhoto(dir.File("q.ppm"), std::string("--quantize ") + method + " --colours 16");
    std::set<uint32_t> colours;
    for (size_t i = 0; i < q.size(); i += 3) colours.insert(q[i] << 16 | q[i + 1] << 8 | q[i + 2]);
    EXPECT_LE(colours.size(), 16u) << method;
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

}  // namespace
