#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "format_util.h"
#include "formats/registry.h"

namespace {

using namespace format_test;

// Packs LZW codes least significant bit first and splits the result into
// data sub-blocks.
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

// A GIF87a with a 4-entry global table and one image of the given size;
// `data` follows the code-size byte.
std::vector<uint8_t> MakeGif(int width, int height, int codeSize, const std::vector<uint8_t>& data,
                             int imageFlags = 0) {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '7', 'a'};
  Put16(g, 4);
  Put16(g, 4);
  g.insert(g.end(), {0x81, 0, 0});
  g.insert(g.end(), {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  g.push_back(0x2C);
  Put16(g, 0);
  Put16(g, 0);
  Put16(g, static_cast<unsigned>(width));
  Put16(g, static_cast<unsigned>(height));
  g.push_back(static_cast<uint8_t>(imageFlags));
  g.push_back(static_cast<uint8_t>(codeSize));
  g.insert(g.end(), data.begin(), data.end());
  g.push_back(';');
  return g;
}

std::string GifbuildFile(const TempDir& dir, const std::string& name, const std::string& text) {
  const std::string src = dir.File(name + ".txt"), out = dir.File(name + ".gif");
  WriteFileBytes(src, std::vector<uint8_t>(text.begin(), text.end()));
  Shell("gifbuild " + Quote(src) + " > " + Quote(out));
  return out;
}

const char kInterlacedNineRows[] =
    "screen width 4\nscreen height 9\nscreen colors 4\npixel aspect byte 33\n"
    "screen map\n rgb 0 0 0 is a\n rgb 255 0 0 is b\n rgb 0 255 0 is c\n rgb 0 0 255 is d\nend\n"
    "netscape loop 0\n"
    "comment\nhello comment\nend\n"
    "image\nimage interlaced\n"
    "image map\n rgb 10 20 30 is x\n rgb 200 100 50 is y\nend\n"
    "image bits 4 by 9\n"
    "yxxx\nxyxx\nyyxx\nxxyx\nyxyx\nxyyx\nyyyx\nxxxy\nyxxy\n";

TEST(GifRead, AgreesWithGiftopnmOnEveryVariant) {
  TempDir dir;
  const std::string src = dir.File("src.ppm");
  Shell("pamcut -left 101 -top 57 -width 37 -height 23 " + Quote(DataPath("chelsea.ppm")) + " > " +
        Quote(src));
  const std::string s = Quote(src);
  auto f = [&](const char* name) { return Quote(dir.File(name)); };
  Shell("convert " + s + " -colors 256 " + f("im256.gif"));
  Shell("convert " + s + " -colors 16 " + f("im16.gif"));
  Shell("convert " + s + " -colors 2 " + f("im2.gif"));
  Shell("convert " + s + " -colors 64 -interlace GIF " + f("iminterlaced.gif"));
  Shell("convert " + s + " -colors 100 -comment 'a comment' " + f("imcomment.gif"));
  // Animated: the first frame is read, and the loop block is an
  // application extension.
  Shell("convert " + s + " \\( " + s + " -negate \\) -loop 0 " + f("imanimated.gif"));
  Shell("pnmquant 200 " + s + " | pamtogif -interlace -comment 'netpbm comment' > " + f("nb.gif"));
  Shell("pnmquant 30 " + s + " | pamtogif -nolzw > " + f("nolzw.gif"));
  // Noise fills the code table; without clear codes the decoder goes on
  // with 12-bit codes and no new entries.
  Shell("pgmnoise -randomseed=7 120 100 | pamtogif -noclear > " + f("noclear.gif"));
  const std::string built = GifbuildFile(dir, "built", kInterlacedNineRows);

  for (const char* name : {"im256.gif", "im16.gif", "im2.gif", "iminterlaced.gif", "imcomment.gif",
                           "imanimated.gif", "nb.gif", "nolzw.gif", "noclear.gif", "built.gif"}) {
    SCOPED_TRACE(name);
    NoticeCapture notices;
    ExpectLoadsLike(dir.File(name), "giftopnm " + Quote(dir.File(name)), dir);
    if (std::string(name) == "imanimated.gif") {
      EXPECT_EQ(notices.Count("got a 'Application' extension"), 1);
    }
  }
  // The hand-built file's local table of 2 entries is the palette, and its
  // aspect byte brings a notice naming the file, its text as caption.
  NoticeCapture notices;
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(built.c_str()), 0);
  EXPECT_EQ(image.ColoursUsed(), 2);
  EXPECT_EQ(notices.Count("warning - non-square pixels; to fix do a 'pnmscale -xscale 1.33333'"),
            1);
  for (const vxNotice& n : notices.notices()) {
    EXPECT_EQ(n.file, built);
    EXPECT_EQ(n.caption, n.text);
  }
}

TEST(GifRead, ShortInterlacedImagesFillEveryRow) {
  TempDir dir;
  for (int height = 1; height <= 4; ++height) {
    std::string text =
        "screen width 2\nscreen height 4\nscreen map\n rgb 0 0 0 is a\n rgb 9 9 9 is b\n"
        " rgb 7 7 7 is c\n rgb 5 5 5 is d\nend\nimage\nimage interlaced\nimage bits 2 by " +
        std::to_string(height) + "\n";
    const char* rows[] = {"bb\n", "cc\n", "dd\n", "bc\n"};
    for (int r = 0; r < height; ++r) text += rows[r];
    const std::string path = GifbuildFile(dir, "short" + std::to_string(height), text);
    vxScopedImage image;
    ASSERT_EQ(image.LoadImage(path.c_str()), 0);
    ASSERT_EQ(image.Height(), height);
    // No local table: 256 entries, the first four from the global table.
    EXPECT_EQ(image.ColoursUsed(), 256);
    EXPECT_EQ(image.palette[1].red, 9);
    for (int r = 0; r < height; ++r) {
      EXPECT_NE(image.Row(height - 1 - r)[0], 0) << "height " << height << " row " << r;
    }
  }
}

TEST(GifRead, ImageLargerThanTheScreenIsReadWhole) {
  TempDir dir;
  const std::string path = GifbuildFile(
      dir, "large",
      "screen width 2\nscreen height 2\nscreen map\n rgb 0 0 0 is a\n rgb 255 255 255 is b\nend\n"
      "image\nimage bits 5 by 3\nabbba\nbabab\naabaa\n");
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.Width(), 5);
  EXPECT_EQ(image.Height(), 3);
  EXPECT_EQ(image.Row(0)[2], 1);
  EXPECT_EQ(image.Row(0)[4], 0);
  EXPECT_EQ(InfoOf(path), Info(2, 2, 1, path));  // the logical screen
}

TEST(GifRead, FilesWithoutAnImageAreRefused) {
  TempDir dir;
  const std::string path = dir.File("x.gif");
  NoticeCapture notices;
  std::vector<uint8_t> trailerOnly = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
  WriteFileBytes(path, trailerOnly);
  Picture p;
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);
  EXPECT_EQ(notices.Count("only 0 images found in file"), 1);

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
  {
    NoticeCapture notices;
    CodeWriter codes({{4, 3}, {1, 3}});  // clear, a pixel
    for (int i = 0; i < 3000; ++i) codes.Put((i * 37 + 11) % 4096, i < 2 ? 3 : 12);
    WriteFileBytes(path, MakeGif(64, 64, 2, codes.SubBlocks()));
    EXPECT_EQ(LoadPicture(path, p), 0);
  }
  // A self-referencing entry: code 6 while 6 is the next free code, then an
  // invalid code that makes an entry its own prefix.
  {
    // 7 lies beyond the next free code 6 and repeats the old code; 5 ends.
    const CodeWriter codes({{1, 3}, {7, 3}, {7, 4}, {8, 4}, {8, 4}, {15, 4}, {15, 4}, {5, 4}});
    WriteFileBytes(path, MakeGif(8, 8, 2, codes.SubBlocks(1)));
    EXPECT_EQ(LoadPicture(path, p), 0);
  }
  // The end code first: nothing is decoded and the picture is index 0.
  {
    const CodeWriter codes({{5, 3}});
    WriteFileBytes(path, MakeGif(3, 2, 2, codes.SubBlocks()));
    ASSERT_EQ(LoadPicture(path, p), 0);
    EXPECT_EQ(p.rgb, std::vector<uint8_t>(18, 0));
  }
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

// GIF is read-only: a save is refused and leaves any file as it was.
TEST(GifWrite, IsRefusedWithoutTouchingAnyFile) {
  TempDir dir;
  vxScopedImage image;
  MakePattern(image, 5, 4, 8);
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(TypeGIF));
  const std::string fresh = dir.File("new.gif"), existing = dir.File("old.gif");
  vxClearLastError();
  EXPECT_EQ(rw->Write(fresh.c_str(), image.header, image.palette, image.bits, nullptr), -1);
  EXPECT_EQ(vxLastError(), "GIF is a read-only format");
  EXPECT_FALSE(std::filesystem::exists(fresh));
  WriteFileBytes(existing, {'k', 'e', 'e', 'p'});
  EXPECT_NE(image.SaveImage(existing.c_str(), TypeGIF), 0);
  EXPECT_EQ(ReadFileBytes(existing), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

}  // namespace
