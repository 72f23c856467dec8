// Pictures of the batch dialog during a run and of each preferences page,
// written as PNG files into the folder named by LUNARK_SCREENS_DIR for a
// person to look at. Without that variable there is nothing to do.
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include "batch_dialog.h"
#include "batch_test_util.h"
#include "preferences.h"

using batch_test::HaveWriter;
using batch_test::Kind;
using batch_test::WriteImage;

class ScreensTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    target_ = qEnvironmentVariable("LUNARK_SCREENS_DIR");
    if (target_.isEmpty()) QSKIP("set LUNARK_SCREENS_DIR to write the pictures");
    QVERIFY(QDir().mkpath(target_));
    QApplication::setStyle(QStringLiteral("Fusion"));
  }

  void batchDialogDuringARun();
  void preferencesPages();

 private:
  void Save(QWidget& widget, const QString& name) {
    const QString path = target_ + "/" + name;
    QVERIFY2(widget.grab().save(path), qPrintable(path));
  }

  QString target_;
  QTemporaryDir dir_;
};

void ScreensTest::batchDialogDuringARun() {
  const QString in = dir_.filePath("Holiday photos");
  const QString out = dir_.filePath("converted");
  QVERIFY(QDir().mkpath(in + "/Day 1"));
  QVERIFY(QDir().mkpath(in + "/Day 2"));
  QVERIFY(QDir().mkpath(out));
  // A mixed folder: every type there is a writer for, colour, grey and
  // palette pictures, and one damaged file.
  const int types[] = {TypeBMP, TypeJPEG, TypeTIFF, TypePCX, TypePGM, TypePPM, TypeTGA, TypeWIF};
  const char* names[] = {"beach", "harbour", "market", "sunset", "lighthouse", "castle", "bridge"};
  int n = 0;
  for (int type : types) {
    if (!HaveWriter(type)) continue;
    for (int i = 0; i < 3; ++i) {
      const Kind cycle[] = {Kind::Colour24, Kind::Palette8, Kind::Grey8};
      Kind kind = cycle[i];
      if (type == TypePGM) kind = Kind::Grey8;
      if (type == TypeJPEG && kind == Kind::Palette8) kind = Kind::Colour24;
      const QString path = in + "/" + names[n % 7] + QString::number(n) +
                           QString::fromLatin1(vxBatchExtension(type));
      QVERIFY(WriteImage(path, kind, type, 640, 480));
      ++n;
    }
  }
  QVERIFY(batch_test::WriteText(in + "/damaged.bmp", QByteArray("BM") + QByteArray(60, '\0')));

  CPreferences prefs;
  prefs.inputFolder = in;
  prefs.outputFolder = out;
  prefs.outputType = TypeJPEG;
  CBatchConvertDlg dialog(prefs);
  dialog.SetMessageHandler(
      [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Ok; });
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  dialog.AddAll();
  for (int i = 0; i < dialog.fileList()->count(); ++i) {
    if (dialog.fileList()->item(i)->text().startsWith("harbour"))
      dialog.fileList()->item(i)->setSelected(true);
  }
  // While the depth of a later entry changes: earlier entries written,
  // converted or failed, later ones waiting.
  bool grabbed = false;
  connect(&dialog, &CBatchConvertDlg::entryIconChanged, this, [&](int row, int icon) {
    if (!grabbed && row >= 4 && icon == 6) {
      grabbed = true;
      Save(dialog, "batch-run.png");
    }
  });
  dialog.goButton()->click();
  QVERIFY(QTest::qWaitFor([&] { return !dialog.running(); }, 60000));
  QVERIFY(grabbed);
  Save(dialog, "batch-done.png");

  dialog.SetInputFolder(QString());
  Save(dialog, "batch-volumes.png");
}

void ScreensTest::preferencesPages() {
  QSettings settings(dir_.filePath("lunark.ini"), QSettings::IniFormat);
  CPreferences prefs;
  prefs.inputFolder = QDir::homePath() + "/Pictures";
  prefs.outputFolder = QDir::homePath() + "/Pictures/converted";
  prefs.waveletLevels = 5;
  prefs.quality = 40;
  prefs.Save(settings);
  CPreferencesSheet sheet(settings);
  sheet.show();
  QVERIFY(QTest::qWaitForWindowExposed(&sheet));
  const char* files[] = {"batch-prefs-general.png", "batch-prefs-compression.png",
                         "batch-prefs-viewing.png", "batch-prefs-processing.png"};
  for (int i = 0; i < 4; ++i) {
    sheet.tabs()->setCurrentIndex(i);
    QTest::qWait(20);
    Save(sheet, files[i]);
  }
}

QTEST_MAIN(ScreensTest)
#include "screens_test.moc"
