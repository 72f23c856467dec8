// GIF, read only: files of other tools agree with giftopnm, and hand-coded
// streams that lie about their codes or sizes end the picture safely.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "format_util.h"

namespace {

using namespace format_test;

// Packs LZW codes least significant bit first into data sub-blocks.
class CodeWriter {
 public:
  CodeWriter(std::initializer_list<std::pair<int, int>> codesAndSizes = {}) {
    for (auto [code, size] : codesAndSizes) Put(code, size);
  }
  void Put(int code, int size) {
    for (int i = 0; i < size; ++i) {
      if (bit_ == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((code >> i) & 1) << bit_);
      bit_ = (bit_ + 1) & 7;
    }
  }
  std::vector<uint8_t> SubBlocks(size_t blockSize = 255) const { return Split(bytes_, blockSize); }
  static std::vector<uint8_t> Split(const std::vector<uint8_t>& data, size_t blockSize) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < data.size(); i += blockSize) {
      const size_t n = std::min(blockSize, data.size() - i);
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    out.push_back(0);
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  int bit_ = 0;
};

// A GIF87a with a 4-entry global table and one image; `data` follows the code size.
std::vector<uint8_t> MakeGif(int width, int height, int codeSize, const std::vector<uint8_t>& data,
                             int imageFlags = 0) {
  std::vector<uint8_t> g = Bytes("GIF87a");
  for (unsigned v : {4, 4}) Put16(g, v);
  g.insert(g.end(), {0x81, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0x2C});
  for (int v : {0, 0, width, height}) Put16(g, static_cast<unsigned>(v));
  g.insert(g.end(), {static_cast<uint8_t>(imageFlags), static_cast<uint8_t>(codeSize)});
  return Concat(Concat(g, data), {';'});
}

std::string GifbuildFile(const TempDir& dir, const std::string& name, const std::string& text) {
  const std::string src = dir.File(name + ".txt"), out = dir.File(name + ".gif");
  WriteFileBytes(src, Bytes(text));
  Shell("gifbuild " + Quote(src) + " > " + Quote(out));
  return out;
}

// Animated files give their first frame. Noise fills the code table;
// without clear codes the decoder goes on with 12-bit codes and no new
// entries. The hand-built file is interlaced with a local table of 2 entries
// (the palette), and has an aspect byte, a loop block and a comment.
TEST(GifRead, AgreesWithGiftopnmOnEveryVariant) {
  TempDir dir;
  const std::string s = Quote(Crop(dir, "chelsea.ppm", 37, 23, 101, 57));
  ExpectToolFilesLoadLike(
      dir,
      {{"im256.gif", "convert " + s + " -colors 256 gif:-"},
       {"im16.gif", "convert " + s + " -colors 16 gif:-"},
       {"imanimated.gif", "convert " + s + " \\( " + s + " -negate \\) -loop 0 gif:-"},
       {"nb.gif", "pnmquant 200 " + s + " | pamtogif -interlace -comment 'netpbm comment'"},
       {"nolzw.gif", "pnmquant 30 " + s + " | pamtogif -nolzw"},
       {"noclear.gif", "pgmnoise -randomseed=7 120 100 | pamtogif -noclear"}},
      "giftopnm", TypeGIF);
  const std::string built = GifbuildFile(
      dir, "built",
      "screen width 4\nscreen height 9\nscreen colors 4\npixel aspect byte 33\n"
      "screen map\n rgb 0 0 0 is a\n rgb 255 0 0 is b\n rgb 0 255 0 is c\n rgb 0 0 255 is d\nend\n"
      "netscape loop 0\ncomment\nhello comment\nend\nimage\nimage interlaced\n"
      "image map\n rgb 10 20 30 is x\n rgb 200 100 50 is y\nend\nimage bits 4 by 9\n"
      "yxxx\nxyxx\nyyxx\nxxyx\nyxyx\nxyyx\nyyyx\nxxxy\nyxxy\n");
  ExpectLoadsLike(built, "giftopnm " + Quote(built), dir);
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(built.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 2);
}

// Interlaced images of 1 to 4 rows fill every row. An image larger than the
// screen is read whole; the information gives the screen.
TEST(GifRead, ShortInterlacedAndOversizedImagesAreReadWhole) {
  TempDir dir;
  const char* rows[] = {"bb\n", "cc\n", "dd\n", "bc\n"};
  for (int height = 1; height <= 4; ++height) {
    std::string text =
        "screen width 2\nscreen height 4\nscreen map\n rgb 0 0 0 is a\n rgb 9 9 9 is b\n"
        " rgb 7 7 7 is c\n rgb 5 5 5 is d\nend\nimage\nimage interlaced\nimage bits 2 by " +
        std::to_string(height) + "\n";
    for (int r = 0; r < height; ++r) text += rows[r];
    const std::string path = GifbuildFile(dir, "short" + std::to_string(height), text);
    ExpectLoadsLike(path, "giftopnm " + Quote(path), dir);
  }
  const std::string path = GifbuildFile(
      dir, "large",
      "screen width 2\nscreen height 2\nscreen map\n rgb 0 0 0 is a\n rgb 255 255 255 is b\nend\n"
      "image\nimage bits 5 by 3\nabbba\nbabab\naabaa\n");
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.Width(), 5);
  EXPECT_EQ(image.Height(), 3);
  EXPECT_EQ(image.Row(0)[2], 1);
  EXPECT_EQ(InfoOf(path), Info(2, 2, 1, path));
}

TEST(GifRead, FilesWithoutAnImageAreRefused) {
  TempDir dir;
  const std::string path = dir.File("x.gif");
  std::vector<uint8_t> trailerOnly = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
  WriteFileBytes(path, trailerOnly);
  Picture p;
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);
  trailerOnly.pop_back();  // ends before any block
  WriteFileBytes(path, trailerOnly);
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);
  const CodeWriter codes({{4, 3}, {1, 3}, {5, 3}});  // clear, a pixel, end
  WriteFileBytes(path, MakeGif(0, 5, 2, codes.SubBlocks()));
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);  // zero-sized image
}

TEST(GifRead, CorruptCodeStreamsEndThePictureSafely) {
  TempDir dir;
  const std::string path = dir.File("c.gif");
  Picture p;
  // Codes far beyond the table chain into entries that point at each other;
  // the decoder must stop, not loop or overrun its stack.
  NoticeCapture notices;
  CodeWriter chained({{4, 3}, {1, 3}});  // clear, a pixel
  for (int i = 0; i < 3000; ++i) chained.Put((i * 37 + 11) % 4096, i < 2 ? 3 : 12);
  WriteFileBytes(path, MakeGif(64, 64, 2, chained.SubBlocks()));
  EXPECT_EQ(LoadPicture(path, p), 0);
  // A self-referencing entry: 7 lies beyond the next free code 6 and repeats
  // the old code, then an invalid code makes an entry its own prefix; 5 ends.
  const CodeWriter self({{1, 3}, {7, 3}, {7, 4}, {8, 4}, {8, 4}, {15, 4}, {15, 4}, {5, 4}});
  WriteFileBytes(path, MakeGif(8, 8, 2, self.SubBlocks(1)));
  EXPECT_EQ(LoadPicture(path, p), 0);
  // The end code first: nothing is decoded and the picture is index 0.
  WriteFileBytes(path, MakeGif(3, 2, 2, CodeWriter({{5, 3}}).SubBlocks()));
  ASSERT_EQ(LoadPicture(path, p), 0);
  EXPECT_EQ(p.rgb, std::vector<uint8_t>(18, 0));
  // Random code streams of every code size.
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> data(1 + rng() % 700);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const int codeSize = 1 + static_cast<int>(rng() % 8);
    const size_t blockSize = 1 + rng() % 255;
    WriteFileBytes(path, MakeGif(1 + rng() % 90, 1 + rng() % 90, codeSize,
                                 CodeWriter::Split(data, blockSize), (rng() % 2) ? 0x40 : 0));
    EXPECT_LE(LoadPicture(path, p), 0);
  }
}

// A save is refused and leaves any file as it was.
TEST(GifWrite, IsRefusedWithoutTouchingAnyFile) {
  TempDir dir;
  vxScopedImage image;
  MakePattern(image, 5, 4, 8);
  const std::string fresh = dir.File("new.gif"), existing = dir.File("old.gif");
  vxClearLastError();
  EXPECT_EQ(WriteWith(TypeGIF, fresh, image), -1);
  EXPECT_EQ(vxLastError(), "GIF is a read-only format");
  EXPECT_FALSE(std::filesystem::exists(fresh));
  WriteFileBytes(existing, Bytes("keep"));
  EXPECT_NE(image.SaveImage(existing.c_str(), TypeGIF), 0);
  EXPECT_EQ(ReadFileBytes(existing), Bytes("keep"));
}

}  // namespace
