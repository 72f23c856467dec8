// The WIF format class through the engine's interface, and the command line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "engine/image.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "formats/rwimage.h"
#include "support/test_support.h"
#include "codec_test_util.h"

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
  EXPECT_STREQ(rw->extensions, "WIF|VXW");
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

TEST(WifClass, ColourAndGreyRoundTripsThroughTheEngine) {
  TempDir dir;
  for (bool colour : {true, false}) {
    vxScopedImage image;
    LoadPhotoImage(colour ? "chelsea.ppm" : "camera.pgm", colour, image);
    const std::string path = dir.File(colour ? "c.wif" : "g.wif");
    ASSERT_EQ(Save(image, path, 10), 0);
    const auto file = ReadFileBytes(path);
    EXPECT_EQ(file[1], colour ? '6' : '5');

    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(path.c_str()), 0);
    EXPECT_EQ(back.GetSize(), image.GetSize());
    EXPECT_EQ(back.BitCount(), colour ? 24 : 8);
    EXPECT_EQ(back.ColoursUsed(), colour ? 0 : 256);
    EXPECT_TRUE(colour || back.IsGreyRamp());
    EXPECT_GT(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), 42.0);
    // The position after decoding: a colour file is read to its last byte,
    // a grey one up to its final terminator.
    EXPECT_LE(back.loadedBytes, static_cast<int>(file.size()));
    EXPECT_GE(back.loadedBytes, static_cast<int>(file.size()) - (colour ? 0 : 4));

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
  size_t s4 = 27;  // the fourth section, past three lengths
  for (int i = 0; i < 3; ++i)
    s4 += (r[s4] << 24) | (r[s4 + 1] << 16) | (r[s4 + 2] << 8) | r[s4 + 3];
  s4 += 4;
  EXPECT_EQ((r[s4] << 8) | r[s4 + 1], 227);  // C2 = Y - red = -170, at step 1.5
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("r.wif").c_str()), 0);
  unsigned char rr, gg, bb;
  back.GetColor(3, 3, &rr, &gg, &bb);
  EXPECT_GE(rr, 253);
  EXPECT_LE(gg, 2);
  EXPECT_LE(bb, 2);
}

// Grey palettes that are not the identity ramp are coded as the greys they
// show; a colour palette keeps its indices (callers convert first).
TEST(WifClass, PaletteGreysAreCodedAsShown) {
  TempDir dir;
  for (int entries : {256, 64}) {  // a reversed ramp, and a short palette of spaced greys
    vxScopedImage image;
    ASSERT_EQ(image.Create(48, 32, 8, entries), 1);
    for (int i = 0; i < entries; ++i) {
      const auto v = static_cast<uint8_t>(entries == 256 ? 255 - i : 4 * i + 2);
      image.palette[i] = {v, v, v, 0};
    }
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 48; ++x)
        image.Row(y)[x] = static_cast<unsigned char>((5 * x + 3 * y) % entries);
    }
    ASSERT_EQ(Save(image, dir.File("p.wif"), 10), 0);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(dir.File("p.wif").c_str()), 0);
    EXPECT_GE(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), 35.0) << entries;
  }

  vxScopedImage colourMap;
  testing_support::MakePattern(colourMap, 48, 32, 8);
  for (int i = 0; i < 256; ++i) colourMap.palette[i] = {static_cast<uint8_t>(i), 0, 200, 0};
  ASSERT_EQ(Save(colourMap, dir.File("m.wif"), 1), 0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("m.wif").c_str()), 0);
  double err = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 48; ++x) err += std::abs(back.Row(y)[x] - colourMap.Row(y)[x]);
  }
  EXPECT_LT(err / (48 * 32), 1.0);  // the indices themselves
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

TEST(WifClass, WriteFailuresAreReported) {
  vxScopedImage image;
  testing_support::MakePattern(image, 300, 200, 24);
  vxRWImage* rw = vxImage::CreateRWImage(TypeWIF);
  vxSaveOptions options;
  options.quality = 1;  // a file larger than the stdio buffer
  EXPECT_EQ(rw->Write("/dev/full", image.header, image.palette, image.bits, &options), -1);
  EXPECT_EQ(
      rw->Write("/nonexistent-folder/x.wif", image.header, image.palette, image.bits, &options),
      -1);
  delete rw;
}

TEST(WifClass, ColourRowsOfElevenThousandPixels) {
  TempDir dir;
  vxScopedImage image;
  testing_support::MakePattern(image, 11000, 3, 24);
  ASSERT_EQ(image.Stride(), 33000u);
  ASSERT_EQ(Save(image, dir.File("wide.wif"), 5), 0);
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("wide.wif").c_str()), 0);
  EXPECT_EQ(back.Stride(), 33000u);
  EXPECT_GT(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), 35.0);
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
  std::vector<uint8_t> kinds[2] = {bytes, bytes};
  kinds[0][1] = '7';
  kinds[1][1] = '8';
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* message;
    int bits;
  } damaged[] = {{"cut.wif", {bytes.begin(), bytes.begin() + bytes.size() / 2}, "Bad input file\n", 24},
                 {"grey7.wif", kinds[0], "decoder: wrong image format. \n", 8},
                 {"colour8.wif", kinds[1], "decoder: wrong image format. \n", 24}};
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

  const uint64_t ceiling = vxMaxImageBytes();
  vxSetMaxImageBytes(2000);
  testing::internal::CaptureStderr();
  EXPECT_EQ(image.LoadImage(good.c_str()), -3);
  testing::internal::GetCapturedStderr();
  vxSetMaxImageBytes(ceiling);
  expectUntouched("ceiling");

  // Mutated files: whatever they give, a failure leaves the image alone.
  std::mt19937 rng(8);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 100; ++i) {
    auto m = bytes;
    for (int e = 0; e < 3; ++e)
      m[14 + rng() % (m.size() - 14)] ^= static_cast<uint8_t>(1 + rng() % 255);
    WriteFileBytes(dir.File("m.wif"), m);
    vxScopedImage victim;
    testing_support::MakePattern(victim, 5, 5, 8);
    const vxBitmapInfoHeader* before = victim.header;
    const int result = victim.LoadImage(dir.File("m.wif").c_str());
    EXPECT_TRUE(result == 0 || (result == -2 && victim.header == before)) << result;
  }
  testing::internal::GetCapturedStderr();
}

// The command line's options reach the encoder; values out of range are
// refused before anything is written.
TEST(WifCommandLine, ConvertTakesQualityAndLevels) {
  if (!Exists(LUNARK_CLI_PATH)) GTEST_SKIP() << "lunark not built";
  TempDir dir;
  vxScopedImage image;
  LoadPhotoImage("chelsea.ppm", true, image);
  const std::string photo = dir.File("photo.wif"), out = dir.File("out.wif");
  ASSERT_EQ(Save(image, photo, 10), 0);
  auto convert = [&](const std::string& options, int* status) {
    return testing_support::RunCapture(
        std::string(LUNARK_CLI_PATH) + " convert " + photo + " " + out + " " + options + " 2>&1",
        status);
  };
  int status = -1;
  for (const char* bad : {"--quality 0", "--quality 256", "--levels 9", "--levels 0"}) {
    const std::string message = convert(bad, &status);
    EXPECT_EQ(status, 2) << bad;
    EXPECT_NE(message.find("must be a whole number"), std::string::npos) << message;
    EXPECT_FALSE(Exists(out)) << bad;
  }
  convert("--quality 30 --levels 3", &status);
  EXPECT_EQ(status, 0);
  const auto bytes = ReadFileBytes(out);
  ASSERT_GT(bytes.size(), 14u);
  EXPECT_EQ(bytes[9], 30);
  EXPECT_EQ(bytes[8] & 0x0F, 3);
}

}  // namespace
