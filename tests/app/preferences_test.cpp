// The preferences sheet and profile, and the viewer applying them.
#include "preferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>

#include "adjustdialogs.h"
#include "app_test_util.h"
#include "savedialog.h"
#include "saveoptions.h"

using namespace apptest;

namespace {

template <typename T>
T* Control(const QWidget& sheet, const char* name) {
  T* control = sheet.findChild<T*>(QString::fromLatin1(name));
  if (!control) qFatal("no control %s", name);
  return control;
}

QPushButton* SheetButton(const QWidget& sheet, QDialogButtonBox::StandardButton which) {
  return sheet.findChild<QDialogButtonBox*>()->button(which);
}

}  // namespace

class PreferencesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    ini_ = dir_.filePath(QStringLiteral("lunark.ini"));
    QFile::remove(ini_);
  }

  void valuesSurviveARestartBesideTheRecentFileList() {
    const QString in = dir_.path(), out = QDir::rootPath();  // folders that exist
    {
      QSettings settings(ini_, QSettings::IniFormat);
      settings.setValue(QStringLiteral("Recent File List/File1"), QStringLiteral("/tmp/a.bmp"));
      CPreferencesSheet sheet(settings);
      sheet.SetMessageHandler([](const QString& text) { QFAIL(qPrintable(text)); });
      Control<QLineEdit>(sheet, "defaultInputFolder")->setText(in + "/");
      Control<QComboBox>(sheet, "defaultInputType")->setCurrentIndex(10);  // wif,vxw
      Control<QLineEdit>(sheet, "defaultOutputFolder")->setText(out);
      Control<QComboBox>(sheet, "defaultOutputType")->setCurrentIndex(2);  // jpeg
      Control<QCheckBox>(sheet, "autoConvert")->setChecked(true);
      Control<QSpinBox>(sheet, "slideshowSeconds")->setValue(1);
      Control<QSlider>(sheet, "defaultQuality")->setValue(200);
      auto* methods = Control<QComboBox>(sheet, "defaultColorReduction");
      methods->setCurrentIndex(methods->findText(QStringLiteral("Quick Dither")));
      // Typed but not confirmed: OK still takes it.
      auto* contrast = Control<QSpinBox>(sheet, "defaultContrast");
      auto* typed = contrast->findChild<QLineEdit*>();
      typed->selectAll();
      QTest::keyClicks(typed, QStringLiteral("-30"));
      SheetButton(sheet, QDialogButtonBox::Ok)->click();
      QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }
    // A new process: another settings object on the same file.
    QSettings settings(ini_, QSettings::IniFormat);
    const CPreferences p = CPreferences::FromSettings(settings);
    CPreferences expected;
    expected.inputFolder = in;
    expected.inputTypeIndex = 10;
    expected.outputFolder = out;
    expected.outputType = TypeJPEG;
    expected.autoConvert = true;
    expected.slideshowSeconds = 1;
    expected.quality = 200;
    expected.colorReduction = QuickDither;
    expected.contrast = -30;
    QCOMPARE(p, expected);
    QCOMPARE(settings.value(QStringLiteral("Recent File List/File1")).toString(),
             QStringLiteral("/tmp/a.bmp"));
    QCOMPARE(settings.value(QStringLiteral("Preferences/Quality")).toInt(), 200);

    // The sheet opens on the stored values.
    CPreferencesSheet again(settings);
    QCOMPARE(again.values(), p);
  }

  void storedValuesAreCheckedAndClamped() {
    {
      QSettings settings(ini_, QSettings::IniFormat);
      const std::pair<const char*, QVariant> stored[] = {{"Quality", 999},
                                                         {"WaveletLevels", -3},
                                                         {"Contrast", "abc"},
                                                         {"ColorReduction", "Sepia"},
                                                         {"InputType", "XYZ"},
                                                         {"OutputType", "tiff"},
                                                         {"AutoConvert", "true"},
                                                         {"InteractiveFiltering", "maybe"},
                                                         {"InputFolder", "  /srv//photos/ "}};
      for (const auto& [key, value] : stored)
        settings.setValue(QStringLiteral("Preferences/") + QLatin1String(key), value);
    }
    QSettings settings(ini_, QSettings::IniFormat);
    const CPreferences p = CPreferences::FromSettings(settings);
    QCOMPARE(p.quality, 255);
    QCOMPARE(p.waveletLevels, 0);
    QCOMPARE(p.contrast, 0);  // unreadable: the default
    QCOMPARE(p.colorReduction, MedianCut);
    QCOMPARE(p.inputTypeIndex, int(kBatchAllImageTypes));
    QCOMPARE(p.outputType, int(TypeTIFF));
    QVERIFY(p.autoConvert);
    QVERIFY(p.interactiveFiltering);
    QCOMPARE(p.inputFolder, QStringLiteral("/srv/photos"));
    QCOMPARE(p.outputFolder, CPreferences().outputFolder);
  }

  void cancelStoresNothingAndApplyStoresAtOnce() {
    QSettings settings(ini_, QSettings::IniFormat);
    {
      CPreferencesSheet sheet(settings);
      Control<QSlider>(sheet, "defaultQuality")->setValue(9);
      SheetButton(sheet, QDialogButtonBox::Cancel)->click();
    }
    QCOMPARE(CPreferences::FromSettings(settings).quality, 50);

    CPreferencesSheet sheet(settings);
    QSignalSpy applied(&sheet, &CPreferencesSheet::applied);
    Control<QSpinBox>(sheet, "defaultWaveletLevels")->setValue(2);
    SheetButton(sheet, QDialogButtonBox::Apply)->click();
    QCOMPARE(applied.count(), 1);
    QCOMPARE(applied.first().first().value<CPreferences>().waveletLevels, 2);
    QSettings other(ini_, QSettings::IniFormat);
    QCOMPARE(CPreferences::FromSettings(other).waveletLevels, 2);
  }

  // OK with a folder that does not exist says so and stores nothing.
  void folderFieldsRefuseAMissingFolder() {
    QSettings settings(ini_, QSettings::IniFormat);
    CPreferencesSheet sheet(settings);
    QStringList messages;
    sheet.SetMessageHandler([&](const QString& text) { messages << text; });

    Control<QLineEdit>(sheet, "defaultOutputFolder")->setText(dir_.filePath("nowhere"));
    sheet.show();
    SheetButton(sheet, QDialogButtonBox::Ok)->click();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().contains(dir_.filePath("nowhere")));
    QVERIFY(sheet.isVisible());
    QVERIFY(!settings.contains(QStringLiteral("Preferences/OutputFolder")));
    // An empty folder is allowed: the batch dialog then starts at the volumes.
    Control<QLineEdit>(sheet, "defaultOutputFolder")->clear();
    SheetButton(sheet, QDialogButtonBox::Ok)->click();
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QCOMPARE(CPreferences::FromSettings(settings).outputFolder, QString());
  }

  // The start-up colour reduction; the adjustment dialog starts at the stored
  // values, not previewing, and OK still commits them; compressing converts
  // without asking.
  void storedPreferencesGovernTheirDefaults() {
    CPreferences changed;
    changed.colorReduction = BestQuantization;
    changed.brightness = 20;
    changed.contrast = -30;
    changed.interactiveFiltering = false;
    changed.autoConvert = true;
    TestApp t(8, {}, &changed);
    QCOMPARE(t.state().colorReductionMethod, BestQuantization);
    QVERIFY(t.frame()->action(kBestQuantization)->isChecked());
    CTOVIMDoc* doc = OpenInMemory(*t.app, Ramp(), "/p/ramp.pgm");
    DialogScript script;
    script
        .Then<CBrightnessContrastDlg>([&](CBrightnessContrastDlg& d) {
          QCOMPARE(d.brightnessSlider()->value(), 20);
          QCOMPARE(d.contrastSlider()->value(), -30);
          QVERIFY(!d.previewBox()->isChecked());
          QVERIFY(doc->image->IsGreyRamp());  // nothing previewed
          d.accept();
        })
        .Reject<CSaveImageDialog>();
    t.trigger(kAdjustBrightnessContrast);
    QVERIFY(doc->image->Row(7)[0] != 128);  // the middle grey (index 128) moved
    QCOMPARE(doc->modified, 1);
    CTOVIMDoc* icons = OpenInMemory(*t.app, Palette(), "/p/icons.gif");
    t.trigger(kCompress);
    QVERIFY(script.done());
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(icons->image->BitCount(), 24);
  }

  // The sheet opened from its command stores what it is given and the viewer
  // follows.
  void theSheetChangesTheViewersPreferences() {
    CPreferences prefs;
    prefs.brightness = 40;
    TestApp t(32, {}, &prefs);
    DialogScript script;
    script.Then<CPreferencesSheet>([](CPreferencesSheet& sheet) {
      CPreferences values = sheet.values();
      values.quality = 200;
      sheet.setValues(values);
      sheet.accept();
    });
    t.trigger(kGeneralPreferences);
    QVERIFY(script.done());
    QCOMPARE(t.app->preferences().quality, 200);
    QCOMPARE(t.app->preferences().brightness, 40);
    QSettings settings(t.app->settingsFile(), LunarkIniFormat());
    QCOMPARE(CPreferences::FromSettings(settings).quality, 200);
  }

 private:
  QTemporaryDir dir_;
  QString ini_;
};

QTEST_MAIN(PreferencesTest)
#include "preferences_test.moc"
