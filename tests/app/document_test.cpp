// The image document: opening good and bad files, the open-document count,
// grey palettes made linear at open, the display preparation on true-colour
// and palette screens, palette save and restore, and the unsaved-changes
// question.
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

#include "app_test_util.h"

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

// A file that the reader of its type loads, or an empty string when no
// reader that could load one is there yet.
QString GoodFile(const QTemporaryDir& dir) {
  std::unique_ptr<vxRWImage> pgm(vxImage::CreateRWImage(TypePGM));
  if (pgm) return TestData("camera.pgm");
  ImagePtr image =
      MakeImage(64, 48, 24, 0, [](int x, int y) { return static_cast<unsigned>(x ^ y); });
  const QString path = dir.filePath(QStringLiteral("made.bmp"));
  return WriteBmp(*image, path) ? path : QString();
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

  void goodFileOpensOnceAndIsTimed() {
    TestApp t;
    const QString path = GoodFile(t.dir);
    if (path.isEmpty()) QSKIP("no reader for PGM or BMP files yet");
    CTOVIMDoc* doc = t.app->OpenDocumentFile(path);
    QVERIFY(doc);
    QVERIFY(t.messages.isEmpty());
    QVERIFY(doc->loadSeconds >= 0.0f && doc->loadSeconds < 10.0f);
    QCOMPARE(t.app->recentFiles(), QStringList{path});
    QCOMPARE(t.state().openDocumentCount, 1);
    QCOMPARE(FrameOf(doc)->windowTitle(), QFileInfo(path).fileName());
    QCOMPARE(t.pane(5), QString::number(doc->image->Width()));
    QCOMPARE(t.pane(13), QString::number(QFileInfo(path).size()));
    // Opening the same file again shows the document already open.
    QCOMPARE(t.app->OpenDocumentFile(path), doc);
    QCOMPARE(t.state().openDocumentCount, 1);
  }

  void greyPalettesThatAreNotTheIdentityRampAreLinearised() {
    TestApp t;
    // The identity ramp is kept as it is.
    ImagePtr ramp = GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); });
    const vxBitmapInfoHeader* before = ramp->header;
    CTOVIMDoc* kept = OpenInMemory(*t.app, std::move(ramp), "/p/ramp.pgm");
    QCOMPARE(kept->image->header, before);

    ImagePtr probe = GreyWithPalette(64, [](int i) { return static_cast<uint8_t>(4 * i); });
    if (probe->MakeLinearGray() != 1) QSKIP("MakeLinearGray is not in the engine yet");

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
    if (reduced->image->altHeader) {
      // The display copy of the current method is drawn.
      QCOMPARE(reduced->image->useAlternate, 1);
      QCOMPARE(reduced->image->paletteHandle->count, 256);
    } else {
      // Without a display copy the picture is drawn dithered.
      QCOMPARE(reduced->image->useAlternate, 0);
    }
    QVERIFY(colours(reduced->image->DisplayImage()) <= 256);

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

  void invertingChangesTheFlagOnlyWhenThePictureChanged() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(
        *t.app, MakeImage(4, 4, 24, 0, [](int, int) { return 0x102030u; }), "/p/i.bmp");
    t.frame()->action(kInvertColor)->trigger();
    const bool inverted = doc->image->Row(0)[0] == 0xDF;
    QCOMPARE(doc->modified, inverted ? 1 : 0);
    if (inverted) QCOMPARE(doc->image->DisplayImage().pixel(0, 0), qRgb(0xEF, 0xDF, 0xCF));
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

    // Yes without a save that happened keeps the picture open.
    t.answers = {QMessageBox::Yes};
    QVERIFY(!FrameOf(doc)->close());
    QCOMPARE(t.state().openDocumentCount, 1);

    t.answers = {QMessageBox::No};
    QVERIFY(FrameOf(doc)->close());
    QCOMPARE(t.state().openDocumentCount, 0);
  }
};

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
