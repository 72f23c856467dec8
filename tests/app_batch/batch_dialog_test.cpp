// The batch dialog: the file list, the conversion list, the run with its
// pause and resume, colour depth by output type, failures and the options.
#include "batch_dialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include "batch_folders.h"
#include "batch_icons.h"
#include "batch_test_util.h"
#include "engine/options.h"

using batch_test::Kind;
using batch_test::Native;
using batch_test::WriteImage;

namespace {

constexpr int kRunTimeout = 60000;

struct Message {
  QString text;
  QMessageBox::StandardButtons buttons;
};

// A dialog whose message boxes are recorded and answered by `answer`.
struct Fixture {
  explicit Fixture(const CPreferences& prefs = CPreferences()) : dialog(prefs) {
    dialog.SetMessageHandler([this](const QString& text, QMessageBox::StandardButtons buttons) {
      messages.append({text, buttons});
      return answer;
    });
  }
  // Lists every picture of `in` for conversion into `out` as `type`.
  bool Ready(const QString& in, const QString& out, int type) {
    dialog.SetInputFolder(in);
    dialog.AddAll();
    dialog.SetOutputFolder(out);
    return dialog.SetOutputType(type);
  }
  CBatchConvertDlg dialog;
  QList<Message> messages;
  QMessageBox::StandardButton answer = QMessageBox::Ok;
};

// The file list's texts, or its icons.
QStringList FileListTexts(const CBatchConvertDlg& d) {
  QStringList texts;
  for (int i = 0; i < d.fileList()->count(); ++i) texts << d.fileList()->item(i)->text();
  return texts;
}
QList<int> FileListIcons(const CBatchConvertDlg& d) {
  QList<int> icons;
  for (int i = 0; i < d.fileList()->count(); ++i)
    icons << d.fileList()->item(i)->data(CBatchConvertDlg::kIconRole).toInt();
  return icons;
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

int Entries(const CBatchConvertDlg& d) { return d.conversionList()->topLevelItemCount(); }

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

  void fileListShowsFoldersParentAndImagesByContent() {
    QVERIFY(QDir(in_).mkdir(QStringLiteral("sub")));
    QVERIFY(WriteImage(in_ + "/b.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/picture.dat", Kind::Grey8));  // a BMP under another name
    QVERIFY(batch_test::WriteText(in_ + "/fake.bmp", "not a picture at all"));
    QVERIFY(batch_test::WriteText(in_ + "/notes.txt", "hello"));

    Fixture f;
    f.dialog.SetInputFilter(kBatchAllImageTypes);
    f.dialog.SetInputFolder(in_);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub", "b.bmp", "picture.dat"}));
    QCOMPARE(FileListIcons(f.dialog), (QList<int>{kIconParent, kIconFolder, 10, 10}));

    // "All Files" lists recognised images too; a single type only that type.
    f.dialog.SetInputFilter(kBatchAllFiles);
    QCOMPARE(FileListTexts(f.dialog).size(), 4);
    f.dialog.SetInputFilter(6);  // pgm
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub"}));
    f.dialog.SetInputFilter(2);  // bmp
    QCOMPARE(FileListTexts(f.dialog).size(), 4);

    // A folder that cannot be searched gives an empty list.
    f.dialog.SetInputFolder(in_ + "/missing");
    QCOMPARE(f.dialog.fileList()->count(), 0);
  }

  void folderNavigationAndTheVolumeList() {
    QVERIFY(QDir(in_).mkdir(QStringLiteral("sub")));
    Fixture f;
    f.dialog.SetInputFolder(in_);
    f.dialog.Navigate(FileItem(f.dialog, "sub"));
    QCOMPARE(f.dialog.inputFolder(), in_ + "/sub");
    f.dialog.Navigate(FileItem(f.dialog, ".."));
    QTest::keyClick(f.dialog.fileList(), Qt::Key_Backspace);
    QCOMPARE(f.dialog.inputFolder(), dir_.path());

    // Up from the root gives the volume list; the root is its first entry.
    f.dialog.SetInputFolder(QStringLiteral("/"));
    f.dialog.UpOneFolder();
    QCOMPARE(f.dialog.inputFolder(), QString());
    QCOMPARE(FileListTexts(f.dialog).value(0), QStringLiteral("/"));
    // Up from the volume list stays there; a volume leads to its root.
    f.dialog.UpOneFolder();
    QCOMPARE(f.dialog.inputFolder(), QString());
    f.dialog.Navigate(f.dialog.fileList()->item(0));
    QCOMPARE(f.dialog.inputFolder(), QStringLiteral("/"));

    // Typing a folder and pressing Enter lists it and does not start a run.
    auto* edit = f.dialog.findChild<QLineEdit*>("inputFolder");
    edit->setText(in_);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "sub"}));
    QVERIFY(!f.dialog.running());
  }

  void sameFileAddedTwiceIsListedOnce() {
    QVERIFY(WriteImage(in_ + "/a.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/b.bmp", Kind::Grey8));
    QVERIFY(QDir(in_).mkdir(QStringLiteral("sub")));
    Fixture f;
    f.dialog.SetInputFolder(in_);
    f.dialog.button(1041)->click();  // add all: the folders are not images
    QCOMPARE(Entries(f.dialog), 2);
    QCOMPARE(f.dialog.conversionList()->topLevelItem(0)->text(0), in_ + "/a.bmp");
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{kStateWaiting, kStateWaiting}));

    // Again, by both buttons, and through a path spelt another way.
    f.dialog.AddAll();
    FileItem(f.dialog, "a.bmp")->setSelected(true);
    f.dialog.button(1040)->click();
    f.dialog.SetInputFolder(in_ + "/sub/..");
    f.dialog.AddAll();
    QCOMPARE(Entries(f.dialog), 2);

    // Delete in the list removes the selection only.
    f.dialog.conversionList()->topLevelItem(0)->setSelected(true);
    QTest::keyClick(f.dialog.conversionList(), Qt::Key_Delete);
    QCOMPARE(Entries(f.dialog), 1);
  }

  void outputNamesKeepTheBaseNameUpToTheLastDot() {
    const QString ext = QString::fromLatin1(vxBatchExtension(TypeWIF));
    QVERIFY(WriteImage(in_ + "/photo.final.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/noext", Kind::Grey8));
    Fixture f;
    QVERIFY(f.Ready(in_, out_, TypeWIF));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{kStateWritten, kStateWritten}));
    QVERIFY(QFileInfo::exists(out_ + "/photo.final" + ext));
    QVERIFY(QFileInfo::exists(out_ + "/noext" + ext));
    QCOMPARE(QDir(out_).entryList(QDir::Files).size(), 2);
  }

  void stopPausesBetweenTwoFilesAndGoResumesTheWaitingEntries() {
    for (int i = 0; i < 6; ++i) {
      QVERIFY(WriteImage(in_ + QString("/f%1.bmp").arg(i), Kind::Colour24, TypeBMP, 160, 120));
    }
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
    QCOMPARE(paused.count(), 1);
    QVERIFY(f.dialog.paused());
    QCOMPARE(started, (QList<int>{0, 1, 2}));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 2, 2, 0, 0, 0}));
    QCOMPARE(QDir(out_).entryList(QDir::Files).size(), 3);
    disconnect(stopAfterThird);

    // Go carries on with the waiting entries only.
    const QDateTime firstWritten = QFileInfo(out_ + "/f0.bmp").lastModified();
    started.clear();
    QSignalSpy finished(&f.dialog, &CBatchConvertDlg::runFinished);
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(started, (QList<int>{3, 4, 5}));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 2, 2, 2, 2, 2}));
    QCOMPARE(QFileInfo(out_ + "/f0.bmp").lastModified(), firstWritten);

    // A fresh Go after a finished run converts everything again.
    started.clear();
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(started, (QList<int>{0, 1, 2, 3, 4, 5}));
  }

  void greyStaysGreyForWifAndColourBecomesGreyForPgm() {
    QVERIFY(WriteImage(in_ + "/grey.bmp", Kind::Grey8));
    QVERIFY(WriteImage(in_ + "/colour.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/palette.bmp", Kind::Palette8));
    struct Case {
      const char* input;
      int type;
      int icon;  // the entry's last icon
      int bits;  // of the file written
    };
    const Case cases[] = {
        {"grey.bmp", TypeWIF, kStateWritten, 8},        {"colour.bmp", TypePGM, kStateConverted, 8},
        {"palette.bmp", TypePGM, kStateConverted, 8},   {"grey.bmp", TypeJPEG, kStateWritten, 8},
        {"palette.bmp", TypeJPEG, kStateConverted, 24}, {"grey.bmp", TypePPM, kStateConverted, 24},
        {"colour.bmp", TypeBMP, kStateWritten, 24},
    };
    for (const Case& c : cases) {
      const QString name = QString::fromLatin1(c.input);
      const QString output = out_ + "/" + QFileInfo(name).completeBaseName() +
                             QString::fromLatin1(vxBatchExtension(c.type));
      Fixture f;
      f.dialog.SetInputFolder(in_);
      FileItem(f.dialog, name)->setSelected(true);
      f.dialog.AddSelected();
      f.dialog.SetOutputFolder(out_);
      QVERIFY(f.dialog.SetOutputType(c.type));
      QList<int> seen;
      connect(&f.dialog, &CBatchConvertDlg::entryIconChanged, this,
              [&](int, int icon) { seen << icon; });
      QVERIFY(RunAndWait(f.dialog));
      const QString label = name + " as " + QString::fromLatin1(vxBatchExtension(c.type));
      QVERIFY2(EntryIcons(f.dialog) == QList<int>{c.icon},
               qPrintable(label + ": " + EntryResult(f.dialog, 0)));
      if (c.icon == kStateConverted) {
        // Worked on, the depth change, worked on again, then written.
        const qsizetype depth = seen.indexOf(kStateDepth);
        QVERIFY2(depth > 0 && seen.at(depth - 1) == kStateWorking, qPrintable(label));
        QVERIFY2(seen.lastIndexOf(kStateWorking) > depth, qPrintable(label));
        QVERIFY2(EntryResult(f.dialog, 0).contains(QString("%1-bit").arg(c.bits)),
                 qPrintable(label));
      } else {
        QVERIFY2(!seen.contains(kStateDepth), qPrintable(label));
      }
      vxScopedImage back;
      QCOMPARE(back.LoadImage(Native(output).c_str()), 0);
      QVERIFY2(back.BitCount() == c.bits, qPrintable(label));
      if (c.bits == 8) QVERIFY2(back.IsGrayScale(), qPrintable(label));
      QFile::remove(output);
    }
  }

  void failuresKeepIcon1AndTheRunGoesOn() {
    QVERIFY(WriteImage(in_ + "/a.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/b.bmp", Kind::Colour24));
    QVERIFY(WriteImage(in_ + "/c.bmp", Kind::Palette8));
    QVERIFY(WriteImage(in_ + "/gone.bmp", Kind::Grey8));
    // A BMP signature over nothing that can be read as a header.
    QVERIFY(batch_test::WriteText(in_ + "/broken.bmp", QByteArray("BM") + QByteArray(60, '\0')));
    Fixture f;
    f.dialog.SetInputFolder(in_);
    f.dialog.AddAll();
    QCOMPARE(Entries(f.dialog), 5);
    QVERIFY(QFile::remove(in_ + "/gone.bmp"));  // listed, then deleted before the run
    f.dialog.SetOutputFolder(out_);
    QVERIFY(f.dialog.SetOutputType(TypeBMP));
    QVERIFY(RunAndWait(f.dialog));
    // a, b, broken, c, gone
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{2, 2, 1, 2, 1}));
    QVERIFY(EntryResult(f.dialog, 2).startsWith("Failed: "));
    QVERIFY(EntryResult(f.dialog, 4).contains("cannot open"));
    QVERIFY(!QFileInfo::exists(out_ + "/broken.bmp"));
    QVERIFY(QFileInfo::exists(out_ + "/c.bmp"));

    // Output folder = input folder and the inputs' own type: nothing is
    // replaced, every entry fails.
    const QByteArray before = batch_test::ReadAll(in_ + "/a.bmp");
    f.dialog.SetOutputFolder(in_);
    QVERIFY(f.dialog.SetOutputType(TypeBMP));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{1, 1, 1, 1, 1}));
    QVERIFY(EntryResult(f.dialog, 0).contains("output would replace the input"));
    QCOMPARE(batch_test::ReadAll(in_ + "/a.bmp"), before);

    // GIF has no writer: every entry fails with the reason, nothing is written.
    QVERIFY(QDir(out_).removeRecursively() && QDir().mkpath(out_));
    f.dialog.SetOutputFolder(out_);
    QVERIFY(f.dialog.SetOutputType(TypeGIF));
    QVERIFY(!f.dialog.optionsButton()->isVisibleTo(&f.dialog));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{1, 1, 1, 1, 1}));
    QVERIFY2(EntryResult(f.dialog, 0).contains("GIF"), qPrintable(EntryResult(f.dialog, 0)));
    QCOMPARE(QDir(out_).entryList(QDir::Files | QDir::Hidden).size(), 0);
  }

  void optionsAreAskedOnceAtGoAndDefaultsFillTheGaps() {
    CPreferences prefs;
    prefs.quality = 17;
    prefs.waveletLevels = 3;
    Fixture f(prefs);
    // Options only for the types that have them; without a choice, JPEG 80
    // and WIF from the preferences.
    for (const auto& [type, shown, quality, levels] :
         {std::tuple{TypeBMP, false, 0, 0}, std::tuple{TypeJPEG, true, 80, 0},
          std::tuple{TypeWIF, true, 17, 3}}) {
      QVERIFY(f.dialog.SetOutputType(type));
      QCOMPARE(f.dialog.optionsButton()->isVisibleTo(&f.dialog), shown);
      if (!shown) continue;
      QCOMPARE(f.dialog.EffectiveOptions().quality, quality);
      QCOMPARE(f.dialog.EffectiveOptions().levels, levels);
    }

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
    QVERIFY(f.dialog.SetOutputType(TypeBMP));
    QVERIFY(f.dialog.SetOutputType(TypeWIF));
    QCOMPARE(f.dialog.EffectiveOptions().quality, 17);
    // Cancelled at Go: the defaults apply; once chosen, a later Go does not ask again.
    answer = 0;
    QVERIFY(WriteImage(in_ + "/a.bmp", Kind::Colour24));
    f.dialog.SetInputFolder(in_);
    f.dialog.AddAll();
    f.dialog.SetOutputFolder(out_);
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(askedFor.size(), 2);
    QCOMPARE(f.dialog.EffectiveOptions().quality, 17);
    QCOMPARE(EntryIcons(f.dialog), (QList<int>{kStateWritten}));
    QVERIFY(RunAndWait(f.dialog));
    QCOMPARE(askedFor.size(), 2);
    vxSetOptionsDialogHook(previous);
  }

  void closingDuringARunWaitsForTheFileInHand() {
    for (int i = 0; i < 4; ++i)
      QVERIFY(WriteImage(in_ + QString("/g%1.bmp").arg(i), Kind::Colour24, TypeBMP, 300, 200));
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
    QVERIFY(WriteImage(in_ + "/a.bmp", Kind::Colour24));
    CPreferences prefs;
    prefs.inputFolder = in_;
    prefs.inputTypeIndex = 2;  // bmp
    prefs.outputFolder = out_;
    prefs.outputType = TypePGM;
    Fixture f(prefs);
    QCOMPARE(f.dialog.inputFolder(), in_);
    QCOMPARE(FileListTexts(f.dialog), (QStringList{"..", "a.bmp"}));
    QCOMPARE(f.dialog.outputFolder(), out_);
    QCOMPARE(f.dialog.outputType(), int(TypePGM));
    QVERIFY(!f.dialog.optionsButton()->isVisibleTo(&f.dialog));

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
