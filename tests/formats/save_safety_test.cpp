// Saving never destroys what was there: a failed save leaves the old file
// and no temporary file; a successful one keeps the permissions and follows
// symbolic links. Also the pixel copy the writers share.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "engine/options.h"
#include "format_util.h"

namespace {

using namespace format_test;

namespace fs = std::filesystem;

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class SaveSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    MakePattern(image_, 300, 200, 24, 7);  // 180 KB of pixels
    MakePattern(small_, 3, 3, 24, 8);      // fits in one stdio buffer
    old_ = {'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 's'};
  }
  vxScopedImage image_, small_;
  std::vector<uint8_t> old_;
};

// A full disk (the file-size limit: the large picture fails midway, the
// small one at the flush) leaves the old file byte for byte and no temporary
// file, with every writer, reported once, not once a line.
TEST_F(SaveSafety, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.File("picture");
  for (int type : {TypeBMP, TypePCX, TypePPM, TypePGM, TypeTGA, TypeTIFF, TypeJPEG, TypeWIF}) {
    for (vxImage* image : {static_cast<vxImage*>(&image_), static_cast<vxImage*>(&small_)}) {
      SCOPED_TRACE(std::to_string(type) + (image == &small_ ? ", small" : ", large"));
      WriteFileBytes(target, old_);
      NoticeCapture notices;
      int result;
      {
        FileSizeLimit limit(image == &small_ ? 16 : 8192);
        vxClearLastError();
        vxSaveOptions options;  // WIF asks for its options
        result = image->SaveImage(target.c_str(), type, type == TypeWIF ? &options : nullptr);
      }
      EXPECT_NE(result, 0);
      EXPECT_FALSE(vxLastError().empty());
      EXPECT_LE(notices.notices().size(), 1u);
      EXPECT_EQ(ReadFileBytes(target), old_);
      EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"picture"});
    }
  }
  // Without an old file, nothing at all is left.
  fs::remove(target);
  {
    FileSizeLimit limit(1000);
    EXPECT_NE(image_.SaveImage(target.c_str(), TypeBMP), 0);
  }
  EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST_F(SaveSafety, ASuccessfulSaveReplacesTheFileAndKeepsItsPermissions) {
  TempDir dir;
  const std::string target = dir.File("picture.bmp");
  WriteFileBytes(target, old_);
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(image_.SaveImage(target.c_str(), TypeBMP), 0) << vxLastError();
  EXPECT_EQ(ModeOf(target), 0640u);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"picture.bmp"});
  EXPECT_NE(ReadFileBytes(target), old_);

  // A new file gets the usual permissions.
  const mode_t old = umask(027);
  const int result = small_.SaveImage(dir.File("new.bmp").c_str(), TypeBMP);
  umask(old);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(ModeOf(dir.File("new.bmp")), 0640u);
}

// vxOpenWritten skips truncating an empty file; over a longer one only the
// writer's bytes must remain. A folder that does not exist is refused.
TEST_F(SaveSafety, WritersCalledOnALongerFileLeaveOnlyTheirOwnBytes) {
  TempDir dir;
  const std::string path = dir.File("direct"), fresh = dir.File("fresh");
  for (int type : {TypeBMP, TypePCX, TypePPM, TypePGM, TypeTGA, TypeTIFF, TypeJPEG, TypeWIF}) {
    SCOPED_TRACE(type);
    WriteFileBytes(path, std::vector<uint8_t>(1 << 20, 0x5A));
    ASSERT_EQ(WriteWith(type, path, small_), 0);
    ASSERT_EQ(WriteWith(type, fresh, small_), 0);
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(fresh));
    EXPECT_EQ(WriteWith(type, "/nonexistent/dir/x", small_), -1);
  }
}

TEST_F(SaveSafety, SavingThroughASymbolicLinkReplacesTheLinkedFile) {
  TempDir dir;
  fs::create_directory(dir.File("real"));
  const std::string real = dir.File("real/picture.bmp"), link = dir.File("link.bmp");
  WriteFileBytes(real, old_);
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  fs::create_symlink("real/picture.bmp", link);
  ASSERT_EQ(small_.SaveImage(link.c_str(), TypeBMP), 0) << vxLastError();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ModeOf(real), 0600u);
  EXPECT_NE(ReadFileBytes(real), old_);
  EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"picture.bmp"});
  EXPECT_EQ((Entries(dir.path())), (std::vector<std::string>{"link.bmp", "real"}));

  // A link to a file that does not exist yet creates that file.
  const std::string dangling = dir.File("dangling.bmp");
  fs::create_symlink("real/later.bmp", dangling);
  ASSERT_EQ(small_.SaveImage(dangling.c_str(), TypeBMP), 0) << vxLastError();
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_TRUE(fs::is_regular_file(dir.File("real/later.bmp")));
}

// A folder where the file should go is left alone.
TEST_F(SaveSafety, AFolderInThePlaceOfTheFileIsLeftAlone) {
  TempDir dir;
  fs::create_directory(dir.File("taken.bmp"));
  EXPECT_EQ(small_.SaveImage(dir.File("taken.bmp").c_str(), TypeBMP), -1);
  EXPECT_FALSE(vxLastError().empty());
  EXPECT_TRUE(fs::is_directory(dir.File("taken.bmp")));
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"taken.bmp"});
}

// The vector path stores sixteen bytes for every five pixels: nothing may
// be written past the last pixel.
TEST(ByteOperations, SwapRedBlueEveryLength) {
  for (size_t pixels = 0; pixels <= 40; ++pixels) {
    std::vector<unsigned char> in(3 * pixels), out(3 * pixels + 16, 0xEE), expected = out;
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(7 * i + 1);
    for (size_t i = 0; i < in.size(); ++i) expected[i] = in[i + 2 - 2 * (i % 3)];
    vxSwapRedBlue(in.data(), out.data(), pixels);
    ASSERT_EQ(out, expected) << pixels;
  }
}

}  // namespace
