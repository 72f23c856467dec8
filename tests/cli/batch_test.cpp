// lunark batch: the base-name rule, depth conversion by output type, and a
// run that never destroys its inputs or silently overwrites its own outputs.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/image.h"
#include "formats/batch.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::RunCapture;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

std::string Lunark(const std::string& args, int* status) {
  return RunCapture(std::string(LUNARK_CLI_PATH) + " " + args + " 2>&1", status);
}

bool HaveWriter(int type) {
  vxRWImage* rw = vxImage::CreateRWImage(type);
  delete rw;
  return rw != nullptr;
}

// Writes a small colour picture in the format of the path's extension.
void MakeImage(const std::string& path, int type) {
  vxScopedImage image;
  testing_support::MakePattern(image, 17, 9, type == TypePGM ? 8 : 24);
  ASSERT_EQ(image.SaveImage(path.c_str(), type, nullptr), 0) << path;
}

TEST(BatchNames, OutputKeepsTheBaseNameUpToTheLastDot) {
  EXPECT_EQ(vxBatchOutputPath("/in/photo.final.bmp", "/out", TypeWIF), "/out/photo.final.wif");
  EXPECT_EQ(vxBatchOutputPath("/in/README", "/out/", TypeJPEG), "/out/README.jpg");
  EXPECT_EQ(vxBatchOutputPath("pic.tiff", "o", TypeTIFF), "o/pic.tif");
  EXPECT_EQ(vxBatchOutputPath("/a.b/noext", "/o", TypeBMP), "/o/noext.bmp");
}

class BatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWriter(TypeBMP) || !HaveWriter(TypeTGA) || !HaveWriter(TypePGM)) {
      GTEST_SKIP() << "needs the BMP, TGA and PGM writers";
    }
  }
  TempDir dir;
};

TEST_F(BatchRun, ConvertsEveryFileAndReportsFailuresWithoutStopping) {
  fs::create_directories(dir.File("in"));
  MakeImage(dir.File("in/a.bmp"), TypeBMP);
  MakeImage(dir.File("in/b.final.bmp"), TypeBMP);
  MakeImage(dir.File("in/noext"), TypeBMP);
  testing_support::WriteFileBytes(dir.File("in/broken.bmp"), {'B', 'M', 1, 2});
  int status = 0;
  const std::string out = Lunark("batch --to tga --out " + dir.File("out") + " " + dir.File("in/a.bmp") + " " +
                                     dir.File("in/broken.bmp") + " " + dir.File("in/b.final.bmp") + " " +
                                     dir.File("in/noext"),
                                 &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_TRUE(fs::exists(dir.File("out/a.tga")));
  EXPECT_TRUE(fs::exists(dir.File("out/b.final.tga")));
  EXPECT_TRUE(fs::exists(dir.File("out/noext.tga")));
  EXPECT_FALSE(fs::exists(dir.File("out/broken.tga")));
  EXPECT_NE(out.find("broken.bmp"), std::string::npos) << out;
  EXPECT_NE(out.find("3 converted, 0 converted after a depth change, 1 failed"), std::string::npos) << out;
}

TEST_F(BatchRun, ColourToGreyCountsAsADepthChange) {
  MakeImage(dir.File("c.bmp"), TypeBMP);
  int status = 0;
  const std::string out = Lunark("batch --to pgm --out " + dir.File("o") + " " + dir.File("c.bmp"), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("0 converted, 1 converted after a depth change, 0 failed"), std::string::npos) << out;
  vxScopedImage back;
  ASSERT_EQ(back.LoadImage(dir.File("o/c.pgm").c_str()), 0);
  EXPECT_EQ(back.BitCount(), 8);
}

TEST_F(BatchRun, SameFolderAndTypeLeavesEveryInputUntouched) {
  MakeImage(dir.File("x.bmp"), TypeBMP);
  MakeImage(dir.File("y.bmp"), TypeBMP);
  const auto x = ReadFileBytes(dir.File("x.bmp"));
  const auto y = ReadFileBytes(dir.File("y.bmp"));
  int status = 0;
  const std::string out =
      Lunark("batch --to bmp --out " + dir.path() + " " + dir.File("x.bmp") + " " + dir.File("y.bmp"), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("x.bmp")), x);
  EXPECT_EQ(ReadFileBytes(dir.File("y.bmp")), y);
  EXPECT_NE(out.find("output would replace the input"), std::string::npos) << out;
  EXPECT_NE(out.find("0 converted, 0 converted after a depth change, 2 failed"), std::string::npos) << out;
}

TEST_F(BatchRun, TwoInputsWithOneBaseNameGiveOneOutputAndOneCollision) {
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  MakeImage(dir.File("a/photo.bmp"), TypeBMP);
  MakeImage(dir.File("b/photo.pgm"), TypePGM);
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(jobs);
    const std::string outDir = dir.File(std::string("out") + jobs);
    int status = 0;
    const std::string out = Lunark("batch --jobs " + std::string(jobs) + " --to tga --out " + outDir + " " +
                                       dir.File("a/photo.bmp") + " " + dir.File("b/photo.pgm"),
                                   &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("name collision"), std::string::npos) << out;
    EXPECT_NE(out.find("1 failed"), std::string::npos) << out;
    int outputs = 0;
    for (const auto& e : fs::directory_iterator(outDir)) outputs += e.is_regular_file();
    EXPECT_EQ(outputs, 1);
  }
}

TEST_F(BatchRun, ManyFilesOnSeveralJobs) {
  std::string list;
  for (int i = 0; i < 24; ++i) {
    const std::string path = dir.File("f" + std::to_string(i) + ".bmp");
    MakeImage(path, TypeBMP);
    list += " " + path;
  }
  int status = 0;
  const std::string out = Lunark("batch --jobs 4 --to pgm --out " + dir.File("o") + list, &status);
  EXPECT_EQ(status, 0) << out;
  for (int i = 0; i < 24; ++i) EXPECT_TRUE(fs::exists(dir.File("o/f" + std::to_string(i) + ".pgm")));
}

TEST(BatchUsage, BadArgumentsAndReadOnlyOutputAreRefused) {
  int status = 0;
  Lunark("batch --to gif --out /tmp x.bmp", &status);
  EXPECT_EQ(status, 2);
  Lunark("batch --to bmp x.bmp", &status);
  EXPECT_EQ(status, 2);
  Lunark("batch --to bmp --out /tmp --jobs 0 x.bmp", &status);
  EXPECT_EQ(status, 2);
  Lunark("batch --to wif --out /tmp --quality 256 x.bmp", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
