// The application shell: start-up, frame placement, the menus and tool bars
// that follow the documents, the colour reduction items,
// the recent-file list, notices and exit.
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>
#include <thread>

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

ImagePtr SmallPicture() { return Colour(40, 30); }

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void frameIsPlacedAndMenusAndToolBarsFollowTheDocuments() {
    TestApp t;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(t.frame()->pos(), area.topLeft() + QPoint(50, 50));
    QCOMPARE(t.frame()->size(), area.size() - QSize(100, 100));
    QCOMPARE(t.state().mainClientRect, t.frame()->mdiClient()->viewport()->rect());
    QCOMPARE(VisibleMenuTitles(t.frame()), (QStringList{"&File", "&View", "Options", "&Help"}));
    CTOVIMDoc* doc = OpenInMemory(*t.app, SmallPicture(), "/pictures/small.bmp");
    QCOMPARE(t.frame()->currentMenu(), 129);
    QCOMPARE(VisibleMenuTitles(t.frame()),
             (QStringList{"&File", "&View", "Options", "Image Tools", "&Window", "&Help"}));
    QVERIFY(t.frame()->action(kFileSaveAs)->isVisible());
    QCOMPARE(t.frame()->windowTitle(), QStringLiteral("The Lunark - small.bmp"));
    FrameOf(doc)->close();
    QCOMPARE(t.frame()->currentMenu(), 128);

    // The image tool bar hides and shows; its item is checked while shown.
    QAction* toggle = t.frame()->action(kViewImageToolbar);
    for (bool shown : {false, true}) {
      toggle->trigger();
      QCOMPARE(t.frame()->imageToolBar()->isHidden(), !shown);
      QCOMPARE(toggle->isChecked(), shown);
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
    palette.frame()->action(kBestQuantization)->trigger();
    QCOMPARE(palette.state().colorReductionMethod, BestQuantization);
    for (int id : items) {
      QVERIFY(palette.frame()->action(id)->isEnabled());
      QCOMPARE(palette.frame()->action(id)->isChecked(), id == kBestQuantization);
    }
    palette.frame()->action(kQuickDither)->trigger();
    QCOMPARE(palette.state().colorReductionMethod, QuickDither);
  }

  void recentFileListPersistsAcrossApplications() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("profile/lunark.ini"));
    const QStringList recent{"/a/three.tif", "/a/five.wif", "/a/four.pcx", "/a/two.gif"};
    {
      TestApp first(32, ini);
      for (const char* name : {"/a/one.bmp", "/a/two.gif", "/a/three.tif", "/a/four.pcx",
                               "/a/five.wif", "/a/three.tif"}) {
        first.app->AddToRecentFileList(QString::fromLatin1(name));
      }
      QCOMPARE(first.app->recentFiles(), recent);
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
    QCOMPARE(second.app->recentFiles(), recent);
    // A recent file that no longer opens leaves the list.
    second.frame()->action(kFileMru1 + 1)->trigger();
    QCOMPARE(second.messageTexts(), QStringList{"Unsupported Image File"});
    QVERIFY(!second.app->recentFiles().contains(QStringLiteral("/a/five.wif")));
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
    for (const char* path : {"/p/first.bmp", "/p/second.bmp"})
      OpenInMemory(*t.app, SmallPicture(), path)->modified = 1;
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
