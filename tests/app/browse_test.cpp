// Browsing a document's folder: natural order and wrapping, files appearing,
// vanishing and changing on disk, the unsaved-changes question before a
// step, reading ahead, the slideshow, and opening files dropped on the window.
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QUrl>

#include "app_test_util.h"
#include "foldersequence.h"

using namespace apptest;

namespace {

QRgb ShownColour(CTOVIMDoc* doc) { return doc->image->DisplayImage().pixel(0, 0) & 0xFFFFFF; }

QString Name(CTOVIMDoc* doc) { return QFileInfo(doc->GetPathName()).fileName(); }

// Steps `doc` once forwards and returns the name it then shows.
QString Next(CTOVIMDoc* doc) { return doc->Step(1) ? Name(doc) : QStringLiteral("(no step)"); }

// Pictures of these names in `folder`, the i-th 8 + i pixels wide and 6 high
// in colour 0x100000 (i + 1), and the document of the one named `open`.
CTOVIMDoc* OpenAmong(TestApp& t, const QTemporaryDir& folder, const QStringList& names,
                     const char* open) {
  for (int i = 0; i < names.size(); ++i) {
    if (!WritePicture(folder.filePath(names[i]), 8 + i, 6, 0x100000u * (i + 1))) return nullptr;
  }
  return t.app->OpenDocumentFile(folder.filePath(QLatin1String(open)));
}

}  // namespace

class BrowseTest : public QObject {
  Q_OBJECT

 private slots:
  void naturalOrderCountsDigitRunsByValue() {
    QStringList names = {"img10.bmp", "IMG2.bmp", "img1.bmp", "img02.bmp", "a.bmp", "img1b.bmp"};
    std::sort(names.begin(), names.end(), NaturalLess);
    QCOMPARE(names,
             (QStringList{"a.bmp", "img1.bmp", "img1b.bmp", "IMG2.bmp", "img02.bmp", "img10.bmp"}));
    QVERIFY(IsPictureName("x.JPEG") && IsPictureName("y.wif") && !IsPictureName("notes.txt"));
    QVERIFY(!IsPictureName("jpg"));
  }

  void stepsThroughTheFolderInNaturalOrderAndWraps() {
    TestApp t;
    QTemporaryDir folder;
    // Files that are no pictures by name are not in the sequence, and files
    // that do not read are passed over.
    QVERIFY(!WriteBytes(folder.filePath("readme.txt"), "").isEmpty());
    QVERIFY(!WriteBytes(folder.filePath("shot3.bmp"), "BM not really a bitmap").isEmpty());
    CTOVIMDoc* doc =
        OpenAmong(t, folder, {"shot10.bmp", "shot9.bmp", "Shot1.bmp", "shot2.ppm"}, "shot9.bmp");
    QVERIFY(doc);
    QStringList seen;
    for (int i = 0; i < 5; ++i) seen << Next(doc);
    QCOMPARE(seen,
             (QStringList{"shot10.bmp", "Shot1.bmp", "shot2.ppm", "shot9.bmp", "shot10.bmp"}));
    // The same window shows it, and its figures follow the picture.
    QCOMPARE(t.app->documents().size(), 1);
    QCOMPARE(FrameOf(doc)->windowTitle(), QStringLiteral("shot10.bmp"));
    QCOMPARE(t.pane(5), QStringLiteral("8"));
    QCOMPARE(ShownColour(doc), QRgb(0x100000));
    QVERIFY(doc->Step(-1));
    QCOMPARE(Name(doc), QStringLiteral("shot9.bmp"));
    // The keys and the menu step too.
    t.frame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(t.frame()));
    doc->view->setFocus();
    for (const auto& [key, name] :
         {std::pair{Qt::Key_PageDown, "shot10.bmp"}, std::pair{Qt::Key_Space, "Shot1.bmp"},
          std::pair{Qt::Key_Backspace, "shot10.bmp"}}) {
      QTest::keyClick(doc->view, key);
      QCOMPARE(Name(doc), QLatin1String(name));
    }
    t.trigger(kPreviousImage);
    QCOMPARE(Name(doc), QStringLiteral("shot9.bmp"));
    QVERIFY(t.messages.isEmpty());
  }

  void aModifiedPictureAsksBeforeSteppingAway() {
    TestApp t;
    QTemporaryDir folder;
    CTOVIMDoc* doc = OpenAmong(t, folder, {"a.bmp", "b.bmp"}, "a.bmp");
    QVERIFY(doc && doc->InvertImage());
    const QRgb inverted = ShownColour(doc);
    t.answers << QMessageBox::Cancel;
    QVERIFY(!doc->Step(1));
    QCOMPARE(t.messageTexts(),
             QStringList{QStringLiteral("Image not saved\nWould you like to save it now?\n")});
    QCOMPARE(Name(doc), QStringLiteral("a.bmp"));
    QCOMPARE(ShownColour(doc), inverted);
    QCOMPARE(doc->modified, 1);
    t.answers << QMessageBox::No;
    QCOMPARE(Next(doc), QStringLiteral("b.bmp"));
    QCOMPARE(doc->modified, 0);
    QCOMPARE(t.messages.size(), 2);
  }

  void filesComingAndGoingJoinAndLeaveTheSequence() {
    TestApp t;
    QTemporaryDir folder;
    CTOVIMDoc* doc = OpenAmong(t, folder, {"f1.bmp", "f2.bmp", "f3.bmp"}, "f2.bmp");
    QVERIFY(doc);
    doc->folder()->WaitUntilListed();
    QCOMPARE(doc->folder()->files().size(), 3);
    // The shown file is deleted: the picture stays, the sequence drops it,
    // and the next step goes on from where it stood.
    QVERIFY(QFile::remove(folder.filePath("f2.bmp")));
    QTRY_COMPARE_WITH_TIMEOUT(doc->folder()->files().size(), 2, 5000);
    QVERIFY(doc->image && !doc->image->IsEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(t.frame()->statusBar()->currentMessage().contains("deleted"), 5000);
    QVERIFY(t.messages.isEmpty());
    QVERIFY(WritePicture(folder.filePath("f10.bmp"), 6, 4, 0x404040));
    QTRY_COMPARE_WITH_TIMEOUT(doc->folder()->files().size(), 3, 5000);
    QCOMPARE(Next(doc), QStringLiteral("f3.bmp"));
    QCOMPARE(Next(doc), QStringLiteral("f10.bmp"));
    QCOMPARE(Next(doc), QStringLiteral("f1.bmp"));
  }

  void aFileChangedOnDiskIsShownAgainUnlessChangedHere() {
    TestApp t;
    QTemporaryDir folder;
    const QString path = folder.filePath("live.bmp");
    CTOVIMDoc* doc = OpenAmong(t, folder, {"live.bmp"}, "live.bmp");
    QVERIFY(doc);
    doc->folder()->WaitUntilListed();
    // Modification times of one second's grain must differ.
    QThread::msleep(1100);
    QVERIFY(WritePicture(path, 6, 4, 0x405060));
    QTRY_COMPARE_WITH_TIMEOUT(ShownColour(doc), QRgb(0x405060), 5000);
    QVERIFY(t.messages.isEmpty());
    // Changed here too: the user is told, and the changes stay.
    QVERIFY(doc->InvertImage());
    const QRgb mine = ShownColour(doc);
    QThread::msleep(1100);
    QVERIFY(WritePicture(path, 6, 4, 0x708090));
    QTRY_COMPARE_WITH_TIMEOUT(t.messages.size(), 1, 5000);
    QVERIFY(t.messages[0].text.contains("changed by another program"));
    QCOMPARE(ShownColour(doc), mine);
    QCOMPARE(doc->modified, 1);
  }

  void neighboursAreReadAhead() {
    TestApp t;
    QTemporaryDir folder;
    CTOVIMDoc* doc = OpenAmong(t, folder, {"r1.bmp", "r2.bmp", "r3.bmp", "r4.bmp"}, "r2.bmp");
    QVERIFY(doc);
    const auto readAhead = [&](const char* name) {
      return doc->HasReadAhead(folder.filePath(name));
    };
    QTRY_VERIFY_WITH_TIMEOUT(readAhead("r3.bmp") && readAhead("r1.bmp"), 5000);
    QVERIFY(!readAhead("r4.bmp"));
    QVERIFY(doc->Step(1));
    QCOMPARE(ShownColour(doc), QRgb(0x300000));
    // The window moved on: now r4 and r2 are its neighbours.
    QTRY_VERIFY_WITH_TIMEOUT(readAhead("r4.bmp"), 5000);
    QVERIFY(!readAhead("r1.bmp"));
  }

  // A neighbour read ahead keeps what its reader had to say until it is
  // shown: browsing past a folder never pops up messages of other files.
  void readAheadNoticesWaitUntilThePictureIsShown() {
    const QString convert = QStandardPaths::findExecutable("convert");
    if (convert.isEmpty()) QSKIP("ImageMagick is not installed");
    TestApp t;
    QTemporaryDir folder;
    // ImageMagick's GIFs carry an application extension, which the reader
    // reports.
    QVERIFY(Run(convert, {"-size", "20x20", "xc:gray", "-loop", "0", folder.filePath("p2.gif")}));
    CTOVIMDoc* doc = OpenAmong(t, folder, {"p1.bmp"}, "p1.bmp");
    QVERIFY(doc);
    QTRY_VERIFY_WITH_TIMEOUT(doc->HasReadAhead(folder.filePath("p2.gif")), 5000);
    QCoreApplication::processEvents();
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(Next(doc), QStringLiteral("p2.gif"));
    QTRY_VERIFY_WITH_TIMEOUT(!t.messages.isEmpty(), 2000);
    QVERIFY(t.messages.first().detail.contains("p2.gif"));
  }

  void theSlideshowStepsAtThePreferredPace() {
    TestApp t;
    QTemporaryDir folder;
    t.prefer([](CPreferences& p) { p.slideshowSeconds = 1; });
    CTOVIMDoc* doc = OpenAmong(t, folder, {"s1.bmp", "s2.bmp", "s3.bmp"}, "s1.bmp");
    QVERIFY(doc);
    t.trigger(kSlideshow);
    QVERIFY(t.frame()->slideshowRunning());
    QTRY_COMPARE_WITH_TIMEOUT(Name(doc), QStringLiteral("s2.bmp"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(Name(doc), QStringLiteral("s3.bmp"), 3000);
    // A picture changed meanwhile stops the show instead of being asked about.
    QVERIFY(doc->InvertImage());
    QTRY_VERIFY_WITH_TIMEOUT(!t.frame()->slideshowRunning(), 3000);
    QCOMPARE(Name(doc), QStringLiteral("s3.bmp"));
    QVERIFY(t.messages.isEmpty());
  }

  void droppedFilesOpen() {
    TestApp t;
    QTemporaryDir folder;
    for (const char* name : {"d1.bmp", "d2.bmp"})
      QVERIFY(WritePicture(folder.filePath(name), 7, 5, 0x00FF00));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder.filePath("d1.bmp")),
                  QUrl::fromLocalFile(folder.filePath("d2.bmp"))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.frame(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.frame(), &drop);
    QTRY_COMPARE(t.app->documents().size(), 2);
    QCOMPARE(Name(t.app->documents()[0]) + Name(t.app->documents()[1]),
             QStringLiteral("d1.bmpd2.bmp"));
  }
};

QTEST_MAIN(BrowseTest)
#include "browse_test.moc"
