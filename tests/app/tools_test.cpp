// The Image Tools commands: what each does to the picture, the display and
// the status bar, and which of them mark the document modified.
#include <QTest>

#include "app_test_util.h"

using namespace apptest;

namespace {

// A copy of the document's picture in a separate engine image.
std::unique_ptr<vxScopedImage> Copy(const vxImage& source) {
  auto copy = std::make_unique<vxScopedImage>();
  copy->Create(source.Width(), source.Height(), source.BitCount(),
               source.BitCount() == 24 ? 0 : source.ColoursUsed());
  if (source.BitCount() != 24) std::copy_n(source.palette, source.ColoursUsed(), copy->palette);
  std::memcpy(copy->bits, source.bits, source.Stride() * static_cast<size_t>(source.Height()));
  return copy;
}

bool SamePixels(const vxImage& a, const vxImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
    return false;
  return std::memcmp(a.bits, b.bits, a.Stride() * static_cast<size_t>(a.Height())) == 0;
}

}  // namespace

class ImageToolsTest : public QObject {
  Q_OBJECT

 private slots:
  void depthConversionsKeepTheDocumentUnmodified() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/grey.pgm");
    const QImage before = doc->image->DisplayImage().copy();
    t.frame()->action(kConvertTo24Bit)->trigger();
    QCOMPARE(doc->image->BitCount(), 24);
    QCOMPARE(doc->image->DisplayImage(), before);
    QCOMPARE(t.pane(9), QStringLiteral("24"));
    QCOMPARE(doc->modified, 0);

    t.frame()->action(kConvertToGray)->trigger();
    QCOMPARE(doc->image->BitCount(), 8);
    QVERIFY(doc->image->IsGreyRamp());
    // The luminance's truncated products may lose a level or two.
    const QImage& after = doc->image->DisplayImage();
    for (int y = 0; y < after.height(); ++y) {
      for (int x = 0; x < after.width(); ++x) {
        const int drop = qRed(before.pixel(x, y)) - qRed(after.pixel(x, y));
        QVERIFY(drop >= 0 && drop <= 2);
      }
    }
    QCOMPARE(doc->modified, 0);

    // A colour picture becomes its luminance.
    CTOVIMDoc* colour = OpenInMemory(*t.app, Colour(), "/p/c.bmp");
    t.frame()->action(kConvertToGray)->trigger();
    QCOMPARE(colour->image->BitCount(), 8);
    QVERIFY(colour->image->IsGrayScale());
    QCOMPARE(colour->modified, 0);
    // Closing asks nothing.
    QVERIFY(FrameOf(doc)->close());
    QVERIFY(t.messages.isEmpty());
  }

  void eachFilterItemRunsItsOwnFilter() {
    TestApp t;
    for (int id = kFilterFirst; id <= kFilterLastKernel; ++id) {
      CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/f.pgm");
      auto expected = Copy(*doc->image);
      QCOMPARE(expected->Filter(id - kFilterFirst), 1);
      t.frame()->action(id)->trigger();
      QVERIFY2(SamePixels(*doc->image, *expected), qPrintable(QString::number(id)));
      QCOMPARE(doc->modified, 1);
      FrameOf(doc)->SetCloseAgreed();
      FrameOf(doc)->close();
    }
  }

  void filteringAColourPalettePictureMakesIt24Bit() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Palette(), "/p/icons.gif");
    QCOMPARE(t.pane(9), QStringLiteral("8"));
    auto expected = Copy(*doc->image);
    QCOMPARE(expected->Make24Bit(), 1);
    QCOMPARE(expected->Filter(0), 1);
    t.frame()->action(kFilterFirst)->trigger();
    QCOMPARE(doc->image->BitCount(), 24);
    QVERIFY(SamePixels(*doc->image, *expected));
    QCOMPARE(doc->modified, 1);
    QCOMPARE(t.pane(9), QStringLiteral("24"));
    // The window shows the filtered colours, not the old palette's.
    const unsigned char* p = expected->Row(expected->Height() - 1);
    QCOMPARE(doc->image->DisplayImage().pixel(0, 0), qRgb(p[2], p[1], p[0]));
  }

  void flipsAndRotationsTurnThePicture() {
    TestApp t;
    // 3 x 2, shown as   a b c
    //                   d e f
    const auto picture = [] {
      return MakeImage(3, 2, 24, 0,
                       [](int x, int y) { return static_cast<unsigned>(10 * (3 * y + x + 1)); });
    };
    const auto shown = [](CTOVIMDoc* doc) {
      QList<QList<int>> rows;
      const QImage& image = doc->image->DisplayImage();
      for (int y = 0; y < image.height(); ++y) {
        QList<int> row;
        for (int x = 0; x < image.width(); ++x) row << qBlue(image.pixel(x, y)) / 10;
        rows << row;
      }
      return rows;
    };
    CTOVIMDoc* doc = OpenInMemory(*t.app, picture(), "/p/turn.bmp");
    t.frame()->action(kFlipHorizontal)->trigger();
    QCOMPARE(shown(doc), (QList<QList<int>>{{3, 2, 1}, {6, 5, 4}}));
    QCOMPARE(doc->modified, 1);

    CTOVIMDoc* turned = OpenInMemory(*t.app, picture(), "/p/turn2.bmp");
    t.frame()->action(kRotateClockwise)->trigger();
    QCOMPARE(shown(turned), (QList<QList<int>>{{4, 1}, {5, 2}, {6, 3}}));
    QCOMPARE(turned->modified, 1);
    QCOMPARE(t.pane(5), QStringLiteral("2"));
    t.frame()->action(kRotateCounterClockwise)->trigger();
    t.frame()->action(kRotateCounterClockwise)->trigger();
    QCOMPARE(shown(turned), (QList<QList<int>>{{3, 6}, {2, 5}, {1, 4}}));
  }

  void rotatingRefitsTheFrameToTheNewShape() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(200, 90), "/p/wide.pgm");
    CTOVIMView* view = doc->view;
    QCoreApplication::processEvents();
    QCOMPARE(view->viewport()->size(), QSize(200, 90));
    const QPoint placed = FrameOf(doc)->pos();
    t.frame()->action(kRotateClockwise)->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(view->viewport()->size(), QSize(90, 200));
    QCOMPARE(view->GetTotalSize(), QSize(90, 200));
    QCOMPARE(FrameOf(doc)->pos(), placed);  // it still fits: it stays where it was
  }

  void invertingMarksTheDocumentAndRedraws() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/i.pgm");
    const uint8_t level = doc->image->Row(3)[5];
    t.frame()->action(kInvertColor)->trigger();
    QCOMPARE(doc->image->Row(3)[5], static_cast<uint8_t>(255 - level));
    QCOMPARE(doc->modified, 1);
    QVERIFY(doc->image->IsGreyRamp());
    CTOVIMDoc* colour = OpenInMemory(
        *t.app, MakeImage(4, 4, 24, 0, [](int, int) { return 0x102030u; }), "/p/i.bmp");
    t.frame()->action(kInvertColor)->trigger();
    QCOMPARE(colour->modified, 1);
    QCOMPARE(colour->image->DisplayImage().pixel(0, 0), qRgb(0xEF, 0xDF, 0xCF));
  }
};

QTEST_MAIN(ImageToolsTest)
#include "tools_test.moc"
