// Opening documents and the application shell: the readers' notices before
// the verdict, malformed files, grey palettes made linear, display copies for
// palette screens, the open dialog, the recent-file list, notices from reader
// threads, and exit asking about every unsaved picture.
#include <sys/stat.h>

#include <QDataStream>
#include <QDirIterator>
#include <QLineEdit>
#include <QListView>
#include <QSet>
#include <thread>

#include "app_test_util.h"
#include "opendialog.h"

using namespace apptest;

namespace {

ImagePtr GreyWithPalette(int colours, const std::function<uint8_t(int)>& level) {
  ImagePtr image = MakeImage(16, 4, 8, colours,
                             [colours](int x, int) { return static_cast<unsigned>(x % colours); });
  for (int i = 0; i < colours; ++i) image->palette[i] = vxRGBA{level(i), level(i), level(i), 0};
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

}  // namespace

class DocumentTest : public QObject {
  Q_OBJECT

 private slots:
  void theReadersNoticesComeBeforeTheVerdict() {
    TestApp t;
    // A BMP whose compression (4) the reader does not decode.
    QByteArray bmp;
    QDataStream out(&bmp, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(70) << quint32(0) << quint32(54);                           // file header
    out << quint32(40) << qint32(2) << qint32(2) << quint16(1) << quint16(24)  // info header
        << quint32(4) << quint32(16) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    out.writeRawData(QByteArray(16, '\0').constData(), 16);
    const QString path = WriteBytes(t.dir.filePath("odd.bmp"), bmp);
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
    ImagePtr ramp = GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); });
    const vxBitmapInfoHeader* before = ramp->header;
    QCOMPARE(OpenInMemory(*t.app, std::move(ramp), "/p/ramp.pgm")->image->header, before);
    // 64 greys, and a full but reversed ramp: indices become grey levels.
    CTOVIMDoc* few =
        OpenInMemory(*t.app, GreyWithPalette(64, [](int i) { return static_cast<uint8_t>(4 * i); }),
                     "/p/64.gif");
    QVERIFY(few->image->IsGreyRamp());
    QCOMPARE(few->image->Row(3)[5], uint8_t{20});
    CTOVIMDoc* reversed = OpenInMemory(
        *t.app, GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(255 - i); }),
        "/p/negative.bmp");
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

  void openFilterIsRememberedAlsoAfterCancel() {
    TestApp t;
    DialogScript script;
    script
        .Then<COpenImageDialog>([](COpenImageDialog& d) {
          QCOMPARE(d.filterIndex(), 1);
          d.selectNameFilter(COpenImageDialog::Filters()[7]);
          d.reject();
        })
        .Then<COpenImageDialog>([](COpenImageDialog& d) {
          QCOMPARE(d.filterIndex(), 8);
          d.reject();
        });
    t.app->OnFileOpen();
    QCOMPARE(t.state().openFilterIndex, 8);
    t.app->OnFileOpen();
    QVERIFY(script.done());
    QVERIFY(t.messages.isEmpty());
  }

  void choosingAFileThatDoesNotOpenSaysSo() {
    TestApp t;
    const QString path = WriteBytes(t.dir.filePath("broken.bmp"), "BMbroken");
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
