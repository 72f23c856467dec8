// What the windows show: the background picture, documents drawn pixel for
// pixel at their magnification, the open dialog with its status panel, the
// adjustment dialogs previewing on a grey picture and the quality dialogs.
// With LUNARK_SCREENSHOT_DIR set, the grabbed windows are also saved there.
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMdiArea>
#include <QPainter>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOptionTitleBar>
#include <QTest>

#include "adjustdialogs.h"
#include "app_test_util.h"
#include "background.h"
#include "opendialog.h"
#include "saveoptions.h"

using namespace apptest;

namespace {

void Save(const QPixmap& shot, const char* name) {
  const QString dir = qEnvironmentVariable("LUNARK_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  QVERIFY(shot.save(QDir(dir).filePath(QLatin1String(name))));
}

// A top-level window as a desktop shows it: its contents under a title bar
// that the style draws (the test platform has no window manager to add one).
QPixmap Framed(QWidget* window) {
  QStyleOptionTitleBar bar;
  bar.initFrom(window);
  bar.text = window->windowTitle();
  bar.icon = window->windowIcon();
  bar.titleBarFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
  bar.titleBarState = Qt::WindowActive | QStyle::State_Active;
  bar.palette.setCurrentColorGroup(QPalette::Active);
  bar.subControls = QStyle::SC_TitleBarLabel | QStyle::SC_TitleBarCloseButton;
  bar.state |= QStyle::State_Active;
  const int titleHeight = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, &bar, window);
  const QPixmap contents = window->grab();
  QPixmap shot(contents.width() + 2, contents.height() + titleHeight + 1);
  shot.fill(window->palette().color(QPalette::Dark));
  QPainter painter(&shot);
  bar.rect = QRect(0, 0, shot.width(), titleHeight);
  window->style()->drawComplexControl(QStyle::CC_TitleBar, &bar, &painter, window);
  painter.drawPixmap(1, titleHeight, contents);
  return shot;
}

// The main window with a dialog over it at `at` (main-window coordinates).
QPixmap Over(QWidget* frame, QWidget* dialog, QPoint at) {
  QPixmap shot = frame->grab();
  QPainter painter(&shot);
  const QPixmap window = Framed(dialog);
  painter.fillRect(QRect(at + QPoint(4, 4), window.size()), QColor(0, 0, 0, 60));  // shadow
  painter.drawPixmap(at, window);
  return shot;
}

}  // namespace

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
    Save(t.frame()->grab(), "main-no-document.png");
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
    Save(t.frame()->grab(), "main-two-documents.png");
  }

  void openDialogShowsTheFileStatus() {
    COpenImageDialog dialog(nullptr, 1);
    dialog.setDirectory(QStringLiteral(LUNARK_TEST_DATA));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // A click on the file in the list, once the folder is listed.
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(list);
    const auto find = [list] {
      const QModelIndex root = list->rootIndex();
      for (int row = 0; row < list->model()->rowCount(root); ++row) {
        const QModelIndex index = list->model()->index(row, 0, root);
        if (index.data().toString() == QLatin1String("camera.pgm")) return index;
      }
      return QModelIndex();
    };
    QTRY_VERIFY(find().isValid());
    list->setCurrentIndex(find());
    QCOMPARE(dialog.statusText(), QStringLiteral("Supported Image"));
    Save(dialog.grab(), "open-dialog.png");
  }

  void adjustmentDialogsPreviewOnAGreyPicture() {
    TestApp t;
    QVERIFY(QTest::qWaitForWindowExposed(t.frame()));
    t.frame()->resize(1100, 700);
    QCoreApplication::processEvents();
    CTOVIMDoc* doc = t.app->OpenDocumentFile(TestData("camera.pgm"));
    QVERIFY(doc);
    FrameOf(doc)->move(10, 10);
    const QRgb before = doc->image->DisplayImage().pixel(300, 60);  // the pale sky

    DialogScript script;
    script.Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
      d.brightnessSlider()->setValue(-20);
      d.contrastEdit()->selectAll();
      QTest::keyClicks(d.contrastEdit(), QStringLiteral("45"));
      QCOMPARE(d.contrastSlider()->value(), 45);
      // The window shows the preview.
      QVERIFY(doc->image->DisplayImage().pixel(300, 60) != before);
      Save(Over(t.frame(), &d, QPoint(660, 90)), "adjust-brightness-contrast.png");
      d.reject();
    });
    t.frame()->action(kAdjustBrightnessContrast)->trigger();
    QVERIFY(script.done());
    QCOMPARE(doc->image->DisplayImage().pixel(300, 60), before);

    script.Then<CContrastDlg>([&](CContrastDlg& d) {
      d.show();
      d.slider()->setValue(-60);
      QVERIFY(doc->image->DisplayImage().pixel(300, 60) != before);
      Save(Over(t.frame(), &d, QPoint(660, 90)), "adjust-contrast.png");
      d.reject();
    });
    t.frame()->action(kAdjustContrast)->trigger();
    QVERIFY(script.done());
    QCOMPARE(doc->image->DisplayImage().pixel(300, 60), before);
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
      Save(Framed(&dialog), type == TypeWIF ? "wif-save-options.png" : "jpeg-save-options.png");
    }
  }
};

QTEST_MAIN(ScreensTest)
#include "screens_test.moc"
