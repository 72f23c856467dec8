// Zoom and display: Ctrl+wheel zoom keeping the point under the pointer,
// fitted and actual sizes, crisp squares above 100 % and a smooth reduced
// copy below, pictures shown upright by their EXIF orientation, the
// clipboard, full screen, and large JPEGs shown reduced before they are
// complete.
#include <QClipboard>
#include <QMenuBar>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <cmath>

#include "app_test_util.h"

using namespace apptest;

namespace {

bool Run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0)
    return false;
  if (output) *output = process.readAllStandardOutput().trimmed();
  return true;
}

int Distance(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                   std::abs(qBlue(a) - qBlue(b))});
}

QString Save(const QTemporaryDir& folder, const char* name, ImagePtr image) {
  const QString path = folder.filePath(QLatin1String(name));
  return image->SaveImage(QFile::encodeName(path).constData(), TypeBMP) == 0 ? path : QString();
}

}  // namespace

class ZoomTest : public QObject {
  Q_OBJECT

 private slots:
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
    CPreferences prefs = t.app->preferences();
    prefs.wheelZooms = true;
    t.app->SetPreferences(prefs);
    Wheel(view->viewport(), at, 1, Qt::NoModifier);
    QCOMPARE(view->zoom, 1.25f);
  }

  void largePicturesOpenFittedAndGoToActualSize() {
    TestApp t;
    QTemporaryDir folder;
    const QString big = Save(folder, "big.bmp", Colour(1800, 1200));
    CTOVIMDoc* doc = t.app->OpenDocumentFile(big);
    QVERIFY(doc);
    CTOVIMView* view = doc->view;
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

    t.frame()->action(kZoomActual)->trigger();
    QCOMPARE(view->zoom, 1.0f);
    QCOMPARE(view->GetTotalSize(), QSize(1800, 1200));
    QVERIFY(!view->fitMode);
    view->viewport()->grab();
    QVERIFY(view->reducedCopy().isNull());
    t.frame()->action(kZoomFit)->trigger();
    QCOMPARE(view->GetTotalSize(), shown);

    // A picture that fits opens 1:1; with the preference off, so does a large one.
    CTOVIMDoc* small = t.app->OpenDocumentFile(Save(folder, "small.bmp", Colour(120, 80)));
    QVERIFY(small && small->view->zoom == 1.0f && !small->view->fitMode);
    CPreferences prefs = t.app->preferences();
    prefs.fitLargePictures = false;
    t.app->SetPreferences(prefs);
    QVERIFY(QFile::copy(big, folder.filePath("big2.bmp")));
    CTOVIMDoc* unfitted = t.app->OpenDocumentFile(folder.filePath("big2.bmp"));
    QVERIFY(unfitted);
    QCOMPARE(unfitted->view->zoom, 1.0f);
  }

  void magnifiedPixelsAreSquaresAndReducedOnesAreAveraged() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(300, 300), "/p/pixels.bmp");
    CTOVIMView* view = doc->view;
    QCoreApplication::processEvents();
    QCOMPARE(view->viewport()->size(), QSize(300, 300));
    view->ZoomAt(4.0f, QPointF(0, 0));
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    const QImage shown = view->viewport()->grab().toImage();
    const QImage& picture = doc->image->DisplayImage();
    for (int y = 0; y < 300; ++y) {
      for (int x = 0; x < 300; ++x) {
        if (shown.pixel(x, y) != picture.pixel(x / 4, y / 4))
          QFAIL(qPrintable(QStringLiteral("window pixel (%1, %2)").arg(x).arg(y)));
      }
    }

    // Stripes one pixel wide, black and white, average to grey below 100 %.
    CTOVIMDoc* stripes = OpenInMemory(
        *t.app, MakeImage(400, 300, 24, 0, [](int x, int) { return x % 2 ? 0xFFFFFFu : 0u; }),
        "/p/stripes.bmp");
    stripes->view->ZoomAt(0.5f, QPointF(0, 0));
    const QImage grey = stripes->view->viewport()->grab().toImage();
    const QPoint origin(std::max(0, (grey.width() - 200) / 2),
                        std::max(0, (grey.height() - 150) / 2));
    for (const QPoint p : {QPoint(3, 3), QPoint(50, 70), QPoint(120, 140)})
      QVERIFY(Distance(grey.pixel(origin + p), qRgb(128, 128, 128)) <= 1);
  }

  void jpegsAreShownUprightByTheirOrientation() {
    const QString convert = QStandardPaths::findExecutable("convert");
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (convert.isEmpty() || exiftool.isEmpty()) QSKIP("ImageMagick or exiftool is missing");
    TestApp t;
    QTemporaryDir folder;
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
                             QPoint(w / 4, 3 * h / 4), QPoint(3 * w / 4, 3 * h / 4)})
        QVERIFY2(Distance(shown.pixel(p), upright.pixel(p)) <= 24, qPrintable(name));

      // Saved, the pixels are upright and the file carries no orientation.
      const QString saved = folder.filePath(name + "saved.jpg");
      QCOMPARE(doc->image->SaveImage(QFile::encodeName(saved).constData(), TypeJPEG), 0);
      QByteArray tag, size;
      QVERIFY(Run(exiftool, {"-s3", "-n", "-Orientation", saved}, &tag));
      QVERIFY2(tag.isEmpty() || tag == "1", tag.constData());
      QVERIFY(Run(exiftool, {"-s3", "-ImageSize", saved}, &size));
      QCOMPARE(size, QStringLiteral("%1x%2").arg(w).arg(h).toLatin1());
      FrameOf(doc)->close();
    }
    QVERIFY(t.messages.isEmpty());
  }

  void copyPutsThePixelsOnTheClipboard() {
    TestApp t;
    CTOVIMDoc* colour = OpenInMemory(*t.app, Colour(37, 23), "/p/colour.bmp");
    QApplication::clipboard()->clear();
    t.frame()->action(kEditCopy)->trigger();
    const QImage copied = QApplication::clipboard()->image();
    if (copied.isNull()) QSKIP("this platform has no clipboard for pictures");
    QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
             colour->image->DisplayImage().convertToFormat(QImage::Format_RGB32));

    // A palette picture gives its colours, not its indexes.
    CTOVIMDoc* palette = OpenInMemory(*t.app, Palette(9, 7, 3), "/p/palette.bmp");
    t.frame()->action(kEditCopy)->trigger();
    const QImage indexed = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(indexed, palette->image->DisplayImage().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(indexed.pixel(1, 0) & 0xFFFFFF, QRgb(0x32C01E));
  }

  void largeJpegsShowAReducedPictureFirst() {
    const QString convert = QStandardPaths::findExecutable("convert");
    if (convert.isEmpty()) QSKIP("ImageMagick is missing");
    TestApp t;
    QTemporaryDir folder;
    const QString jpeg = folder.filePath("large.jpg");
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

  // Full screen fits a magnified picture again, and Escape gives the
  // menus back.
  void fullScreenShowsThePictureAlone() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(1800, 1200), "/p/large.bmp");
    doc->view->ZoomAt(8.0f, QPointF(0, 0));
    t.frame()->action(kFullScreen)->trigger();
    QCoreApplication::processEvents();
    QVERIFY(t.frame()->isFullScreenView());
    QVERIFY(t.frame()->menuBar()->isHidden());
    QVERIFY(doc->view->fitMode);
    QTest::keyClick(doc->view, Qt::Key_Escape);
    QVERIFY(!t.frame()->isFullScreenView());
    QVERIFY(!t.frame()->menuBar()->isHidden());
  }
};

QTEST_MAIN(ZoomTest)
#include "zoom_test.moc"
