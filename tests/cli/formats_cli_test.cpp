#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/test_support.h"

namespace {

using testing_support::RunCapture;
using testing_support::TempDir;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Lunark(const std::string& arguments, int* status) {
  return RunCapture(std::string(Quote(LUNARK_CLI_PATH)) + " " + arguments + " 2>&1", status);
}

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

}  // namespace
