// The WIF format class through the engine's interface and the command line,
// the conversions between portable maps and WIF without an image between, and
// the mapping that reads a file in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "codec/wif_direct.h"
#include "codec_test_util.h"
#include "engine/mapped_file.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "formats/output_depth.h"
#include "formats/rwimage.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TopDownRGB;
using testing_support::WriteFileBytes;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A photo of tests/data as a 24-bit or grey 8-bit engine image.
void LoadPhotoImage(const char* name, bool colour, vxImage& image) {
  codec_test::Picture p;
  ASSERT_TRUE(codec_test::LoadPhoto(name, colour, p));
  ASSERT_EQ(image.Create(p.width, p.height, colour ? 24 : 8, colour ? 0 : 256), 1);
  for (int y = 0; y < p.height; ++y) std::memcpy(image.Row(y), p.Row(y), p.Stride());
}

int Save(vxImage& image, const std::string& path, int quality, int levels = 0) {
  vxSaveOptions options;
  options.quality = quality;
  options.levels = levels;
  return image.SaveImage(path.c_str(), TypeWIF, &options);
}

// Saving without options asks the dialog hook (cancelling writes nothing);
// a writer handed no options uses quality 50 and automatic levels.
TEST(WifClass, OptionsComeFromTheDialogOrTheDefaults) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(TypeWIF));
  ASSERT_NE(rw, nullptr);
  EXPECT_EQ(rw->OutOptions(), nullptr);  // no dialog hook installed
  int asked = 0;
  auto previous = vxSetOptionsDialogHook([&](int type) {
    asked = type;
    auto* o = new vxSaveOptions;
    o->quality = 7;
    return o;
  });
  TempDir dir;
  vxScopedImage image;
  testing_support::MakePattern(image, 20, 10, 24);
  ASSERT_EQ(image.SaveImage(dir.File("asked.wif").c_str(), TypeWIF), 0);
  EXPECT_EQ(asked, TypeWIF);
  EXPECT_EQ(ReadFileBytes(dir.File("asked.wif"))[9], 7);
  vxSetOptionsDialogHook([](int) { return nullptr; });
  EXPECT_EQ(image.SaveImage(dir.File("cancelled.wif").c_str(), TypeWIF), vxSaveCancelled);
  EXPECT_FALSE(Exists(dir.File("cancelled.wif")));
  vxSetOptionsDialogHook(previous);

  ASSERT_EQ(image.SaveImage(dir.File("default.wif").c_str(), TypeWIF, nullptr), 0);
  const auto bytes = ReadFileBytes(dir.File("default.wif"));
  EXPECT_EQ(bytes[9], 50);
  EXPECT_EQ(bytes[8] & 0x0F, 1);
}

// The photos, and colour rows of 33000 bytes.
TEST(WifClass, ColourAndGreyRoundTripsThroughTheEngine) {
  TempDir dir;
  for (int kind : {0, 1, 2}) {
    const bool colour = kind != 1;
    vxScopedImage image;
    if (kind == 2) {
      testing_support::MakePattern(image, 11000, 3, 24);
    } else {
      LoadPhotoImage(colour ? "chelsea.ppm" : "camera.pgm", colour, image);
    }
    const std::string path = dir.File("p.wif");
    ASSERT_EQ(Save(image, path, kind == 2 ? 5 : 10), 0);
    const auto file = ReadFileBytes(path);
    EXPECT_EQ(file[1], colour ? '6' : '5');

    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(path.c_str()), 0);
    EXPECT_EQ(back.GetSize(), image.GetSize());
    EXPECT_EQ(back.Stride(), image.Stride());
    EXPECT_EQ(back.ColoursUsed(), colour ? 0 : 256);
    EXPECT_TRUE(colour || back.IsGreyRamp());
    EXPECT_GT(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), kind == 2 ? 35.0 : 42.0);

    vxFileInfo info{};
    ASSERT_EQ(vxImage::GetInfo(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, image.Width());
    EXPECT_EQ(info.bitsPerPixel, colour ? 24 : 8);
    EXPECT_EQ(info.fileSize, file.size());
  }
}

// Buffer row 0 (the bottom line) is coded first, and a pixel's first byte
// (blue) is c0.
TEST(WifClass, HandsTheRowsOverBottomUpInBlueGreenRedOrder) {
  TempDir dir;
  vxScopedImage grey;
  ASSERT_EQ(grey.Create(16, 16, 8, 256), 1);
  for (int y = 0; y < 16; ++y) std::memset(grey.Row(y), y == 0 ? 255 : 0, 16);
  ASSERT_EQ(Save(grey, dir.File("g.wif"), 1), 0);
  const auto g = ReadFileBytes(dir.File("g.wif"));
  EXPECT_NEAR((g[31] << 8) | g[32], 307, 1);  // first coefficient of a bright first row

  vxScopedImage red;
  ASSERT_EQ(red.Create(16, 16, 24, 0), 1);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) red.SetColor(x, y, 255, 0, 0);
  }
  ASSERT_EQ(Save(red, dir.File("r.wif"), 1), 0);
  const auto r = ReadFileBytes(dir.File("r.wif"));
  const size_t s4 = codec_test::SectionStarts(r)[3] + 4;  // past the fourth section's length
  EXPECT_EQ((r[s4] << 8) | r[s4 + 1], 227);               // C2 = Y - red = -170, at step 1.5
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("r.wif").c_str()), 0);
  unsigned char rr, gg, bb;
  back.GetColor(3, 3, &rr, &gg, &bb);
  EXPECT_GE(rr, 253);
  EXPECT_LE(gg, 2);
  EXPECT_LE(bb, 2);
}

// Grey palettes that are not the identity ramp are coded as the greys they
// show.
TEST(WifClass, PaletteGreysAreCodedAsShown) {
  TempDir dir;
  vxScopedImage image;  // a short palette of spaced greys
  ASSERT_EQ(image.Create(48, 32, 8, 64), 1);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(4 * i + 2);
    image.palette[i] = {v, v, v, 0};
  }
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 48; ++x) image.Row(y)[x] = static_cast<unsigned char>((5 * x + 3 * y) % 64);
  }
  ASSERT_EQ(Save(image, dir.File("p.wif"), 10), 0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("p.wif").c_str()), 0);
  EXPECT_GE(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), 35.0);
}

// Options out of range, widths beyond 16 bits and pixel depths the codec
// does not take are refused with a reason, and no file is left.
TEST(WifClass, RefusesWhatTheFormatCannotHoldAndWritesNothing) {
  TempDir dir;
  const std::string path = dir.File("x.wif");
  vxScopedImage image, wide, nibbles;
  testing_support::MakePattern(image, 20, 10, 24);
  ASSERT_EQ(wide.Create(65536, 1, 8, 256), 1);
  ASSERT_EQ(nibbles.Create(8, 8, 4, 16), 1);
  const struct {
    vxImage* image;
    int quality, levels;
    const char* reason;
  } cases[] = {{&image, 0, 0, "quality"},  {&image, 256, 0, "quality"}, {&image, 50, 9, "levels"},
               {&image, 50, -1, "levels"}, {&wide, 50, 0, "65535"},     {&nibbles, 50, 0, ""}};
  for (const auto& c : cases) {
    vxClearLastError();
    EXPECT_NE(Save(*c.image, path, c.quality, c.levels), 0) << c.quality << " " << c.levels;
    EXPECT_NE(vxLastError().find(c.reason), std::string::npos) << vxLastError();
    EXPECT_FALSE(Exists(path));
  }
}

TEST(WifClass, FailedLoadsLeaveTheImageAsItWas) {
  TempDir dir;
  vxScopedImage source;
  testing_support::MakePattern(source, 40, 30, 24);
  const std::string good = dir.File("good.wif");
  ASSERT_EQ(Save(source, good, 20), 0);
  const auto bytes = ReadFileBytes(good);

  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(good.c_str()), 0);
  const vxBitmapInfoHeader* block = image.header;
  const std::vector<uint8_t> pixels = TopDownRGB(image);
  auto expectUntouched = [&](const char* what) {
    EXPECT_EQ(image.header, block) << what;
    EXPECT_EQ(TopDownRGB(image), pixels) << what;
  };

  // Cut short, or of another kind (whose information is still read).
  auto kind = [&](char mark) {
    auto b = bytes;
    b[1] = static_cast<uint8_t>(mark);
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* message;
    int bits;
  } damaged[] = {
      {"cut.wif", {bytes.begin(), bytes.begin() + bytes.size() / 2}, "Bad input file\n", 24},
      {"grey7.wif", kind('7'), "decoder: wrong image format. \n", 8}};
  for (const auto& d : damaged) {
    const std::string path = dir.File(d.name);
    WriteFileBytes(path, d.file);
    testing::internal::CaptureStderr();
    EXPECT_EQ(image.LoadImage(path.c_str()), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), d.message);
    EXPECT_FALSE(vxLastError().empty());
    expectUntouched(d.name);
    vxFileInfo info{};
    EXPECT_EQ(vxImage::GetInfo(path.c_str(), &info), 0);
    EXPECT_EQ(info.bitsPerPixel, d.bits) << d.name;
  }

  codec_test::Quiet quiet;
  {
    testing_support::ImageCeiling ceiling(2000);
    EXPECT_EQ(image.LoadImage(good.c_str()), -3);
  }
  expectUntouched("ceiling");
}

// The command line's options reach the encoder (its refusals of values out
// of range: tests/cli).
TEST(WifCommandLine, ConvertTakesQualityAndLevels) {
  if (!Exists(LUNARK_CLI_PATH)) GTEST_SKIP() << "lunark not built";
  TempDir dir;
  vxScopedImage image;
  LoadPhotoImage("chelsea.ppm", true, image);
  const std::string photo = dir.File("photo.wif"), out = dir.File("out.wif");
  ASSERT_EQ(Save(image, photo, 10), 0);
  int status = -1;
  testing_support::RunCapture(std::string(LUNARK_CLI_PATH) + " convert " + photo + " " + out +
                                  " --quality 30 --levels 3 2>&1",
                              &status);
  EXPECT_EQ(status, 0);
  const auto bytes = ReadFileBytes(out);
  ASSERT_GT(bytes.size(), 14u);
  EXPECT_EQ(bytes[9], 30);
  EXPECT_EQ(bytes[8] & 0x0F, 3);
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A portable map with the header `head` and `count` sample bytes, random
// but smoothed along the rows so that they compress like a photograph.
std::vector<uint8_t> PortableMap(const std::string& head, size_t count) {
  std::vector<uint8_t> file = Bytes(head);
  uint32_t state = 7;
  for (size_t i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    const uint8_t left = i >= 3 ? file[file.size() - 3] : 128;
    file.push_back(static_cast<uint8_t>(((state >> 24) + 3 * left) / 4));
  }
  return file;
}

// What loading `input` and saving it as `type` writes into `output`.
std::vector<uint8_t> LoadedAndSaved(const std::string& input, const std::string& output, int type,
                                    vxSaveOptions options) {
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(input.c_str()), 0) << input;
  vxLinearizeGrey(image);
  EXPECT_EQ(image.SaveImage(output.c_str(), type, &options), 0) << vxLastError();
  return ReadFileBytes(output);
}

// Both ways give the very bytes of loading and saving, also decoding by bands
// on one thread or two (the tall picture makes four, block-coded at q 1).
TEST(WifDirect, BothWaysGiveTheBytesOfLoadingAndSaving) {
  TempDir dir;
  codec_test::ThreadsReset reset;
  const struct {
    const char* head;
    size_t samples;
    int quality, levels;
  } cases[] = {
      {"P6 # comment\n37 23\n255\n", 37 * 23 * 3, 20, 0},
      {"P5\n41 19\n255\n", 41 * 19, 12, 2},
      {"P5\n33 30\n100\n", 33 * 30, 40, 3},  // samples above 100 are white
      {"P6\n1200 900\n255\n", 1200 * 900 * 3, 1, 0},
      {"P6\n1 1\n255\n", 3, 50, 0},
  };
  const std::string pnm = dir.File("in.pnm"), wif = dir.File("in.wif");
  for (const auto& c : cases) {
    const bool colour = c.head[1] == '6';
    WriteFileBytes(pnm, PortableMap(c.head, c.samples));
    vxSaveOptions options;
    options.quality = c.quality;
    options.levels = c.levels;
    int result = -99, bits = 0;
    ASSERT_TRUE(vxConvertPortableMapToWif(pnm.c_str(), wif.c_str(), &options, &result, &bits));
    EXPECT_EQ(result, 0) << vxLastError();
    EXPECT_EQ(bits, colour ? 24 : 8);
    EXPECT_EQ(ReadFileBytes(wif), LoadedAndSaved(pnm, dir.File("usual.wif"), TypeWIF, options))
        << c.head;

    const int type = colour ? TypePPM : TypePGM;
    for (int threads : {1, 2}) {
      wif::SetThreads(threads);
      bool inputFailed = true;
      ASSERT_TRUE(vxConvertWifToPortableMap(wif.c_str(), dir.File("direct").c_str(), type, &result,
                                            &inputFailed));
      EXPECT_EQ(result, 0) << vxLastError();
      EXPECT_FALSE(inputFailed);
      EXPECT_EQ(ReadFileBytes(dir.File("direct")), LoadedAndSaved(wif, dir.File("usual"), type, {}))
          << c.head << " threads " << threads;
    }
  }
}

// Two-byte samples, colour scales, cut-short files, other formats, pictures
// of the other kind or beyond the ceiling are left to the usual readers.
TEST(WifDirect, LeavesOtherFilesToTheReaders) {
  TempDir dir;
  const std::string colour = dir.File("colour.wif"), grey = dir.File("grey.wif");
  vxSaveOptions options;
  for (const auto& [head, name] : {std::pair{"P6 90 70 255\n", colour}, {"P5 90 70 255\n", grey}}) {
    WriteFileBytes(dir.File("source"), PortableMap(head, head[1] == '6' ? 90 * 70 * 3 : 90 * 70));
    int result = -1;
    ASSERT_TRUE(
        vxConvertPortableMapToWif(dir.File("source").c_str(), name.c_str(), &options, &result));
  }
  std::vector<uint8_t> alias = ReadFileBytes(colour);
  alias[1] = '8';
  const std::vector<uint8_t> pnms[] = {PortableMap("P6\n8 8\n65535\n", 8 * 8 * 6),
                                       PortableMap("P6\n8 8\n100\n", 8 * 8 * 3),
                                       PortableMap("P6\n8 8\n255\n", 8 * 8 * 3 - 1),
                                       Bytes("P5\n8 8\n"),
                                       Bytes("P3\n2 1\n255\n1 2 3 4 5 6\n"),
                                       ReadFileBytes(colour),
                                       {}};
  const struct {
    std::vector<uint8_t> file;
    int type;
  } wifs[] = {{ReadFileBytes(colour), TypePGM}, {ReadFileBytes(grey), TypePPM},
              {ReadFileBytes(colour), TypeBMP}, {alias, TypePPM},
              {Bytes("WIF"), TypePPM},          {Bytes("P6 1 1 255\n123"), TypePPM}};
  const std::string input = dir.File("input"), output = dir.File("output");
  int result = -99;
  bool inputFailed = false;
  for (const auto& file : pnms) {
    WriteFileBytes(input, file);
    EXPECT_FALSE(vxConvertPortableMapToWif(input.c_str(), output.c_str(), &options, &result));
  }
  for (const auto& w : wifs) {
    WriteFileBytes(input, w.file);
    EXPECT_FALSE(
        vxConvertWifToPortableMap(input.c_str(), output.c_str(), w.type, &result, &inputFailed));
  }
  EXPECT_EQ(result, -99);
  EXPECT_FALSE(vxConvertPortableMapToWif(dir.path().c_str(), output.c_str(), &options, &result));
  testing_support::ImageCeiling ceiling(1000);
  EXPECT_FALSE(
      vxConvertPortableMapToWif(dir.File("source").c_str(), output.c_str(), &options, &result));
  EXPECT_FALSE(
      vxConvertWifToPortableMap(colour.c_str(), output.c_str(), TypePPM, &result, &inputFailed));
  EXPECT_FALSE(Exists(output));
}

// A failure says why and which file was at fault, and leaves the file it
// would have replaced, with no temporary file beside it.
TEST(WifDirect, FailuresNameTheFileAndLeaveTheOldOne) {
  TempDir dir;
  const std::string pnm = dir.File("in.ppm"), wif = dir.File("in.wif"), old = dir.File("old");
  WriteFileBytes(pnm, PortableMap("P6\n90 70\n255\n", 90 * 70 * 3));
  WriteFileBytes(old, Bytes("keep me"));
  vxSaveOptions options;
  int result = -1;
  ASSERT_TRUE(vxConvertPortableMapToWif(pnm.c_str(), wif.c_str(), &options, &result));
  options.quality = 0;
  ASSERT_TRUE(vxConvertPortableMapToWif(pnm.c_str(), old.c_str(), &options, &result));
  EXPECT_NE(result, 0);
  EXPECT_NE(vxLastError().find("quality"), std::string::npos) << vxLastError();

  std::vector<uint8_t> corrupt = ReadFileBytes(wif);
  for (size_t i = corrupt.size() / 3; i < corrupt.size(); ++i) corrupt[i] = 0xFF;
  WriteFileBytes(dir.File("corrupt.wif"), corrupt);
  bool inputFailed = false;
  {
    codec_test::Quiet quiet;
    ASSERT_TRUE(vxConvertWifToPortableMap(dir.File("corrupt.wif").c_str(), old.c_str(), TypePPM,
                                          &result, &inputFailed));
  }
  EXPECT_NE(result, 0);
  EXPECT_TRUE(inputFailed);
  EXPECT_NE(vxLastError().find("corrupt"), std::string::npos) << vxLastError();
  EXPECT_EQ(ReadFileBytes(old), Bytes("keep me"));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
  }

  ASSERT_TRUE(vxConvertWifToPortableMap(wif.c_str(), dir.File("no/folder.ppm").c_str(), TypePPM,
                                        &result, &inputFailed));
  EXPECT_NE(result, 0);
  EXPECT_FALSE(inputFailed);
}

// A mapped file that is cut short while mapped reads zeros where it was cut,
// and says so, instead of ending the process.
TEST(MappedFile, ReadsInPlaceAndSurvivesAFileCutShort) {
  TempDir dir;
  const std::string path = dir.File("data");
  const long page = sysconf(_SC_PAGESIZE);
  std::vector<uint8_t> bytes(4 * page);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 251 + 1);
  WriteFileBytes(path, bytes);

  vxMappedFile file, other;
  ASSERT_TRUE(file.Open(path.c_str()));
  ASSERT_EQ(file.size(), bytes.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file.data()));
  EXPECT_FALSE(file.Damaged());
  ASSERT_EQ(truncate(path.c_str(), page), 0);
  uint64_t beyond = 0;
  for (size_t i = 2 * page; i < bytes.size(); ++i) beyond += file.data()[i];
  EXPECT_EQ(beyond, 0u);
  EXPECT_EQ(file.data()[0], bytes[0]);
  EXPECT_TRUE(file.Damaged());
  // Another mapping starts undamaged.
  ASSERT_TRUE(other.Open(path.c_str()));
  EXPECT_FALSE(other.Damaged());

  WriteFileBytes(dir.File("empty"), {});
  for (const std::string& refused : {dir.File("missing"), dir.path(), dir.File("empty")}) {
    EXPECT_FALSE(other.Open(refused.c_str())) << refused;
  }
}

}  // namespace
