// The image block, file-type detection and notices.
#include "engine/image.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/notice.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

TEST(BlockLayout, RowsArePaddedAndAllocationRefusesBadSizes) {
  vxScopedImage colour, grey, sixteen;
  ASSERT_EQ(colour.Create(3, 2, 24, 0), 1);
  EXPECT_EQ(colour.Stride(), 12u);  // 9 bytes padded to a multiple of 4
  ASSERT_EQ(grey.Create(3, 2, 8, 256), 1);
  EXPECT_EQ(grey.Stride(), 4u);
  EXPECT_TRUE(grey.IsGreyRamp());
  ASSERT_EQ(sixteen.Create(3, 2, 8, 16), 1);
  EXPECT_FALSE(sixteen.IsGreyRamp());  // 16 entries are not the 256-entry ramp

  EXPECT_EQ(vxAllocateBlock(0, 10, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, -1, 8, 256), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 8, 257), nullptr);
  EXPECT_EQ(vxAllocateBlock(10, 10, 7, 0), nullptr);
  EXPECT_EQ(vxAllocateBlock(2000000000, 2000000000, 24, 0), nullptr);  // size overflows
  testing_support::ImageCeiling ceiling(1000);
  vxClearLastError();
  EXPECT_EQ(vxAllocateBlock(100, 100, 8, 256), nullptr);
  EXPECT_NE(vxLastError().find("too large"), std::string::npos);
}

// Each format's own files are detected in its reader tests; these are the
// edges of the table.
TEST(TypeDetection, FollowsTheMagicTable) {
  const struct {
    std::vector<uint8_t> bytes;
    int type;
  } cases[] = {
      {{'W'}, -1},  // bytes beyond the end match nothing
      {{'W', '8'}, TypeWIF},
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
  // Unknown content fails without touching the image.
  vxScopedImage img;
  img.Create(2, 2, 8, 256);
  unsigned char* before = img.bits;
  EXPECT_EQ(img.LoadImage(path.c_str()), -1);
  EXPECT_EQ(img.bits, before);
}

// Notices reach the installed sink with the file in scope; a capture keeps
// only its own thread's notices until they are delivered.
TEST(Notices, CapturedOnTheirThreadAndDeliveredWithTheFile) {
  std::vector<std::string> seen;
  std::vector<vxNotice> kept;
  auto previous = vxSetNoticeSink(
      [&](const vxNotice& n) { seen.push_back(n.caption + "|" + n.file + "|" + n.text); });
  {
    const vxNoticeCapture capture(kept);
    const vxNoticeFileScope scope("next.gif");
    vxPostNotice(vxNoticeKind::Warning, "GIF", "got an extension");
    std::thread([] { vxPostNotice(vxNoticeKind::Info, "", "elsewhere"); }).join();
  }
  vxPostNotice(vxNoticeKind::Info, "TIFF", "after");  // the file scope has ended
  ASSERT_EQ(kept.size(), 1u);
  vxDeliverNotice(kept[0]);
  vxSetNoticeSink(previous);
  EXPECT_EQ(seen, (std::vector<std::string>{"||elsewhere", "TIFF||after",
                                            "GIF|next.gif|got an extension"}));
}

}  // namespace
