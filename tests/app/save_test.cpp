// Save As and Compress; the files written are read back by our readers.
#include <QFileInfo>
#include <QLineEdit>
#include <QSlider>
#include <cmath>

#include "app_test_util.h"
#include "savedialog.h"
#include "saveoptions.h"

using namespace apptest;

namespace {

// Picks `name` in `folder` with the filter of 1-based `index` and presses
// Save. The name is typed into the name box, as the user does (selectFile()
// leaves the box alone while it has the focus).
std::function<void(CSaveImageDialog&)> Choose(const QString& folder, const QString& name,
                                              int index) {
  return [=](CSaveImageDialog& d) {
    d.setDirectory(folder);
    d.selectNameFilter(d.nameFilters()[index - 1]);
    auto* box = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(box);
    box->setText(name);
    QMetaObject::invokeMethod(&d, "accept");
  };
}

// Saves As `name` with filter `index`, one that asks for no options.
bool SaveAs(TestApp& t, const QString& name, int index) {
  DialogScript script;
  script.Then<CSaveImageDialog>(Choose(t.dir.path(), name, index));
  t.trigger(kFileSaveAs);
  return script.done();
}

// The pixels of a file as our readers give them; none when it does not read.
QList<QRgb> FilePixels(const QString& path) {
  vxScopedImage image;
  return image.LoadImage(QFile::encodeName(path).constData()) == 0 ? Pixels(image) : QList<QRgb>();
}

int TypeOf(const QString& path) {
  return vxImage::GetFileType(QFile::encodeName(path).constData());
}

// The peak signal-to-noise ratio of two grey pictures, in dB.
double Psnr(const QList<QRgb>& a, const QList<QRgb>& b) {
  double sum = 0;
  for (qsizetype i = 0; i < a.size(); ++i) sum += std::pow(qRed(a[i]) - qRed(b[i]), 2);
  return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * a.size() / sum);
}

}  // namespace

class SaveTest : public QObject {
  Q_OBJECT

 private slots:
  // (Completing through the dialog is in the next test.)
  void namesAreCompletedFromTheChosenFilter() {
    QCOMPARE(CompleteFileName("/d/picture.bmp", "*.wif", 2), QStringLiteral("/d/picture.bmp.wif"));
    QCOMPARE(CompleteFileName("/d/name.", "*.wif", 2), QStringLiteral("/d/name.wif"));
    QCOMPARE(CompleteFileName("/d/scan.tiff", "*.tif", 2), QStringLiteral("/d/scan.tiff"));
    // A dot in a folder name is not an extension.
    QCOMPARE(CompleteFileName("/d/v1.2/photo", "*.pgm", 2), QStringLiteral("/d/v1.2/photo.pgm"));
  }

  // BMP, PCX, TGA and TIFF take the picture as it is; the filter is
  // remembered, and an upper-case extension is not the filter's.
  void saveAsWritesTheChosenFormatUnderTheCompletedName() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(), "/p/colour.bmp");
    const struct {
      int filter;
      const char* typed;
      const char* written;
      int type;
    } cases[] = {{3, "photo", "photo.bmp", TypeBMP},
                 {3, "photo.BMP", "photo.BMP.bmp", TypeBMP},
                 {4, "p.pcx", "p.pcx", TypePCX},
                 {7, "p.tga", "p.tga", TypeTGA},
                 {8, "p.tif", "p.tif", TypeTIFF}};
    int remembered = 1;
    for (const auto& c : cases) {
      doc->modified = 1;
      DialogScript script;
      script.Then<CSaveImageDialog>([&](CSaveImageDialog& d) {
        QCOMPARE(d.filterIndex(), remembered);
        Choose(t.dir.path(), QLatin1String(c.typed), c.filter)(d);
      });
      t.trigger(kFileSaveAs);
      QVERIFY(script.done());
      const QString path = t.dir.filePath(QLatin1String(c.written));
      QCOMPARE(TypeOf(path), c.type);
      QCOMPARE(FilePixels(path), Pixels(*doc->image));
      QCOMPARE(doc->modified, 0);
      remembered = c.filter;
      QCOMPARE(t.state().saveAsFilterIndex, remembered);
    }
    QVERIFY(t.messages.isEmpty());
  }

  void wifTakesItsQualityFromTheOptionsDialog() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/grey.pgm");
    doc->modified = 1;
    DialogScript script;
    // VXW: a WIF stream under the .vxw name; no depth question for grey.
    script.Then<CSaveImageDialog>(Choose(t.dir.path(), "picture.bmp", 2))
        .Then<CSaveOptionsDlg>([](CSaveOptionsDlg& d) {
          d.slider()->setValue(1);
          d.accept();
        });
    t.trigger(kFileSaveAs);
    QVERIFY(script.done());
    const QString path = t.dir.filePath("picture.bmp.vxw");
    QCOMPARE(TypeOf(path), int(TypeWIF));
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(doc->modified, 0);
    QVERIFY(Psnr(FilePixels(path), Pixels(*doc->image)) > 40.0);
    // Compress writes WIF too.
    script.Then<CSaveImageDialog>(Choose(t.dir.path(), "picture.bmp", 1)).Accept<CSaveOptionsDlg>();
    t.trigger(kCompress);
    QVERIFY(script.done());
    QCOMPARE(TypeOf(t.dir.filePath("picture.bmp.wif")), int(TypeWIF));
  }

  void anExistingFileIsReplacedOnlyAfterYes() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(), "/p/colour.bmp");
    doc->modified = 1;
    const QString path = WriteBytes(t.dir.filePath("old.tga"), "precious");
    QVERIFY(!path.isEmpty());
    t.answers = {QMessageBox::No};
    QVERIFY(SaveAs(t, "old", 7));
    QCOMPARE(t.messages.size(), 1);
    QCOMPARE(ReadBytes(path), QByteArray("precious"));
    QCOMPARE(doc->modified, 1);
    QCOMPARE(t.state().saveAsFilterIndex, 1);  // a save that did not happen chose nothing

    t.answers = {QMessageBox::Yes};
    QVERIFY(SaveAs(t, "old", 7));
    QCOMPARE(TypeOf(path), int(TypeTGA));
    QCOMPARE(doc->modified, 0);
  }

  // A grey picture must become full colour for PPM, colour and palette
  // pictures grey for PGM, a palette full colour for WIF; Compress asks
  // before its file dialog. No writes nothing and changes nothing.
  void depthQuestionsForPpmPgmAndWif_data() {
    QTest::addColumn<int>("picture");  // 0 grey, 1 colour, 2 colour palette
    QTest::addColumn<int>("filter");   // of Save As; 0: Compress
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("bits");     // afterwards
    QTest::addColumn<int>("written");  // the type of the file written, or 0
    QTest::newRow("grey as PPM, declined") << 0 << 5 << false << "Full Color" << 8 << 0;
    QTest::newRow("grey as PPM") << 0 << 5 << true << "Full Color" << 24 << int(TypePPM);
    QTest::newRow("colour as PGM") << 1 << 6 << true << "Gray Scale" << 8 << int(TypePGM);
    QTest::newRow("palette as WIF") << 2 << 1 << true << "Full Color" << 24 << int(TypeWIF);
    QTest::newRow("palette compressed, declined") << 2 << 0 << false << "Full Color" << 8 << 0;
  }

  void depthQuestionsForPpmPgmAndWif() {
    QFETCH(int, picture);
    QFETCH(int, filter);
    QFETCH(bool, yes);
    QFETCH(QString, to);
    QFETCH(int, bits);
    QFETCH(int, written);
    TestApp t;
    ImagePtr pictures[] = {Grey(), Colour(), Palette()};
    CTOVIMDoc* doc = OpenInMemory(*t.app, std::move(pictures[picture]), "/p/x");
    DialogScript script;
    if (filter) script.Then<CSaveImageDialog>(Choose(t.dir.path(), "pic", filter));
    if (filter == 1) script.Accept<CSaveOptionsDlg>();
    t.answers = {yes ? QMessageBox::Yes : QMessageBox::No};
    t.trigger(filter ? kFileSaveAs : kCompress);
    QVERIFY(script.done());
    QCOMPARE(t.messageTexts(), QStringList{"This image must be converted to " + to +
                                           "\nWould you like to do it now?"});
    QCOMPARE(doc->image->BitCount(), bits);
    QCOMPARE(t.pane(9), QString::number(bits));
    const QStringList files = QDir(t.dir.path()).entryList({"pic.*"}, QDir::Files);
    QCOMPARE(files.size(), written ? 1 : 0);
    if (!written) return;
    const QString path = t.dir.filePath(files[0]);
    QCOMPARE(TypeOf(path), written);
    if (written == TypePGM) {
      QVERIFY(doc->image->IsGrayScale());
      QCOMPARE(FilePixels(path), Pixels(*doc->image));
    }
  }

  void aFailedSaveSaysWhyAndKeepsTheChanges() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(), "/p/colour.bmp");
    doc->modified = 1;
    // A folder stands where the file would go: the write cannot be put in place.
    QVERIFY(QDir(t.dir.path()).mkdir("shot.bmp"));
    QVERIFY(SaveAs(t, "shot", 3));
    // The message names the file and gives the system's reason.
    QCOMPARE(t.messageTexts(), QStringList{"The image could not be saved"});
    const QStringList detail = t.messages[0].detail.split('\n');
    QVERIFY(detail.size() == 2 && !detail[1].isEmpty());
    QCOMPARE(detail[0], QDir::toNativeSeparators(t.dir.filePath("shot.bmp")));
    QCOMPARE(doc->modified, 1);
    // Nothing is left behind.
    QStringList files = QDir(t.dir.path()).entryList(QDir::Files | QDir::Hidden);
    files.removeAll("lunark.ini");
    QCOMPARE(files, QStringList());
  }

  void cancelledSavesWriteNothingAndClosingWaitsForASave() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/grey.pgm");
    QVERIFY(FrameOf(OpenInMemory(*t.app, Grey(), "/p/unchanged.pgm"))->close());
    doc->modified = 1;
    DialogScript script;
    // Cancel in the WIF options, from Save As and from Compress.
    for (int command : {kFileSaveAs, kCompress}) {
      script.Then<CSaveImageDialog>(Choose(t.dir.path(), "grey", 1)).Reject<CSaveOptionsDlg>();
      t.trigger(command);
    }
    QVERIFY(script.done());
    QVERIFY(!QFile::exists(t.dir.filePath("grey.wif")));
    QCOMPARE(doc->modified, 1);
    QVERIFY(t.messages.isEmpty());  // nor anything to ask about on closing the unchanged one
    t.answers = {QMessageBox::Cancel};
    QVERIFY(!FrameOf(doc)->close());
    QCOMPARE(t.messages.size(), 1);
    QCOMPARE(t.state().openDocumentCount, 1);
    // Yes, then Cancel in the file dialog.
    script.Reject<CSaveImageDialog>();
    t.answers = {QMessageBox::Yes};
    QVERIFY(!FrameOf(doc)->close());
    QVERIFY(script.done());
    QCOMPARE(t.state().openDocumentCount, 1);
    QCOMPARE(doc->modified, 1);
    // Yes and a save that happened: the document closes.
    script.Then<CSaveImageDialog>(Choose(t.dir.path(), "grey", 6));
    t.answers = {QMessageBox::Yes};
    QVERIFY(FrameOf(doc)->close());
    QVERIFY(script.done());
    QCOMPARE(t.state().openDocumentCount, 0);
    QCOMPARE(TypeOf(t.dir.filePath("grey.pgm")), int(TypePGM));
  }
};

QTEST_MAIN(SaveTest)
#include "save_test.moc"
