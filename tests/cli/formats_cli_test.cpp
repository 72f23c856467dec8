// File formats as `lunark convert` and `lunark batch` handle them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

using cli_test::Lunark;
using cli_test::Quote;
using testing_support::TempDir;

// GIF has no writer: asking for one, by extension or by --type, fails with
// the reason and leaves no file behind.
TEST(FormatsCli, ConvertToGifIsRefusedWithoutAFile) {
  TempDir dir;
  const std::string photo = Quote(testing_support::DataPath("chelsea.ppm"));
  for (const auto& [target, type] : {std::pair<std::string, std::string>{dir.File("y.gif"), ""},
                                     {dir.File("z.bin"), " --type gif"}}) {
    int status = 0;
    const std::string out = Lunark("convert " + photo + " " + Quote(target) + type, &status);
    EXPECT_EQ(status, 2) << target;  // refused before any work
    EXPECT_NE(out.find("GIF"), std::string::npos) << out;
    EXPECT_NE(out.find("read-only"), std::string::npos) << out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A grey GIF whose palette lists 64 greys in its own order: what is written,
// one file at a time or in a batch, is the picture as shown (the greys), never
// the palette indices.
TEST(FormatsCli, GreyPaletteGifIsSavedAsTheGreysShown) {
  using testing_support::ReadNetpbmRGB;
  using testing_support::RunCommand;
  TempDir dir;
  const std::string gif = dir.File("g64.gif"), shown = dir.File("shown.pgm");
  ASSERT_EQ(RunCommand("convert " + Quote(testing_support::DataPath("camera.pgm")) +
                       " -resize 128x128 -colors 64 " + Quote(gif)),
            0);
  ASSERT_EQ(RunCommand("giftopnm " + Quote(gif) + " > " + Quote(shown)), 0);
  int w = 0, h = 0, status = 0;
  std::vector<uint8_t> expected, got;
  ASSERT_TRUE(ReadNetpbmRGB(shown, w, h, expected));

  // Lossless through TIFF, within JPEG's loss through JPEG.
  for (const char* name : {"o.tif", "o.jpg"}) {
    const std::string out = dir.File(name), back = out + ".pgm";
    std::string log = Lunark("convert " + Quote(gif) + " " + Quote(out) + " --quality 90", &status);
    ASSERT_EQ(status, 0) << name << ": " << log;
    log = Lunark("convert " + Quote(out) + " " + Quote(back), &status);
    ASSERT_EQ(status, 0) << name << ": " << log;
    ASSERT_TRUE(ReadNetpbmRGB(back, w, h, got)) << name;
    EXPECT_GE(testing_support::Psnr(got, expected), name[2] == 't' ? 1e9 : 35) << name;
  }

  const std::string folder = dir.File("batch");
  const std::string log =
      Lunark("batch --to pgm --out " + Quote(folder) + " " + Quote(gif), &status);
  ASSERT_EQ(status, 0) << log;
  ASSERT_TRUE(ReadNetpbmRGB(folder + "/g64.pgm", w, h, got));
  EXPECT_EQ(got, expected);
}

}  // namespace
