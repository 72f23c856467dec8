#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli_util.h"

namespace {

using cli_test::Lunark;
using cli_test::Quote;
using testing_support::TempDir;

TEST(FormatsCli, InfoNamesRunLengthTargaAndTargaWithAnIdField) {
  TempDir dir;
  const std::string src = dir.File("src.ppm");
  ASSERT_EQ(testing_support::RunCommand("pamcut -left 10 -top 10 -width 21 -height 9 " +
                                        Quote(testing_support::DataPath("chelsea.ppm")) + " > " +
                                        Quote(src)),
            0);
  const std::string s = Quote(src);
  const struct {
    const char* name;
    std::string command;
  } files[] = {
      {"rle10.tga", "convert " + s + " -compress RLE "},
      {"rle11.tga", "convert " + s + " -type Grayscale -compress RLE "},
      {"rle9.tga", "convert " + s + " -type Palette -compress RLE "},
      {"id.tga", "convert " + s + " -set comment 'fourteen bytes' "},
  };
  for (const auto& f : files) {
    const std::string path = dir.File(f.name);
    ASSERT_EQ(testing_support::RunCommand(f.command + Quote(path)), 0) << f.name;
    int status = -1;
    const std::string out = Lunark("info " + Quote(path), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(": TGA, 21 x 9, "), std::string::npos) << out;
    const std::string converted = dir.File(std::string(f.name) + ".tga");
    Lunark("convert " + Quote(path) + " " + Quote(converted), &status);
    EXPECT_EQ(status, 0) << f.name;
  }
}

TEST(FormatsCli, ConvertToGifIsRefusedWithoutAFile) {
  TempDir dir;
  const std::string target = dir.File("y.gif");
  int status = 0;
  const std::string out = Lunark(
      "convert " + Quote(testing_support::DataPath("chelsea.ppm")) + " " + Quote(target), &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("GIF"), std::string::npos) << out;
  EXPECT_NE(out.find("read-only"), std::string::npos) << out;
  struct stat st;
  EXPECT_NE(stat(target.c_str(), &st), 0);
  // Forcing the type does not get round it.
  Lunark("convert " + Quote(testing_support::DataPath("chelsea.ppm")) + " " +
             Quote(dir.File("z.bin")) + " --type gif",
         &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(stat(dir.File("z.bin").c_str(), &st), 0);
}

// A grey GIF whose palette lists 64 greys in its own order: what is written,
// one file at a time or in a batch, is the picture as shown (the greys), never
// the palette indices.
TEST(FormatsCli, GreyPaletteGifIsSavedAsTheGreysShown) {
  using testing_support::Psnr;
  using testing_support::ReadNetpbmRGB;
  using testing_support::RunCommand;
  TempDir dir;
  const std::string gif = dir.File("g64.gif");
  ASSERT_EQ(RunCommand("convert " + Quote(testing_support::DataPath("camera.pgm")) +
                       " -resize 128x128 -colors 64 " + Quote(gif)),
            0);
  const std::string shown = dir.File("shown.pgm");
  ASSERT_EQ(RunCommand("giftopnm " + Quote(gif) + " > " + Quote(shown)), 0);
  int w = 0, h = 0;
  std::vector<uint8_t> expected;
  ASSERT_TRUE(ReadNetpbmRGB(shown, w, h, expected));

  int status = 0;
  const struct {
    const char* name;
    const char* options;
    double minimumPsnr;  // 0: exact
  } outputs[] = {{"o.pgm", "", 0},
                 {"o.tif", "", 0},
                 {"o.jpg", "--quality 90", 35},
                 {"o.wif", "--quality 10", 35}};
  for (const auto& o : outputs) {
    const std::string out = dir.File(o.name), back = dir.File(std::string(o.name) + ".pgm");
    std::string log = Lunark("convert " + Quote(gif) + " " + Quote(out) + " " + o.options, &status);
    ASSERT_EQ(status, 0) << o.name << ": " << log;
    log = Lunark("convert " + Quote(out) + " " + Quote(back), &status);
    ASSERT_EQ(status, 0) << o.name << ": " << log;
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadNetpbmRGB(back, w, h, got)) << o.name;
    if (o.minimumPsnr == 0) {
      EXPECT_EQ(got, expected) << o.name;
    } else {
      EXPECT_GE(Psnr(got, expected), o.minimumPsnr) << o.name;
    }
  }

  const std::string folder = dir.File("batch");
  const std::string log =
      Lunark("batch --to pgm --out " + Quote(folder) + " " + Quote(gif), &status);
  ASSERT_EQ(status, 0) << log;
  std::vector<uint8_t> batched;
  ASSERT_TRUE(ReadNetpbmRGB(folder + "/g64.pgm", w, h, batched));
  EXPECT_EQ(batched, expected);
}

}  // namespace
