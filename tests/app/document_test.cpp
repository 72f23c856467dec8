// The image document: opening good and bad files, the open-document count,
// grey palettes made linear at open, the display preparation on true-colour
// and palette screens, palette save and restore, and the unsaved-changes
// question.
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app_test_util.h"
#include "savedialog.h"

using namespace apptest;

namespace {

ImagePtr GreyWithPalette(int colours, const std::function<uint8_t(int)>& level) {
  ImagePtr image = MakeImage(16, 4, 8, colours,
                             [colours](int x, int) { return static_cast<unsigned>(x % colours); });
  for (int i = 0; i < colours; ++i) {
    const uint8_t v = level(i);
    image->palette[i] = vxRGBA{v, v, v, 0};
  }
  return image;
}

}  // namespace

class DocumentTest : public QObject {
  Q_OBJECT

 private slots:
  void unknownFileShowsTheMessageAndEntersTheRecentList() {
    TestApp t;
    const QString path = t.dir.filePath(QStringLiteral("notes.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("just some words, not a picture\n");
    file.close();

    QVERIFY(!t.app->OpenDocumentFile(path));
    QCOMPARE(t.messageTexts(), QStringList{"Unsupported Image File"});
    QCOMPARE(t.messages[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY(t.messages[0].detail.startsWith(QDir::toNativeSeparators(path)));
    QCOMPARE(t.app->recentFiles(), QStringList{path});
    QCOMPARE(t.state().openDocumentCount, 0);
    QVERIFY(t.frame()->mdiClient()->subWindowList().isEmpty());
    QCOMPARE(t.frame()->currentMenu(), 128);
  }

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
    const QString path = t.dir.filePath(QStringLiteral("odd.bmp"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bmp);
    file.close();
    QVERIFY(!t.app->OpenDocumentFile(path));
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unrecognized compression format", "Unsupported Image File"}));
    QCOMPARE(t.messages[0].detail, QDir::toNativeSeparators(path));
  }

  void goodFileOpensOnceAndIsTimed() {
    TestApp t;
    const QString path = TestData("camera.pgm");
    CTOVIMDoc* doc = t.app->OpenDocumentFile(path);
    QVERIFY(doc);
    QVERIFY(t.messages.isEmpty());
    QVERIFY(doc->loadSeconds >= 0.0f && doc->loadSeconds < 10.0f);
    QCOMPARE(t.app->recentFiles(), QStringList{path});
    QCOMPARE(t.state().openDocumentCount, 1);
    QCOMPARE(FrameOf(doc)->windowTitle(), QFileInfo(path).fileName());
    QCOMPARE(t.pane(5), QString::number(doc->image->Width()));
    QCOMPARE(t.pane(13), QString::number(doc->image->loadedBytes));
    QCOMPARE(t.pane(9), QStringLiteral("8"));
    // Opening the same file again shows the document already open.
    QCOMPARE(t.app->OpenDocumentFile(path), doc);
    QCOMPARE(t.state().openDocumentCount, 1);
  }

  // Targa files of the run-length types and with an ID field open like any
  // other picture, showing the pixels tgatoppm reads from them.
  void targaFilesOfEveryKindOpen() {
    if (QStandardPaths::findExecutable("convert").isEmpty() ||
        QStandardPaths::findExecutable("tgatoppm").isEmpty())
      QSKIP("ImageMagick or netpbm is not installed");
    QTemporaryDir dir;
    const QString source = dir.filePath("src.ppm");
    QCOMPARE(QProcess::execute("convert",
                               {TestData("chelsea.ppm"), "-crop", "21x9+10+10", "+repage", source}),
             0);
    const struct {
      const char* name;
      QStringList options;
    } files[] = {
        {"rle10.tga", {"-compress", "RLE"}},
        {"rle11.tga", {"-type", "Grayscale", "-compress", "RLE"}},
        {"rle9.tga", {"-type", "Palette", "-compress", "RLE"}},
        {"id.tga", {"-set", "comment", "fourteen bytes"}},
    };
    TestApp t(32);
    for (const auto& f : files) {
      const QString path = dir.filePath(f.name);
      QCOMPARE(QProcess::execute("convert", QStringList{source} + f.options + QStringList{path}),
               0);
      QProcess judge;
      judge.setStandardOutputFile(path + ".ppm");
      judge.start("tgatoppm", {path});
      QVERIFY(judge.waitForFinished() && judge.exitCode() == 0);
      const QImage expected = QImage(path + ".ppm").convertToFormat(QImage::Format_RGB32);
      QCOMPARE(expected.size(), QSize(21, 9));
      CTOVIMDoc* doc = t.app->OpenDocumentFile(path);
      QVERIFY2(doc, f.name);
      QVERIFY2(t.messages.isEmpty(), f.name);
      const QImage shown = doc->image->DisplayImage().convertToFormat(QImage::Format_RGB32);
      QCOMPARE(shown.size(), expected.size());
      for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 21; ++x) QCOMPARE(shown.pixel(x, y), expected.pixel(x, y));
      }
    }
  }

  void greyPalettesThatAreNotTheIdentityRampAreLinearised() {
    TestApp t;
    // The identity ramp is kept as it is.
    ImagePtr ramp = GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); });
    const vxBitmapInfoHeader* before = ramp->header;
    CTOVIMDoc* kept = OpenInMemory(*t.app, std::move(ramp), "/p/ramp.pgm");
    QCOMPARE(kept->image->header, before);

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

  void trueColourScreensNeedNoDisplayCopy() {
    TestApp t(32);
    t.state().colorReductionMethod = BestQuantization;
    CTOVIMDoc* doc = OpenInMemory(
        *t.app,
        MakeImage(20, 20, 24, 0,
                  [](int x, int y) { return static_cast<unsigned>(x * 0x0C0000 + y * 0x000C00); }),
        "/p/colour.bmp");
    QVERIFY(doc->image->altHeader == nullptr);
    QCOMPARE(doc->image->useAlternate, 0);
    QCOMPARE(doc->image->DisplayImage().pixel(3, 2), qRgb(36, 24, 0));
  }

  void paletteScreensShowAReducedPicture() {
    const auto colourful = [] {
      return MakeImage(64, 64, 24, 0, [](int x, int y) -> unsigned {
        return (4u * x) << 16 | (4u * y) << 8 | (2u * (x + y));
      });
    };
    const auto colours = [](const QImage& image) {
      QSet<QRgb> set;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) set << image.pixel(x, y);
      }
      return set.size();
    };
    TestApp t(8);
    CTOVIMDoc* reduced = OpenInMemory(*t.app, colourful(), "/p/median.bmp");
    // The display copy of the current method is drawn, through its palette.
    QVERIFY(reduced->image->altHeader);
    QCOMPARE(reduced->image->useAlternate, 1);
    QCOMPARE(reduced->image->paletteHandle->count, 256);
    QVERIFY(colours(reduced->image->DisplayImage()) <= 256);
    const vxRGBA first = reduced->image->altPalette[reduced->image->altBits[0]];
    QCOMPARE(reduced->image->DisplayImage().pixel(0, 63), qRgb(first.red, first.green, first.blue));

    t.frame()->action(kQuickDither)->trigger();
    CTOVIMDoc* dithered = OpenInMemory(*t.app, colourful(), "/p/dither.bmp");
    QVERIFY(dithered->image->altHeader == nullptr);
    QCOMPARE(dithered->image->useAlternate, 0);
    QVERIFY(colours(dithered->image->DisplayImage()) <= 216);
  }

  void restoringThePaletteUndoesAPreviewOnScreenToo() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(
        *t.app, GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); }), "/p/grey.pgm");
    // Previews need the palette saved first, and do nothing for 24-bit pictures.
    QCOMPARE(doc->PreviewBrightness(20), 0);
    QCOMPARE(doc->SavePalette(), 1);
    QCOMPARE(doc->savedPalette.size(), size_t{256});
    doc->image->palette[5] = vxRGBA{0, 0, 255, 0};  // what a preview leaves behind
    doc->PrepareDisplay();
    QCOMPARE(doc->image->DisplayImage().pixel(5, 0), qRgb(255, 0, 0));
    QCOMPARE(doc->RestorePalette(), 1);
    QVERIFY(!doc->hasSavedPalette);
    QCOMPARE(doc->image->palette[5].red, uint8_t{5});
    QCOMPARE(doc->image->DisplayImage().pixel(5, 0), qRgb(5, 5, 5));
    QCOMPARE(doc->modified, 0);

    CTOVIMDoc* colour =
        OpenInMemory(*t.app, MakeImage(4, 4, 24, 0, [](int, int) { return 0u; }), "/p/c.bmp");
    colour->SavePalette();
    QCOMPARE(colour->PreviewContrast(30), 0);
    QCOMPARE(colour->PreviewBrightness(30), 0);
  }

  void previewsStartFromTheSavedPaletteInTheChosenOrder() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(
        *t.app, GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); }), "/p/g.pgm");
    std::vector<vxRGBA> ramp(doc->image->palette, doc->image->palette + 256);
    doc->SavePalette();
    QCOMPARE(doc->PreviewBrightness(40), 1);
    QVERIFY(doc->image->palette[10].red > 10);
    QCOMPARE(doc->image->DisplayImage().pixel(10, 0),
             qRgb(doc->image->palette[10].red, doc->image->palette[10].red,
                  doc->image->palette[10].red));
    QCOMPARE(doc->PreviewBrightness(0), 1);
    QVERIFY(std::equal(ramp.begin(), ramp.end(), doc->image->palette, [](vxRGBA a, vxRGBA b) {
      return a.red == b.red && a.green == b.green && a.blue == b.blue;
    }));

    // Each order gives what the two engine steps give in that order.
    const auto expected = [&ramp](bool contrastFirst) {
      vxImage copy;
      copy.Create(1, 1, 8, 256);
      std::vector<vxRGBA> between;
      if (contrastFirst) {
        copy.Contrast(ramp.data(), 60);
        between.assign(copy.palette, copy.palette + 256);
        copy.Brightness(between.data(), -30);
      } else {
        copy.Brightness(ramp.data(), -30);
        between.assign(copy.palette, copy.palette + 256);
        copy.Contrast(between.data(), 60);
      }
      std::vector<uint8_t> reds;
      for (int i = 0; i < 256; ++i) reds.push_back(copy.palette[i].red);
      copy.Delete();
      return reds;
    };
    for (int first : {1, 0}) {
      BrightnessContrastParams params;
      params.brightness = -30;
      params.contrast = 60;
      params.contrastFirst = first;
      doc->PreviewBrightnessContrast(params);
      std::vector<uint8_t> reds;
      for (int i = 0; i < 256; ++i) reds.push_back(doc->image->palette[i].red);
      QCOMPARE(reds, expected(first == 1));
    }
    QVERIFY(expected(true) != expected(false));

    // Committing bakes the palette into the pixels and marks the document.
    const uint8_t shown = doc->image->palette[doc->image->Row(0)[7]].red;
    QCOMPARE(doc->CommitPalette(), 1);
    QCOMPARE(doc->modified, 1);
    QVERIFY(!doc->hasSavedPalette);
    QVERIFY(doc->image->IsGreyRamp());
    QCOMPARE(doc->image->Row(0)[7], shown);
  }

  void invertingMarksTheDocumentAndRedraws() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(
        *t.app, MakeImage(4, 4, 24, 0, [](int, int) { return 0x102030u; }), "/p/i.bmp");
    t.frame()->action(kInvertColor)->trigger();
    QCOMPARE(doc->modified, 1);
    QCOMPARE(doc->image->DisplayImage().pixel(0, 0), qRgb(0xEF, 0xDF, 0xCF));
  }

  void unsavedChangesAreAskedAbout() {
    TestApp t;
    CTOVIMDoc* doc =
        OpenInMemory(*t.app, MakeImage(8, 8, 24, 0, [](int, int) { return 0u; }), "/p/m.bmp");
    QVERIFY(doc->SaveModified());
    QVERIFY(t.messages.isEmpty());

    doc->modified = 1;
    t.answers = {QMessageBox::Cancel};
    QVERIFY(!FrameOf(doc)->close());
    QCOMPARE(t.messageTexts(), QStringList{"Image not saved\nWould you like to save it now?\n"});
    QCOMPARE(t.messages[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(t.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(t.state().openDocumentCount, 1);

    // Yes without a save that happened (Save As cancelled) keeps the picture open.
    DialogScript script;
    script.Reject<CSaveImageDialog>();
    t.answers = {QMessageBox::Yes};
    QVERIFY(!FrameOf(doc)->close());
    QVERIFY(script.done());
    QCOMPARE(t.state().openDocumentCount, 1);

    t.answers = {QMessageBox::No};
    QVERIFY(FrameOf(doc)->close());
    QCOMPARE(t.state().openDocumentCount, 0);
  }
};

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
