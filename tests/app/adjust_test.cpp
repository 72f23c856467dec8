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

  // Each key is judged as it comes: out of range becomes the limit, and a
  // text that is no number is kept but counts as 0.
  void typedNumbersAreBroughtIntoRange() {
    CBrightnessContrastDlg dialog;
    QList<BrightnessContrastParams> previews;
    dialog.SetPreview([&previews](const BrightnessContrastParams& p) { previews << p; });
    CContrastDlg contrast;
    const std::pair<QLineEdit*, QSlider*> boxes[] = {
        {dialog.brightnessEdit(), dialog.brightnessSlider()},
        {dialog.contrastEdit(), dialog.contrastSlider()},
        {contrast.edit(), contrast.slider()}};
    for (const auto& [edit, slider] : boxes) {
      for (const auto& [typed, shown, value] :
           {std::tuple{"250", "100", 100}, std::tuple{"-250", "-100", -100},
            std::tuple{"abc", "abc", 0}, std::tuple{"-7", "-7", -7}}) {
        Type(edit, QLatin1String(typed));
        QCOMPARE(edit->text(), QLatin1String(shown));
        QCOMPARE(slider->value(), value);
      }
    }
    QCOMPARE(dialog.params().brightness, -7);
    QCOMPARE(dialog.params().contrast, -7);
    QCOMPARE(contrast.value(), -7);
    QVERIFY(!previews.isEmpty());
    QCOMPARE(previews.last().contrast, -7);
  }

  void adjustContrastPreviewsCommitsAndRestores() {
    TestApp t;
    CTOVIMDoc* doc = OpenRamp(t);
    const QList<quint32> before = PaletteWords(*doc->image);
    DialogScript script;
    script.Then<CContrastDlg>([&](CContrastDlg& d) {
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
    CSaveOptionsDlg jpeg(TypeJPEG, vxDefaultJpegQuality);
    // "-" is no number and becomes "1", its last character selected, so the
    // "5" that follows replaces it.
    const struct {
      CSaveOptionsDlg* dialog;
      const char* typed;
      const char* shown;
      int quality;
    } cases[] = {{&wif, "250", "250", 250}, {&wif, "999", "255", 255}, {&wif, "0", "1", 1},
                 {&wif, "ab", "1", 1},      {&jpeg, "250", "100", 100}, {&jpeg, "-5", "5", 5},
                 {&jpeg, "0", "1", 1},      {&jpeg, "q", "1", 1}};
    for (const auto& c : cases) {
      Type(c.dialog->edit(), QLatin1String(c.typed));
      QCOMPARE(c.dialog->edit()->text(), QLatin1String(c.shown));
      QCOMPARE(c.dialog->quality(), c.quality);
    }
    wif.slider()->setValue(120);
    QCOMPARE(wif.edit()->text(), QStringLiteral("120"));
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
