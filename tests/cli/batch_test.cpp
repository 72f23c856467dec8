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

bool HaveWriter(int type) {
  vxRWImage* rw = vxImage::CreateRWImage(type);
  delete rw;
  return rw != nullptr;
}

// Writes a small picture (colour, or grey when `bits` is 8) as `type`.
void MakeImage(const std::string& path, int type = TypeBMP, int bits = 24) {
  vxScopedImage image;
  testing_support::MakePattern(image, 17, 9, bits);
  ASSERT_EQ(image.SaveImage(path.c_str(), type, nullptr), 0) << path;
}

// Runs `lunark batch ARGS`; returns what it printed on both streams.
std::string Batch(std::vector<std::string> args, int* status) {
  args.insert(args.begin(), "batch");
  const cli_test::Outcome o = cli_test::Lunark(args);
  *status = o.status;
  return o.out + o.err;
}

// The closing count line of a run.
std::string Summary(int converted, int deepened, int failed) {
  return std::to_string(converted) + " converted, " + std::to_string(deepened) +
         " converted after a depth change, " + std::to_string(failed) + " failed";
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
  int status = -1;
};

TEST_F(BatchRun, ConvertsEveryFileAndReportsFailuresWithoutStopping) {
  fs::create_directories(dir.File("in"));
  for (const char* name : {"in/a.bmp", "in/b.final.bmp", "in/noext"}) MakeImage(dir.File(name));
  testing_support::WriteFileBytes(dir.File("in/broken.bmp"), {'B', 'M', 1, 2});
  const std::string out =
      Batch({"--to", "tga", "--out", dir.File("out"), dir.File("in/a.bmp"),
             dir.File("in/broken.bmp"), dir.File("in/b.final.bmp"), dir.File("in/noext")},
            &status);
  EXPECT_EQ(status, 1) << out;
  for (const char* name : {"out/a.tga", "out/b.final.tga", "out/noext.tga"}) {
    EXPECT_TRUE(fs::exists(dir.File(name))) << name;
  }
  EXPECT_FALSE(fs::exists(dir.File("out/broken.tga")));
  EXPECT_NE(out.find(dir.File("in/broken.bmp")), std::string::npos) << out;
  EXPECT_NE(out.find(Summary(3, 0, 1)), std::string::npos) << out;
}

TEST_F(BatchRun, SameFolderAndTypeLeavesEveryInputUntouched) {
  MakeImage(dir.File("x.bmp"));
  MakeImage(dir.File("y.bmp"));
  const auto x = ReadFileBytes(dir.File("x.bmp")), y = ReadFileBytes(dir.File("y.bmp"));
  const std::string out =
      Batch({"--to", "bmp", "--out", dir.path(), dir.File("x.bmp"), dir.File("y.bmp")}, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("x.bmp")), x);
  EXPECT_EQ(ReadFileBytes(dir.File("y.bmp")), y);
  EXPECT_NE(out.find("output would replace the input"), std::string::npos) << out;
  EXPECT_NE(out.find(Summary(0, 0, 2)), std::string::npos) << out;
}

// Colour pictures written as PGM are counted as converted after a depth
// change; several jobs together convert every file.
TEST_F(BatchRun, ManyFilesOnSeveralJobsWithADepthChange) {
  std::vector<std::string> args = {"--jobs", "4", "--to", "pgm", "--out", dir.File("o")};
  for (int i = 0; i < 24; ++i) {
    args.push_back(dir.File("f" + std::to_string(i) + ".bmp"));
    MakeImage(args.back());
  }
  const std::string out = Batch(args, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(Summary(0, 24, 0)), std::string::npos) << out;
  for (int i = 0; i < 24; ++i) {
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(dir.File("o/f" + std::to_string(i) + ".pgm").c_str()), 0) << i;
    EXPECT_EQ(back.BitCount(), 8);
  }
}

// Two inputs with one output name: the first named keeps it, whatever the
// number of jobs and however they are scheduled.
TEST_F(BatchRun, TheFirstInputNamedKeepsACollidingOutput) {
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  MakeImage(dir.File("a/photo.bmp"));
  MakeImage(dir.File("b/photo.pgm"), TypeBMP, 8);  // grey, as a BMP under another name
  for (const char* jobs : {"1", "8"}) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::string(jobs) + " jobs, round " + std::to_string(round));
      const std::string outDir = dir.File("out" + std::string(jobs) + std::to_string(round));
      const std::string out = Batch({"--jobs", jobs, "--to", "bmp", "--out", outDir,
                                     dir.File("a/photo.bmp"), dir.File("b/photo.pgm")},
                                    &status);
      EXPECT_EQ(status, 1) << out;
      EXPECT_NE(out.find(dir.File("b/photo.pgm") + ": name collision"), std::string::npos) << out;
      EXPECT_NE(out.find(Summary(1, 0, 1)), std::string::npos) << out;
      EXPECT_EQ(std::distance(fs::directory_iterator(outDir), fs::directory_iterator()), 1);
      vxScopedImage back;
      ASSERT_EQ(back.LoadImage((outDir + "/photo.bmp").c_str()), 0);
      EXPECT_EQ(back.BitCount(), 24);  // written from a/photo.bmp
    }
  }
  // One file named two ways is not a collision.
  const std::string out = Batch({"--to", "bmp", "--out", dir.File("o"), dir.File("a/photo.bmp"),
                                 dir.path() + "/./a/photo.bmp"},
                                &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("collision"), std::string::npos) << out;
}

// A folder stands for the image files directly in it, found by content;
// folders and files mix, and a folder without pictures has nothing to convert.
TEST_F(BatchRun, AFolderStandsForTheImageFilesInIt) {
  fs::create_directories(dir.File("in/sub"));
  fs::create_directories(dir.File("empty"));
  for (const char* name : {"in/a.bmp", "in/b.dat", "in/sub/c.bmp"}) MakeImage(dir.File(name));
  testing_support::WriteFileBytes(dir.File("in/notes.txt"), {'h', 'i', '\n'});
  std::string out =
      Batch({"--jobs", "2", "--to", "bmp", "--out", dir.File("o"), dir.File("in")}, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(Summary(2, 0, 0)), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(dir.File("o/a.bmp")));
  EXPECT_TRUE(fs::exists(dir.File("o/b.bmp")));
  EXPECT_FALSE(fs::exists(dir.File("o/c.bmp")));  // sub-folders are not entered

  out = Batch({"--to", "bmp", "--out", dir.File("o2"), dir.File("empty")}, &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("no image files"), std::string::npos) << out;
  out = Batch({"--to", "bmp", "--out", dir.File("o3"), dir.File("empty"), dir.File("in/a.bmp")},
              &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(fs::exists(dir.File("o3/a.bmp")));
}

TEST(BatchUsage, BadArgumentsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--to", "gif", "--out", "/tmp", "x.bmp"},
      {"--to", "bmp", "x.bmp"},
      {"--to", "bmp", "--out", "/tmp", "--jobs", "0", "x.bmp"},
      {"--to", "wif", "--out", "/tmp", "--quality", "256", "x.bmp"},
  };
  for (const auto& args : cases) {
    int status = 0;
    Batch(args, &status);
    EXPECT_EQ(status, 2) << args[1] << " " << args.size();
  }
}

// A file that would be written over itself fails before it is even read;
// otherwise the run reports loading, then saving.
TEST(BatchRules, SameFileFailsBeforeAnyWork) {
  EXPECT_FALSE(vxBatchCanWrite(6));  // no type has this id
  if (!HaveWriter(TypeBMP)) GTEST_SKIP() << "needs the BMP writer";
  EXPECT_TRUE(vxBatchCanWrite(TypeBMP));
  TempDir dir;
  MakeImage(dir.File("p.bmp"));
  vxBatchRun run;
  std::vector<vxBatchStage> stages;
  const auto record = [&](vxBatchStage s) { stages.push_back(s); };
  const vxBatchResult same = run.Convert(dir.File("p.bmp"), dir.path(), TypeBMP, nullptr, record);
  EXPECT_EQ(same.status, vxBatchResult::Failed);
  EXPECT_TRUE(stages.empty());
  fs::create_directories(dir.File("o"));
  const vxBatchResult ok = run.Convert(dir.File("p.bmp"), dir.File("o"), TypeBMP, nullptr, record);
  EXPECT_EQ(ok.status, vxBatchResult::Written) << ok.reason;
  EXPECT_EQ(ok.bitCount, 24);
  EXPECT_EQ(stages, (std::vector<vxBatchStage>{vxBatchStage::Loading, vxBatchStage::Saving}));
}

}  // namespace
