// Broken and hostile JPEG files: a clear result, never a crash, a hang or an
// allocation sized by a lying header.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg.h"
#include "formats/registry.h"
#include "jpeg_tiff_util.h"

namespace {

using namespace jt;

class JpegMalformedTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Make(const std::string& name, const std::string& cjpegArgs,
                   const std::string& crop = "48x32+200+120") {
    const std::string jpeg = dir.File(name);
    const std::string command = "convert " + Quote(DataPath("chelsea.ppm")) + "[" + crop +
                                "] ppm:- | cjpeg " + cjpegArgs + " > " + Quote(jpeg);
    EXPECT_EQ(RunCommand(command), 0);
    return jpeg;
  }
};

// Offset of the first marker `code` (after FF) at or after `from`.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code, size_t from = 2) {
  for (size_t i = from; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
  }
  return bytes.size();
}

TEST_F(JpegMalformedTest, EveryPrefixAndCorruptionGivesAResultCode) {
  NoticeCapture quiet;
  for (const char* args : {"-quality 80", "-progressive -sample 1x1", "-arithmetic -restart 1B"}) {
    SCOPED_TRACE(args);
    const std::vector<uint8_t> bytes = ReadFileBytes(Make("good.jpg", args));
    ASSERT_GT(bytes.size(), 200u);
    Torture(bytes, dir.File("bad.jpg"), 1, 300, [](const std::string& path) {
      vxScopedImage image;
      const int result = ReadWith(TypeJPEG, path, image).result;
      EXPECT_TRUE(result == 0 || result == -2) << result;
      if (result == 0) {
        EXPECT_FALSE(image.IsEmpty());
      }
      std::unique_ptr<vxRWImage> rw(vxCreateJPEG());
      vxFileInfo info{};
      const int info_result = rw->GetFileInfo(path.c_str(), &info);
      EXPECT_TRUE(info_result == 0 || info_result == -2);
    });
  }
}

TEST_F(JpegMalformedTest, ATruncatedFileGivesThePartThatIsThereWithAWarning) {
  const std::string jpeg = Make("whole.jpg", "-quality 90", "451x300+0+0");
  std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(jpeg, bytes);
  NoticeCapture notices;
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(jpeg.c_str()), 0);
  EXPECT_EQ(image.Width(), 451);
  EXPECT_EQ(image.Height(), 300);
  EXPECT_EQ(notices.Count("JPEG", "Premature end of JPEG file"), 1);
}

TEST_F(JpegMalformedTest, LibraryMessagesGoToNoticesNotToStandardError) {
  const std::string jpeg = Make("cut.jpg", "-quality 90");
  std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
  std::vector<uint8_t> broken(bytes.begin(), bytes.begin() + FindMarker(bytes, 0xDA) + 20);
  WriteFileBytes(dir.File("cut.jpg"), broken);
  WriteFileBytes(dir.File("junk.jpg"), {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x08, 0xFF, 0xD9});

  const std::string errors = dir.File("stderr.txt");
  NoticeCapture notices;
  vxScopedImage a, b;
  int partial, refused;
  {
    StderrToFile redirect(errors);
    partial = a.LoadImage(dir.File("cut.jpg").c_str());
    refused = b.LoadImage(dir.File("junk.jpg").c_str());
  }

  EXPECT_EQ(partial, 0);
  EXPECT_EQ(refused, -2);
  EXPECT_TRUE(ReadFileBytes(errors).empty());
  ASSERT_GE(notices.notices().size(), 2u);
  for (const vxNotice& n : notices.notices()) EXPECT_EQ(n.caption, "JPEG");
  EXPECT_EQ(notices.notices().back().kind, vxNoticeKind::Error);
  EXPECT_EQ(notices.notices().back().file, dir.File("junk.jpg"));
}

TEST_F(JpegMalformedTest, AHeaderThatClaimsAHugePictureIsRefusedBeforeDecoding) {
  std::vector<uint8_t> bytes = ReadFileBytes(Make("small.jpg", "-quality 50", "8x8+0+0"));
  const size_t sof = FindMarker(bytes, 0xC0);
  ASSERT_LT(sof + 9, bytes.size());
  // 60000 x 60000 pixels in a few hundred bytes.
  bytes[sof + 5] = 0xEA;
  bytes[sof + 6] = 0x60;
  bytes[sof + 7] = 0xEA;
  bytes[sof + 8] = 0x60;
  WriteFileBytes(dir.File("huge.jpg"), bytes);
  NoticeCapture notices;
  vxScopedImage image;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadWith(TypeJPEG, dir.File("huge.jpg"), image).result, -2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // The header alone is still described.
  vxFileInfo info{};
  std::unique_ptr<vxRWImage> rw(vxCreateJPEG());
  ASSERT_EQ(rw->GetFileInfo(dir.File("huge.jpg").c_str(), &info), 0);
  EXPECT_EQ(info.width, 60000);

  // A real picture above the memory ceiling is refused as too large.
  MemoryCeiling ceiling(100000);
  EXPECT_EQ(ReadWith(TypeJPEG, Make("big.jpg", "", "451x300+0+0"), image).result, -3);
}

TEST_F(JpegMalformedTest, AProgressiveFileWithEndlessScansIsStopped) {
  std::vector<uint8_t> bytes = ReadFileBytes(Make("p.jpg", "-progressive", "16x16+200+120"));
  // Repeat the last scan (a refinement scan, header and data) until the file
  // holds far more scans than any real picture.
  size_t last = FindMarker(bytes, 0xDA);
  for (size_t next = last; next < bytes.size(); next = FindMarker(bytes, 0xDA, next + 2))
    last = next;
  const size_t end = FindMarker(bytes, 0xD9, last);
  ASSERT_LT(end, bytes.size());
  const std::vector<uint8_t> scan(bytes.begin() + last, bytes.begin() + end);
  std::vector<uint8_t> hostile(bytes.begin(), bytes.begin() + end);
  for (int i = 0; i < 1200; ++i) hostile.insert(hostile.end(), scan.begin(), scan.end());
  hostile.insert(hostile.end(), {0xFF, 0xD9});
  WriteFileBytes(dir.File("scans.jpg"), hostile);
  NoticeCapture notices;
  vxScopedImage image;
  EXPECT_EQ(ReadWith(TypeJPEG, dir.File("scans.jpg"), image).result, -2);
  EXPECT_EQ(notices.Count("JPEG", "Too many scans"), 1);
}

}  // namespace
