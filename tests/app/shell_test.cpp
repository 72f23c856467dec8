// The application shell: start-up, frame placement, menus 128 and 129 with
// the accelerators, both tool bars, the status bar, the colour reduction items,
// the recent-file list, the About dialog, notices and exit.
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <thread>

#include "aboutdialog.h"
#include "app_test_util.h"

using namespace apptest;

namespace {

QStringList VisibleMenuTitles(QMainWindow* frame) {
  QStringList titles;
  for (QAction* a : frame->menuBar()->actions()) {
    if (a->isVisible()) titles << a->text();
  }
  return titles;
}

QList<int> ToolBarIds(QToolBar* bar) {
  QList<int> ids;
  for (QAction* a : bar->actions()) ids << (a->isSeparator() ? 0 : a->data().toInt());
  return ids;
}

QStringList MenuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a->isVisible()) texts << a->text();
  }
  return texts;
}

QMenu* VisibleMenu(QMainWindow* frame, const QString& title) {
  for (QAction* a : frame->menuBar()->actions()) {
    if (a->isVisible() && a->text() == title) return a->menu();
  }
  return nullptr;
}

ImagePtr SmallPicture() {
  return MakeImage(40, 30, 24, 0, [](int x, int y) { return static_cast<unsigned>(x * y); });
}

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void startUpPlacesTheFrameAndResetsTheState() {
    TestApp t;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(t.frame()->pos(), area.topLeft() + QPoint(50, 50));
    QCOMPARE(t.frame()->size(), area.size() - QSize(100, 100));
    QCOMPARE(t.frame()->windowTitle(), QStringLiteral("The Lunark  V1.4"));
    QCOMPARE(t.frame()->currentMenu(), 128);
    QCOMPARE(t.state().currentTool, 0);
    QVERIFY(t.state().leftTool == nullptr);
    QCOMPARE(t.state().leftCursor, 184);
    QCOMPARE(t.state().rightCursor, 184);
    QCOMPARE(t.state().openDocumentCount, 0);
    QVERIFY(t.frame()->mdiClient()->subWindowList().isEmpty());
    QCOMPARE(t.state().mainClientRect, t.frame()->mdiClient()->viewport()->rect());
  }

  void menusFollowWhetherADocumentIsOpen() {
    TestApp t;
    QCOMPARE(VisibleMenuTitles(t.frame()), (QStringList{"&File", "&View", "Options", "&Help"}));
    QCOMPARE(MenuTexts(VisibleMenu(t.frame(), "&File")),
             (QStringList{"&Open...\tCtrl+O", "E&xit"}));

    CTOVIMDoc* doc = OpenInMemory(*t.app, SmallPicture(), "/pictures/small.bmp");
    QCOMPARE(t.frame()->currentMenu(), 129);
    QCOMPARE(VisibleMenuTitles(t.frame()),
             (QStringList{"&File", "&View", "Options", "Image Tools", "&Window", "&Help"}));
    const QStringList file = MenuTexts(VisibleMenu(t.frame(), "&File"));
    for (const char* item : {"Save As...\tAlt+S", "Compress..\tAlt+C", "&Close"}) {
      QVERIFY2(file.contains(QString::fromLatin1(item)), item);
    }
    QCOMPARE(t.frame()->windowTitle(), QStringLiteral("The Lunark - small.bmp"));
    QCOMPARE(t.frame()->action(kFileOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(t.frame()->action(kFileSaveAs)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
    QCOMPARE(t.frame()->action(kCompress)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
    QCOMPARE(FrameOf(doc)->windowTitle(), QStringLiteral("small.bmp"));

    FrameOf(doc)->close();
    QCOMPARE(t.frame()->currentMenu(), 128);
  }

  void toolBarsHoldTheirButtons() {
    TestApp t;
    QCOMPARE(ToolBarIds(t.frame()->mainToolBar()),
             (QList<int>{kFileOpen, kAppAbout, 0, kFileSaveAs, kCompress, kConvertMultiple}));
    const QList<int> image{kRotateCounterClockwise,
                           kRotateClockwise,
                           kFlipVertical,
                           kFlipHorizontal,
                           kAdjustBrightnessContrast,
                           kInvertColor,
                           kToolZoom,
                           kToolPan,
                           kToolSelect,
                           kResetPanZoom};
    QCOMPARE(ToolBarIds(t.frame()->imageToolBar()), image);
    QCOMPARE(t.frame()->action(kToolZoom)->statusTip(), QStringLiteral("Zoom Image"));
    QCOMPARE(t.frame()->action(kViewImageToolbar)->toolTip(), QStringLiteral("Hide Image Toolbar"));
    for (int i = 0; i < image.size(); ++i) {
      QCOMPARE(t.frame()->action(image[i])->isCheckable(), i >= 6 && i <= 8);
      QVERIFY(!t.frame()->action(image[i])->icon().isNull());
    }
    QCOMPARE(t.frame()->toolBarArea(t.frame()->imageToolBar()), Qt::LeftToolBarArea);
    QCOMPARE(t.frame()->toolBarArea(t.frame()->mainToolBar()), Qt::TopToolBarArea);
    for (QToolBar* bar : {t.frame()->mainToolBar(), t.frame()->imageToolBar()}) {
      QCOMPARE(bar->allowedAreas(), Qt::AllToolBarAreas);
    }

    // 32846 hides and shows the image tool bar; its item is checked while shown.
    QAction* toggle = t.frame()->action(kViewImageToolbar);
    QVERIFY(toggle->isChecked());
    toggle->trigger();
    QVERIFY(t.frame()->imageToolBar()->isHidden());
    QVERIFY(!toggle->isChecked());
    toggle->trigger();
    QVERIFY(!t.frame()->imageToolBar()->isHidden());
    QVERIFY(toggle->isChecked());
  }

  void statusBarHasFourteenPanesWithTheirLabels() {
    TestApp t;
    CStatusPanes* panes = t.frame()->statusPanes();
    const QStringList labels{"Ratio",
                             "   Time",
                             "   Width",
                             "   Height",
                             " Bits Per Pixel",
                             " Original File Size",
                             " Compressed File Size"};
    for (int i = 0; i < 7; ++i) QCOMPARE(panes->PaneText(2 * i), labels[i]);
    // The edges keep the proportions of 40, 90, ... 765 (scaled for the font).
    t.frame()->resize(1600, 600);
    QCoreApplication::processEvents();
    const double scale = panes->PaneRightEdge(13) / 765.0;
    QVERIFY(scale >= 1.0);
    for (int i = 0; i < CStatusPanes::kPaneCount; ++i) {
      QVERIFY(qAbs(panes->PaneRightEdge(i) - CStatusPanes::kRightEdges[i] * scale) <= i + 1);
      if (i % 2 == 1) QVERIFY(panes->PaneText(i).trimmed().isEmpty());
    }
  }

  void colourReductionItemsFollowTheScreen() {
    const QList<int> items{kQuickDither, kMedianCut, kFastQuantization, kBestQuantization};
    {
      TestApp deep(32);
      for (int id : items) {
        QVERIFY(!deep.frame()->action(id)->isEnabled());
        QCOMPARE(deep.frame()->action(id)->isChecked(), id == kMedianCut);
      }
    }
    TestApp palette(8);
    for (int id : items) QVERIFY(palette.frame()->action(id)->isEnabled());
    palette.frame()->action(kBestQuantization)->trigger();
    QCOMPARE(palette.state().colorReductionMethod, BestQuantization);
    for (int id : items) {
      QCOMPARE(palette.frame()->action(id)->isChecked(), id == kBestQuantization);
    }
    palette.frame()->action(kQuickDither)->trigger();
    QCOMPARE(palette.state().colorReductionMethod, QuickDither);
  }

  void recentFileListPersistsAcrossApplications() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("profile/lunark.ini"));
    {
      TestApp first(32, ini);
      for (const char* name : {"/a/one.bmp", "/a/two.gif", "/a/three.tif", "/a/four.pcx",
                               "/a/five.wif", "/a/three.tif"}) {
        first.app->AddToRecentFileList(QString::fromLatin1(name));
      }
      QCOMPARE(first.app->recentFiles(),
               (QStringList{"/a/three.tif", "/a/five.wif", "/a/four.pcx", "/a/two.gif"}));
      QCOMPARE(first.frame()->action(kFileMru1)->text(), QStringLiteral("&1 /a/three.tif"));
      QVERIFY(first.frame()->action(kFileMru1 + 3)->isVisible());
    }
    QFile file(ini);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.startsWith(QStringLiteral("[Recent File List]\nFile1=/a/three.tif\n")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("File4=/a/two.gif\n")));

    TestApp second(32, ini);
    QCOMPARE(second.app->recentFiles(),
             (QStringList{"/a/three.tif", "/a/five.wif", "/a/four.pcx", "/a/two.gif"}));
    // A recent file that no longer opens leaves the list.
    second.frame()->action(kFileMru1 + 1)->trigger();
    QCOMPARE(second.messageTexts(), QStringList{"Unsupported Image File"});
    QVERIFY(!second.app->recentFiles().contains(QStringLiteral("/a/five.wif")));
  }

  void aboutDialogShowsTheProductAndCloses() {
    TestApp t;
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      auto* title = dialog->findChild<QLabel*>(QStringLiteral("productTitle"));
      QVERIFY(title);
      QCOMPARE(title->text(), QStringLiteral("The Lunark  V1.4"));
      shown = true;
      dialog->accept();
    });
    t.frame()->action(kAppAbout)->trigger();
    QVERIFY(shown);
  }

  void noticesFromAnyThreadBecomeMessageBoxes() {
    TestApp t;
    std::thread worker([] {
      vxNoticeFileScope file("/pictures/odd.tif");
      vxPostNotice(vxNoticeKind::Warning, "TIFF", "Unknown field with tag 33432");
      vxPostNotice(vxNoticeKind::Error, "", "Unrecognized compression format");
    });
    worker.join();
    QTRY_COMPARE(t.messages.size(), 2);
    QCOMPARE(t.messages[0].text, QStringLiteral("Unknown field with tag 33432"));
    QCOMPARE(t.messages[0].detail, QStringLiteral("/pictures/odd.tif\nTIFF"));
    QCOMPARE(t.messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(t.messages[1].buttons, QMessageBox::Ok | QMessageBox::Cancel);
  }

  void exitAsksEveryDocumentBeforeClosingAny() {
    TestApp t;
    CTOVIMDoc* first = OpenInMemory(*t.app, SmallPicture(), "/p/first.bmp");
    CTOVIMDoc* second = OpenInMemory(*t.app, SmallPicture(), "/p/second.bmp");
    first->modified = 1;
    second->modified = 1;
    t.answers = {QMessageBox::No, QMessageBox::Cancel};
    QVERIFY(!t.frame()->close());
    QCOMPARE(t.messages.size(), 2);
    QCOMPARE(t.state().openDocumentCount, 2);

    t.answers = {QMessageBox::No, QMessageBox::No};
    QVERIFY(t.frame()->close());
    QCOMPARE(t.messages.size(), 4);  // asked once each, not again on closing
    QCOMPARE(t.state().openDocumentCount, 0);
  }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
