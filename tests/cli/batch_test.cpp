// lunark batch: the base-name rule, depth conversion by output type, and a
// run that never destroys its inputs or silently overwrites its own outputs.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_util.h"

using namespace cli_test;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

// Runs `lunark batch ARGS`; returns its status and what it printed on both streams.
Outcome Batch(std::vector<std::string> args) {
  args.insert(args.begin(), "batch");
  Outcome o = Lunark(args);
  o.out += o.err;
  return o;
}

long FilesIn(const std::string& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// A folder stands for the image files directly in it; outputs keep the name up
// to its last dot; colour to PGM counts as a depth change; a broken file fails.
TEST(Batch, ConvertsEveryFileAndReportsFailuresWithoutStopping) {
  TempDir dir;
  fs::create_directories(dir.File("in.d/sub"));
  std::vector<std::string> colour = {"a.bmp", "b.final.bmp", "sub/c.bmp"};
  for (int i = 0; i < 8; ++i) colour.push_back("f" + std::to_string(i) + ".bmp");
  for (const std::string& name : colour) SavePattern(dir.File("in.d/" + name), 17, 9, 24);
  SavePattern(dir.File("in.d/noext"), 17, 9, 8);
  SavePattern(dir.File("extra.dat"), 17, 9, 24);
  testing_support::WriteFileBytes(dir.File("in.d/broken.bmp"), {'B', 'M', 1, 2});
  testing_support::WriteFileBytes(dir.File("in.d/notes.txt"), {'h', 'i', '\n'});
  const Outcome o = Batch({"--jobs", "4", "--to", "pgm", "--out", dir.File("out/"),
                           dir.File("in.d"), dir.File("extra.dat")});
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_NE(o.out.find(dir.File("in.d/broken.bmp")), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("1 converted, 11 converted after a depth change, 1 failed"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(FilesIn(dir.File("out")), 12);  // no broken, notes or sub-folder picture
  for (const char* name : {"a", "b.final", "noext", "f0", "f7", "extra"}) {
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(dir.File("out/" + std::string(name) + ".pgm").c_str()), 0) << name;
    EXPECT_EQ(back.BitCount(), 8);
  }
}

TEST(Batch, SameFolderAndTypeLeavesEveryInputUntouched) {
  TempDir dir;
  const std::string x = SavePattern(dir.File("x.bmp"), 17, 9, 24);
  const std::string y = SavePattern(dir.File("y.bmp"), 17, 9, 8);
  const auto xBytes = ReadFileBytes(x), yBytes = ReadFileBytes(y);
  const Outcome o = Batch({"--to", "bmp", "--out", dir.path(), x, y});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(ReadFileBytes(x), xBytes);
  EXPECT_EQ(ReadFileBytes(y), yBytes);
  EXPECT_NE(o.out.find("output would replace the input"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("0 converted, 0 converted after a depth change, 2 failed"),
            std::string::npos)
      << o.out;
}

// Two inputs with one output name: the first named keeps it, whatever the
// number of jobs. One file named two ways is not a collision.
TEST(Batch, TheFirstInputNamedKeepsACollidingOutput) {
  TempDir dir;
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  const std::string first = SavePattern(dir.File("a/photo.bmp"), 17, 9, 24);
  const std::string second = SavePattern(dir.File("b/photo.pgm"), 17, 9, 8);  // a grey BMP
  for (const char* jobs : {"1", "8"}) {
    const TempDir outDir;
    SCOPED_TRACE(std::string(jobs) + " jobs");
    const Outcome o = Batch({"--jobs", jobs, "--to", "bmp", "--out", outDir.path(), first, second});
    EXPECT_EQ(o.status, 1) << o.out;
    EXPECT_NE(o.out.find(second + ": name collision"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("1 converted, 0 converted after a depth change, 1 failed"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(FilesIn(outDir.path()), 1);
    vxScopedImage back;
    ASSERT_EQ(back.LoadImage(outDir.File("photo.bmp").c_str()), 0);
    EXPECT_EQ(back.BitCount(), 24);  // written from a/photo.bmp
  }
  const Outcome o =
      Batch({"--to", "bmp", "--out", dir.File("o"), first, dir.path() + "/./a/photo.bmp"});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.out.find("collision"), std::string::npos) << o.out;
}

}  // namespace
