// The `lunark` program as a script sees it: exit statuses, the lines it
// prints, the files it writes, and the operations its options apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "cli_util.h"
#include "engine/quantizer.h"

using namespace testing_support;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

TEST(Cli, HelpAndVersion) {
  const Outcome help = Lunark({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: lunark"), std::string::npos);
  EXPECT_EQ(Lunark({"--version"}).out.rfind("lunark ", 0), 0u);
  const Outcome none = Lunark({});  // a usage error: help on standard error
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage: lunark"), std::string::npos);
}

// Usage errors exit with 2 and say why before any work: no file or folder is
// written. "@name" stands for a file in the test's folder, "''" for "".
TEST(Cli, UsageErrorsExitWithTwoAndSayWhy) {
  TempDir dir;
  SavePattern(dir.File("in.bmp"), 4, 4, 24);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"frobnicate", "unknown command 'frobnicate'"},
      {"info", "no file given"},
      {"info @in.bmp --max-memory", "--max-memory needs a size"},
      {"convert @in.bmp", "give one input and one output"},
      {"convert @in.bmp @out.bmp --bogus", "unknown option --bogus"},
      {"convert @in.bmp @out.bmp --type xyz", "unknown type 'xyz'"},
      {"convert @in.bmp @out.xyz", "cannot tell the output type"},
      {"convert @in.bmp @out.bmp --levels 9", "wavelet levels must be a whole number from 1 to 8"},
      {"convert @in.bmp @y.gif", "GIF is a read-only format"},
      {"convert @in.bmp @o.bmp --quantize octree", "--quantize takes median, best or fast"},
      {"convert @in.bmp @o.bmp --colours 1", "--colours takes a number from 2 to 256"},
      {"convert @in.bmp @o.bmp --filter blur", "unknown filter 'blur'"},
      {"convert @in.bmp @o.bmp --brightness 101", "--brightness takes a number from -100 to 100"},
      {"convert @in.bmp @o.bmp --resize 0x5", "--resize takes WIDTHxHEIGHT"},
      {"convert @in.bmp @o.bmp --rotate", "--rotate needs a value"},
      {"batch --to gif --out @o @in.bmp", "GIF is a read-only format"},
      {"batch --to bmp @in.bmp", "give --to TYPE, --out DIR"},
      {"batch --to bmp --out @o --jobs 0 @in.bmp", "--jobs takes a number from 1 to 256"},
      {"batch --to wif --out @o --quality 256 @in.bmp", "quality must be a whole number"},
  };
  for (const char* bad : {"0", "12X", "''", "2048G"}) {
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
  const Outcome o = Lunark({"info", missing, colour, text, grey, dir.path()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, colour + ": BMP, 37 x 23, 24 bits per pixel, " +
                       std::to_string(fs::file_size(colour)) + " bytes\n" + grey +
                       ": BMP, 5 x 3, 8 bits per pixel, " + std::to_string(fs::file_size(grey)) +
                       " bytes\n");
  EXPECT_EQ(o.err, "lunark: " + missing + ": cannot open the file: No such file or directory\n" +
                       "lunark: " + text + ": not a recognised image file\n" +
                       "lunark: " + dir.path() + ": is a folder, not a file\n");
}

// 33000-byte rows (past a signed 16-bit length), written as a BMP by --type,
// come back pixel-exact here and in another program.
TEST(Cli, ConvertKeepsWideBitmapsPixelExact) {
  TempDir dir;
  const std::string in = SavePattern(dir.File("in.bmp"), 11000, 3, 24), dib = dir.File("out.img");
  const std::vector<uint8_t> pixels = PixelsOf(in);
  ASSERT_FALSE(pixels.empty());
  const Outcome o = Lunark({"convert", in, dib, "--type", "dib"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.err.empty());
  EXPECT_EQ(fs::file_size(dib), 54u + 33000u * 3u);
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
  // An output in a folder that does not exist.
  const std::string target = dir.File("nowhere/out.bmp");
  o = Lunark({"convert", in, target});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.rfind("lunark: " + target + ": ", 0), 0u) << o.err;
  EXPECT_NE(o.err.find("No such file or directory"), std::string::npos) << o.err;
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
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

// Every kept malformed input fails with 1 naming the file and leaving no
// output, or gives a picture that reads back, within the runner's limits.
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
  EXPECT_EQ(Lunark({"convert", in, target, "--max-memory", "2"}, true).status, 0);  // MiB
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

bool Quantize(vxImage& im, int colours, vxColorReduction method) {
  vxQuantizer q;
  im.AdoptBlock(q.Quantize(im.bits, im.Width(), im.Height(), colours, method));
  return !im.IsEmpty();
}

bool Tone(vxImage& im, bool contrast, int amount) {
  if (im.Make8Bit() != 1) return false;
  const std::vector<vxRGBA> source(im.palette, im.palette + im.ColoursUsed());
  const int done =
      contrast ? im.Contrast(source.data(), amount) : im.Brightness(source.data(), amount);
  return done == 1 && im.ApplyColorMap() == 1;
}

// The result of each option list (applied in the order given) equals the
// engine's own result on the loaded photo; the engine tests pin the operations.
TEST(CliOperations, OptionsApplyTheEngineOperations) {
  TempDir dir;
  const struct {
    const char* options;
    std::function<bool(vxImage&)> apply;
  } cases[] = {
      {"--rotate 90", [](vxImage& im) { return im.Rotate(90) == 1; }},
      {"--flip h", [](vxImage& im) { return im.Flip(1) == 0; }},
      {"--flip v --rotate 90", [](vxImage& im) { return im.Flip(0) == 0 && im.Rotate(90) == 1; }},
      {"--resize 100x100", [](vxImage& im) { return im.ZoomImage(100, 100) == 1; }},
      {"--invert", [](vxImage& im) { return im.InvertColor() == 0; }},
      {"--grey", [](vxImage& im) { return im.Make8Bit() == 1; }},
      {"--grey --filter lowpass2",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(1) == 1; }},
      {"--grey --contrast 50", [](vxImage& im) { return Tone(im, true, 50); }},
      {"--grey --brightness 40", [](vxImage& im) { return Tone(im, false, 40); }},
      {"--quantize best --colors 16",
       [](vxImage& im) { return Quantize(im, 16, BestQuantization); }},
      {"--quantize median --colours 32 --colour",
       [](vxImage& im) { return Quantize(im, 32, MedianCut) && im.Make24Bit() == 1; }},
      {"--quantize fast", [](vxImage& im) { return Quantize(im, 256, FastQuantization); }},
  };
  const std::string photo = DataPath("chelsea.ppm"), out = dir.File("o.ppm");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const Outcome o = Lunark(Words(c.options, {"convert", photo, out}));
    ASSERT_EQ(o.status, 0) << o.err;
    vxScopedImage engine;
    ASSERT_EQ(engine.LoadImage(photo.c_str()), 0);
    ASSERT_TRUE(c.apply(engine));
    EXPECT_EQ(PixelsOf(out), TopDownRGB(engine));
  }
  // Tone changes need a palette; --quality reaches the JPEG writer (default 80).
  const Outcome tone = Lunark({"convert", photo, out, "--contrast", "10"});
  EXPECT_EQ(tone.status, 1);
  EXPECT_NE(tone.err.find("works on palette images"), std::string::npos) << tone.err;
  ASSERT_EQ(Lunark({"convert", photo, dir.File("q.jpg"), "--quality", "20"}).status, 0);
  EXPECT_EQ(RunCapture("identify -format %Q " + Quote(dir.File("q.jpg"))), "20");
}

}  // namespace
