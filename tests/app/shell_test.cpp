// The application shell: the recent-file list kept across runs, notices
// from reader threads, and exit asking about every unsaved picture.
#include <thread>

#include "app_test_util.h"

using namespace apptest;

namespace {

ImagePtr SmallPicture() { return Colour(40, 30); }

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
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
