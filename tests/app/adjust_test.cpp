// The adjustment dialogs and the quality dialogs: live previews from the
// saved palette, Cancel restoring the picture exactly, OK committing the
// values the dialog ended with, typed numbers brought into range, and the
// quality dialogs shown through the engine's options hook.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <thread>

#include "adjustdialogs.h"
#include "app_test_util.h"
#include "saveoptions.h"

using namespace apptest;

namespace {

// A grey picture of every level in a 16 x 16 square, with the reserved byte
// of each palette entry set, so that a restore must copy all four bytes.
CTOVIMDoc* OpenRamp(TestApp& t) {
  CTOVIMDoc* doc = OpenInMemory(
      *t.app,
      MakeImage(16, 16, 8, 256, [](int x, int y) { return static_cast<unsigned>(16 * y + x); }),
      "/p/ramp.pgm");
  for (int i = 0; i < 256; ++i) doc->image->palette[i].reserved = static_cast<uint8_t>(255 - i);
  return doc;
}

QList<quint32> PaletteWords(const vxImage& image) {
  QList<quint32> words;
  for (int i = 0; i < image.ColoursUsed(); ++i) {
    const vxRGBA& e = image.palette[i];
    words << (quint32(e.reserved) << 24 | quint32(e.red) << 16 | quint32(e.green) << 8 | e.blue);
  }
  return words;
}

// The grey levels the engine gives the ramp for these values in this order.
QList<int> Adjusted(int brightness, int contrast, bool contrastFirst) {
  vxScopedImage copy;
  copy.Create(1, 1, 8, 256);
  std::vector<vxRGBA> ramp(copy.palette, copy.palette + 256);
  std::vector<vxRGBA> between;
  if (contrastFirst) {
    copy.Contrast(ramp.data(), contrast);
    between.assign(copy.palette, copy.palette + 256);
    copy.Brightness(between.data(), brightness);
  } else {
    copy.Brightness(ramp.data(), brightness);
    between.assign(copy.palette, copy.palette + 256);
    copy.Contrast(between.data(), contrast);
  }
  QList<int> levels;
  for (int i = 0; i < 256; ++i) levels << copy.palette[i].red;
  return levels;
}

QList<int> PaletteReds(const vxImage& image) {
  QList<int> levels;
  for (int i = 0; i < 256; ++i) levels << image.palette[i].red;
  return levels;
}

// The pixels of the ramp picture: index 16 y + x at (x, y) from the top.
QList<int> PixelLevels(const vxImage& image) {
  QList<int> levels;
  for (int i = 0; i < 256; ++i) levels << image.Row(15 - i / 16)[i % 16];
  return levels;
}

void Type(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

}  // namespace

class AdjustTest : public QObject {
  Q_OBJECT

 private slots:
  void brightnessContrastPreviewsLiveAndCancelRestoresExactly_data() {
    QTest::addColumn<int>("screenBits");
    QTest::newRow("true colour screen") << 32;
    QTest::newRow("palette screen") << 8;
  }

  void brightnessContrastPreviewsLiveAndCancelRestoresExactly() {
    QFETCH(int, screenBits);
    TestApp t(screenBits);
    CTOVIMDoc* doc = OpenRamp(t);
    const QList<quint32> before = PaletteWords(*doc->image);
    const QImage shownBefore = doc->image->DisplayImage().copy();
    DialogScript script;
    script.Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("Adjust Brightness/Contrast"));
      QVERIFY(d.previewBox()->isChecked());
      QVERIFY(d.contrastFirstBox()->isChecked());
      QCOMPARE(d.brightnessSlider()->minimum(), -100);
      QCOMPARE(d.brightnessSlider()->maximum(), 100);
      QCOMPARE(d.brightnessEdit()->text(), QStringLiteral("0"));
      QCOMPARE(d.contrastEdit()->maxLength(), 4);

      d.brightnessSlider()->setValue(40);
      QCOMPARE(d.brightnessEdit()->text(), QStringLiteral("40"));
      QCOMPARE(PaletteReds(*doc->image), Adjusted(40, 0, true));
      // The window shows the preview.
      QCOMPARE(qRed(doc->image->DisplayImage().pixel(5, 7)), Adjusted(40, 0, true)[7 * 16 + 5]);

      Type(d.contrastEdit(), QStringLiteral("30"));
      QCOMPARE(d.contrastSlider()->value(), 30);
      QCOMPARE(PaletteReds(*doc->image), Adjusted(40, 30, true));
      d.contrastFirstBox()->click();
      QCOMPARE(d.params().contrastFirst, 0);
      QCOMPARE(PaletteReds(*doc->image), Adjusted(40, 30, false));
      // Back to 0 and 0 shows the picture as it was.
      d.brightnessSlider()->setValue(0);
      d.contrastSlider()->setValue(0);
      QCOMPARE(PaletteReds(*doc->image), Adjusted(0, 0, false));
      d.brightnessSlider()->setValue(-60);
      d.reject();
    });
    t.frame()->action(kAdjustBrightnessContrast)->trigger();
    QVERIFY(script.done());
    QCOMPARE(PaletteWords(*doc->image), before);
    QCOMPARE(doc->image->DisplayImage(), shownBefore);
    QVERIFY(!doc->hasSavedPalette);
    QCOMPARE(doc->modified, 0);
  }

  void okCommitsTheFinalValuesAlsoWithoutPreview() {
    TestApp t;
    CTOVIMDoc* doc = OpenRamp(t);
    DialogScript script;
    script.Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
      d.brightnessSlider()->setValue(40);
      d.previewBox()->click();
      d.brightnessSlider()->setValue(-20);
      Type(d.contrastEdit(), QStringLiteral("15"));
      // Nothing more is previewed: the picture still shows 40 and 0.
      QCOMPARE(PaletteReds(*doc->image), Adjusted(40, 0, true));
      d.accept();
    });
    t.frame()->action(kAdjustBrightnessContrast)->trigger();
    QVERIFY(script.done());
    // The pixels carry the values the dialog ended with; the palette is the ramp again.
    QCOMPARE(PixelLevels(*doc->image), Adjusted(-20, 15, true));
    QVERIFY(doc->image->IsGreyRamp());
    QCOMPARE(doc->modified, 1);
    QVERIFY(!doc->hasSavedPalette);
    QCOMPARE(qRed(doc->image->DisplayImage().pixel(3, 2)), Adjusted(-20, 15, true)[2 * 16 + 3]);
  }

  void typedNumbersAreBroughtIntoRange() {
    CBrightnessContrastDlg dialog;
    QList<BrightnessContrastParams> previews;
    dialog.SetPreview([&previews](const BrightnessContrastParams& p) { previews << p; });
    for (QLineEdit* edit : {dialog.brightnessEdit(), dialog.contrastEdit()}) {
      QSlider* slider =
          edit == dialog.brightnessEdit() ? dialog.brightnessSlider() : dialog.contrastSlider();
      Type(edit, QStringLiteral("250"));
      QCOMPARE(edit->text(), QStringLiteral("100"));
      QCOMPARE(edit->selectedText(), QStringLiteral("100"));
      QCOMPARE(slider->value(), 100);
      Type(edit, QStringLiteral("-250"));
      QCOMPARE(edit->text(), QStringLiteral("-100"));
      QCOMPARE(slider->value(), -100);
      Type(edit, QStringLiteral("abc"));
      QCOMPARE(edit->text(), QStringLiteral("abc"));
      QCOMPARE(slider->value(), 0);
      Type(edit, QStringLiteral("-7"));
      QCOMPARE(slider->value(), -7);
    }
    QCOMPARE(dialog.params().brightness, -7);
    QCOMPARE(dialog.params().contrast, -7);
    QVERIFY(!previews.isEmpty());
    QCOMPARE(previews.last().contrast, -7);

    CContrastDlg contrast;
    Type(contrast.edit(), QStringLiteral("250"));
    QCOMPARE(contrast.edit()->text(), QStringLiteral("100"));
    QCOMPARE(contrast.value(), 100);
    Type(contrast.edit(), QStringLiteral("-250"));
    QCOMPARE(contrast.edit()->text(), QStringLiteral("-100"));
    Type(contrast.edit(), QStringLiteral("xyz"));
    QCOMPARE(contrast.edit()->text(), QStringLiteral("xyz"));
    QCOMPARE(contrast.value(), 0);
  }

  void adjustContrastPreviewsCommitsAndRestores() {
    TestApp t;
    CTOVIMDoc* doc = OpenRamp(t);
    const QList<quint32> before = PaletteWords(*doc->image);
    DialogScript script;
    script.Then<CContrastDlg>([&](CContrastDlg& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("Adjust Contrast"));
      QVERIFY(d.previewBox()->isChecked());
      d.show();
      const int left = d.edit()->mapTo(&d, QPoint(0, 0)).x();
      d.slider()->setValue(80);
      QCOMPARE(PaletteReds(*doc->image), Adjusted(0, 80, true));
      // The edit box rides under the thumb.
      QVERIFY(d.edit()->mapTo(&d, QPoint(0, 0)).x() > left);
      QCOMPARE(d.edit()->text(), QStringLiteral("80"));
      d.reject();
    });
    t.frame()->action(kAdjustContrast)->trigger();
    QVERIFY(script.done());
    QCOMPARE(PaletteWords(*doc->image), before);
    QCOMPARE(doc->modified, 0);

    script.Then<CContrastDlg>([&](CContrastDlg& d) {
      d.previewBox()->click();
      Type(d.edit(), QStringLiteral("-45"));
      QCOMPARE(PaletteWords(*doc->image), before);  // no preview
      d.accept();
    });
    t.frame()->action(kAdjustContrast)->trigger();
    QVERIFY(script.done());
    QCOMPARE(PixelLevels(*doc->image), Adjusted(0, -45, true));
    QCOMPARE(doc->modified, 1);
  }

  void qualityDialogsClampWhatIsTyped() {
    CSaveOptionsDlg wif(TypeWIF, vxDefaultWifQuality);
    QCOMPARE(wif.windowTitle(), QStringLiteral("WIF Save Options"));
    QCOMPARE(wif.slider()->minimum(), 1);
    QCOMPARE(wif.slider()->maximum(), 255);
    QCOMPARE(wif.edit()->text(), QStringLiteral("50"));
    QCOMPARE(wif.edit()->maxLength(), 3);
    auto* note = wif.findChild<QLabel*>(QStringLiteral("note"));
    QVERIFY(note);
    QCOMPARE(note->text(), QStringLiteral("Note: The Lunark is a lossy  compressor."));
    QCOMPARE(wif.findChild<QPushButton*>(QStringLiteral("compressButton"))->text(),
             QStringLiteral("Compress"));
    QVERIFY(wif.findChild<QPushButton*>(QStringLiteral("compressButton"))->isDefault());
    QCOMPARE(wif.findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(),
             QStringLiteral("Cancel"));

    Type(wif.edit(), QStringLiteral("250"));
    QCOMPARE(wif.quality(), 250);
    QCOMPARE(wif.edit()->text(), QStringLiteral("250"));
    Type(wif.edit(), QStringLiteral("999"));
    QCOMPARE(wif.quality(), 255);
    QCOMPARE(wif.edit()->text(), QStringLiteral("255"));
    QCOMPARE(wif.edit()->selectedText(), QStringLiteral("5"));  // the last character
    Type(wif.edit(), QStringLiteral("0"));
    QCOMPARE(wif.quality(), 1);
    QCOMPARE(wif.edit()->text(), QStringLiteral("1"));
    Type(wif.edit(), QStringLiteral("ab"));
    QCOMPARE(wif.quality(), 1);
    QCOMPARE(wif.edit()->text(), QStringLiteral("1"));
    wif.slider()->setValue(120);
    QCOMPARE(wif.edit()->text(), QStringLiteral("120"));

    CSaveOptionsDlg jpeg(TypeJPEG, vxDefaultJpegQuality);
    QCOMPARE(jpeg.windowTitle(), QStringLiteral("JPEG Save Options"));
    QCOMPARE(jpeg.edit()->text(), QStringLiteral("80"));
    QVERIFY(!jpeg.findChild<QLabel*>(QStringLiteral("note")));
    Type(jpeg.edit(), QStringLiteral("250"));
    QCOMPARE(jpeg.quality(), 100);
    QCOMPARE(jpeg.edit()->text(), QStringLiteral("100"));
    // Each key is judged as it comes: "-" is no number and becomes "1", its
    // last character selected, so the "5" that follows replaces it.
    Type(jpeg.edit(), QStringLiteral("-5"));
    QCOMPARE(jpeg.edit()->text(), QStringLiteral("5"));
    Type(jpeg.edit(), QStringLiteral("0"));
    QCOMPARE(jpeg.quality(), 1);
    Type(jpeg.edit(), QStringLiteral("q"));
    QCOMPARE(jpeg.edit()->text(), QStringLiteral("1"));
  }

  void theWritersAskThroughTheViewersHook() {
    {
      TestApp t;
      DialogScript script;
      script
          .Then<CSaveOptionsDlg>([](CSaveOptionsDlg& d) {
            QCOMPARE(d.type(), int(TypeWIF));
            d.slider()->setValue(12);
            d.accept();
          })
          .Then<CSaveOptionsDlg>([](CSaveOptionsDlg& d) {
            QCOMPARE(d.type(), int(TypeJPEG));
            QCOMPARE(d.quality(), 80);
            d.accept();
          })
          .Reject<CSaveOptionsDlg>();
      std::unique_ptr<vxSaveOptions> wif(
          static_cast<vxSaveOptions*>(vxImage::GetOutOptions(TypeWIF)));
      QVERIFY(wif);
      QCOMPARE(wif->quality, 12);
      QCOMPARE(wif->reserved, 6);
      QCOMPARE(wif->levels, 0);
      std::unique_ptr<vxSaveOptions> jpeg(
          static_cast<vxSaveOptions*>(vxImage::GetOutOptions(TypeJPEG)));
      QVERIFY(jpeg);
      QCOMPARE(jpeg->quality, 80);
      QVERIFY(vxImage::GetOutOptions(TypeWIF) == nullptr);  // cancelled
      QVERIFY(script.done());

      // A worker thread cannot show a dialog: it gets the defaults.
      vxSaveOptions* fromWorker = nullptr;
      std::thread worker([&fromWorker] { fromWorker = vxRunOptionsDialog(TypeWIF); });
      worker.join();
      QVERIFY(fromWorker);
      QCOMPARE(fromWorker->quality, vxDefaultWifQuality);
      vxFreeOptions(fromWorker);
    }
    // The application took its hook away when it went.
    QVERIFY(vxRunOptionsDialog(TypeWIF) == nullptr);
  }
};

QTEST_MAIN(AdjustTest)
#include "adjust_test.moc"
