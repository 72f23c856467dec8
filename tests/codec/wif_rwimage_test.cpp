// The WIF format class through the engine's interface, and the command line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "engine/image.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

namespace {

using testing_support::DataPath;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TopDownRGB;
using testing_support::WriteFileBytes;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A photo of tests/data as a 24-bit or grey 8-bit engine image.
void LoadPhotoImage(const char* name, bool colour, vxImage& image) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(testing_support::ReadNetpbmRGB(DataPath(name), w, h, rgb));
  ASSERT_EQ(image.Create(w, h, colour ? 24 : 8, colour ? 0 : 256), 1);
  for (int top = 0; top < h; ++top) {
    unsigned char* row = image.Row(h - 1 - top);
    const uint8_t* src = rgb.data() + static_cast<size_t>(top) * w * 3;
    for (int x = 0; x < w; ++x) {
      if (colour) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      } else {
        row[x] = src[3 * x];
      }
    }
  }
}

int Save(vxImage& image, const std::string& path, int quality, int levels = 0) {
  vxSaveOptions options;
  options.quality = quality;
  options.levels = levels;
  return image.SaveImage(path.c_str(), TypeWIF, &options);
}

TEST(WifClass, IdentityAndOptions) {
  vxRWImage* rw = vxImage::CreateRWImage(TypeWIF);
  ASSERT_NE(rw, nullptr);
  EXPECT_EQ(rw->typeId, 1);
  EXPECT_STREQ(rw->extensions, "WIF|VXW");
  EXPECT_STREQ(rw->descriptions, "VX Wavelet Image File|Lunark Wavelet");
  EXPECT_EQ(rw->attribute1, 1);
  EXPECT_EQ(rw->attribute2, 3);
  EXPECT_EQ(rw->bigEndian, 0);
  EXPECT_EQ(rw->InOptions(), nullptr);
  EXPECT_EQ(rw->OutOptions(), nullptr);  // no dialog hook installed
  int asked = 0;
  auto previous = vxSetOptionsDialogHook([&](int type) {
    asked = type;
    auto* o = new vxSaveOptions;
    o->quality = 7;
    return o;
  });
  void* options = rw->OutOptions();
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(asked, TypeWIF);
  EXPECT_EQ(static_cast<vxSaveOptions*>(options)->quality, 7);
  vxFreeOptions(options);
  delete rw;

  // SaveImage without a record asks the dialog; cancelling writes nothing.
  TempDir dir;
  vxScopedImage image;
  testing_support::MakePattern(image, 20, 10, 24);
  ASSERT_EQ(image.SaveImage(dir.File("asked.wif").c_str(), TypeWIF), 0);
  EXPECT_EQ(ReadFileBytes(dir.File("asked.wif"))[9], 7);
  vxSetOptionsDialogHook([](int) { return nullptr; });
  EXPECT_EQ(image.SaveImage(dir.File("cancelled.wif").c_str(), TypeWIF), vxSaveCancelled);
  EXPECT_FALSE(Exists(dir.File("cancelled.wif")));
  vxSetOptionsDialogHook(previous);

  // A writer handed no record uses quality 50 and automatic levels.
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
    EXPECT_EQ(back.header->coloursImportant, colour ? 0u : 256u);
    EXPECT_EQ(back.header->xPelsPerMeter, 1);
    if (!colour) {
      EXPECT_TRUE(back.IsGreyRamp());
    }
    EXPECT_GT(testing_support::Psnr(TopDownRGB(image), TopDownRGB(back)), 42.0);
    // The position after decoding: a colour file is read to its last byte,
    // a grey one up to its final terminator.
    EXPECT_LE(back.loadedBytes, static_cast<int>(file.size()));
    EXPECT_GE(back.loadedBytes, static_cast<int>(file.size()) - (colour ? 0 : 4));

    vxFileInfo info{};
    ASSERT_EQ(vxImage::GetInfo(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, image.Width());
    EXPECT_EQ(info.height, image.Height());
    EXPECT_EQ(info.bitsPerPixel, colour ? 24 : 8);
    EXPECT_EQ(info.fileSize, file.size());

    // Saving is deterministic, file after file.
    ASSERT_EQ(Save(image, dir.File("again.wif"), 10), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("again.wif")), file);
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
  auto sectionStart = [&](int index) {
    size_t pos = 27;
    for (int i = 0; i < index; ++i) pos += (r[pos] << 24) | (r[pos + 1] << 16) | (r[pos + 2] << 8) | r[pos + 3];
    return pos;
  };
  const size_t s4 = sectionStart(3) + 4;
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
  vxScopedImage reversed;
  testing_support::MakePattern(reversed, 48, 32, 8);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i);
    reversed.palette[i] = {v, v, v, 0};
  }
  vxScopedImage grey64;
  ASSERT_EQ(grey64.Create(48, 32, 8, 64), 1);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(4 * i + 2);
    grey64.palette[i] = {v, v, v, 0};
  }
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 48; ++x) grey64.Row(y)[x] = static_cast<unsigned char>((x + 2 * y) % 64);
  }
  for (vxImage* image : {static_cast<vxImage*>(&reversed), static_cast<vxImage*>(&grey64)}) {
    ASSERT_EQ(Save(*image, dir.File("p.wif"), 10), 0);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(dir.File("p.wif").c_str()), 0);
    EXPECT_GE(testing_support::Psnr(TopDownRGB(*image), TopDownRGB(back)), 35.0);
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

TEST(WifClass, RefusesWhatTheFormatCannotHoldAndWritesNothing) {
  TempDir dir;
  vxScopedImage image;
  testing_support::MakePattern(image, 20, 10, 24);
  const std::string path = dir.File("x.wif");
  EXPECT_NE(Save(image, path, 0), 0);
  EXPECT_NE(vxLastError().find("quality"), std::string::npos);
  EXPECT_NE(Save(image, path, 256), 0);
  EXPECT_NE(Save(image, path, 50, 9), 0);
  EXPECT_NE(vxLastError().find("levels"), std::string::npos);
  EXPECT_NE(Save(image, path, 50, -1), 0);
  EXPECT_FALSE(Exists(path));

  vxScopedImage wide;
  ASSERT_EQ(wide.Create(65536, 1, 8, 256), 1);
  EXPECT_EQ(Save(wide, path, 50), -1);
  EXPECT_NE(vxLastError().find("65535"), std::string::npos);
  EXPECT_FALSE(Exists(path));

  vxScopedImage nibbles;
  ASSERT_EQ(nibbles.Create(8, 8, 4, 16), 1);
  EXPECT_EQ(Save(nibbles, path, 50), -1);
  EXPECT_FALSE(Exists(path));
}

TEST(WifClass, WriteFailuresAreReported) {
  vxScopedImage image;
  testing_support::MakePattern(image, 300, 200, 24);
  vxRWImage* rw = vxImage::CreateRWImage(TypeWIF);
  vxSaveOptions options;
  options.quality = 1;  // a file larger than the stdio buffer
  EXPECT_EQ(rw->Write("/dev/full", image.header, image.palette, image.bits, &options), -1);
  EXPECT_EQ(rw->Write("/nonexistent-folder/x.wif", image.header, image.palette, image.bits, &options), -1);
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

  auto truncated = bytes;
  truncated.resize(bytes.size() / 2);
  WriteFileBytes(dir.File("cut.wif"), truncated);
  testing::internal::CaptureStderr();
  EXPECT_EQ(image.LoadImage(dir.File("cut.wif").c_str()), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad input file\n");
  EXPECT_FALSE(vxLastError().empty());
  expectUntouched("truncated");

  for (char kind : {'7', '8'}) {
    auto other = bytes;
    other[1] = static_cast<uint8_t>(kind);
    WriteFileBytes(dir.File("kind.wif"), other);
    testing::internal::CaptureStderr();
    EXPECT_EQ(image.LoadImage(dir.File("kind.wif").c_str()), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "decoder: wrong image format. \n");
    expectUntouched("kind");
    vxFileInfo info{};
    EXPECT_EQ(vxImage::GetInfo(dir.File("kind.wif").c_str(), &info), 0);
    EXPECT_EQ(info.bitsPerPixel, kind == '8' ? 24 : 8);
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
  for (int i = 0; i < 300; ++i) {
    auto m = bytes;
    for (int e = 0; e < 3; ++e) m[14 + rng() % (m.size() - 14)] ^= static_cast<uint8_t>(1 + rng() % 255);
    WriteFileBytes(dir.File("m.wif"), m);
    vxScopedImage victim;
    testing_support::MakePattern(victim, 5, 5, 8);
    const vxBitmapInfoHeader* before = victim.header;
    const int result = victim.LoadImage(dir.File("m.wif").c_str());
    EXPECT_TRUE(result == 0 || result == -2) << result;
    if (result != 0) {
      EXPECT_EQ(victim.header, before);
    }
  }
  testing::internal::GetCapturedStderr();
}

// The command line, when it has been built.
class WifCommandLine : public testing::Test {
 protected:
  void SetUp() override {
    if (!Exists(LUNARK_CLI_PATH)) GTEST_SKIP() << "lunark not built";
    vxScopedImage image;
    LoadPhotoImage("chelsea.ppm", true, image);
    ASSERT_EQ(Save(image, dir_.File("photo.wif"), 10), 0);
  }
  std::string Run(const std::string& args, int* status) {
    return testing_support::RunCapture(std::string(LUNARK_CLI_PATH) + " " + args + " 2>&1", status);
  }
  TempDir dir_;
};

TEST_F(WifCommandLine, InfoAndConvert) {
  int status = -1;
  const std::string photo = dir_.File("photo.wif");
  const std::string info = Run("info " + photo, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(info, photo + ": WIF, 451 x 300, 24 bits per pixel, " +
                      std::to_string(ReadFileBytes(photo).size()) + " bytes\n");

  const std::string out = dir_.File("out.wif");
  Run("convert " + photo + " " + out + " --quality 30 --levels 3", &status);
  EXPECT_EQ(status, 0);
  const auto bytes = ReadFileBytes(out);
  ASSERT_GT(bytes.size(), 14u);
  EXPECT_EQ(bytes[9], 30);
  EXPECT_EQ(bytes[8] & 0x0F, 3);

  for (const char* bad : {"--quality 0", "--quality 256", "--levels 9", "--levels 0"}) {
    const std::string refused = dir_.File("refused.wif");
    const std::string message = Run("convert " + photo + " " + refused + " " + bad, &status);
    EXPECT_EQ(status, 2) << bad;
    EXPECT_NE(message.find("must be a whole number"), std::string::npos) << message;
    EXPECT_FALSE(Exists(refused)) << bad;
  }
}

}  // namespace
