// The Image Tools commands: when each is enabled, what it does to the picture,
// the display and the status bar, and which of them mark the document
// modified.
#include <QMdiSubWindow>
#include <QTest>

#include "app_test_util.h"

using namespace apptest;

namespace {

const QList<int> kImageCommands{kConvertTo24Bit,
                                kConvertToGray,
                                kAdjustBrightnessContrast,
                                kAdjustContrast,
                                kFilterFirst,
                                kGradientLast,
                                kFlipHorizontal,
                                kFlipVertical,
                                kRotateClockwise,
                                kRotateCounterClockwise,
                                kInvertColor,
                                kFileSaveAs,
                                kCompress};

// A grey picture whose every pixel differs from its neighbours.
ImagePtr GreyPicture(int width = 24, int height = 16) {
  return MakeImage(width, height, 8, 256,
                   [](int x, int y) { return static_cast<unsigned>((x * 37 + y * 91) & 0xFF); });
}

ImagePtr ColourPicture(int width = 24, int height = 16) {
  return MakeImage(width, height, 24, 0, [](int x, int y) -> unsigned {
    return (x * 10u) << 16 | (y * 15u) << 8 | ((x + y) * 5u);
  });
}

// An 8-bit picture with a palette of colours.
ImagePtr PalettePicture(int width = 24, int height = 16) {
  ImagePtr image = MakeImage(width, height, 8, 16,
                             [](int x, int y) { return static_cast<unsigned>((x + 3 * y) % 16); });
  for (int i = 0; i < 16; ++i) {
    image->palette[i] = vxRGBA{static_cast<uint8_t>(16 * i), static_cast<uint8_t>(200 - 8 * i),
                               static_cast<uint8_t>(40 + 10 * i), 0};
  }
  return image;
}

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
  void commandsAreEnabledByThePictureOfTheActiveWindow() {
    TestApp t;
    for (int id : kImageCommands)
      QVERIFY2(!t.frame()->action(id)->isEnabled(), qPrintable(QString::number(id)));

    const auto enabled = [&t](int id) { return t.frame()->action(id)->isEnabled(); };
    CTOVIMDoc* colour = OpenInMemory(*t.app, ColourPicture(), "/p/colour.bmp");
    QVERIFY(!enabled(kConvertTo24Bit));
    QVERIFY(enabled(kConvertToGray));
    QVERIFY(!enabled(kAdjustBrightnessContrast));
    QVERIFY(!enabled(kAdjustContrast));
    for (int id : {kFilterFirst, kGradientLast, kFlipHorizontal, kRotateClockwise, kInvertColor,
                   kFileSaveAs, kCompress}) {
      QVERIFY(enabled(id));
    }

    CTOVIMDoc* grey = OpenInMemory(*t.app, GreyPicture(), "/p/grey.pgm");
    QVERIFY(enabled(kConvertTo24Bit));
    QVERIFY(!enabled(kConvertToGray));
    QVERIFY(enabled(kAdjustBrightnessContrast));
    QVERIFY(enabled(kAdjustContrast));

    OpenInMemory(*t.app, PalettePicture(), "/p/icons.gif");
    QVERIFY(enabled(kConvertTo24Bit));
    QVERIFY(enabled(kConvertToGray) == false);
    QVERIFY(!enabled(kAdjustBrightnessContrast));

    // Activating another window re-enables by its picture.
    t.frame()->mdiClient()->setActiveSubWindow(FrameOf(grey));
    QVERIFY(enabled(kAdjustBrightnessContrast));
    t.frame()->mdiClient()->setActiveSubWindow(FrameOf(colour));
    QVERIFY(!enabled(kAdjustBrightnessContrast));
    QVERIFY(!enabled(kConvertTo24Bit));
  }

  void depthConversionsKeepTheDocumentUnmodified() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, GreyPicture(), "/p/grey.pgm");
    const QImage before = doc->image->DisplayImage().copy();
    t.frame()->action(kConvertTo24Bit)->trigger();
    QCOMPARE(doc->image->BitCount(), 24);
    QCOMPARE(doc->image->DisplayImage(), before);
    QCOMPARE(t.pane(9), QStringLiteral("24"));
    QCOMPARE(doc->modified, 0);
    QVERIFY(!t.frame()->action(kConvertTo24Bit)->isEnabled());
    QVERIFY(t.frame()->action(kConvertToGray)->isEnabled());

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
    QCOMPARE(t.pane(9), QStringLiteral("8"));
    QCOMPARE(doc->modified, 0);

    // A colour picture becomes its luminance.
    CTOVIMDoc* colour = OpenInMemory(*t.app, ColourPicture(), "/p/c.bmp");
    t.frame()->action(kConvertToGray)->trigger();
    QCOMPARE(colour->image->BitCount(), 8);
    QVERIFY(colour->image->IsGrayScale());
    QCOMPARE(colour->modified, 0);
    // Closing asks nothing.
    QVERIFY(FrameOf(doc)->close());
    QVERIFY(t.messages.isEmpty());
  }

  void theThirteenFiltersDoWhatTheEngineDoes() {
    TestApp t;
    for (int id = kFilterFirst; id <= kFilterLastKernel; ++id) {
      CTOVIMDoc* doc = OpenInMemory(*t.app, GreyPicture(), "/p/f.pgm");
      auto expected = Copy(*doc->image);
      QCOMPARE(expected->Filter(id - kFilterFirst), 1);
      t.frame()->action(id)->trigger();
      QVERIFY2(SamePixels(*doc->image, *expected), qPrintable(QString::number(id)));
      QCOMPARE(doc->modified, 1);
      FrameOf(doc)->SetCloseAgreed();
      FrameOf(doc)->close();
    }
  }

  void gradientItemsChangeNothing() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, GreyPicture(), "/p/g.pgm");
    auto before = Copy(*doc->image);
    for (int id = kGradientFirst; id <= kGradientLast; ++id) {
      QVERIFY(t.frame()->action(id)->isEnabled());
      t.frame()->action(id)->trigger();
    }
    QVERIFY(SamePixels(*doc->image, *before));
    QCOMPARE(doc->modified, 0);
  }

  void filteringAColourPalettePictureMakesIt24Bit() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, PalettePicture(), "/p/icons.gif");
    QCOMPARE(t.pane(9), QStringLiteral("8"));
    auto expected = Copy(*doc->image);
    QCOMPARE(expected->Make24Bit(), 1);
    QCOMPARE(expected->Filter(0), 1);
    t.frame()->action(kFilterFirst)->trigger();
    QCOMPARE(doc->image->BitCount(), 24);
    QVERIFY(SamePixels(*doc->image, *expected));
    QCOMPARE(doc->modified, 1);
    QCOMPARE(t.pane(9), QStringLiteral("24"));
    QVERIFY(!t.frame()->action(kConvertTo24Bit)->isEnabled());
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
    t.frame()->action(kFlipVertical)->trigger();
    QCOMPARE(shown(doc), (QList<QList<int>>{{6, 5, 4}, {3, 2, 1}}));

    CTOVIMDoc* turned = OpenInMemory(*t.app, picture(), "/p/turn2.bmp");
    t.frame()->action(kRotateClockwise)->trigger();
    QCOMPARE(shown(turned), (QList<QList<int>>{{4, 1}, {5, 2}, {6, 3}}));
    QCOMPARE(turned->modified, 1);
    QCOMPARE(t.pane(5), QStringLiteral("2"));
    QCOMPARE(t.pane(7), QStringLiteral("3"));
    t.frame()->action(kRotateCounterClockwise)->trigger();
    t.frame()->action(kRotateCounterClockwise)->trigger();
    QCOMPARE(shown(turned), (QList<QList<int>>{{3, 6}, {2, 5}, {1, 4}}));
  }

  void rotatingRefitsTheFrameToTheNewShape() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, GreyPicture(200, 90), "/p/wide.pgm");
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

  void invertingAGreyPictureInvertsItsLevels() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, GreyPicture(), "/p/i.pgm");
    const uint8_t level = doc->image->Row(3)[5];
    t.frame()->action(kInvertColor)->trigger();
    QCOMPARE(doc->image->Row(3)[5], static_cast<uint8_t>(255 - level));
    QCOMPARE(doc->modified, 1);
    QVERIFY(doc->image->IsGreyRamp());
  }
};

QTEST_MAIN(ImageToolsTest)
#include "tools_test.moc"
