// The preferences as the viewer applies them: the start-up colour reduction,
// the WIF dialog's quality and the levels its record carries, where the
// adjustment dialogs start and whether they preview, the open dialog's File
// Status panel, converting without asking before compressing; and the
// preferences sheet opened from its command.
#include <QCheckBox>
#include <QGroupBox>
#include <QSettings>
#include <QSlider>

#include "adjustdialogs.h"
#include "app_test_util.h"
#include "opendialog.h"
#include "preferences.h"
#include "savedialog.h"
#include "saveoptions.h"

using namespace apptest;

class PreferencesAppliedTest : public QObject {
  Q_OBJECT

 private slots:
  void storedPreferencesGovernTheirDefaults() {
    CPreferences changed;
    changed.quality = 120;
    changed.waveletLevels = 5;
    changed.colorReduction = BestQuantization;
    changed.brightness = 20;
    changed.contrast = -30;
    changed.interactiveFiltering = false;
    changed.previewingOpenDialog = false;
    changed.autoConvert = true;
    TestApp t(8, {}, &changed);
    QCOMPARE(t.state().colorReductionMethod, BestQuantization);
    QVERIFY(t.frame()->action(kBestQuantization)->isChecked());

    // The WIF dialog starts at the quality; the record carries the levels.
    DialogScript script;
    script.Then<CSaveOptionsDlg>([](CSaveOptionsDlg& d) {
      QCOMPARE(d.quality(), 120);
      d.accept();
    });
    std::unique_ptr<vxSaveOptions> options(
        static_cast<vxSaveOptions*>(vxRunOptionsDialog(TypeWIF)));
    QVERIFY(script.done());
    QVERIFY(options);
    QCOMPARE(options->quality, 120);
    QCOMPARE(options->levels, 5);

    // The adjustment dialog starts at the stored values, not previewing; OK
    // still commits them.
    CTOVIMDoc* doc = OpenInMemory(*t.app, Ramp(), "/p/ramp.pgm");
    script.Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
      QCOMPARE(d.brightnessSlider()->value(), 20);
      QCOMPARE(d.contrastSlider()->value(), -30);
      QVERIFY(!d.previewBox()->isChecked());
      QVERIFY(doc->image->IsGreyRamp());  // nothing previewed
      d.accept();
    });
    t.trigger(kAdjustBrightnessContrast);
    QVERIFY(script.done());
    QVERIFY(doc->image->Row(7)[0] != 128);  // the middle grey (index 128) moved
    QCOMPARE(doc->modified, 1);

    // The open dialog has no File Status panel.
    script.Then<COpenImageDialog>([](COpenImageDialog& d) {
      QVERIFY(!d.findChild<QGroupBox*>(QStringLiteral("fileStatusPanel")));
      d.reject();
    });
    t.trigger(kFileOpen);
    QVERIFY(script.done());

    // Compressing converts without asking.
    CTOVIMDoc* icons = OpenInMemory(*t.app, Palette(), "/p/icons.gif");
    script.Reject<CSaveImageDialog>();
    t.trigger(kCompress);
    QVERIFY(script.done());
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(icons->image->BitCount(), 24);
  }

  // Previewing, the dialog shows its starting values at once; the sheet
  // opened from its command stores what it is given and the viewer follows.
  void startingValuesArePreviewedAtOnceAndTheSheetChangesThem() {
    CPreferences prefs;
    prefs.brightness = 40;
    TestApp t(32, {}, &prefs);
    CTOVIMDoc* doc = OpenInMemory(*t.app, Ramp(), "/p/ramp.pgm");
    DialogScript script;
    script
        .Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
          QVERIFY(d.previewBox()->isChecked());
          QVERIFY(doc->image->palette[100].red > 100);
          d.reject();
        })
        .Then<CPreferencesSheet>([](CPreferencesSheet& sheet) {
          CPreferences values = sheet.values();
          values.quality = 200;
          sheet.setValues(values);
          sheet.accept();
        });
    t.trigger(kAdjustBrightnessContrast);
    QVERIFY(doc->image->IsGreyRamp());
    t.trigger(kGeneralPreferences);
    QVERIFY(script.done());
    QCOMPARE(t.app->preferences().quality, 200);
    QCOMPARE(t.app->preferences().brightness, 40);
    QSettings settings(t.app->settingsFile(), LunarkIniFormat());
    QCOMPARE(CPreferences::FromSettings(settings).quality, 200);
  }
};

QTEST_MAIN(PreferencesAppliedTest)
#include "preferences_applied_test.moc"
