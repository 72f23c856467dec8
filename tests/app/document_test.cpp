// Opening documents, the open dialog, browsing a document's folder, and the
// application shell.
#include <sys/stat.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QThread>
#include <thread>

#include "app_test_util.h"
#include "foldersequence.h"
#include "opendialog.h"

using namespace apptest;

namespace {

QRgb ShownColour(CTOVIMDoc* doc) { return doc->image->DisplayImage().pixel(0, 0) & 0xFFFFFF; }

QString Name(CTOVIMDoc* doc) { return QFileInfo(doc->GetPathName()).fileName(); }

// Steps `doc` once forwards and returns the name it then shows.
QString Next(CTOVIMDoc* doc) { return doc->Step(1) ? Name(doc) : QStringLiteral("(no step)"); }

// Pictures of these names in the application's folder, the i-th 8 + i pixels
// wide and 6 high in colour 0x100000 (i + 1), and the document of `open`.
CTOVIMDoc* OpenAmong(TestApp& t, const QStringList& names, const char* open) {
  for (int i = 0; i < names.size(); ++i) {
    if (!WritePicture(t.dir.filePath(names[i]), 8 + i, 6, 0x100000u * (i + 1))) return nullptr;
  }
  return t.app->OpenDocumentFile(t.dir.filePath(QLatin1String(open)));
}

}  // namespace

class DocumentTest : public QObject {
  Q_OBJECT

 private slots:
  // Every kept malformed input either opens (a partial picture) or shows a
  // message naming the file; the documents open before stay as they were.
  void malformedFilesShowAMessageAndLeaveTheOtherDocuments() {
    TestApp t;
    CTOVIMDoc* grey = t.app->OpenDocumentFile(TestData("camera.pgm"));
    CTOVIMDoc* colour = t.app->OpenDocumentFile(TestData("chelsea.ppm"));
    QVERIFY(grey && colour && t.messages.isEmpty());
    // Opening a file again shows the document already open.
    QCOMPARE(t.app->OpenDocumentFile(TestData("camera.pgm")), grey);
    QCOMPARE(t.state().openDocumentCount, 2);
    QCOMPARE(t.app->recentFiles(), (QStringList{TestData("chelsea.ppm"), TestData("camera.pgm")}));
    const vxBitmapInfoHeader* greyBlock = grey->image->header;
    const vxBitmapInfoHeader* colourBlock = colour->image->header;

    int files = 0, refused = 0;
    QDirIterator it(TestData("malformed"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      ++files;
      t.messages.clear();
      const int before = t.state().openDocumentCount;
      if (CTOVIMDoc* doc = t.app->OpenDocumentFile(path)) {
        QVERIFY2(doc->image && doc->image->Width() > 0 && doc->image->Height() > 0,
                 qPrintable(path));
        QCOMPARE(t.state().openDocumentCount, before + 1);
      } else {
        ++refused;
        const bool named = std::any_of(
            t.messages.begin(), t.messages.end(),
            [&](const CMessage& m) { return m.detail.contains(QDir::toNativeSeparators(path)); });
        QVERIFY2(named, qPrintable(path + ": " + t.messageTexts().join(QStringLiteral(" / "))));
        QCOMPARE(t.state().openDocumentCount, before);
      }
      QVERIFY2(t.app->documents().contains(grey) && t.app->documents().contains(colour),
               qPrintable(path));
      QCOMPARE(grey->image->header, greyBlock);
      QCOMPARE(colour->image->header, colourBlock);
    }
    QVERIFY(files > 20 && refused > 0);
    QVERIFY(FrameOf(grey) && FrameOf(colour));
  }

  void displayCopiesOnlyForPaletteScreens() {
    {
      TestApp t(32);
      CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(20, 20), "/p/colour.bmp");
      QVERIFY(doc->image->altHeader == nullptr && doc->image->useAlternate == 0);
    }
    TestApp t(8);
    CTOVIMDoc* reduced = OpenInMemory(*t.app, Colour(64, 64), "/p/median.bmp");
    // The display copy of the current method is drawn, through its palette.
    QVERIFY(reduced->image->altHeader);
    QCOMPARE(reduced->image->useAlternate, 1);
    QCOMPARE(reduced->image->paletteHandle->count, 256);
    const vxRGBA first = reduced->image->altPalette[reduced->image->altBits[0]];
    QCOMPARE(reduced->image->DisplayImage().pixel(0, 63), qRgb(first.red, first.green, first.blue));
  }

  void openDialogStatusSaysWhetherTheContentIsAnImage() {
    QTemporaryDir dir;
    const QString bmp = WriteBytes(dir.filePath("photo.jpg"), QByteArray("BM") + QByteArray(60, 0));
    const QString text = WriteBytes(dir.filePath("readme.bmp"), "This is not a picture.\n");
    COpenImageDialog dialog(nullptr, 11);
    QCOMPARE(dialog.statusText(), QString());
    dialog.OnSelectionChanged(bmp);
    QCOMPARE(dialog.statusText(), QStringLiteral("Supported Image"));
    dialog.OnSelectionChanged(text);
    QCOMPARE(dialog.statusText(), QStringLiteral("Unsupported or Invalid Image"));
    // Folders and pipes (which would block a read) leave the status as it was.
    dialog.OnSelectionChanged(dir.path());
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    dialog.OnSelectionChanged(pipe);
    QCOMPARE(dialog.statusText(), QStringLiteral("Unsupported or Invalid Image"));
  }

  void openSaysWhenTheChosenFileDoesNotOpen() {
    TestApp t;
    const QString path = WriteBytes(t.dir.filePath("broken.tif"), "BMbroken");
    DialogScript script;
    script.Then<COpenImageDialog>([path](COpenImageDialog& d) {
      d.setDirectory(QFileInfo(path).path());
      // Typed, as the user does: selectFile() leaves the box alone while it has the focus.
      d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
      QMetaObject::invokeMethod(&d, "accept");
    });
    t.trigger(kFileOpen);
    QVERIFY(script.done());
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unsupported Image File", "Invalid or Unsupported Image Selected"}));
    QCOMPARE(t.state().openDocumentCount, 0);
    QCOMPARE(t.state().openFolder, QFileInfo(path).path());
  }

  void stepsThroughTheFolderInNaturalOrderAndWraps() {
    TestApp t;
    // Files that are no pictures by name are not in the sequence, and files
    // that do not read are passed over.
    QVERIFY(!WriteBytes(t.dir.filePath("readme.txt"), "").isEmpty());
    QVERIFY(!WriteBytes(t.dir.filePath("shot3.bmp"), "BM not really a bitmap").isEmpty());
    CTOVIMDoc* doc =
        OpenAmong(t, {"shot10.bmp", "shot9.bmp", "Shot1.bmp", "shot2.ppm"}, "shot9.bmp");
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
    CTOVIMDoc* doc = OpenAmong(t, {"a.bmp", "b.bmp"}, "a.bmp");
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
    CTOVIMDoc* doc = OpenAmong(t, {"f1.bmp", "f2.bmp", "f3.bmp"}, "f2.bmp");
    QVERIFY(doc);
    doc->folder()->WaitUntilListed();
    QCOMPARE(doc->folder()->files().size(), 3);
    // The shown file is deleted: the picture stays, the sequence drops it,
    // and the next step goes on from where it stood.
    QVERIFY(QFile::remove(t.dir.filePath("f2.bmp")));
    QTRY_COMPARE_WITH_TIMEOUT(doc->folder()->files().size(), 2, 5000);
    QVERIFY(doc->image && !doc->image->IsEmpty());
    QVERIFY(t.messages.isEmpty());
    QVERIFY(WritePicture(t.dir.filePath("f10.bmp"), 6, 4, 0x404040));
    QTRY_COMPARE_WITH_TIMEOUT(doc->folder()->files().size(), 3, 5000);
    QCOMPARE(Next(doc), QStringLiteral("f3.bmp"));
    QCOMPARE(Next(doc), QStringLiteral("f10.bmp"));
    QCOMPARE(Next(doc), QStringLiteral("f1.bmp"));
  }

  void aFileChangedOnDiskIsShownAgainUnlessChangedHere() {
    TestApp t;
    const QString path = t.dir.filePath("live.bmp");
    CTOVIMDoc* doc = OpenAmong(t, {"live.bmp"}, "live.bmp");
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

  // A neighbour read ahead keeps what its reader had to say until it is
  // shown: browsing past a folder never pops up messages of other files.
  void readAheadNoticesWaitUntilThePictureIsShown() {
    const QString convert = QStandardPaths::findExecutable("convert");
    if (convert.isEmpty()) QSKIP("ImageMagick is not installed");
    TestApp t;
    // ImageMagick's GIFs carry an application extension, which the reader
    // reports.
    QVERIFY(Run(convert, {"-size", "20x20", "xc:gray", "-loop", "0", t.dir.filePath("p2.gif")}));
    CTOVIMDoc* doc = OpenAmong(t, {"p1.bmp"}, "p1.bmp");
    QVERIFY(doc);
    QTRY_VERIFY_WITH_TIMEOUT(doc->HasReadAhead(t.dir.filePath("p2.gif")), 5000);
    QCoreApplication::processEvents();
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(Next(doc), QStringLiteral("p2.gif"));
    QTRY_VERIFY_WITH_TIMEOUT(!t.messages.isEmpty(), 2000);
    QVERIFY(t.messages.first().detail.contains("p2.gif"));
  }

  void theSlideshowStepsAtThePreferredPace() {
    TestApp t;
    t.prefer([](CPreferences& p) { p.slideshowSeconds = 1; });
    CTOVIMDoc* doc = OpenAmong(t, {"s1.bmp", "s2.bmp", "s3.bmp"}, "s1.bmp");
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
      OpenInMemory(*t.app, Colour(40, 30), path)->modified = 1;
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

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
