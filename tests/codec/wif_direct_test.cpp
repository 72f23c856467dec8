// Portable maps encoded to WIF where they lie in the file, and the mapping
// that reads them.
#include "codec/wif_direct.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/kernels.h"
#include "engine/image.h"
#include "engine/mapped_file.h"
#include "engine/notice.h"
#include "formats/output_depth.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A portable map with the header `head` and `count` random sample bytes.
std::vector<uint8_t> PortableMap(const std::string& head, size_t count, uint32_t seed) {
  std::vector<uint8_t> file = Bytes(head);
  uint32_t state = seed;
  for (size_t i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    file.push_back(static_cast<uint8_t>(state >> 24));
  }
  return file;
}

// What loading the file and saving it as WIF writes.
std::vector<uint8_t> ThroughTheImage(const std::string& input, const std::string& output,
                                     vxSaveOptions options) {
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(input.c_str()), 0) << input;
  vxLinearizeGrey(image);
  EXPECT_EQ(image.SaveImage(output.c_str(), TypeWIF, &options), 0) << vxLastError();
  return ReadFileBytes(output);
}

// The direct way gives the very bytes of the usual one, for colour and grey
// (scaled or not), widths whose rows are no multiple of 4 bytes, and the
// automatic and a given number of levels.
TEST(WifDirect, WritesTheBytesOfLoadingAndSaving) {
  TempDir dir;
  const struct {
    const char* head;
    size_t samples;
    int quality, levels;
  } cases[] = {
      {"P6\n37 23\n255\n", 37 * 23 * 3, 20, 0},
      {"P6 # comment\n 64\t48 255\n", 64 * 48 * 3, 5, 2},
      {"P5\n41 19\n255\n", 41 * 19, 12, 0},
      {"P5\n33 30\n100\n", 33 * 30, 40, 3},  // samples above 100 are white
      {"P6\n1 1\n255\n", 3, 50, 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string input = dir.File("in" + std::to_string(n++) + ".pnm");
    WriteFileBytes(input, PortableMap(c.head, c.samples, n));
    vxSaveOptions options;
    options.quality = c.quality;
    options.levels = c.levels;
    int result = -99, bits = 0;
    ASSERT_TRUE(vxConvertPortableMapToWif(input.c_str(), dir.File("direct.wif").c_str(), &options,
                                          &result, &bits))
        << c.head;
    EXPECT_EQ(result, 0) << vxLastError();
    EXPECT_EQ(bits, c.head[1] == '6' ? 24 : 8);
    EXPECT_EQ(ReadFileBytes(dir.File("direct.wif")),
              ThroughTheImage(input, dir.File("usual.wif"), options))
        << c.head;
  }
}

// Files it does not take are left to the usual reader, which gives them
// their own treatment (two-byte samples, colour scales, cut-short files
// shown in part, other formats, pictures beyond the ceiling).
TEST(WifDirect, LeavesOtherFilesToTheReader) {
  TempDir dir;
  const std::string output = dir.File("out.wif");
  const std::vector<uint8_t> files[] = {
      PortableMap("P6\n8 8\n65535\n", 8 * 8 * 6, 1),
      PortableMap("P6\n8 8\n100\n", 8 * 8 * 3, 2),
      PortableMap("P6\n8 8\n255\n", 8 * 8 * 3 - 1, 3),
      PortableMap("P5\n8 8\n", 0, 4),
      PortableMap("P3\n2 1\n255\n1 2 3 4 5 6\n", 0, 5),
      PortableMap("BM", 64, 6),
      {},
  };
  vxSaveOptions options;
  int n = 0;
  for (const auto& file : files) {
    const std::string input = dir.File("in" + std::to_string(n++));
    WriteFileBytes(input, file);
    int result = -99;
    EXPECT_FALSE(vxConvertPortableMapToWif(input.c_str(), output.c_str(), &options, &result))
        << "file " << n;
    EXPECT_EQ(result, -99);
  }
  int result = -99;
  EXPECT_FALSE(
      vxConvertPortableMapToWif(dir.File("missing").c_str(), output.c_str(), &options, &result));
  EXPECT_FALSE(vxConvertPortableMapToWif(dir.path().c_str(), output.c_str(), &options, &result));

  const std::string picture = dir.File("big.ppm");
  WriteFileBytes(picture, PortableMap("P6\n40 40\n255\n", 40 * 40 * 3, 7));
  const uint64_t ceiling = vxMaxImageBytes();
  vxSetMaxImageBytes(1000);
  EXPECT_FALSE(vxConvertPortableMapToWif(picture.c_str(), output.c_str(), &options, &result));
  vxSetMaxImageBytes(ceiling);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// A failed save says why and leaves the file it would have replaced.
TEST(WifDirect, FailuresLeaveTheOldFile) {
  TempDir dir;
  const std::string input = dir.File("in.ppm"), output = dir.File("old.wif");
  WriteFileBytes(input, PortableMap("P6\n20 20\n255\n", 20 * 20 * 3, 9));
  WriteFileBytes(output, Bytes("keep me"));
  vxSaveOptions options;
  options.quality = 0;
  int result = 0;
  ASSERT_TRUE(vxConvertPortableMapToWif(input.c_str(), output.c_str(), &options, &result));
  EXPECT_NE(result, 0);
  EXPECT_NE(vxLastError().find("quality"), std::string::npos) << vxLastError();
  EXPECT_EQ(ReadFileBytes(output), Bytes("keep me"));
  options.quality = 50;
  ASSERT_TRUE(vxConvertPortableMapToWif(input.c_str(), dir.File("no/such/folder.wif").c_str(),
                                        &options, &result));
  EXPECT_NE(result, 0);
  EXPECT_FALSE(vxLastError().empty());
}

// A WIF file of a random picture (smooth enough to compress like a photo).
std::vector<uint8_t> WifOf(TempDir& dir, const std::string& head, size_t samples, int quality) {
  const std::string input = dir.File("source.pnm"), output = dir.File("source.wif");
  std::vector<uint8_t> file = PortableMap(head, samples, 3);
  for (size_t i = head.size() + 3; i < file.size(); ++i) {
    file[i] = static_cast<uint8_t>((file[i] + 3 * file[i - 3]) / 4);
  }
  WriteFileBytes(input, file);
  vxSaveOptions options;
  options.quality = quality;
  int result = -1;
  EXPECT_TRUE(vxConvertPortableMapToWif(input.c_str(), output.c_str(), &options, &result));
  EXPECT_EQ(result, 0);
  return ReadFileBytes(output);
}

// What loading the WIF file and saving it as a portable map writes.
std::vector<uint8_t> LoadedAndSaved(const std::string& input, const std::string& output, int type) {
  vxScopedImage image;
  EXPECT_EQ(image.LoadImage(input.c_str()), 0) << input;
  EXPECT_EQ(image.SaveImage(output.c_str(), type, nullptr), 0) << vxLastError();
  return ReadFileBytes(output);
}

struct ThreadsReset {
  ~ThreadsReset() { wif::SetThreads(0); }
};

// Decoding by bands straight into the file gives the bytes of loading and
// saving, colour and grey, rows padded or not, bands taken by one thread or
// two.
TEST(WifDirect, DecodesToTheBytesOfLoadingAndSaving) {
  TempDir dir;
  ThreadsReset reset;
  const struct {
    const char* head;
    size_t samples;
    int quality, type;
  } cases[] = {
      {"P6\n301 203\n255\n", 301 * 203 * 3, 12, TypePPM},
      {"P6\n1200 900\n255\n", 1200 * 900 * 3, 1, TypePPM},  // block-coded details, 4 bands
      {"P5\n257 130\n255\n", 257 * 130, 35, TypePGM},
      {"P6\n3 2\n255\n", 3 * 2 * 3, 50, TypePPM},
  };
  for (const auto& c : cases) {
    const std::string wif = dir.File("in.wif");
    WriteFileBytes(wif, WifOf(dir, c.head, c.samples, c.quality));
    for (int threads : {1, 2}) {
      wif::SetThreads(threads);
      int result = -99;
      bool inputFailed = true;
      ASSERT_TRUE(vxConvertWifToPortableMap(wif.c_str(), dir.File("direct").c_str(), c.type,
                                            &result, &inputFailed))
          << c.head;
      EXPECT_EQ(result, 0) << vxLastError();
      EXPECT_FALSE(inputFailed);
      EXPECT_EQ(ReadFileBytes(dir.File("direct")), LoadedAndSaved(wif, dir.File("usual"), c.type))
          << c.head << " threads " << threads;
    }
  }
}

// Pictures of the other kind, and files the reader refuses or treats apart,
// go the usual way; corrupt data fails naming the input and leaves the old
// file, as does an output that cannot be written.
TEST(WifDirect, DecodeFailuresAndFilesLeftToTheReader) {
  TempDir dir;
  const std::vector<uint8_t> colour = WifOf(dir, "P6\n90 70\n255\n", 90 * 70 * 3, 8);
  const std::vector<uint8_t> grey = WifOf(dir, "P5\n90 70\n255\n", 90 * 70, 8);
  std::vector<uint8_t> alias = colour;
  alias[1] = '8';
  const std::string output = dir.File("out.ppm");
  const struct {
    std::vector<uint8_t> file;
    int type;
  } others[] = {{colour, TypePGM},
                {grey, TypePPM},
                {colour, TypeBMP},
                {alias, TypePPM},
                {{colour.begin(), colour.begin() + 30}, TypePPM},
                {Bytes("P6 1 1 255\n123"), TypePPM}};
  int n = 0;
  for (const auto& other : others) {
    const std::string input = dir.File("other" + std::to_string(n++));
    WriteFileBytes(input, other.file);
    int result = -99;
    bool inputFailed = false;
    EXPECT_FALSE(
        vxConvertWifToPortableMap(input.c_str(), output.c_str(), other.type, &result, &inputFailed))
        << "case " << n;
  }

  WriteFileBytes(output, Bytes("keep me"));
  std::vector<uint8_t> corrupt = colour;
  for (size_t i = corrupt.size() / 3; i < corrupt.size(); ++i) corrupt[i] = 0xFF;
  const std::string input = dir.File("corrupt.wif");
  WriteFileBytes(input, corrupt);
  int result = 0;
  bool inputFailed = false;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(
      vxConvertWifToPortableMap(input.c_str(), output.c_str(), TypePPM, &result, &inputFailed));
  testing::internal::GetCapturedStderr();
  EXPECT_NE(result, 0);
  EXPECT_TRUE(inputFailed);
  EXPECT_NE(vxLastError().find("corrupt"), std::string::npos) << vxLastError();
  EXPECT_EQ(ReadFileBytes(output), Bytes("keep me"));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
  }

  WriteFileBytes(input, colour);
  ASSERT_TRUE(vxConvertWifToPortableMap(input.c_str(), dir.File("no/folder.ppm").c_str(), TypePPM,
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

  vxMappedFile file;
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

  // Another mapping starts undamaged; closing gives the slot back.
  vxMappedFile other;
  ASSERT_TRUE(other.Open(path.c_str()));
  EXPECT_FALSE(other.Damaged());
  file.Close();
  EXPECT_FALSE(file.Damaged());
  EXPECT_EQ(file.data(), nullptr);

  EXPECT_FALSE(other.Open(dir.File("missing").c_str()));
  EXPECT_FALSE(other.Open(dir.path().c_str()));
  WriteFileBytes(dir.File("empty"), {});
  EXPECT_FALSE(other.Open(dir.File("empty").c_str()));
}

}  // namespace
