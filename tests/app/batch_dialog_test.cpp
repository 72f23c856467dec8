// The batch dialog. The base-name rule and the inputs a run must not replace
// belong to the shared converter and are tested through the command line.
#include "batch_dialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>

#include "app_test_util.h"
#include "batch_icons.h"

using namespace apptest;

namespace {

constexpr int kRunTimeout = 60000;

// A dialog whose message boxes are answered Ok at once.
struct Fixture {
  explicit Fixture(const CPreferences& prefs = CPreferences()) : dialog(prefs) {
    dialog.SetMessageHandler(
        [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Ok; });
  }
  // Lists every picture of `in` for conversion into `out` as `type`.
  bool Ready(const QString& in, const QString& out, int type) {
    dialog.SetInputFolder(in);
    dialog.AddAll();
    dialog.SetOutputFolder(out);
    return dialog.SetOutputType(type);
  }
  CBatchConvertDlg dialog;
};

QStringList FileListTexts(const CBatchConvertDlg& d) {
  QStringList texts;
  for (int i = 0; i < d.fileList()->count(); ++i) texts << d.fileList()->item(i)->text();
  return texts;
}

QListWidgetItem* FileItem(const CBatchConvertDlg& d, const QString& text) {
  const auto found = d.fileList()->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.first();
}

QList<int> EntryIcons(const CBatchConvertDlg& d) {
  QList<int> icons;
  for (int i = 0; i < d.conversionList()->topLevelItemCount(); ++i) icons << d.EntryIcon(i);
  return icons;
}

QString EntryResult(const CBatchConvertDlg& d, int row) {
  return d.conversionList()->topLevelItem(row)->text(CBatchConvertDlg::kResultColumn);
}

// Presses Go and waits until the run has ended or paused.
bool RunAndWait(CBatchConvertDlg& d) {
  d.goButton()->click();
  return QTest::qWaitFor([&] { return !d.running(); }, kRunTimeout);
}

}  // namespace

class BatchDialogTest : public QObject {
  Q_OBJECT

 private slots:
  // Every test starts with empty input and output folders.
  void init() {
    in_ = dir_.path() + QStringLiteral("/in");
    out_ = dir_.path() + QStringLiteral("/out");
    QVERIFY(QDir(in_).removeRecursively() && QDir(out_).removeRecursively());
    QVERIFY(QDir().mkpath(in_) && QDir().mkpath(out_));
  }

  void fileListShowsFoldersParentAndImagesByContentAndNavigates() {
    QVERIFY(QDir(in_).mkdir(QStringLiteral("sub")));
    QVERIFY(Write(in_ + "/b.bmp", Colour()));
    QVERIFY(Write(in_ + "/picture.dat", Grey()));  // a BMP under another name
    QVERIFY(!WriteBytes(in_ + "/fake.bmp", "not a picture at all").isEmpty());
    QVERIFY(!WriteBytes(in_ + "/notes.txt", "hello").isEmpty());
    Fixture f;
    f.dialog.SetInputFilter(kBatchAllImageTypes);
    f.dialog.SetInputFolder(in_);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub", "b.bmp", "picture.dat"}));
    // A folder that cannot be searched gives an empty list.
    f.dialog.SetInputFolder(in_ + "/missing");
    QCOMPARE(f.dialog.fileList()->count(), 0);

    // Into a folder and back up, by the list and by Backspace.
    f.dialog.SetInputFolder(in_);
    f.dialog.Navigate(FileItem(f.dialog, "sub"));
    QCOMPARE(f.dialog.inputFolder(), in_ + "/sub");
    f.dialog.Navigate(FileItem(f.dialog, ".."));
    QTest::keyClick(f.dialog.fileList(), Qt::Key_Backspace);
    QCOMPARE(f.dialog.inputFolder(), dir_.path());
    // Typing a folder and pressing Enter lists it and does not start a run.
    auto* edit = f.dialog.findChild<QLineEdit*>("inputFolder");
    edit->setText(in_);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub", "b.bmp", "picture.dat"}));
    QVERIFY(!f.dialog.running());
    // A single type lists only pictures of that type.
    f.dialog.SetInputFilter(6 /* pgm */);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub"}));
  }

  void sameFileAddedTwiceIsListedOnce() {
    QVERIFY(Write(in_ + "/a.bmp", Colour()));
    QVERIFY(Write(in_ + "/b.bmp", Grey()));
    QVERIFY(QDir(in_).mkdir(QStringLiteral("sub")));
    Fixture f;
    f.dialog.SetInputFolder(in_);
    f.dialog.button(1041)->click();  // add all: the folders are not images
    QCOMPARE(f.dialog.conversionList()->topLevelItem(0)->text(0), in_ + "/a.bmp");
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{kStateWaiting, kStateWaiting}));
    // Again, by both buttons, and through a path spelt another way.
    f.dialog.AddAll();
    FileItem(f.dialog, "a.bmp")->setSelected(true);
    f.dialog.button(1040)->click();
    f.dialog.SetInputFolder(in_ + "/sub/..");
    f.dialog.AddAll();
    QCOMPARE(EntryIcons(f.dialog).size(), 2);
    // Delete in the list removes the selection only.
    f.dialog.conversionList()->topLevelItem(0)->setSelected(true);
    QTest::keyClick(f.dialog.conversionList(), Qt::Key_Delete);
    QCOMPARE(EntryIcons(f.dialog).size(), 1);
  }

  void stopPausesBetweenTwoFilesAndGoResumesTheWaitingEntries() {
    for (int i = 0; i < 6; ++i) QVERIFY(Write(in_ + QString("/f%1.bmp").arg(i), Colour(160, 120)));
    Fixture f;
    QVERIFY(f.Ready(in_, out_, TypeBMP));
    QList<int> started;
    connect(&f.dialog, &CBatchConvertDlg::entryStarted, this, [&](int row) { started << row; });
    // Stop is pressed while the third file is finishing: the pause comes
    // after it, before the fourth starts.
    auto stopAfterThird = connect(&f.dialog, &CBatchConvertDlg::entryFinished, this, [&](int row) {
      if (row == 2) f.dialog.goButton()->click();
    });
    QSignalSpy paused(&f.dialog, &CBatchConvertDlg::runPaused);
    QVERIFY(RunAndWait(f.dialog));
    QVERIFY(paused.count() == 1 && f.dialog.paused());
    QCOMPARE(started, (QList<int>{0, 1, 2}));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 2, 2, 0, 0, 0}));
    disconnect(stopAfterThird);
    // Go carries on with the waiting entries only.
    started.clear();
    QSignalSpy finished(&f.dialog, &CBatchConvertDlg::runFinished);
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(started, (QList<int>{3, 4, 5}));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 2, 2, 2, 2, 2}));
  }

  void eachOutputTypeGetsTheDepthItNeeds() {
    QVERIFY(Write(in_ + "/grey.bmp", Grey()));
    QVERIFY(Write(in_ + "/colour.bmp", Colour()));
    QVERIFY(Write(in_ + "/palette.bmp", Palette()));
    const struct {
      const char* input;
      int type;
      int icon;  // the entry's last icon
      int bits;  // of the file written
    } cases[] = {
        {"grey.bmp", TypeWIF, kStateWritten, 8},    {"colour.bmp", TypePGM, kStateConverted, 8},
        {"grey.bmp", TypeJPEG, kStateWritten, 8},   {"palette.bmp", TypeJPEG, kStateConverted, 24},
        {"grey.bmp", TypePPM, kStateConverted, 24},
    };
    for (const auto& c : cases) {
      const QString name = QString::fromLatin1(c.input);
      const QString ext = QString::fromLatin1(vxBatchExtension(c.type));
      const QString label = name + " as " + ext;
      Fixture f;
      f.dialog.SetInputFolder(in_);
      FileItem(f.dialog, name)->setSelected(true);
      f.dialog.AddSelected();
      f.dialog.SetOutputFolder(out_);
      QVERIFY(f.dialog.SetOutputType(c.type));
      QVERIFY(RunAndWait(f.dialog));
      QVERIFY2(EntryIcons(f.dialog) == QList<int>{c.icon},
               qPrintable(label + ": " + EntryResult(f.dialog, 0)));
      const QString output = out_ + "/" + QFileInfo(name).completeBaseName() + ext;
      vxScopedImage back;
      QCOMPARE(back.LoadImage(QFile::encodeName(output).constData()), 0);
      QVERIFY2(back.BitCount() == c.bits && (c.bits == 24 || back.IsGrayScale()),
               qPrintable(label));
      QFile::remove(output);
    }
  }

  void failuresKeepIcon1AndTheRunGoesOn() {
    QVERIFY(Write(in_ + "/a.bmp", Colour()));
    QVERIFY(Write(in_ + "/c.bmp", Palette()));
    QVERIFY(Write(in_ + "/gone.bmp", Grey()));
    // A BMP signature over nothing that can be read as a header.
    QVERIFY(!WriteBytes(in_ + "/broken.bmp", QByteArray("BM") + QByteArray(60, '\0')).isEmpty());
    Fixture f;
    QVERIFY(f.Ready(in_, out_, TypeBMP));
    QVERIFY(QFile::remove(in_ + "/gone.bmp"));  // listed, then deleted before the run
    QVERIFY(RunAndWait(f.dialog));
    // a, broken, c, gone
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 1, 2, 1}));
    QVERIFY(EntryResult(f.dialog, 1).startsWith("Failed: "));
    QVERIFY(EntryResult(f.dialog, 3).contains("cannot open"));
    QCOMPARE(QDir(out_).entryList(QDir::Files), (QStringList{"a.bmp", "c.bmp"}));

    // GIF has no writer: every entry fails with the reason, nothing is written.
    QVERIFY(QDir(out_).removeRecursively() && QDir().mkpath(out_));
    QVERIFY(f.dialog.SetOutputType(TypeGIF));
    QVERIFY(!f.dialog.optionsButton()->isVisibleTo(&f.dialog));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{1, 1, 1, 1}));
    QVERIFY2(EntryResult(f.dialog, 0).contains("GIF"), qPrintable(EntryResult(f.dialog, 0)));
    QCOMPARE(QDir(out_).entryList(QDir::Files | QDir::Hidden).size(), 0);
  }

  void optionsAreAskedOnceAtGoAndDefaultsFillTheGaps() {
    CPreferences prefs;
    prefs.quality = 17;
    prefs.waveletLevels = 3;
    Fixture f(prefs);
    // Without a choice, WIF takes the preferences.
    QVERIFY(f.dialog.SetOutputType(TypeWIF));
    QCOMPARE(f.dialog.EffectiveOptions().quality, 17);
    QList<int> askedFor;
    int answer = 33;  // 0: the user cancels
    vxOptionsDialogHook previous = vxSetOptionsDialogHook([&](int type) -> vxSaveOptions* {
      askedFor << type;
      if (!answer) return nullptr;
      auto* record = new vxSaveOptions;
      record->quality = answer;
      return record;
    });
    // The Options button asks the writer, which asks the hook; the options
    // dialog has no levels, so they come from the preferences.
    f.dialog.optionsButton()->click();
    QCOMPARE(askedFor, QList<int>{TypeWIF});
    QCOMPARE(f.dialog.EffectiveOptions().quality, 33);
    QCOMPARE(f.dialog.EffectiveOptions().levels, 3);
    // Changing the type discards the choice.
    QVERIFY(f.dialog.SetOutputType(TypeBMP) && f.dialog.SetOutputType(TypeWIF));
    QCOMPARE(f.dialog.EffectiveOptions().quality, 17);
    // Cancelled at Go: the defaults apply; once chosen, a later Go does not ask again.
    answer = 0;
    QVERIFY(Write(in_ + "/a.bmp", Colour()));
    QVERIFY(f.Ready(in_, out_, TypeWIF));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(askedFor.size(), 2);
    QCOMPARE(f.dialog.EffectiveOptions().quality, 17);
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{kStateWritten}));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(askedFor.size(), 2);
    vxSetOptionsDialogHook(previous);
  }

  void closingDuringARunWaitsForTheFileInHand() {
    for (int i = 0; i < 4; ++i) QVERIFY(Write(in_ + QString("/g%1.bmp").arg(i), Colour(300, 200)));
    Fixture f;
    QVERIFY(f.Ready(in_, out_, TypeBMP));
    f.dialog.show();
    QSignalSpy rejected(&f.dialog, &QDialog::rejected);
    f.dialog.goButton()->click();
    QVERIFY(f.dialog.running());
    f.dialog.reject();  // while the first file is being written
    QVERIFY(f.dialog.isVisible());
    QVERIFY(QTest::qWaitFor([&] { return rejected.count() == 1; }, kRunTimeout));
    QVERIFY(!f.dialog.running());
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 0, 0, 0}));
  }

  void preferencesGiveTheStartingFoldersAndTypes() {
    QVERIFY(Write(in_ + "/a.bmp", Colour()));
    CPreferences prefs;
    prefs.inputFolder = in_;
    prefs.outputType = TypePGM;
    Fixture f(prefs);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "a.bmp"}));
    QCOMPARE(f.dialog.outputType(), int(TypePGM));
    // A default folder that has gone away gives the home folder.
    prefs.inputFolder = in_ + "/unplugged";
    Fixture g(prefs);
    QCOMPARE(g.dialog.inputFolder(), QDir::cleanPath(QDir::homePath()));
  }

 private:
  QTemporaryDir dir_;
  QString in_;
  QString out_;
};

QTEST_MAIN(BatchDialogTest)
#include "batch_dialog_test.moc"
