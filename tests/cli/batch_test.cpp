// lunark batch: the base-name rule, depth conversion by output type, and a
// run that never destroys its inputs or silently overwrites its own outputs.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_util.h"

using cli_test::SavePattern;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

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

long FilesIn(const std::string& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// A folder stands for the image files directly in it, found by content, and
// mixes with files. Each output keeps its input's name up to the last dot of
// the name (not of a folder). Colour written as PGM is converted after a depth
// change, grey is not; a broken file fails and the run goes on.
TEST(Batch, ConvertsEveryFileAndReportsFailuresWithoutStopping) {
  TempDir dir;
  int status = -1;
  fs::create_directories(dir.File("in.d/sub"));
  std::vector<std::string> colour = {"a.bmp", "b.final.bmp", "sub/c.bmp"};
  for (int i = 0; i < 8; ++i) colour.push_back("f" + std::to_string(i) + ".bmp");
  for (const std::string& name : colour) SavePattern(dir.File("in.d/" + name), 17, 9, 24);
  SavePattern(dir.File("in.d/noext"), 17, 9, 8);
  SavePattern(dir.File("extra.dat"), 17, 9, 24);
  testing_support::WriteFileBytes(dir.File("in.d/broken.bmp"), {'B', 'M', 1, 2});
  testing_support::WriteFileBytes(dir.File("in.d/notes.txt"), {'h', 'i', '\n'});
  const std::string out = Batch({"--jobs", "4", "--to", "pgm", "--out", dir.File("out/"),
                                 dir.File("in.d"), dir.File("extra.dat")},
                                &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(dir.File("in.d/broken.bmp")), std::string::npos) << out;
  EXPECT_NE(out.find(Summary(1, 11, 1)), std::string::npos) << out;
  EXPECT_EQ(FilesIn(dir.File("out")), 12);  // no broken, notes or sub-folder picture
  for (const char* name : {"a", "b.final", "noext", "f0", "f7", "extra"}) {
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(dir.File("out/" + std::string(name) + ".pgm").c_str()), 0) << name;
    EXPECT_EQ(back.BitCount(), 8);
  }
  TempDir empty;
  EXPECT_NE(
      Batch({"--to", "bmp", "--out", dir.File("o"), empty.path()}, &status).find("no image files"),
      std::string::npos);
  EXPECT_EQ(status, 1);
}

TEST(Batch, SameFolderAndTypeLeavesEveryInputUntouched) {
  TempDir dir;
  int status = -1;
  const std::string x = SavePattern(dir.File("x.bmp"), 17, 9, 24);
  const std::string y = SavePattern(dir.File("y.bmp"), 17, 9, 8);
  const auto xBytes = ReadFileBytes(x), yBytes = ReadFileBytes(y);
  const std::string out = Batch({"--to", "bmp", "--out", dir.path(), x, y}, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFileBytes(x), xBytes);
  EXPECT_EQ(ReadFileBytes(y), yBytes);
  EXPECT_NE(out.find("output would replace the input"), std::string::npos) << out;
  EXPECT_NE(out.find(Summary(0, 0, 2)), std::string::npos) << out;
}

// Two inputs with one output name: the first named keeps it, whatever the
// number of jobs and however they are scheduled. One file named two ways is
// not a collision.
TEST(Batch, TheFirstInputNamedKeepsACollidingOutput) {
  TempDir dir;
  int status = -1;
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  const std::string first = SavePattern(dir.File("a/photo.bmp"), 17, 9, 24);
  const std::string second = SavePattern(dir.File("b/photo.pgm"), 17, 9, 8);  // a grey BMP
  for (const char* jobs : {"1", "8", "8", "8"}) {
    const TempDir outDir;
    SCOPED_TRACE(std::string(jobs) + " jobs");
    const std::string out =
        Batch({"--jobs", jobs, "--to", "bmp", "--out", outDir.path(), first, second}, &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(second + ": name collision"), std::string::npos) << out;
    EXPECT_NE(out.find(Summary(1, 0, 1)), std::string::npos) << out;
    EXPECT_EQ(FilesIn(outDir.path()), 1);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(outDir.File("photo.bmp").c_str()), 0);
    EXPECT_EQ(back.BitCount(), 24);  // written from a/photo.bmp
  }
  const std::string out =
      Batch({"--to", "bmp", "--out", dir.File("o"), first, dir.path() + "/./a/photo.bmp"}, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("collision"), std::string::npos) << out;
}

}  // namespace
