// The `lunark` program as a script sees it: exit statuses, the lines it
// prints, and the files it writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "cli_util.h"
#include "engine/image.h"

using testing_support::MakePattern;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TopDownRGB;
using testing_support::WriteFileBytes;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

std::string SaveBmp(const TempDir& dir, const std::string& name, int width, int height, int bits) {
  vxScopedImage image;
  MakePattern(image, width, height, bits, static_cast<uint32_t>(width + height));
  const std::string path = dir.File(name);
  EXPECT_EQ(image.SaveImage(path.c_str(), TypeBMP), 0);
  return path;
}

std::vector<uint8_t> PixelsOf(const std::string& path) {
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(path.c_str()), 0) << path;
  return TopDownRGB(image);
}

TEST(Cli, HelpAndVersion) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"convert", "--help"}}) {
    const Outcome o = Lunark(args);
    EXPECT_EQ(o.status, 0) << args[0];
    EXPECT_NE(o.out.find("Usage: lunark"), std::string::npos) << args[0];
  }
  const Outcome v = Lunark({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("lunark ", 0), 0u) << v.out;
}

TEST(Cli, UsageErrorsExitWithTwo) {
  TempDir dir;
  const std::string in = SaveBmp(dir, "in.bmp", 4, 4, 24);
  const Outcome none = Lunark({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(none.out.empty());
  EXPECT_NE(none.err.find("Usage: lunark"), std::string::npos);

  const std::vector<std::vector<std::string>> kBad = {
      {"frobnicate"},
      {"--bogus"},
      {"info"},
      {"convert", in},
      {"convert", in, dir.File("a.bmp"), dir.File("b.bmp")},
      {"convert", in, dir.File("out.bmp"), "--bogus"},
      {"convert", in, dir.File("out.bmp"), "--type"},
      {"convert", in, dir.File("out.bmp"), "--type", "xyz"},
      {"convert", in, dir.File("out.xyz")},
      {"convert", in, dir.File("out.bmp"), "--levels", "9"},
  };
  for (const auto& args : kBad) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    const Outcome o = Lunark(args);
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_EQ(o.err.rfind("lunark: ", 0), 0u) << line << o.err;
  }
  EXPECT_FALSE(fs::exists(dir.File("out.bmp")));
}

// Each file gets one line: good ones on standard output, failures on
// standard error with the file's name and the reason.
TEST(Cli, InfoDescribesBitmapsAndNamesTheFileOfAFailure) {
  TempDir dir;
  const std::string colour = SaveBmp(dir, "colour.bmp", 37, 23, 24);
  const std::string grey = SaveBmp(dir, "grey.bmp", 5, 3, 8);
  const std::string text = dir.File("notes.txt"), missing = dir.File("missing.bmp");
  WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  Outcome o = Lunark({"info", colour, grey});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.err.empty());
  const std::string described = colour + ": BMP, 37 x 23, 24 bits per pixel, " +
                                std::to_string(fs::file_size(colour)) + " bytes\n" + grey +
                                ": BMP, 5 x 3, 8 bits per pixel, " +
                                std::to_string(fs::file_size(grey)) + " bytes\n";
  EXPECT_EQ(o.out, described);

  o = Lunark({"info", missing, colour, text, grey, dir.path()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, described);
  EXPECT_EQ(o.err, "lunark: " + missing + ": cannot open the file: No such file or directory\n" +
                       "lunark: " + text + ": not a recognised image file\n" +
                       "lunark: " + dir.path() + ": is a folder, not a file\n");

  // A bitmap whose header is broken says what is wrong with it.
  auto bytes = ReadFileBytes(grey);
  bytes[14] = 200;
  WriteFileBytes(text, bytes);
  o = Lunark({"info", text});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("lunark: " + text + ": unsupported bitmap header size 200"),
            std::string::npos)
      << o.err;
}

// A grey picture, and one with 33000-byte rows (more than a signed 16-bit
// length holds), come back pixel-exact, also when written as a DIB by --type.
TEST(Cli, ConvertRoundTripsBitmapsPixelExact) {
  TempDir dir;
  for (auto [w, h, bits] : {std::tuple{41, 17, 8}, {11000, 3, 24}}) {
    SCOPED_TRACE(w);
    const std::string in = SaveBmp(dir, "in.bmp", w, h, bits);
    const std::string out = dir.File("out.bmp"), dib = dir.File("out.img");
    const Outcome o = Lunark({"convert", in, out});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.err.empty());
    EXPECT_EQ(PixelsOf(out), PixelsOf(in));
    ASSERT_EQ(Lunark({"convert", in, dib, "--type", "dib"}).status, 0);
    EXPECT_EQ(vxImage::GetFileType(dib.c_str()), TypeBMP);
    EXPECT_EQ(PixelsOf(dib), PixelsOf(in));
  }
  // Another program reads the wide file the same way.
  const std::string wide = dir.File("out.bmp"), ppm = dir.File("wide.ppm");
  EXPECT_EQ(fs::file_size(wide), 54u + 33000u * 3u);
  if (testing_support::HaveTool("convert")) {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_EQ(testing_support::RunCommand("convert '" + wide + "' -depth 8 'ppm:" + ppm + "'"), 0);
    ASSERT_TRUE(testing_support::ReadNetpbmRGB(ppm, w, h, rgb));
    EXPECT_EQ(rgb, PixelsOf(wide));
  }
}

TEST(Cli, FailedConversionsSayWhyAndExitWithOne) {
  TempDir dir;
  const std::string in = SaveBmp(dir, "in.bmp", 4, 4, 24);

  const std::string missing = dir.File("missing.bmp");
  Outcome o = Lunark({"convert", missing, dir.File("out.bmp")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "lunark: " + missing + ": cannot open the file: No such file or directory\n");

  // Folders that cannot take the output: one that does not exist, a file
  // used as a folder, and (when not running as root) a read-only one.
  std::vector<std::pair<std::string, std::string>> kTargets = {
      {dir.File("nowhere/out.bmp"), "No such file or directory"},
      {in + "/out.bmp", "Not a directory"},
  };
  if (geteuid() != 0) {
    fs::create_directory(dir.File("locked"));
    fs::permissions(dir.File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    kTargets.emplace_back(dir.File("locked/out.bmp"), "Permission denied");
  }
  for (const auto& [target, reason] : kTargets) {
    o = Lunark({"convert", in, target});
    EXPECT_EQ(o.status, 1) << target;
    EXPECT_EQ(o.err.rfind("lunark: " + target + ": ", 0), 0u) << o.err;
    EXPECT_NE(o.err.find(reason), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }

  // An existing output survives a conversion that fails.
  auto bytes = ReadFileBytes(in);
  bytes[30] = 4;  // compression 4: a picture the reader does not decode
  const std::string odd = dir.File("odd.bmp"), kept = dir.File("kept.bmp");
  WriteFileBytes(odd, bytes);
  WriteFileBytes(kept, {'k', 'e', 'e', 'p'});
  o = Lunark({"convert", odd, kept});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Unrecognized compression format"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFileBytes(kept), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

}  // namespace
