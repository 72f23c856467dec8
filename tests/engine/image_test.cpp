#include "engine/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "engine/notice.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

int TypeOfBytes(const std::vector<uint8_t>& bytes) {
  TempDir dir;
  const std::string path = dir.File("probe");
  WriteFileBytes(path, bytes);
  return vxImage::GetFileType(path.c_str());
}

TEST(BlockLayout, CreateFollowsTheSizeRule) {
  vxScopedImage colour;
  ASSERT_EQ(colour.Create(3, 2, 24, 0), 1);
  EXPECT_EQ(colour.Stride(), 12u);
  EXPECT_EQ(colour.header->coloursUsed, 0u);
  EXPECT_EQ(static_cast<void*>(colour.palette), static_cast<void*>(colour.bits));
  for (int y = 0; y < 2; ++y) {
    for (int i = 0; i < 9; ++i) EXPECT_EQ(colour.Row(y)[i], 128);
  }

  vxScopedImage grey;
  ASSERT_EQ(grey.Create(3, 2, 8, 256), 1);
  EXPECT_EQ(grey.Stride(), 4u);
  EXPECT_TRUE(grey.IsGreyRamp());
}

TEST(BlockLayout, AllocationRefusesOverflowAndTheCeiling) {
  EXPECT_EQ(vxAllocateBlock(0, 10, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, -1, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 8, 257), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 7, 0), nullptr);
  EXPECT_EQ(vxAllocateBlock(2000000000, 2000000000, 24, 0), nullptr);
  const uint64_t old = vxMaxImageBytes();
  vxSetMaxImageBytes(1000);
  vxClearLastError();
  EXPECT_EQ(vxAllocateBlock(100, 100, 8, 256), nullptr);
  EXPECT_NE(vxLastError().find("too large"), std::string::npos);
  vxSetMaxImageBytes(old);
}

TEST(PixelAccess, CoordinatesAreClampedAndDepthsChecked) {
  vxScopedImage img;
  img.Create(4, 3, 8, 256);
  img.SetColor(0, 2, 77);
  unsigned char v = 0;
  EXPECT_EQ(img.GetColor(-5, 3 + 3, &v), 0);
  EXPECT_EQ(v, 77);
  img.SetColor(100, -100, 9);
  img.GetColor(3, 0, &v);
  EXPECT_EQ(v, 9);

  // Grey access to a colour image is refused; colours are stored blue first.
  vxScopedImage colour;
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
  // Reading order: top line first, left to right.
  EXPECT_EQ(img.Row(1)[0], 0);
  EXPECT_EQ(img.Row(1)[2], 2);
  EXPECT_EQ(img.Row(0)[0], 3);
  EXPECT_EQ(img.Row(0)[2], 5);
  img.StreamColor(42);  // one more wraps to the top-left pixel
  EXPECT_EQ(img.Row(1)[0], 42);
}

TEST(PaletteEntry, IndicesBeyondThePaletteAreBlack) {
  vxScopedImage img;
  img.Create(2, 2, 8, 16);
  img.palette[15] = {1, 2, 3, 0};
  EXPECT_EQ(img.PaletteEntry(15).red, 3);
  const vxRGBA beyond = img.PaletteEntry(16);
  EXPECT_EQ(beyond.red | beyond.green | beyond.blue, 0);
  EXPECT_FALSE(img.IsGreyRamp());  // 16 entries are not the 256-entry ramp
}

TEST(RGBPalette, HoldsTheEntriesRedGreenBlue) {
  vxScopedImage img;
  vxRGBA entries[16];
  for (int i = 0; i < 16; ++i)
    entries[i] = {static_cast<uint8_t>(i), 0, static_cast<uint8_t>(200 + i), 0};
  ASSERT_EQ(img.CreateRGBPalette(16, entries), 1);
  ASSERT_NE(img.paletteHandle, nullptr);
  EXPECT_EQ(img.paletteHandle->count, 16);
  EXPECT_EQ(img.paletteHandle->entries[5].red, 205);
  EXPECT_EQ(img.paletteHandle->entries[5].blue, 5);
}

TEST(TypeDetection, FollowsTheMagicTableInOrder) {
  EXPECT_EQ(TypeOfBytes({'B', 'M', 0, 0}), TypeBMP);
  EXPECT_EQ(TypeOfBytes({'P', '5', '\n'}), TypePGM);
  EXPECT_EQ(TypeOfBytes({'P', '6', '\n'}), TypePPM);
  EXPECT_EQ(TypeOfBytes({'W'}), -1);  // bytes beyond the end match nothing
  EXPECT_EQ(TypeOfBytes({'W', '5'}), TypeWIF);
  EXPECT_EQ(TypeOfBytes({'W', '8'}), TypeWIF);
  EXPECT_EQ(TypeOfBytes({'G', 'I', 'F', '8', '9', 'a'}), TypeGIF);
  EXPECT_EQ(TypeOfBytes({'G', 'I', 'F', '8', '8', 'a'}), -1);
  EXPECT_EQ(TypeOfBytes({'I', 'I', 0x2A, 0}), TypeTIFF);
  EXPECT_EQ(TypeOfBytes({'M', 'M', 0, 0x2A}), TypeTIFF);
  EXPECT_EQ(TypeOfBytes({0xFF, 0xD8, 0xFF}), TypeJPEG);
  EXPECT_EQ(TypeOfBytes({0x0A, 5, 1, 8}), TypePCX);
  EXPECT_EQ(TypeOfBytes({0, 1, 1}), TypeTGA);
  EXPECT_EQ(TypeOfBytes({0, 0, 2, 0, 0, 0, 0, 0}), TypeTGA);
  EXPECT_EQ(TypeOfBytes({0, 0, 3, 0, 0, 0, 0}), -1);  // one byte short
  // Run-length Targa types.
  EXPECT_EQ(TypeOfBytes({0, 1, 9}), TypeTGA);
  EXPECT_EQ(TypeOfBytes({0, 0, 10, 0, 0, 0, 0, 0}), TypeTGA);
  EXPECT_EQ(TypeOfBytes({0, 0, 11, 0, 0, 0, 0, 0}), TypeTGA);
  EXPECT_EQ(TypeOfBytes({'h', 'e', 'l', 'l', 'o'}), -1);
}

TEST(TypeDetection, StreamFormReadsAtThePositionAndSeeksBack) {
  TempDir dir;
  const std::string path = dir.File("two");
  WriteFileBytes(path, {'x', 'x', 'B', 'M', 1, 2, 3});
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 2, SEEK_SET);
  EXPECT_EQ(vxImage::GetFileType(f), TypeBMP);
  EXPECT_EQ(std::ftell(f), 2);
  std::fclose(f);
  EXPECT_EQ(vxImage::GetFileType("/nonexistent/file"), -1);
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
  EXPECT_EQ(vxImage::CreateRWImage(6), nullptr);
  EXPECT_EQ(vxImage::CreateRWImage(0), nullptr);
  EXPECT_EQ(vxImage::CreateRWImage(13), nullptr);
}

TEST(Notices, GoToTheInstalledSinkWithTheFile) {
  std::vector<vxNotice> seen;
  auto previous = vxSetNoticeSink([&](const vxNotice& n) { seen.push_back(n); });
  {
    vxNoticeFileScope scope("photo.bmp");
    vxPostNotice(vxNoticeKind::Error, "", "Unrecognized compression format\n");
  }
  vxPostNotice(vxNoticeKind::Warning, "TIFF", "odd tag");
  vxSetNoticeSink(previous);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].file, "photo.bmp");
  EXPECT_EQ(seen[0].text, "Unrecognized compression format\n");
  EXPECT_EQ(seen[1].file, "");
  EXPECT_EQ(seen[1].caption, "TIFF");
}

TEST(Notices, CapturedOnTheirThreadUntilDelivered) {
  std::vector<vxNotice> seen;
  auto previous = vxSetNoticeSink([&](const vxNotice& n) { seen.push_back(n); });
  std::vector<vxNotice> kept;
  {
    const vxNoticeCapture capture(kept);
    const vxNoticeFileScope scope("next.gif");
    vxPostNotice(vxNoticeKind::Warning, "GIF", "got an extension");
    // Another thread's notices are not this capture's.
    std::thread([] { vxPostNotice(vxNoticeKind::Info, "", "elsewhere"); }).join();
  }
  vxPostNotice(vxNoticeKind::Info, "", "after");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, "elsewhere");
  EXPECT_EQ(seen[1].text, "after");
  ASSERT_EQ(kept.size(), 1u);
  vxDeliverNotice(kept[0]);
  vxSetNoticeSink(previous);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].file, "next.gif");
  EXPECT_EQ(seen[2].caption, "GIF");
}

TEST(Notices, LastErrorKeepsTheFirstReason) {
  vxClearLastError();
  vxSetLastError("first");
  vxSetLastError("second");
  EXPECT_EQ(vxLastError(), "first");
  vxClearLastError();
  EXPECT_EQ(vxLastError(), "");
}

}  // namespace
