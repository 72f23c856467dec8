// lunark batch: the base-name rule, depth conversion by output type, and a
// run that never destroys its inputs or silently overwrites its own outputs.
#include "formats/batch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cli_util.h"
#include "engine/image.h"
#include "formats/rwimage.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;
using cli_test::Lunark;

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
  const std::string out = Lunark("batch --to tga --out " + dir.File("out") + " " +
                                     dir.File("in/a.bmp") + " " + dir.File("in/broken.bmp") + " " +
                                     dir.File("in/b.final.bmp") + " " + dir.File("in/noext"),
                                 &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_TRUE(fs::exists(dir.File("out/a.tga")));
  EXPECT_TRUE(fs::exists(dir.File("out/b.final.tga")));
  EXPECT_TRUE(fs::exists(dir.File("out/noext.tga")));
  EXPECT_FALSE(fs::exists(dir.File("out/broken.tga")));
  EXPECT_NE(out.find("broken.bmp"), std::string::npos) << out;
  EXPECT_NE(out.find("3 converted, 0 converted after a depth change, 1 failed"), std::string::npos)
      << out;
}

TEST_F(BatchRun, ColourToGreyCountsAsADepthChange) {
  MakeImage(dir.File("c.bmp"), TypeBMP);
  int status = 0;
  const std::string out =
      Lunark("batch --to pgm --out " + dir.File("o") + " " + dir.File("c.bmp"), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("0 converted, 1 converted after a depth change, 0 failed"), std::string::npos)
      << out;
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
  const std::string out = Lunark(
      "batch --to bmp --out " + dir.path() + " " + dir.File("x.bmp") + " " + dir.File("y.bmp"),
      &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("x.bmp")), x);
  EXPECT_EQ(ReadFileBytes(dir.File("y.bmp")), y);
  EXPECT_NE(out.find("output would replace the input"), std::string::npos) << out;
  EXPECT_NE(out.find("0 converted, 0 converted after a depth change, 2 failed"), std::string::npos)
      << out;
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
  for (int i = 0; i < 24; ++i)
    EXPECT_TRUE(fs::exists(dir.File("o/f" + std::to_string(i) + ".pgm")));
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

TEST(BatchOrder, TheFirstInputNamedKeepsACollidingOutputWhateverTheJobs) {
  if (!HaveWriter(TypeBMP)) GTEST_SKIP() << "needs the BMP writer";
  TempDir dir;
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  MakeImage(dir.File("a/photo.bmp"), TypeBMP);  // colour
  vxScopedImage grey;                           // grey, as a BMP under another name
  testing_support::MakePattern(grey, 17, 9, 8);
  ASSERT_EQ(grey.SaveImage(dir.File("b/photo.pgm").c_str(), TypeBMP, nullptr), 0);
  for (const char* jobs : {"1", "2", "8"}) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::string(jobs) + " jobs, round " + std::to_string(round));
      const std::string outDir = dir.File("out" + std::string(jobs) + std::to_string(round));
      int status = 0;
      const std::string out =
          Lunark("batch --jobs " + std::string(jobs) + " --to bmp --out " + outDir + " " +
                     dir.File("a/photo.bmp") + " " + dir.File("b/photo.pgm"),
                 &status);
      EXPECT_EQ(status, 1) << out;
      EXPECT_NE(out.find(dir.File("b/photo.pgm") + ": name collision"), std::string::npos) << out;
      EXPECT_NE(out.find("1 failed"), std::string::npos) << out;
      EXPECT_EQ(std::distance(fs::directory_iterator(outDir), fs::directory_iterator()), 1);
      vxScopedImage back;
      ASSERT_EQ(back.LoadImage((outDir + "/photo.bmp").c_str()), 0);
      EXPECT_EQ(back.BitCount(), 24);  // written from a/photo.bmp
    }
  }
}

TEST(BatchOrder, OneFileNamedTwoWaysIsNotACollision) {
  if (!HaveWriter(TypeBMP)) GTEST_SKIP() << "needs the BMP writer";
  TempDir dir;
  MakeImage(dir.File("x.bmp"), TypeBMP);
  int status = 0;
  const std::string out = Lunark("batch --to bmp --out " + dir.File("o") + " " + dir.File("x.bmp") +
                                     " " + dir.path() + "/./x.bmp",
                                 &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("collision"), std::string::npos) << out;
}

TEST(BatchFolders, AFolderStandsForTheImageFilesInIt) {
  if (!HaveWriter(TypeBMP)) GTEST_SKIP() << "needs the BMP writer";
  TempDir dir;
  fs::create_directories(dir.File("in/sub"));
  MakeImage(dir.File("in/a.bmp"), TypeBMP);
  MakeImage(dir.File("in/b.dat"), TypeBMP);  // recognised by content
  MakeImage(dir.File("in/sub/c.bmp"), TypeBMP);
  testing_support::WriteFileBytes(dir.File("in/notes.txt"), {'h', 'i', '\n'});
  int status = 0;
  std::string out =
      Lunark("batch --jobs 2 --to bmp --out " + dir.File("o") + " " + dir.File("in"), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("2 converted, 0 converted after a depth change, 0 failed"), std::string::npos)
      << out;
  EXPECT_TRUE(fs::exists(dir.File("o/a.bmp")));
  EXPECT_TRUE(fs::exists(dir.File("o/b.bmp")));
  EXPECT_FALSE(fs::exists(dir.File("o/c.bmp")));  // sub-folders are not entered

  // Folders and files mix; a folder without pictures has nothing to convert.
  fs::create_directories(dir.File("empty"));
  out = Lunark("batch --to bmp --out " + dir.File("o2") + " " + dir.File("empty"), &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("no image files"), std::string::npos) << out;
  out = Lunark("batch --to bmp --out " + dir.File("o3") + " " + dir.File("empty") + " " +
                   dir.File("in/a.bmp"),
               &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(fs::exists(dir.File("o3/a.bmp")));
}

TEST(BatchRules, WriterCheckComesBeforeAnyWork) {
  std::string reason;
  EXPECT_FALSE(vxBatchCanWrite(TypeGIF, &reason));
  EXPECT_NE(reason.find("GIF"), std::string::npos);
  EXPECT_FALSE(vxBatchCanWrite(6, &reason));  // no type has this id
  if (!HaveWriter(TypeBMP)) GTEST_SKIP() << "needs the BMP writer";
  EXPECT_TRUE(vxBatchCanWrite(TypeBMP));

  // A GIF entry fails without touching the disk; a file that would be
  // written over itself fails before it is even read.
  TempDir dir;
  MakeImage(dir.File("p.bmp"), TypeBMP);
  vxBatchRun run;
  const vxBatchResult gif = run.Convert(dir.File("p.bmp"), dir.File("o"), TypeGIF, nullptr);
  EXPECT_EQ(gif.status, vxBatchResult::Failed);
  EXPECT_FALSE(fs::exists(dir.File("o")));
  std::vector<vxBatchStage> stages;
  const vxBatchResult bmp = run.Convert(dir.File("p.bmp"), dir.path(), TypeBMP, nullptr,
                                        [&](vxBatchStage s) { stages.push_back(s); });
  EXPECT_EQ(bmp.status, vxBatchResult::Failed);  // the same file
  EXPECT_TRUE(stages.empty());
  fs::create_directories(dir.File("o"));
  const vxBatchResult ok = run.Convert(dir.File("p.bmp"), dir.File("o"), TypeBMP, nullptr,
                                       [&](vxBatchStage s) { stages.push_back(s); });
  EXPECT_EQ(ok.status, vxBatchResult::Written) << ok.reason;
  EXPECT_EQ(ok.bitCount, 24);
  EXPECT_EQ(stages, (std::vector<vxBatchStage>{vxBatchStage::Loading, vxBatchStage::Saving}));
}

}  // namespace
