// Opening documents, the open dialog, browsing a document's folder, files
// dropped on the window, and the application shell.
#include <sys/stat.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QSet>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <thread>

#include "app_test_util.h"
#include "foldersequence.h"
#include "opendialog.h"

using namespace apptest;

namespace {

// A grey picture whose palette of `colours` entries goes from `first` by `step`.
ImagePtr GreyWithPalette(int colours, int first, int step) {
  ImagePtr image = MakeImage(16, 4, 8, colours,
                             [colours](int x, int) { return static_cast<unsigned>(x % colours); });
  for (int i = 0; i < colours; ++i) {
    const auto level = static_cast<uint8_t>(first + step * i);
    image->palette[i] = vxRGBA{level, level, level, 0};
  }
  return image;
}

// The names the open dialog lists in its current folder.
QStringList Listed(COpenImageDialog& dialog) {
  auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  QStringList names;
  for (int row = 0; list && row < list->model()->rowCount(list->rootIndex()); ++row)
    names << list->model()->index(row, 0, list->rootIndex()).data().toString();
  names.sort();
  return names;
}

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
  void theReadersNoticesComeBeforeTheVerdict() {
    TestApp t;
    // A BMP whose compression (4) the reader does not decode.
    const QString path = t.dir.filePath("odd.bmp");
    QVERIFY(Write(path, Colour(2, 2)));
    QByteArray bmp = ReadBytes(path);
    bmp[30] = 4;
    QCOMPARE(WriteBytes(path, bmp), path);
    QVERIFY(!t.app->OpenDocumentFile(path));
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unrecognized compression format", "Unsupported Image File"}));
    QCOMPARE(t.messages[0].detail, QDir::toNativeSeparators(path));
  }

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

  void greyPalettesThatAreNotTheIdentityRampAreLinearised() {
    TestApp t;
    // The identity ramp is kept as it is.
    ImagePtr ramp = GreyWithPalette(256, 0, 1);
    const vxBitmapInfoHeader* before = ramp->header;
    QCOMPARE(OpenInMemory(*t.app, std::move(ramp), "/p/ramp.pgm")->image->header, before);
    // 64 greys, and a full but reversed ramp: indices become grey levels.
    CTOVIMDoc* few = OpenInMemory(*t.app, GreyWithPalette(64, 0, 4), "/p/64.gif");
    QVERIFY(few->image->IsGreyRamp());
    QCOMPARE(few->image->Row(3)[5], uint8_t{20});
    CTOVIMDoc* reversed = OpenInMemory(*t.app, GreyWithPalette(256, 255, -1), "/p/negative.bmp");
    QVERIFY(reversed->image->IsGreyRamp());
    QCOMPARE(reversed->image->Row(0)[1], uint8_t{254});
  }

  void displayCopiesOnlyForPaletteScreens() {
    {
      TestApp t(32);
      t.state().colorReductionMethod = BestQuantization;
      CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(20, 20), "/p/colour.bmp");
      QVERIFY(doc->image->altHeader == nullptr && doc->image->useAlternate == 0);
      QCOMPARE(doc->image->DisplayImage().pixel(3, 2), qRgb(111, 118, 59));
    }
    const auto colours = [](const QImage& image) {
      QSet<QRgb> set;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) set << image.pixel(x, y);
      }
      return set.size();
    };
    TestApp t(8);
    CTOVIMDoc* reduced = OpenInMemory(*t.app, Colour(64, 64), "/p/median.bmp");
    // The display copy of the current method is drawn, through its palette.
    QVERIFY(reduced->image->altHeader);
    QCOMPARE(reduced->image->useAlternate, 1);
    QCOMPARE(reduced->image->paletteHandle->count, 256);
    QVERIFY(colours(reduced->image->DisplayImage()) <= 256);
    const vxRGBA first = reduced->image->altPalette[reduced->image->altBits[0]];
    QCOMPARE(reduced->image->DisplayImage().pixel(0, 63), qRgb(first.red, first.green, first.blue));

    t.trigger(kQuickDither);
    CTOVIMDoc* dithered = OpenInMemory(*t.app, Colour(64, 64), "/p/dither.bmp");
    QVERIFY(dithered->image->altHeader == nullptr && dithered->image->useAlternate == 0);
    QVERIFY(colours(dithered->image->DisplayImage()) <= 216);
  }

  void openDialogFiltersByExtensionWhateverTheCase() {
    QTemporaryDir dir;
    for (const char* name : {"a.tif", "b.tiff", "c.BMP", "d.bmp", "e.txt"})
      QVERIFY(!WriteBytes(dir.filePath(name), "x").isEmpty());
    COpenImageDialog dialog(nullptr, 1);
    dialog.setDirectory(dir.path());
    QTRY_COMPARE(Listed(dialog), (QStringList{"a.tif", "c.BMP", "d.bmp"}));
    dialog.selectNameFilter(COpenImageDialog::Filters()[7]);
    QTRY_COMPARE(Listed(dialog), (QStringList{"a.tif", "b.tiff"}));
    QCOMPARE(dialog.filterIndex(), 8);
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
    // Selecting in the dialog updates the panel.
    dialog.setDirectory(dir.path());
    dialog.show();
    dialog.selectFile(bmp);
    QTRY_COMPARE(dialog.statusText(), QStringLiteral("Supported Image"));
  }

  void openRemembersItsFilterAndSaysWhenTheChosenFileDoesNotOpen() {
    TestApp t;
    const QString path = WriteBytes(t.dir.filePath("broken.tif"), "BMbroken");
    DialogScript script;
    script
        .Then<COpenImageDialog>([](COpenImageDialog& d) {
          QCOMPARE(d.filterIndex(), 1);
          d.selectNameFilter(COpenImageDialog::Filters()[7]);
          d.reject();
        })
        .Then<COpenImageDialog>([path](COpenImageDialog& d) {
          QCOMPARE(d.filterIndex(), 8);
          d.setDirectory(QFileInfo(path).path());
          // Typed, as the user does: selectFile() leaves the box alone while it has the focus.
          d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
          QMetaObject::invokeMethod(&d, "accept");
        });
    t.trigger(kFileOpen);
    QCOMPARE(t.state().openFilterIndex, 8);  // also after Cancel
    QVERIFY(t.messages.isEmpty());
    t.trigger(kFileOpen);
    QVERIFY(script.done());
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unsupported Image File", "Invalid or Unsupported Image Selected"}));
    QCOMPARE(t.state().openDocumentCount, 0);
    QCOMPARE(t.state().openFolder, QFileInfo(path).path());
  }

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
    QTRY_VERIFY_WITH_TIMEOUT(t.frame()->statusBar()->currentMessage().contains("deleted"), 5000);
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

  void neighboursAreReadAhead() {
    TestApp t;
    CTOVIMDoc* doc = OpenAmong(t, {"r1.bmp", "r2.bmp", "r3.bmp", "r4.bmp"}, "r2.bmp");
    QVERIFY(doc);
    const auto readAhead = [&](const char* name) {
      return doc->HasReadAhead(t.dir.filePath(name));
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

  void droppedFilesOpen() {
    TestApp t;
    for (const char* name : {"d1.bmp", "d2.bmp"})
      QVERIFY(WritePicture(t.dir.filePath(name), 7, 5, 0x00FF00));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(t.dir.filePath("d1.bmp")),
                  QUrl::fromLocalFile(t.dir.filePath("d2.bmp"))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.frame(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.frame(), &drop);
    QTRY_COMPARE(t.app->documents().size(), 2);
    QCOMPARE(Name(t.app->documents()[0]) + Name(t.app->documents()[1]),
             QStringLiteral("d1.bmpd2.bmp"));
  }

  void recentFileListPersistsAcrossApplications() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("profile/lunark.ini"));
    const QStringList recent{"/a/three.tif", "/a/five.wif", "/a/four.pcx", "/a/two.gif"};
    {
      TestApp first(32, ini);
      for (const char* name : {"/a/one.bmp", "/a/two.gif", "/a/three.tif", "/a/four.pcx",
                               "/a/five.wif", "/a/three.tif"})
        first.app->AddToRecentFileList(QString::fromLatin1(name));
      QCOMPARE(first.app->recentFiles(), recent);
      QCOMPARE(first.frame()->action(kFileMru1)->text(), QStringLiteral("&1 /a/three.tif"));
      QVERIFY(first.frame()->action(kFileMru1 + 3)->isVisible());
    }
    TestApp second(32, ini);
    QCOMPARE(second.app->recentFiles(), recent);
    // A recent file that no longer opens leaves the list.
    second.trigger(kFileMru1 + 1);
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
