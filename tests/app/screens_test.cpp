// What the windows show: the background picture, documents drawn pixel for
// pixel at their magnification, and the quality dialogs.
// With LUNARK_SCREENSHOT_DIR set, the grabbed windows are also saved there.
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <cmath>

#include "app_test_util.h"
#include "background.h"
#include "saveoptions.h"

using namespace apptest;

class ScreensTest : public QObject {
  Q_OBJECT

 private slots:
  void backgroundIsGreyWithTheCentredPicture() {
    TestApp t;
    QVERIFY(QTest::qWaitForWindowExposed(t.frame()));
    CBackground* client = t.frame()->mdiClient();
    const QSize placed = t.frame()->size();
    for (const QSize size : {QSize(640, 420), QSize(500, 380), QSize(700, 480), placed}) {
      t.frame()->resize(size);
      QCoreApplication::processEvents();
      const QImage shown = client->viewport()->grab().toImage();
      QCOMPARE(shown.pixel(2, 2), CBackground::kFill);
      QCOMPARE(shown.pixel(shown.width() - 3, shown.height() - 3), CBackground::kFill);
      // The picture's moon sits in the upper middle of the picture rectangle.
      const QPoint origin = client->PictureOrigin(client->viewport()->size());
      QCOMPARE(origin.x(), (client->viewport()->width() - client->picture().width()) / 2);
      QVERIFY(shown.pixel(origin + QPoint(110, 74)) != CBackground::kFill);
    }
    SaveShot(t.frame()->grab(), "main-no-document.png");
  }

  void documentsShowTheirPixelsAtTheirMagnification() {
    TestApp t;
    QVERIFY(QTest::qWaitForWindowExposed(t.frame()));
    t.frame()->resize(1200, 800);
    QCoreApplication::processEvents();
    CTOVIMDoc* greyDoc = t.app->OpenDocumentFile(TestData("camera.pgm"));
    CTOVIMDoc* colourDoc = t.app->OpenDocumentFile(TestData("chelsea.ppm"));
    QVERIFY(greyDoc && colourDoc);
    QVERIFY(t.messages.isEmpty());
    FrameOf(greyDoc)->move(10, 10);
    FrameOf(colourDoc)->move(360, 150);

    // The colour picture magnified 2.5 times and scrolled into its middle.
    CTOVIMView* view = colourDoc->view;
    t.app->SelectTool(kToolZoom);
    for (int i = 0; i < 15; ++i) view->ZoomDrag(QPoint(10, 0), QPoint(11, 0));
    QCOMPARE(view->zoom, 2.5f);
    view->ScrollToPosition(QPoint(360, 190));
    QCoreApplication::processEvents();

    const QImage shown = view->viewport()->grab().toImage();
    const QPoint position = view->GetScrollPosition();
    const QImage& picture = colourDoc->image->DisplayImage();
    // Window pixel p shows picture pixel trunc(position / zoom) + (p + 0.5) / scale,
    // where scale = window / trunc(window / zoom) in each direction.
    const auto source = [&](int p, int window, int scroll) {
      const double cells = std::trunc(window / 2.5);
      return static_cast<int>(std::trunc(scroll / 2.5)) +
             static_cast<int>((p + 0.5) * cells / window);
    };
    for (const QPoint p : {QPoint(5, 5), QPoint(100, 60), QPoint(shown.width() - 4, 40)}) {
      QCOMPARE(shown.pixel(p), picture.pixel(source(p.x(), shown.width(), position.x()),
                                             source(p.y(), shown.height(), position.y())));
    }
    // The grey picture at 1:1, its frame fitted so that the window shows all of it.
    const QImage greyShown = greyDoc->view->viewport()->grab().toImage();
    QCOMPARE(greyShown.size(), QSize(512, 512));
    QCOMPARE(greyShown.pixel(100, 200), greyDoc->image->DisplayImage().pixel(100, 200));
    SaveShot(t.frame()->grab(), "main-two-documents.png");
  }

  void qualityDialogs() {
    for (int type : {int(TypeWIF), int(TypeJPEG)}) {
      CSaveOptionsDlg dialog(type, type == TypeWIF ? 30 : vxDefaultJpegQuality);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      // The number box sits under the thumb.
      const QRect box(dialog.edit()->mapTo(&dialog, QPoint(0, 0)), dialog.edit()->size());
      const QRect slider(dialog.slider()->mapTo(&dialog, QPoint(0, 0)), dialog.slider()->size());
      QVERIFY(box.top() > slider.bottom());
      QVERIFY(box.left() >= slider.left() - box.width());
      SaveShot(dialog.grab(), type == TypeWIF ? "wif-save-options.png" : "jpeg-save-options.png");
    }
  }
};

QTEST_MAIN(ScreensTest)
#include "screens_test.moc"
