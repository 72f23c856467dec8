// The adjustment dialogs and the quality dialogs: live previews from the
// saved palette, Cancel restoring the picture exactly, OK committing the
// values the dialog ended with, typed numbers brought into range, and the
// quality dialogs shown through the engine's options hook.
#include <QCheckBox>
#include <QLineEdit>
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
  for (int step = 0; step < 2; ++step) {
    std::vector<vxRGBA> from(copy.palette, copy.palette + 256);
    if ((step == 0) == contrastFirst) {
      copy.Contrast(from.data(), contrast);
    } else {
      copy.Brightness(from.data(), brightness);
    }
  }
  QList<int> levels;
  for (int i = 0; i < 256; ++i) levels << copy.palette[i].red;
  return levels;
}

// The palette's grey levels, or the picture's pixels (index 16 y + x at
// (x, y) from the top).
QList<int> PaletteReds(const vxImage& image) {
  QList<int> levels;
  for (int i = 0; i < 256; ++i) levels << image.palette[i].red;
  return levels;
}
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

  void adjustContrastPreviewsCommitsAndRestores() {
    TestApp t;
    CTOVIMDoc* doc = OpenRamp(t);
    const QList<quint32> before = PaletteWords(*doc->image);
    DialogScript script;
    script.Then<CContrastDlg>([&](CContrastDlg& d) {
      d.slider()->setValue(80);
      QCOMPARE(PaletteReds(*doc->image), Adjusted(0, 80, true));
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

  // Each key is judged as it comes: out of range becomes the limit. In the
  // adjustment boxes a text that is no number is kept but counts as 0; in
  // the quality boxes it becomes "1", its last character selected, so that
  // a "5" typed after "-" replaces it.
  void typedNumbersAreBroughtIntoRange() {
    CBrightnessContrastDlg adjust;
    QList<BrightnessContrastParams> previews;
    adjust.SetPreview([&previews](const BrightnessContrastParams& p) { previews << p; });
    CSaveOptionsDlg wif(TypeWIF, vxDefaultWifQuality);
    CSaveOptionsDlg jpeg(TypeJPEG, vxDefaultJpegQuality);
    const std::function<int()> contrast = [&] { return adjust.contrastSlider()->value(); };
    const struct {
      QLineEdit* edit;
      std::function<int()> value;
      const char* typed;
      const char* shown;
      int expected;
    } cases[] = {
        {adjust.contrastEdit(), contrast, "250", "100", 100},
        {adjust.contrastEdit(), contrast, "-250", "-100", -100},
        {adjust.contrastEdit(), contrast, "abc", "abc", 0},
        {adjust.contrastEdit(), contrast, "-7", "-7", -7},
        {wif.edit(), [&] { return wif.quality(); }, "250", "250", 250},
        {wif.edit(), [&] { return wif.quality(); }, "999", "255", 255},
        {wif.edit(), [&] { return wif.quality(); }, "ab", "1", 1},
        {jpeg.edit(), [&] { return jpeg.quality(); }, "250", "100", 100},
        {jpeg.edit(), [&] { return jpeg.quality(); }, "-5", "5", 5},
        {jpeg.edit(), [&] { return jpeg.quality(); }, "0", "1", 1},
    };
    for (const auto& c : cases) {
      Type(c.edit, QLatin1String(c.typed));
      QCOMPARE(c.edit->text(), QLatin1String(c.shown));
      QCOMPARE(c.value(), c.expected);
    }
    QCOMPARE(adjust.params().contrast, -7);
    QVERIFY(!previews.isEmpty());
    QCOMPARE(previews.last().contrast, -7);
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
          .Reject<CSaveOptionsDlg>();
      std::unique_ptr<vxSaveOptions> wif(
          static_cast<vxSaveOptions*>(vxImage::GetOutOptions(TypeWIF)));
      QVERIFY(wif);
      QCOMPARE(wif->quality, 12);
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
