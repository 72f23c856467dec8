// Conversions between portable maps and WIF without an image between, and
// the mapping that reads a file in place.
#include "codec/wif_direct.h"

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

struct ThreadsReset {
  ~ThreadsReset() { wif::SetThreads(0); }
};

// Both ways give the very bytes of loading and saving: colour and grey
// (scaled or not), rows no multiple of 4 bytes, automatic and given levels,
// and decoding by bands on one thread or two (the tall picture makes four
// bands, with block-coded details at quality 1).
TEST(WifDirect, BothWaysGiveTheBytesOfLoadingAndSaving) {
  TempDir dir;
  ThreadsReset reset;
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
      ASSERT_TRUE(vxConvertWifToPortableMap(wif.c_str(), dir.File("direct").c_str(), type,
                                            &result, &inputFailed));
      EXPECT_EQ(result, 0) << vxLastError();
      EXPECT_FALSE(inputFailed);
      EXPECT_EQ(ReadFileBytes(dir.File("direct")), LoadedAndSaved(wif, dir.File("usual"), type, {}))
          << c.head << " threads " << threads;
    }
  }
}

// Files either way does not take are left to the usual readers, which give
// them their own treatment: two-byte samples, colour scales, cut-short files
// shown in part, other formats, pictures of the other kind or beyond the
// ceiling.
TEST(WifDirect, LeavesOtherFilesToTheReaders) {
  TempDir dir;
  const std::string colour = dir.File("colour.wif"), grey = dir.File("grey.wif");
  vxSaveOptions options;
  for (const auto& [head, name] : {std::pair{"P6 90 70 255\n", colour}, {"P5 90 70 255\n", grey}}) {
    WriteFileBytes(dir.File("source"), PortableMap(head, head[1] == '6' ? 90 * 70 * 3 : 90 * 70));
    int result = -1;
    ASSERT_TRUE(vxConvertPortableMapToWif(dir.File("source").c_str(), name.c_str(), &options,
                                          &result));
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
  const uint64_t ceiling = vxMaxImageBytes();
  vxSetMaxImageBytes(1000);
  EXPECT_FALSE(vxConvertPortableMapToWif(dir.File("source").c_str(), output.c_str(), &options,
                                         &result));
  EXPECT_FALSE(
      vxConvertWifToPortableMap(colour.c_str(), output.c_str(), TypePPM, &result, &inputFailed));
  vxSetMaxImageBytes(ceiling);
  EXPECT_FALSE(std::filesystem::exists(output));
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
  testing::internal::CaptureStderr();
  ASSERT_TRUE(vxConvertWifToPortableMap(dir.File("corrupt.wif").c_str(), old.c_str(), TypePPM,
                                        &result, &inputFailed));
  testing::internal::GetCapturedStderr();
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
