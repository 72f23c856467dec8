// The image block, pixel access, file-type detection and notices.
#include "engine/image.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/notice.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

TEST(BlockLayout, RowsArePaddedAndAllocationRefusesBadSizes) {
  vxScopedImage colour, grey;
  ASSERT_EQ(colour.Create(3, 2, 24, 0), 1);
  EXPECT_EQ(colour.Stride(), 12u);  // 9 bytes padded to a multiple of 4
  EXPECT_EQ(static_cast<void*>(colour.palette), static_cast<void*>(colour.bits));
  for (int y = 0; y < 2; ++y) {
    for (int i = 0; i < 9; ++i) EXPECT_EQ(colour.Row(y)[i], 128);  // starts mid-grey
  }
  ASSERT_EQ(grey.Create(3, 2, 8, 256), 1);
  EXPECT_EQ(grey.Stride(), 4u);
  EXPECT_TRUE(grey.IsGreyRamp());

  EXPECT_EQ(vxAllocateBlock(0, 10, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, -1, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 8, 257), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 7, 0), nullptr);
  EXPECT_EQ(vxAllocateBlock(2000000000, 2000000000, 24, 0), nullptr);  // size overflows
  const uint64_t old = vxMaxImageBytes();
  vxSetMaxImageBytes(1000);
  vxClearLastError();
  EXPECT_EQ(vxAllocateBlock(100, 100, 8, 256), nullptr);
  EXPECT_NE(vxLastError().find("too large"), std::string::npos);
  vxSetMaxImageBytes(old);
}

TEST(PixelAccess, CoordinatesAreClampedAndDepthsChecked) {
  vxScopedImage img, colour;
  img.Create(4, 3, 8, 256);
  img.SetColor(0, 2, 77);
  unsigned char v = 0;
  EXPECT_EQ(img.GetColor(-5, 6, &v), 0);
  EXPECT_EQ(v, 77);
  img.SetColor(100, -100, 9);
  img.GetColor(3, 0, &v);
  EXPECT_EQ(v, 9);

  // Grey access to a colour image is refused; colours are stored blue first.
  colour.Create(2, 2, 24, 0);
  EXPECT_EQ(colour.GetColor(0, 0, &v), -2);
  EXPECT_EQ(colour.SetColor(0, 0, v), -2);
  EXPECT_EQ(colour.StreamColor(v), -2);
  EXPECT_EQ(colour.SetColor(1, 1, 1, 2, 3), 0);
  EXPECT_EQ(colour.Row(1)[3], 3);
  EXPECT_EQ(colour.Row(1)[5], 1);
}

TEST(PixelAccess, StreamingCursorFillsTopDownAndWraps) {
  vxScopedImage img;
  img.Create(3, 2, 8, 256);
  img.InitializePos();
  for (int i = 0; i < 6; ++i) ASSERT_EQ(img.StreamColor(static_cast<unsigned char>(i)), 0);
  EXPECT_EQ(img.Row(1)[0], 0);  // top line first, left to right
  EXPECT_EQ(img.Row(1)[2], 2);
  EXPECT_EQ(img.Row(0)[0], 3);
  EXPECT_EQ(img.Row(0)[2], 5);
  img.StreamColor(42);  // one more wraps to the top-left pixel
  EXPECT_EQ(img.Row(1)[0], 42);
}

TEST(Palette, EntriesBeyondTheCountAreBlackAndTheHandleIsRedFirst) {
  vxScopedImage img, handle;
  img.Create(2, 2, 8, 16);
  img.palette[15] = {1, 2, 3, 0};
  EXPECT_EQ(img.PaletteEntry(15).red, 3);
  const vxRGBA beyond = img.PaletteEntry(16);
  EXPECT_EQ(beyond.red | beyond.green | beyond.blue, 0);
  EXPECT_FALSE(img.IsGreyRamp());  // 16 entries are not the 256-entry ramp

  vxRGBA entries[16];
  for (int i = 0; i < 16; ++i)
    entries[i] = {static_cast<uint8_t>(i), 0, static_cast<uint8_t>(200 + i), 0};
  ASSERT_EQ(handle.CreateRGBPalette(16, entries), 1);
  ASSERT_NE(handle.paletteHandle, nullptr);
  EXPECT_EQ(handle.paletteHandle->count, 16);
  EXPECT_EQ(handle.paletteHandle->entries[5].red, 205);
  EXPECT_EQ(handle.paletteHandle->entries[5].blue, 5);
}

TEST(TypeDetection, FollowsTheMagicTable) {
  const struct {
    std::vector<uint8_t> bytes;
    int type;
  } cases[] = {
      {{'B', 'M', 0, 0}, TypeBMP},
      {{'P', '5', '\n'}, TypePGM},
      {{'P', '6', '\n'}, TypePPM},
      {{'W'}, -1},  // bytes beyond the end match nothing
      {{'W', '5'}, TypeWIF},
      {{'W', '8'}, TypeWIF},
      {{'G', 'I', 'F', '8', '9', 'a'}, TypeGIF},
      {{'G', 'I', 'F', '8', '8', 'a'}, -1},
      {{'I', 'I', 0x2A, 0}, TypeTIFF},
      {{'M', 'M', 0, 0x2A}, TypeTIFF},
      {{0xFF, 0xD8, 0xFF}, TypeJPEG},
      {{0x0A, 5, 1, 8}, TypePCX},
      {{0, 1, 1}, TypeTGA},
      {{0, 1, 9}, TypeTGA},  // colour-mapped, run-length
      {{0, 0, 2, 0, 0, 0, 0, 0}, TypeTGA},
      {{0, 0, 11, 0, 0, 0, 0, 0}, TypeTGA},
      {{0, 0, 3, 0, 0, 0, 0}, -1},  // one byte short
      {{'h', 'e', 'l', 'l', 'o'}, -1},
  };
  TempDir dir;
  const std::string path = dir.File("probe");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(vxImage::GetFileType(path.c_str()), c.type);
  }
  EXPECT_EQ(vxImage::GetFileType("/nonexistent/file"), -1);

  // The stream form reads at the current position and seeks back to it.
  WriteFileBytes(path, {'x', 'x', 'B', 'M', 1, 2, 3});
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 2, SEEK_SET);
  EXPECT_EQ(vxImage::GetFileType(f), TypeBMP);
  EXPECT_EQ(std::ftell(f), 2);
  std::fclose(f);
}

TEST(EngineCalls, UnknownFilesFailWithoutTouchingTheImage) {
  TempDir dir;
  const std::string path = dir.File("notes.txt");
  WriteFileBytes(path, {'h', 'e', 'l', 'l', 'o'});
  vxFileInfo info{11, 22, 33, 44};
  EXPECT_EQ(vxImage::GetInfo(path.c_str(), &info), -1);
  EXPECT_EQ(info.width, 11);
  EXPECT_EQ(info.fileSize, 44u);
  vxScopedImage img;
  img.Create(2, 2, 8, 256);
  unsigned char* before = img.bits;
  EXPECT_EQ(img.LoadImage(path.c_str()), -1);
  EXPECT_EQ(img.bits, before);
  for (int type : {0, 6, 13}) EXPECT_EQ(vxImage::CreateRWImage(type), nullptr) << type;
}

// Notices reach the installed sink with the file in scope; a capture keeps
// only its own thread's notices until they are delivered.
TEST(Notices, CapturedOnTheirThreadAndDeliveredWithTheFile) {
  std::vector<vxNotice> seen, kept;
  auto previous = vxSetNoticeSink([&](const vxNotice& n) { seen.push_back(n); });
  {
    const vxNoticeCapture capture(kept);
    const vxNoticeFileScope scope("next.gif");
    vxPostNotice(vxNoticeKind::Warning, "GIF", "got an extension");
    std::thread([] { vxPostNotice(vxNoticeKind::Info, "", "elsewhere"); }).join();
  }
  vxPostNotice(vxNoticeKind::Info, "TIFF", "after");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, "elsewhere");
  EXPECT_EQ(seen[1].text, "after");
  EXPECT_EQ(seen[1].file, "");  // the file scope has ended
  EXPECT_EQ(seen[1].caption, "TIFF");
  ASSERT_EQ(kept.size(), 1u);
  vxDeliverNotice(kept[0]);
  vxSetNoticeSink(previous);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].file, "next.gif");
  EXPECT_EQ(seen[2].caption, "GIF");
  EXPECT_EQ(seen[2].text, "got an extension");

  vxClearLastError();
  vxSetLastError("first");
  vxSetLastError("second");
  EXPECT_EQ(vxLastError(), "first");  // the first reason is the one reported
  vxClearLastError();
  EXPECT_EQ(vxLastError(), "");
}

}  // namespace
