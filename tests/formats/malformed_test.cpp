// Broken files of every format: the inputs that ever crashed, hung or leaked
// a reader (tests/data/malformed/<format>/), and every prefix and random
// damage of files other programs wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "format_util.h"

namespace fs = std::filesystem;

namespace {

using namespace format_test;

// Each input is also read by the class of its folder's format, whatever the
// content says ("load" holds inputs of no one format).
TEST(MalformedFiles, EveryKeptInputLoadsOrFailsCleanly) {
  const std::map<std::string, int> kTypes = {
      {"bmp", TypeBMP}, {"pcx", TypePCX}, {"ppm", TypePPM},   {"pgm", TypePGM}, {"tiff", TypeTIFF},
      {"tga", TypeTGA}, {"gif", TypeGIF}, {"jpeg", TypeJPEG}, {"wif", TypeWIF}};
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(DataPath("malformed"))) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    ++files;
    const auto start = std::chrono::steady_clock::now();
    vxScopedImage image;
    vxClearLastError();
    const int loaded = image.LoadImage(path.c_str());
    // Every pixel is read for the sanitizer; known types say what is wrong.
    EXPECT_TRUE(loaded == 0
                    ? !TopDownRGB(image).empty()
                    : loaded == vxCannotOpen || loaded == vxNotRecognised || loaded == vxNoMemory)
        << loaded;
    EXPECT_TRUE(loaded == 0 || vxImage::GetFileType(path.c_str()) < 0 || !vxLastError().empty());
    vxFileInfo info{};
    vxImage::GetInfo(path.c_str(), &info);
    const auto type = kTypes.find(entry.path().parent_path().filename());
    if (type != kTypes.end()) ReadDirect(type->second, path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
  EXPECT_GT(files, 20);
}

// Small files whose headers claim pictures of hundreds of megabytes are
// refused for their length, not left to the memory ceiling: raised to 4 GiB
// here, it would let every one of them through.
TEST(MalformedFiles, HeadersThatClaimFarMoreThanTheFileAreRefused) {
  ImageCeiling ceiling(uint64_t{4} << 30);
  for (const char* name :
       {"wif/huge-dims-grey-one-level.wif", "bmp/rle8-end-at-once.bmp", "bmp/huge-dims.bmp",
        "tiff/huge-dims-deflate-partial.tif", "tga/huge-dims-rle.tga", "tga/huge-dims-raw.tga",
        "pcx/huge-dims.pcx", "ppm/huge-dims.ppm", "gif/huge-dims.gif"}) {
    const std::string path = DataPath("malformed/" + std::string(name));
    vxScopedImage image;
    EXPECT_EQ(image.LoadImage(path.c_str()), vxNotRecognised) << name;
    EXPECT_FALSE(vxLastError().empty()) << name;
  }
}

// Every prefix and random damage of files other programs wrote, one of each
// kind of coding. A cut-off line of a planar PCX may mix its planes (`stray`
// pixels); the 256-colour PCX loses its trailing palette when cut, so only
// its damaged copies are loaded.
TEST(MalformedFiles, PrefixesAndDamageOfToolFilesLoadOrFailCleanly) {
  TempDir dir;
  const std::string crop = Quote(Crop(dir, "chelsea.ppm", 13, 7, 180, 100));
  const std::string grey = Quote(Crop(dir, "camera.pgm", 9, 7, 200, 100));
  const struct {
    const char* name;
    std::string command;
    size_t stray;
    bool prefixes;
  } kFiles[] = {
      {"s.ppm", "cat " + crop, 0, true},
      {"s16.pgm", "pamdepth 1000 " + grey, 0, true},
      {"p.gif", "pnmquant 40 " + crop + " | pamtogif -interlace -comment 'prefix test'", 0, true},
      {"t.pcx", "ppmtopcx -24bit " + crop, 13, true},
      {"p.pcx", "pnmquant 16 " + crop + " | ppmtopcx", 13, true},
      {"e.pcx", "pnmquant 100 " + crop + " | ppmtopcx", 0, false},
      {"a.tga", "convert " + crop + " -compress RLE -set comment id tga:-", 0, true},
      {"b.tga", "pnmquant 16 " + crop + " | pamtotga -cmap16 -norle -name xyz", 0, true}};
  uint32_t seed = 1;
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.name);
    const std::string path = dir.File(f.name);
    Shell(f.command + " > " + Quote(path));
    LoadHostileCopies(path, dir, seed++, 300, f.prefixes, f.stray);
  }
}

}  // namespace
