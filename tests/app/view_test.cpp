// The image view: zoom, pan and the clipboard.
#include <QClipboard>
#include <QScrollBar>
#include <QStandardPaths>
#include <cmath>

#include "app_test_util.h"

using namespace apptest;

class ViewTest : public QObject {
  Q_OBJECT

 private slots:
  void zoomDragIsClampedBetweenOneAndAHundredAndResetUndoesIt() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Colour(100, 80), "/p/small.bmp")->view;
    t.app->SelectTool(kToolZoom);
    Drag(view->viewport(), {10, 10}, {1, 0}, 5);
    QCOMPARE(view->zoom, 1.5f);
    QCOMPARE(view->GetTotalSize(), QSize(150, 120));
    Drag(view->viewport(), {10, 10}, {1, 0}, 1200);
    QCOMPARE(view->zoom, 100.0f);
    QCOMPARE(view->GetTotalSize(), QSize(10000, 8000));
    Drag(view->viewport(), {500, 10}, {-1, 0}, 1200);
    QCOMPARE(view->zoom, 1.0f);
    Drag(view->viewport(), {10, 10}, {1, 0}, 3);
    // Reset Pan / Zoom returns to the whole picture, 1:1, in a fitting frame.
    view->ScrollToPosition({20, 10});
    t.trigger(kResetPanZoom);
    QCOMPARE(view->zoom, 1.0f);
    QCoreApplication::processEvents();
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    QCOMPARE(view->viewport()->size(), QSize(100, 80));
  }

  void panDragAndArrowKeysScroll() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Colour(2000, 1500), "/p/big.bmp")->view;
    t.app->SelectTool(kToolPan);
    view->ScrollToPosition({300, 300});
    Drag(view->viewport(), {100, 100}, {-8, -4}, 5);
    QCOMPARE(view->GetScrollPosition(), QPoint(340, 320));
    Drag(view->viewport(), {100, 100}, {50, 50}, 20);
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    Drag(view->viewport(), {600, 400}, {-100, -100}, 30);
    const QSize page = view->viewport()->size();
    QCOMPARE(view->GetScrollPosition(), QPoint(2000 - page.width(), 1500 - page.height()));

    // The arrows scroll by ten (Up moves the position down the picture);
    // those of the numeric pad do not scroll.
    view->ScrollToPosition({100, 100});
    const struct {
      int key;
      Qt::KeyboardModifiers modifiers;
      QPoint position;
    } steps[] = {{Qt::Key_Left, {}, {90, 100}},
                 {Qt::Key_Up, {}, {90, 110}},
                 {Qt::Key_Down, Qt::KeypadModifier, {90, 110}}};
    for (const auto& step : steps) {
      QKeyEvent event(QEvent::KeyPress, step.key, step.modifiers);
      QApplication::sendEvent(view, &event);
      QCOMPARE(view->GetScrollPosition(), step.position);
    }
  }

  void clickingAViewTakesThePaletteAndTheStatusBar() {
    TestApp t;
    CTOVIMDoc* first = OpenInMemory(*t.app, Colour(80, 60), "/p/first.bmp");
    CTOVIMDoc* second = OpenInMemory(*t.app, Colour(90, 70), "/p/second.bmp");
    QCOMPARE(t.state().activeView, second->view);
    Click(first->view->viewport(), {5, 5});
    QCOMPARE(t.state().activeView, first->view);
    QCOMPARE(first->view->paletteForeground, 1);
    QCOMPARE(second->view->paletteForeground, 0);
    QCOMPARE(t.pane(5), QStringLiteral("80"));
    Click(second->view->viewport(), {5, 5}, Qt::RightButton);
    QCOMPARE(t.state().activeView, second->view);
    // A view that goes away no longer holds the palette.
    const QPointer<CTOVIMView> closing = second->view;
    const CTOVIMView* address = closing.data();
    FrameOf(second)->close();
    QTRY_VERIFY(closing.isNull());
    QVERIFY(t.state().activeView != address);
  }

  void wheelZoomKeepsThePointUnderThePointer() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Colour(2000, 1500), "/p/wide.bmp")->view;
    view->ScrollToPosition({500, 400});
    const QPointF at(137.0, 91.0);
    // In and out across 100 %, and far out to below the fitted size.
    for (int notches : {1, 3, 2, -1, -4, -6, -3, 5, 8}) {
      const QPointF before = view->PictureAt(at);
      Wheel(view->viewport(), at, notches, Qt::ControlModifier);
      const QPointF after = view->PictureAt(at);
      QVERIFY2(std::abs(after.x() - before.x()) <= 1.0 && std::abs(after.y() - before.y()) <= 1.0,
               qPrintable(QStringLiteral("zoom %1").arg(view->zoom)));
    }
    // 100 % is a stop on the way.
    while (view->zoom > 1.0f) Wheel(view->viewport(), at, -1, Qt::ControlModifier);
    QCOMPARE(view->zoom, 1.0f);

    // Without Ctrl the wheel scrolls, unless the preference says it zooms.
    const QPoint scroll = view->GetScrollPosition();
    Wheel(view->viewport(), at, -1, Qt::NoModifier);
    QCOMPARE(view->zoom, 1.0f);
    QVERIFY(view->GetScrollPosition() != scroll);
    t.prefer([](CPreferences& p) { p.wheelZooms = true; });
    Wheel(view->viewport(), at, 1, Qt::NoModifier);
    QCOMPARE(view->zoom, 1.25f);
  }

  void largePicturesOpenFittedAndGoToActualSize() {
    TestApp t;
    const QString big = t.dir.filePath("big.bmp");
    QVERIFY(Write(big, Colour(1800, 1200)));
    CTOVIMView* view = t.app->OpenDocumentFile(big)->view;
    QCoreApplication::processEvents();
    QVERIFY(view->fitMode && view->zoom < 1.0f);
    const QSize room = view->viewport()->size();
    const QSize shown = view->GetTotalSize();
    // Fitted: within the window, touching it on one side, shape kept.
    QVERIFY(shown.width() <= room.width() && shown.height() <= room.height());
    QVERIFY(shown.width() >= room.width() - 1 || shown.height() >= room.height() - 1);
    QVERIFY(std::abs(shown.width() * 1200.0 / 1800.0 - shown.height()) <= 1.0);
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    // Below 100 % the view holds one reduced copy of the shown size.
    view->viewport()->grab();
    QCOMPARE(view->reducedCopy().size(), shown);

    t.trigger(kZoomActual);
    QCOMPARE(view->zoom, 1.0f);
    QCOMPARE(view->GetTotalSize(), QSize(1800, 1200));
    QVERIFY(!view->fitMode);
    view->viewport()->grab();
    QVERIFY(view->reducedCopy().isNull());
    t.trigger(kZoomFit);
    QCOMPARE(view->GetTotalSize(), shown);
  }

  void magnifiedPixelsAreSquares() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(300, 300), "/p/pixels.bmp");
    CTOVIMView* view = doc->view;
    QCoreApplication::processEvents();
    QCOMPARE(view->viewport()->size(), QSize(300, 300));
    view->ZoomAt(4.0f, QPointF(0, 0));
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    const QImage shown = view->viewport()->grab().toImage();
    // Each picture pixel is a square of 4 x 4 window pixels.
    const QImage squares = doc->image->DisplayImage().copy(0, 0, 75, 75).scaled(300, 300);
    QVERIFY(shown.convertToFormat(QImage::Format_RGB32) ==
            squares.convertToFormat(QImage::Format_RGB32));
  }

  void jpegsAreShownUprightByTheirOrientation() {
    const QString convert = QStandardPaths::findExecutable("convert");
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (convert.isEmpty() || exiftool.isEmpty()) QSKIP("ImageMagick or exiftool is missing");
    TestApp t;
    const QDir folder(t.dir.path());
    // Four flat quadrants of a picture wider than high: any turn or mirror
    // moves a colour to another corner.
    const QString base = folder.filePath("base.jpg");
    QVERIFY(Run(convert,
                {"-size", "48x32", "xc:#ff0000", "-fill", "#0000ff", "-draw",
                 "rectangle 24,0 47,15", "-fill", "#00ff00", "-draw", "rectangle 0,16 23,31",
                 "-fill", "#ffffff", "-draw", "rectangle 24,16 47,31", "-quality", "98", base}));
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const QString name = QStringLiteral("o%1").arg(orientation);
      const QString jpeg = folder.filePath(name + ".jpg");
      QVERIFY(QFile::copy(base, jpeg));
      QVERIFY(Run(exiftool, {"-q", "-overwrite_original", "-n",
                             QStringLiteral("-Orientation=%1").arg(orientation), jpeg}));
      // The judge: ImageMagick turning the picture upright.
      QVERIFY(Run(convert, {jpeg, "-auto-orient", folder.filePath(name + ".png")}));
      const QImage upright(folder.filePath(name + ".png"));
      CTOVIMDoc* doc = t.app->OpenDocumentFile(jpeg);
      QVERIFY(doc);
      const QImage& shown = doc->image->DisplayImage();
      QCOMPARE(shown.size(), upright.size());
      const int w = shown.width(), h = shown.height();
      for (const QPoint p : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4),
                             QPoint(w / 4, 3 * h / 4), QPoint(3 * w / 4, 3 * h / 4)}) {
        const QRgb a = shown.pixel(p), b = upright.pixel(p);  // each channel within 24
        QVERIFY2(std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                           std::abs(qBlue(a) - qBlue(b))}) <= 24,
                 qPrintable(name));
      }
      FrameOf(doc)->close();
    }
    QVERIFY(t.messages.isEmpty());
  }

  void copyPutsThePixelsOnTheClipboard() {
    TestApp t;
    // A palette picture gives its colours, not its indexes.
    CTOVIMDoc* palette = OpenInMemory(*t.app, Palette(9, 7, 3), "/p/palette.bmp");
    QApplication::clipboard()->clear();
    t.trigger(kEditCopy);
    if (QApplication::clipboard()->image().isNull())
      QSKIP("this platform has no clipboard for pictures");
    const QImage indexed = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(indexed, palette->image->DisplayImage().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(indexed.pixel(1, 0) & 0xFFFFFF, QRgb(0x32C01E));
  }

  void largeJpegsShowAReducedPictureFirst() {
    const QString convert = QStandardPaths::findExecutable("convert");
    if (convert.isEmpty()) QSKIP("ImageMagick is missing");
    TestApp t;
    const QString jpeg = t.dir.filePath("large.jpg");
    QVERIFY(
        Run(convert, {"-size", "4000x3000", "gradient:#ff0000-#0000ff", "-quality", "90", jpeg}));
    CTOVIMDoc* doc = t.app->OpenDocumentFile(jpeg);
    QVERIFY(doc && doc->partial && doc->reduction > 1);
    QCOMPARE(doc->image->Width(), 4000 / doc->reduction);
    // Changing or saving waits for the full picture; viewing does not.
    QVERIFY(!t.frame()->action(kInvertColor)->isEnabled());
    QVERIFY(!t.frame()->action(kFileSaveAs)->isEnabled());
    QVERIFY(t.frame()->action(kZoomFit)->isEnabled());
    // The status bar gives the whole picture's figures.
    QCOMPARE(t.pane(5), QStringLiteral("4000"));
    QCOMPARE(t.pane(7), QStringLiteral("3000"));
    const QSize fitted = doc->view->GetTotalSize();
    QTRY_VERIFY_WITH_TIMEOUT(!doc->partial, 30000);
    QCOMPARE(doc->image->Width(), 4000);
    QCOMPARE(doc->image->Height(), 3000);
    QVERIFY(t.frame()->action(kInvertColor)->isEnabled());
    // The window shows the same as before, now from the whole picture.
    QCOMPARE(doc->view->GetTotalSize(), fitted);
    QVERIFY(t.messages.isEmpty());
  }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
