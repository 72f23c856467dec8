// The Image Tools and Adjust commands and their dialogs.
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <thread>

#include "adjustdialogs.h"
#include "app_test_util.h"
#include "saveoptions.h"

using namespace apptest;

namespace {

// The grey ramp with the reserved byte of each palette entry set, so that a
// restore must copy all four bytes.
CTOVIMDoc* OpenRamp(TestApp& t) {
  CTOVIMDoc* doc = OpenInMemory(*t.app, Ramp(), "/p/ramp.pgm");
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

// The palette's grey levels, or the levels the ramp's pixels show.
QList<int> Levels(const vxImage& image, bool ofPixels = false) {
  QList<int> levels;
  const QList<QRgb> pixels = Pixels(image);
  for (int i = 0; i < 256; ++i) levels << (ofPixels ? qRed(pixels[i]) : image.palette[i].red);
  return levels;
}

// The grey levels the engine gives the ramp for these values in this order.
QList<int> Adjusted(int brightness, int contrast, bool contrastFirst) {
  vxScopedImage copy;
  copy.Create(1, 1, 8, 256);
  for (const bool contrastStep : {contrastFirst, !contrastFirst}) {
    const std::vector<vxRGBA> from(copy.palette, copy.palette + 256);
    contrastStep ? copy.Contrast(from.data(), contrast) : copy.Brightness(from.data(), brightness);
  }
  return Levels(copy);
}

void Type(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

}  // namespace

class ImageToolsTest : public QObject {
  Q_OBJECT

 private slots:
  void depthConversionsKeepTheDocumentUnmodified() {
    TestApp t;
    CTOVIMDoc* doc = OpenInMemory(*t.app, Grey(), "/p/grey.pgm");
    const QImage before = doc->image->DisplayImage().copy();
    t.trigger(kConvertTo24Bit);
    QCOMPARE(doc->image->BitCount(), 24);
    QCOMPARE(doc->image->DisplayImage(), before);
    QCOMPARE(t.pane(9), QStringLiteral("24"));
    QCOMPARE(doc->modified, 0);

    t.trigger(kConvertToGray);
    QCOMPARE(doc->image->BitCount(), 8);
    QVERIFY(doc->image->IsGreyRamp());
    QCOMPARE(doc->modified, 0);
  }

  // Every filter item runs its own kernel; a colour palette picture is
  // filtered as full colour, and the window shows the filtered colours.
  void eachFilterItemRunsItsOwnFilter() {
    TestApp t;
    QList<std::pair<bool, int>> runs;  // (a palette picture, the command)
    for (int id = kFilterFirst; id <= kFilterLastKernel; ++id) runs.append({false, id});
    runs.append({true, kFilterFirst});
    for (const auto& [palette, id] : runs) {
      CTOVIMDoc* doc = OpenInMemory(*t.app, palette ? Palette() : Grey(), "/p/f.gif");
      ImagePtr expected = palette ? Palette() : Grey();
      QVERIFY((!palette || expected->Make24Bit() == 1) && expected->Filter(id - kFilterFirst) == 1);
      t.trigger(id);
      QVERIFY2(Pixels(*doc->image) == Pixels(*expected), qPrintable(QString::number(id)));
      QCOMPARE(doc->image->BitCount(), expected->BitCount());
      QCOMPARE(t.pane(9), QString::number(expected->BitCount()));
      QCOMPARE(doc->image->DisplayImage().pixel(0, 0), 0xFF000000 | Pixels(*expected)[0]);
      QCOMPARE(doc->modified, 1);
      FrameOf(doc)->SetCloseAgreed();
      FrameOf(doc)->close();
    }
  }

  void flipsAndRotationsTurnThePicture() {
    TestApp t;
    // 3 x 2, shown as   1 2 3
    //                   4 5 6
    const struct {
      int command;
      QList<QList<int>> shown;
    } cases[] = {{kFlipHorizontal, {{3, 2, 1}, {6, 5, 4}}},
                 {kFlipVertical, {{4, 5, 6}, {1, 2, 3}}},
                 {kRotateClockwise, {{4, 1}, {5, 2}, {6, 3}}},
                 {kRotateCounterClockwise, {{3, 6}, {2, 5}, {1, 4}}}};
    for (const auto& c : cases) {
      CTOVIMDoc* doc = OpenInMemory(
          *t.app,
          MakeImage(3, 2, 24, 0,
                    [](int x, int y) { return static_cast<unsigned>(10 * (3 * y + x + 1)); }),
          "/p/turn.bmp");
      t.trigger(c.command);
      QList<QList<int>> rows;
      const QImage& image = doc->image->DisplayImage();
      for (int y = 0; y < image.height(); ++y) {
        rows << QList<int>();
        for (int x = 0; x < image.width(); ++x) rows.last() << qBlue(image.pixel(x, y)) / 10;
      }
      QCOMPARE(rows, c.shown);
      QCOMPARE(doc->modified, 1);
      QCOMPARE(t.pane(5), QString::number(c.shown[0].size()));
      QCOMPARE(doc->view->GetTotalSize(), image.size());
      FrameOf(doc)->SetCloseAgreed();
      FrameOf(doc)->close();
    }
  }

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
      QCOMPARE(Levels(*doc->image), Adjusted(40, 0, true));
      // The window shows the preview.
      QCOMPARE(qRed(doc->image->DisplayImage().pixel(5, 7)), Adjusted(40, 0, true)[7 * 16 + 5]);
      Type(d.contrastEdit(), QStringLiteral("30"));
      QCOMPARE(d.contrastSlider()->value(), 30);
      QCOMPARE(Levels(*doc->image), Adjusted(40, 30, true));
      d.contrastFirstBox()->click();
      QCOMPARE(Levels(*doc->image), Adjusted(40, 30, false));
      d.brightnessSlider()->setValue(-60);
      d.reject();
    });
    t.trigger(kAdjustBrightnessContrast);
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
      QCOMPARE(Levels(*doc->image), Adjusted(40, 0, true));
      d.accept();
    });
    t.trigger(kAdjustBrightnessContrast);
    QVERIFY(script.done());
    // The pixels carry the values the dialog ended with; the palette is the ramp again.
    QCOMPARE(Levels(*doc->image, true), Adjusted(-20, 15, true));
    QVERIFY(doc->image->IsGreyRamp());
    QCOMPARE(doc->modified, 1);
    QVERIFY(!doc->hasSavedPalette);
    QCOMPARE(qRed(doc->image->DisplayImage().pixel(3, 2)), Adjusted(-20, 15, true)[2 * 16 + 3]);
  }

  void contrastDialogPreviewsCommitsAndRestores() {
    TestApp t;
    CTOVIMDoc* doc = OpenRamp(t);
    const QList<quint32> before = PaletteWords(*doc->image);
    DialogScript script;
    script
        .Then<CContrastDlg>([&](CContrastDlg& d) {
          d.slider()->setValue(80);
          QCOMPARE(Levels(*doc->image), Adjusted(0, 80, true));
          d.reject();
        })
        .Then<CContrastDlg>([&](CContrastDlg& d) {
          d.previewBox()->click();
          Type(d.edit(), QStringLiteral("-45"));
          QCOMPARE(PaletteWords(*doc->image), before);  // no preview
          d.accept();
        });
    t.trigger(kAdjustContrast);
    QCOMPARE(PaletteWords(*doc->image), before);
    QCOMPARE(doc->modified, 0);
    t.trigger(kAdjustContrast);
    QVERIFY(script.done());
    QCOMPARE(Levels(*doc->image, true), Adjusted(0, -45, true));
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
    QLineEdit* const edits[] = {adjust.contrastEdit(), wif.edit(), jpeg.edit()};
    const struct {
      int box;  // contrast, WIF quality, JPEG quality
      const char* typed;
      const char* shown;
      int value;
    } cases[] = {{0, "250", "100", 100}, {0, "abc", "abc", 0}, {0, "-7", "-7", -7},
                 {1, "999", "255", 255}, {1, "ab", "1", 1},    {2, "-5", "5", 5},
                 {2, "0", "1", 1}};
    for (const auto& c : cases) {
      Type(edits[c.box], QLatin1String(c.typed));
      QCOMPARE(edits[c.box]->text(), QLatin1String(c.shown));
      const int values[] = {adjust.contrastSlider()->value(), wif.quality(), jpeg.quality()};
      QCOMPARE(values[c.box], c.value);
    }
    QCOMPARE(adjust.params().contrast, -7);
    QVERIFY(!previews.isEmpty() && previews.last().contrast == -7);
  }

  // The WIF dialog starts at the preferred quality; its record carries the
  // preferred levels.
  void theWritersAskThroughTheViewersHook() {
    {
      CPreferences stored;
      stored.quality = 120;
      stored.waveletLevels = 5;
      TestApp t(32, {}, &stored);
      DialogScript script;
      script
          .Then<CSaveOptionsDlg>([](CSaveOptionsDlg& d) {
            QVERIFY(d.type() == TypeWIF && d.quality() == 120);
            d.slider()->setValue(12);
            d.accept();
          })
          .Reject<CSaveOptionsDlg>();
      std::unique_ptr<vxSaveOptions> wif(
          static_cast<vxSaveOptions*>(vxImage::GetOutOptions(TypeWIF)));
      QVERIFY(wif && wif->quality == 12 && wif->levels == 5);
      QVERIFY(vxImage::GetOutOptions(TypeWIF) == nullptr);  // cancelled
      QVERIFY(script.done());

      // A worker thread cannot show a dialog: it gets the preferred values.
      vxSaveOptions* fromWorker = nullptr;
      std::thread worker([&fromWorker] { fromWorker = vxRunOptionsDialog(TypeWIF); });
      worker.join();
      QVERIFY(fromWorker && fromWorker->quality == 120 && fromWorker->levels == 5);
      vxFreeOptions(fromWorker);
    }
    // The application took its hook away when it went.
    QVERIFY(vxRunOptionsDialog(TypeWIF) == nullptr);
  }
};

QTEST_MAIN(ImageToolsTest)
#include "tools_test.moc"
