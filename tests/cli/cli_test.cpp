// The `lunark` program as a script sees it: exit statuses, the lines it
// prints, and the files it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli_util.h"

using namespace testing_support;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

TEST(Cli, HelpAndVersion) {
  for (const char* args : {"--help", "-h", "help", "convert --help"}) {
    const Outcome o = Lunark(Words(args));
    EXPECT_EQ(o.status, 0) << args;
    EXPECT_NE(o.out.find("Usage: lunark"), std::string::npos) << args;
  }
  const Outcome v = Lunark({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("lunark ", 0), 0u) << v.out;
  // Without arguments the help is a usage error, on standard error.
  const Outcome none = Lunark({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(none.out.empty());
  EXPECT_NE(none.err.find("Usage: lunark"), std::string::npos);
}

// Usage errors exit with 2 and say why before any work: no file or folder is
// written. "@name" stands for a file in the test's folder, "''" for "".
TEST(Cli, UsageErrorsExitWithTwoAndSayWhy) {
  TempDir dir;
  SavePattern(dir.File("in.bmp"), 4, 4, 24);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"frobnicate", "unknown command 'frobnicate'"},
      {"--bogus", "unknown command '--bogus'"},
      {"info", "no file given"},
      {"info @in.bmp --max-memory", "--max-memory needs a size"},
      {"convert @in.bmp", "give one input and one output"},
      {"convert @in.bmp @a.bmp @b.bmp", "give one input and one output"},
      {"convert @in.bmp @out.bmp --bogus", "unknown option --bogus"},
      {"convert @in.bmp @out.bmp --type", "--type needs a value"},
      {"convert @in.bmp @out.bmp --type xyz", "unknown type 'xyz'"},
      {"convert @in.bmp @out.xyz", "cannot tell the output type"},
      {"convert @in.bmp @out.bmp --levels 9", "wavelet levels must be a whole number from 1 to 8"},
      {"convert @in.bmp @y.gif", "GIF is a read-only format"},
      {"convert @in.bmp @z.bin --type gif", "GIF is a read-only format"},
      {"convert @in.bmp @o.bmp --quantize octree", "--quantize takes median, best or fast"},
      {"convert @in.bmp @o.bmp --colours 1", "--colours takes a number from 2 to 256"},
      {"convert @in.bmp @o.bmp --colors 257", "--colours takes a number from 2 to 256"},
      {"convert @in.bmp @o.bmp --rotate 45", "--rotate takes 90 or -90"},
      {"convert @in.bmp @o.bmp --flip x", "--flip takes h or v"},
      {"convert @in.bmp @o.bmp --filter blur", "unknown filter 'blur'"},
      {"convert @in.bmp @o.bmp --brightness 101", "--brightness takes a number from -100 to 100"},
      {"convert @in.bmp @o.bmp --contrast -101", "--contrast takes a number from -100 to 100"},
      {"convert @in.bmp @o.bmp --resize 0x5", "--resize takes WIDTHxHEIGHT"},
      {"convert @in.bmp @o.bmp --rotate", "--rotate needs a value"},
      {"batch --to gif --out @o @in.bmp", "GIF is a read-only format"},
      {"batch --to bmp @in.bmp", "give --to TYPE, --out DIR"},
      {"batch --to bmp --out @o --jobs 0 @in.bmp", "--jobs takes a number from 1 to 256"},
      {"batch --to wif --out @o --quality 256 @in.bmp", "quality must be a whole number"},
  };
  for (const char* bad : {"0", "-5", "12X", "''", "2048G", "1.5G"}) {
    cases.emplace_back("convert @in.bmp @o.bmp --max-memory " + std::string(bad),
                       "--max-memory needs a size");
  }
  for (const auto& [line, message] : cases) {
    std::vector<std::string> args = Words(line);
    for (std::string& a : args) a = a == "''" ? "" : a[0] == '@' ? dir.File(a.substr(1)) : a;
    const Outcome o = Lunark(args);
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_EQ(o.err.rfind("lunark: ", 0), 0u) << line << ": " << o.err;
    EXPECT_NE(o.err.find(message), std::string::npos) << line << ": " << o.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// Each file gets one line: good ones on standard output, failures on
// standard error with the file's name and the reason.
TEST(Cli, InfoDescribesBitmapsAndNamesTheFileOfAFailure) {
  TempDir dir;
  const std::string colour = SavePattern(dir.File("colour.bmp"), 37, 23, 24);
  const std::string grey = SavePattern(dir.File("grey.bmp"), 5, 3, 8);
  const std::string text = dir.File("notes.txt"), missing = dir.File("missing.bmp");
  WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  Outcome o = Lunark({"info", missing, colour, text, grey, dir.path()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, colour + ": BMP, 37 x 23, 24 bits per pixel, " +
                       std::to_string(fs::file_size(colour)) + " bytes\n" + grey +
                       ": BMP, 5 x 3, 8 bits per pixel, " + std::to_string(fs::file_size(grey)) +
                       " bytes\n");
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

// 33000-byte rows (more than a signed 16-bit length holds) come back
// pixel-exact, written as a BMP under another name by --type, and another
// program reads them the same way.
TEST(Cli, ConvertKeepsWideBitmapsPixelExact) {
  TempDir dir;
  const std::string in = SavePattern(dir.File("in.bmp"), 11000, 3, 24), dib = dir.File("out.img");
  const std::vector<uint8_t> pixels = PixelsOf(in);
  ASSERT_FALSE(pixels.empty());
  const Outcome o = Lunark({"convert", in, dib, "--type", "dib"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.err.empty());
  EXPECT_EQ(fs::file_size(dib), 54u + 33000u * 3u);
  EXPECT_EQ(vxImage::GetFileType(dib.c_str()), TypeBMP);
  EXPECT_EQ(PixelsOf(dib), pixels);
  const std::string ppm = dir.File("wide.ppm");
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_EQ(RunCommand("convert " + Quote("bmp:" + dib) + " -depth 8 " + Quote("ppm:" + ppm)), 0);
  ASSERT_TRUE(ReadNetpbmRGB(ppm, w, h, rgb));
  EXPECT_EQ(rgb, pixels);
}

TEST(Cli, FailedConversionsSayWhyAndExitWithOne) {
  TempDir dir;
  const std::string in = SavePattern(dir.File("in.bmp"), 4, 4, 24), missing = dir.File("no.bmp");
  Outcome o = Lunark({"convert", missing, dir.File("out.bmp")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "lunark: " + missing + ": cannot open the file: No such file or directory\n");
  // Outputs in a folder that does not exist, and under a file used as a folder.
  for (const auto& [target, reason] :
       {std::pair<std::string, std::string>{dir.File("nowhere/out.bmp"),
                                            "No such file or directory"},
        {in + "/out.bmp", "Not a directory"}}) {
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

// Every kept malformed input either fails with 1 and a message naming the
// file, leaving no output, or gives a picture that reads back; within a few
// seconds and (outside AddressSanitizer builds) 1 GiB of address space.
TEST(Cli, MalformedInputsFailCleanlyOrGiveAPicture) {
  const fs::path root = DataPath("malformed");
  ASSERT_TRUE(fs::is_directory(root));
  TempDir out;
  const std::string target = out.File("out.bmp");
  int files = 0, failed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    ++files;
    fs::remove(target);
    const Outcome o = Lunark({"convert", path, target}, true);
    EXPECT_LT(o.seconds, 10.0);
    if (o.status == 0) {
      EXPECT_FALSE(PixelsOf(target).empty()) << "a picture was claimed but not written";
    } else {
      ++failed;
      EXPECT_EQ(o.status, 1) << o.err;  // not a crash, a kill or a usage error
      EXPECT_NE(o.err.find("lunark: " + path + ": "), std::string::npos) << o.err;
      EXPECT_FALSE(fs::exists(target));
    }
  }
  EXPECT_GT(files, 20);
  EXPECT_GT(failed, 0);
}

TEST(Cli, MaxMemoryRaisesAndLowersTheCeiling) {
  TempDir dir;
  const std::string in = SavePattern(dir.File("in.ppm"), 600, 600, 24, TypePPM);  // ~1 MiB
  const std::string target = dir.File("out.bmp");
  const Outcome low = Lunark({"convert", "--max-memory", "512K", in, target}, true);
  EXPECT_EQ(low.status, 1);
  EXPECT_NE(low.err.find(in), std::string::npos) << low.err;
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(Lunark({"convert", in, target, "--max-memory", "2M"}, true).status, 0);
  EXPECT_EQ(Lunark({"convert", in, target, "--max-memory", "2"}, true).status, 0);  // MiB
  EXPECT_EQ(Lunark({"info", "--max-memory", "4G", in}, true).status, 0);
  EXPECT_EQ(Lunark({"batch", "--max-memory", "1K", "--to", "bmp", "--out", dir.File("o"), in}, true)
                .status,
            1);
}

// A grey GIF whose palette lists 64 greys in its own order is written, one
// file at a time or in a batch, as the greys shown, never as the indices.
TEST(Cli, GreyPaletteGifIsSavedAsTheGreysShown) {
  TempDir dir;
  const std::string gif = dir.File("g64.gif"), shown = dir.File("shown.pgm"),
                    tif = dir.File("o.tif");
  ASSERT_EQ(RunCommand("convert " + Quote(DataPath("camera.pgm")) + " -resize 128x128 -colors 64 " +
                       Quote(gif)),
            0);
  ASSERT_EQ(RunCommand("giftopnm " + Quote(gif) + " > " + Quote(shown)), 0);
  int w = 0, h = 0;
  std::vector<uint8_t> expected;
  ASSERT_TRUE(ReadNetpbmRGB(shown, w, h, expected));
  ASSERT_EQ(Lunark({"convert", gif, tif}).status, 0);
  EXPECT_EQ(PixelsOf(tif), expected);
  const Outcome o = Lunark({"batch", "--to", "pgm", "--out", dir.File("b"), gif});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(PixelsOf(dir.File("b/g64.pgm")), expected);
}

}  // namespace
