// `lunark convert` on every kept malformed input: it exits with 1 and a
// message naming the file, or writes a picture that reads back; within a few
// seconds and, outside AddressSanitizer builds (whose shadow memory needs
// terabytes of address space), within 1 GiB of address space. Also the
// --max-memory option that raises or lowers the picture ceiling.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_util.h"
#include "engine/image.h"

using testing_support::MakePattern;
using testing_support::TempDir;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

TEST(MalformedCli, ConvertFailsCleanlyOrWritesAPicture) {
  const fs::path root = testing_support::DataPath("malformed");
  ASSERT_TRUE(fs::is_directory(root));
  TempDir out;
  int files = 0, failed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    ++files;
    const std::string target = out.File("out.bmp");
    fs::remove(target);
    const Outcome o = Lunark({"convert", path, target}, true);
    EXPECT_LT(o.seconds, 10.0);
    if (o.status == 0) {
      vxScopedImage image;
      EXPECT_EQ(image.LoadImage(target.c_str()), 0) << "a picture was claimed but not written";
    } else {
      ++failed;
      EXPECT_EQ(o.status, 1) << o.err;  // not a crash, a kill or a usage error
      EXPECT_NE(o.err.find("lunark: " + path + ": "), std::string::npos) << o.err;
      EXPECT_FALSE(fs::exists(target));
    }
  }
  EXPECT_GT(files, 20);
  EXPECT_GT(failed, 0);
}

TEST(MalformedCli, MaxMemoryRaisesAndLowersTheCeiling) {
  TempDir dir;
  vxScopedImage image;
  MakePattern(image, 600, 600, 24, 7);  // about 1 MiB of pixels
  const std::string in = dir.File("in.ppm");
  ASSERT_EQ(image.SaveImage(in.c_str(), TypePPM), 0);
  const std::string target = dir.File("out.bmp");

  const Outcome low = Lunark({"convert", "--max-memory", "512K", in, target}, true);
  EXPECT_EQ(low.status, 1);
  EXPECT_NE(low.err.find(in), std::string::npos) << low.err;
  EXPECT_FALSE(fs::exists(target));

  EXPECT_EQ(Lunark({"convert", in, target, "--max-memory", "2M"}, true).status, 0);
  EXPECT_EQ(Lunark({"convert", in, target, "--max-memory", "2"}, true).status, 0);  // MiB
  EXPECT_EQ(Lunark({"info", "--max-memory", "4G", in}, true).status, 0);
  EXPECT_EQ(Lunark({"batch", "--max-memory", "1K", "--to", "bmp", "--out", dir.File("o"), in}, true)
                .status,
            1);

  for (const char* bad : {"0", "-5", "12X", "", "2048G", "1.5G"}) {
    const Outcome o = Lunark({"convert", in, target, "--max-memory", bad}, true);
    EXPECT_EQ(o.status, 2) << bad;
    EXPECT_NE(o.err.find("--max-memory"), std::string::npos) << o.err;
  }
  EXPECT_EQ(Lunark({"info", in, "--max-memory"}, true).status, 2);
}

}  // namespace
