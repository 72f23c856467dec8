#include "formats/pnm/pnm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/threads.h"
#include "format_util.h"
#include "formats/registry.h"

namespace {

using namespace format_test;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// ReadPNMHeader on a byte string.
int ParseHeader(const std::string& text, char* magic, int* w, int* h, int* m) {
  FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  const int r = ReadPNMHeader(f, magic, w, h, m);
  std::fclose(f);
  return r;
}

// Comments and the one separator byte are judged on whole files below.
TEST(PnmHeader, ParsesNumbersAndRefusesBrokenHeaders) {
  char magic[2];
  int w = 0, h = 0, m = 0;
  // A minus sign is not a digit and is skipped.
  EXPECT_EQ(ParseHeader("P6 -1 4\t255\r", magic, &w, &h, &m), 0);
  EXPECT_EQ(std::string(magic, 2), "P6");
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 4);
  EXPECT_EQ(m, 255);

  EXPECT_EQ(ParseHeader("P5 2 2 # comment without end", magic, &w, &h, &m), -1);
  EXPECT_EQ(ParseHeader("P5 2 2 255", magic, &w, &h, &m), -1);  // no separator
  EXPECT_EQ(ParseHeader("P5 99999999999 2 255\n", magic, &w, &h, &m), -1);
  EXPECT_EQ(ParseHeader("P", magic, &w, &h, &m), -1);
}

TEST(PnmRead, ByteCountIsTheSampleBytes) {
  TempDir dir;
  const std::string path = dir.File("small.pgm");
  WriteFileBytes(path, Concat(Bytes("P5\n# made by hand\n2 2\n15\n"), {0x00, 0x05, 0x0A, 0x0F}));
  vxScopedImage image;
  ASSERT_EQ(image.LoadImage(path.c_str()), 0);
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.loadedBytes, 4);
}

TEST(PnmRead, AgreesWithNetpbmOnEveryVariant) {
  TempDir dir;
  const std::string cat = testing_support::DataPath("chelsea.ppm");
  const std::string man = testing_support::DataPath("camera.pgm");
  const std::string crop = "pamcut -left 101 -top 57 -width 37 -height 23 ";
  Shell(crop + Quote(cat) + " > " + Quote(dir.File("odd.ppm")));
  Shell(crop + Quote(man) + " > " + Quote(dir.File("odd.pgm")));
  // Maxima of 100 and 65535 (two-byte samples, most significant first).
  Shell("pamdepth 100 " + Quote(dir.File("odd.ppm")) + " > " + Quote(dir.File("max100.ppm")));
  Shell("pamdepth 65535 " + Quote(dir.File("odd.ppm")) + " > " + Quote(dir.File("max65535.ppm")));
  Shell("pamdepth 1000 " + Quote(dir.File("odd.pgm")) + " > " + Quote(dir.File("max1000.pgm")));
  Shell("pamdepth 7 " + Quote(dir.File("odd.pgm")) + " > " + Quote(dir.File("max7.pgm")));
  Shell("convert " + Quote(dir.File("odd.ppm")) + " -depth 16 " + Quote(dir.File("im16.ppm")));

  // Comments between every field, and a blank as the one separator after the
  // maximum value while the first sample is a line feed.
  const auto raw = ReadFileBytes(dir.File("odd.ppm"));
  const std::string head = "P6\n37 23\n255\n";
  ASSERT_EQ(std::string(raw.begin(), raw.begin() + head.size()), head);
  std::vector<uint8_t> samples(raw.begin() + head.size(), raw.end());
  WriteFileBytes(dir.File("comments.ppm"),
                 Concat(Bytes("P6 # colour\n# whole line 12 34\n37\n#w\n 23 #h\n255\n"), samples));
  samples[0] = '\n';
  WriteFileBytes(dir.File("blank.ppm"), Concat(Bytes("P6 37 23 255 "), samples));

  for (const char* name : {"odd.ppm", "odd.pgm", "max100.ppm", "max65535.ppm", "max1000.pgm",
                           "max7.pgm", "im16.ppm", "comments.ppm", "blank.ppm"}) {
    SCOPED_TRACE(name);
    ExpectLoadsLike(dir.File(name), "pamdepth 255 " + Quote(dir.File(name)), dir);
  }
  Picture blank;
  ASSERT_EQ(LoadPicture(dir.File("blank.ppm"), blank), 0);
  EXPECT_EQ(blank.rgb[0], '\n');
}

TEST(PnmRead, RefusesBadHeadersAndClosesTheFile) {
  TempDir dir;
  const std::string path = dir.File("bad.pgm");
  const int before = OpenDescriptors();
  for (const std::string& text :
       {std::string("P5 2 2 0\n\x01\x02\x03\x04"), std::string("P5 0 2 255\n\x01\x02"),
        std::string("P6 2 2 70000\n"), std::string("P5 2 2"), std::string("P5 2 2 # open")}) {
    WriteFileBytes(path, Bytes(text));
    Picture p;
    EXPECT_LT(LoadPicture(path, p), 0) << text;
    EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
    std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(TypePGM));
    vxFileInfo info{};
    EXPECT_LT(rw->GetFileInfo(path.c_str(), &info), 0) << text;
  }
  // A P6 file handed to the PGM class is not recognised either.
  WriteFileBytes(path, Bytes("P6 1 1 255\nabc"));
  EXPECT_EQ(ReadDirect(TypePGM, path), vxNotRecognised);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PnmRead, ShortAndCorruptedFiles) {
  TempDir dir;
  const std::string crop = "pamcut -left 200 -top 100 -width 9 -height 7 ";
  Shell(crop + Quote(testing_support::DataPath("chelsea.ppm")) + " > " + Quote(dir.File("s.ppm")));
  Shell(crop + Quote(testing_support::DataPath("camera.pgm")) + " | pamdepth 1000 > " +
        Quote(dir.File("s16.pgm")));
  uint32_t seed = 1;
  for (const char* name : {"s.ppm", "s16.pgm"}) {
    SCOPED_TRACE(name);
    LoadEveryPrefix(dir.File(name), dir);
    LoadMutations(ReadFileBytes(dir.File(name)), dir, seed++);
  }
}

// Pictures this large are read by halves on two threads when the process may
// use them; the odd sizes make the halves unequal and pad the rows in memory.
TEST(PnmRead, LargeFilesGiveTheSamePixelsOnOneThreadAndOnTwo) {
  TempDir dir;
  uint32_t state = 1;
  auto noise = [&](size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
  };
  const std::vector<uint8_t> colour = noise(size_t{2731} * 2049 * 3);
  const std::vector<uint8_t> grey = noise(size_t{4099} * 4097);
  WriteFileBytes(dir.File("big.ppm"), Concat(Bytes("P6 2731 2049 255\n"), colour));
  WriteFileBytes(dir.File("big.pgm"), Concat(Bytes("P5 4099 4097 255\n"), grey));
  std::vector<uint8_t> greyRgb(grey.size() * 3);
  for (size_t i = 0; i < grey.size(); ++i) std::memset(&greyRgb[3 * i], grey[i], 3);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    vxSetWorkerThreads(threads);
    Picture p;
    ASSERT_EQ(LoadPicture(dir.File("big.ppm"), p), 0);
    EXPECT_TRUE(p.rgb == colour);
    ASSERT_EQ(LoadPicture(dir.File("big.pgm"), p), 0);
    EXPECT_TRUE(p.rgb == greyRgb);
  }
  vxSetWorkerThreads(0);
}

TEST(PnmRead, AbsurdSizesAreRefusedBeforeAllocating) {
  TempDir dir;
  const std::string path = dir.File("huge.pgm");
  Picture p;
  // Within the memory ceiling, but the file holds 4 of 900 million bytes.
  WriteFileBytes(path, Bytes("P5 30000 30000 255\nabcd"));
  EXPECT_EQ(LoadPicture(path, p), vxNotRecognised);
  EXPECT_NE(vxLastError().find("sample bytes"), std::string::npos) << vxLastError();
  WriteFileBytes(path, Bytes("P6 2147483647 2147483647 255\nabcd"));
  EXPECT_LT(LoadPicture(path, p), 0);
  // A small picture cut short is still shown.
  WriteFileBytes(path, Bytes("P5 100 100 255\nabcd"));
  ASSERT_EQ(LoadPicture(path, p), 0);
  EXPECT_EQ(p.rgb[0], 'a');
  EXPECT_EQ(p.rgb[3 * 4], 0);
}

TEST(PnmInfo, ReportsDepthByMagic) {
  TempDir dir;
  WriteFileBytes(dir.File("c.ppm"), Bytes("P6\n300 2\n255\n"));
  WriteFileBytes(dir.File("g.pgm"), Bytes("P5\n70000 3\n255\n"));
  EXPECT_EQ(InfoOf(dir.File("c.ppm")), "300 x 2, 24 bits, 13 bytes");
  EXPECT_EQ(InfoOf(dir.File("g.pgm")), Info(70000 & 0xFFFF, 3, 8, dir.File("g.pgm")));
}

TEST(PnmWrite, NetpbmReadsWhatWeWrite) {
  TempDir dir;
  for (int bitCount : {24, 8}) {
    vxScopedImage image;
    testing_support::MakePattern(image, 37, 23, bitCount, 5);
    const int type = bitCount == 24 ? TypePPM : TypePGM;
    const std::string path = dir.File(bitCount == 24 ? "w.ppm" : "w.pgm");
    ASSERT_EQ(image.SaveImage(path.c_str(), type), 0);
    Picture theirs;
    ASSERT_TRUE(ToolPicture("pamdepth 255 " + Quote(path), dir, theirs));
    EXPECT_EQ(theirs.width, 37);
    EXPECT_EQ(theirs.rgb, testing_support::TopDownRGB(image));
    const auto bytes = ReadFileBytes(path);
    const std::string head = bitCount == 24 ? "P6 37 23 255\n" : "P5 37 23 255\n";
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + head.size()), head);
  }
}

TEST(PnmWrite, PgmLayoutAndGreyPalettesThatAreNotTheRamp) {
  TempDir dir;
  vxScopedImage image;
  ASSERT_EQ(image.Create(3, 2, 8, 256), 1);
  const unsigned char top[3] = {1, 2, 3}, bottom[3] = {4, 5, 250};
  std::memcpy(image.Row(1), top, 3);
  std::memcpy(image.Row(0), bottom, 3);
  const std::string path = dir.File("t.pgm");
  ASSERT_EQ(image.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 3 2 255\n"), {1, 2, 3, 4, 5, 250}));

  // A reversed grey ramp: the file holds grey levels, not indices.
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(255 - i);
    image.palette[i] = vxRGBA{v, v, v, 0};
  }
  ASSERT_EQ(image.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 3 2 255\n"), {254, 253, 252, 251, 250, 5}));

  // A 64-entry grey palette: indices beyond it are black.
  vxScopedImage grey64;
  ASSERT_EQ(grey64.Create(2, 1, 8, 64), 1);
  for (int i = 0; i < 64; ++i) {
    const auto v = static_cast<uint8_t>(i * 4 + 3);
    grey64.palette[i] = vxRGBA{v, v, v, 0};
  }
  grey64.Row(0)[0] = 10;
  grey64.Row(0)[1] = 63;
  ASSERT_EQ(grey64.SaveImage(path.c_str(), TypePGM), 0);
  EXPECT_EQ(ReadFileBytes(path), Concat(Bytes("P5 2 1 255\n"), {43, 255}));
}

}  // namespace
