// The image operations of `lunark convert`, run through the built program.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "engine/image.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

using testing_support::DataPath;
using testing_support::HaveTool;
using testing_support::ReadNetpbmRGB;
using testing_support::RunCapture;
using testing_support::RunCommand;
using testing_support::TempDir;

namespace {

std::string Lunark(const std::string& arguments, int* status) {
  return RunCapture(std::string("'") + LUNARK_CLI_PATH + "' " + arguments + " 2>&1", status);
}

// The file tests need the PPM and PGM classes; without them they are skipped.
bool HaveNetpbmFormats() {
  for (int type : {TypePPM, TypePGM}) {
    std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
    if (!rw) return false;
  }
  return true;
}

#define REQUIRE_NETPBM()                                                        \
  if (!HaveNetpbmFormats()) GTEST_SKIP() << "no PPM/PGM reader in this build"; \
  static_assert(true)

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top-down
};

Picture Read(const std::string& path) {
  Picture p;
  EXPECT_TRUE(ReadNetpbmRGB(path, p.width, p.height, p.rgb)) << path;
  return p;
}

TEST(CliOperations, MalformedValuesAreUsageErrors) {
  const struct {
    const char* option;
    const char* message;
  } cases[] = {
      {"--quantize octree", "--quantize takes median, best or fast"},
      {"--colours 1", "--colours takes a number from 2 to 256"},
      {"--colors 257", "--colours takes a number from 2 to 256"},
      {"--rotate 45", "--rotate takes 90 or -90"},
      {"--flip x", "--flip takes h or v"},
      {"--filter blur", "unknown filter 'blur'"},
      {"--brightness 101", "--brightness takes a number from -100 to 100"},
      {"--contrast -101", "--contrast takes a number from -100 to 100"},
      {"--resize 10", "--resize takes WIDTHxHEIGHT"},
      {"--resize 0x5", "--resize takes WIDTHxHEIGHT"},
      {"--rotate", "--rotate needs a value"},
  };
  for (const auto& c : cases) {
    int status = 0;
    const std::string out = Lunark(std::string("convert in.ppm out.ppm ") + c.option, &status);
    EXPECT_EQ(status, 2) << c.option;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.option << ": " << out;
  }
}

// ImageMagick is the judge of which way the turns and mirrors go.
TEST(CliOperations, TurnsAndMirrorsAgreeWithImageMagick) {
  REQUIRE_NETPBM();
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  const std::string in = DataPath("chelsea.ppm");
  const struct {
    const char* ours;
    const char* theirs;
  } cases[] = {{"--rotate 90", "-rotate 90"},
               {"--rotate -90", "-rotate -90"},
               {"--flip h", "-flop"},
               {"--flip v", "-flip"},
               {"--rotate 90 --flip h", "-rotate 90 -flop"}};
  for (const auto& c : cases) {
    int status = 0;
    const std::string out = Lunark("convert '" + in + "' '" + dir.File("ours.ppm") + "' " + c.ours, &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_EQ(RunCommand("convert '" + in + "' " + c.theirs + " '" + dir.File("theirs.ppm") + "'"), 0);
    const Picture ours = Read(dir.File("ours.ppm")), theirs = Read(dir.File("theirs.ppm"));
    EXPECT_EQ(ours.width, theirs.width) << c.ours;
    EXPECT_EQ(ours.rgb, theirs.rgb) << c.ours;
  }
}

TEST(CliOperations, GreyInvertAndQuantize) {
  REQUIRE_NETPBM();
  TempDir dir;
  const std::string in = DataPath("chelsea.ppm");
  const Picture original = Read(in);
  int status = 0;
  std::string out = Lunark("convert '" + in + "' '" + dir.File("grey.pgm") + "' --grey", &status);
  ASSERT_EQ(status, 0) << out;
  const Picture grey = Read(dir.File("grey.pgm"));
  for (size_t i = 0; i < grey.rgb.size(); i += 3) {
    const int r = original.rgb[i], g = original.rgb[i + 1], b = original.rgb[i + 2];
    const int y = static_cast<int>(0.299 * r) + static_cast<int>(0.587 * g) + static_cast<int>(0.114 * b);
    ASSERT_EQ(grey.rgb[i], y) << i;
  }

  out = Lunark("convert '" + in + "' '" + dir.File("inv.ppm") + "' --invert", &status);
  ASSERT_EQ(status, 0) << out;
  const Picture inverted = Read(dir.File("inv.ppm"));
  ASSERT_EQ(inverted.rgb.size(), original.rgb.size());
  for (size_t i = 0; i < inverted.rgb.size(); ++i) ASSERT_EQ(inverted.rgb[i], 255 - original.rgb[i]);

  for (const char* method : {"median", "best", "fast"}) {
    out = Lunark("convert '" + in + "' '" + dir.File("q.ppm") + "' --quantize " + method + " --colours 16",
                 &status);
    ASSERT_EQ(status, 0) << out;
    const Picture q = Read(dir.File("q.ppm"));
    std::set<uint32_t> colours;
    for (size_t i = 0; i < q.rgb.size(); i += 3) {
      colours.insert(q.rgb[i] << 16 | q.rgb[i + 1] << 8 | q.rgb[i + 2]);
    }
    EXPECT_LE(colours.size(), std::string(method) == "fast" ? 256u : 16u) << method;
  }
}

TEST(CliOperations, PaletteAdjustmentsAndResize) {
  REQUIRE_NETPBM();
  TempDir dir;
  const std::string in = DataPath("chelsea.ppm");
  int status = 0;
  std::string out = Lunark("convert '" + in + "' '" + dir.File("b.ppm") + "' --brightness 40", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("works on palette images"), std::string::npos) << out;

  out = Lunark("convert '" + in + "' '" + dir.File("b.pgm") + "' --grey --brightness 40", &status);
  ASSERT_EQ(status, 0) << out;
  out = Lunark("convert '" + in + "' '" + dir.File("g.pgm") + "' --grey", &status);
  ASSERT_EQ(status, 0) << out;
  const Picture brighter = Read(dir.File("b.pgm")), grey = Read(dir.File("g.pgm"));
  for (size_t i = 0; i < grey.rgb.size(); ++i) {
    ASSERT_GE(brighter.rgb[i], grey.rgb[i]);
    if (grey.rgb[i] == 128) {
      ASSERT_EQ(brighter.rgb[i], 168);
    }
  }

  // 451 x 300 into 100 x 100: scale 100 / 451, the picture fills the bottom
  // 67 rows; the rows above are black.
  out = Lunark("convert '" + in + "' '" + dir.File("small.ppm") + "' --resize 100x100", &status);
  ASSERT_EQ(status, 0) << out;
  const Picture small = Read(dir.File("small.ppm"));
  ASSERT_EQ(small.width, 100);
  ASSERT_EQ(small.height, 100);
  EXPECT_EQ(small.rgb[0] | small.rgb[1] | small.rgb[2], 0);
  EXPECT_NE(small.rgb[3 * 99 * 100] | small.rgb[3 * 99 * 100 + 1], 0);
}

}  // namespace
