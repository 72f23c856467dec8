// The "Select Image File" dialog: what its filters list, the remembered filter, the
// File Status panel, and what the Open command does with the chosen file.
#include "opendialog.h"

#include <sys/stat.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QListView>
#include <QTimer>

#include "app_test_util.h"

using namespace apptest;

namespace {

// The names the dialog lists in its current folder.
QStringList Listed(COpenImageDialog& dialog) {
  auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  QStringList names;
  if (!list) return names;
  const QModelIndex root = list->rootIndex();
  for (int row = 0; row < list->model()->rowCount(root); ++row) {
    names << list->model()->index(row, 0, root).data().toString();
  }
  names.sort();
  return names;
}

// Runs `action` on the modal dialog that the next exec() shows.
template <typename Action>
void OnNextDialog(Action action) {
  QTimer::singleShot(0, [action] {
    auto* dialog = qobject_cast<COpenImageDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    action(*dialog);
  });
}

}  // namespace

class OpenDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void filtersListFilesByExtensionWhateverTheCase() {
    QTemporaryDir dir;
    for (const char* name : {"a.tif", "b.tiff", "c.BMP", "d.bmp", "e.txt"})
      QVERIFY(!WriteBytes(dir.filePath(name), "x").isEmpty());
    COpenImageDialog dialog(nullptr, 1);
    dialog.setDirectory(dir.path());
    QTRY_COMPARE(Listed(dialog), (QStringList{"a.tif", "c.BMP", "d.bmp"}));
    dialog.selectNameFilter(COpenImageDialog::Filters()[7]);
    QTRY_COMPARE(Listed(dialog), (QStringList{"a.tif", "b.tiff"}));
    QCOMPARE(dialog.filterIndex(), 8);
  }

  void fileStatusSaysWhetherTheContentIsAnImage() {
    QTemporaryDir dir;
    const QString bmp = WriteBytes(dir.filePath("photo.jpg"), QByteArray("BM") + QByteArray(60, 0));
    const QString text = WriteBytes(dir.filePath("readme.bmp"), "This is not a picture.\n");
    COpenImageDialog dialog(nullptr, 11);
    QCOMPARE(dialog.statusText(), QString());
    dialog.OnSelectionChanged(bmp);
    QCOMPARE(dialog.statusText(), QStringLiteral("Supported Image"));
    dialog.OnSelectionChanged(text);
    QCOMPARE(dialog.statusText(), QStringLiteral("Unsupported or Invalid Image"));

    // Folders and pipes (which would block a read) leave the status as it was.
    dialog.OnSelectionChanged(dir.path());
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    dialog.OnSelectionChanged(pipe);
    QCOMPARE(dialog.statusText(), QStringLiteral("Unsupported or Invalid Image"));

    // Selecting in the dialog updates the panel.
    dialog.setDirectory(dir.path());
    dialog.show();
    dialog.selectFile(bmp);
    QTRY_COMPARE(dialog.statusText(), QStringLiteral("Supported Image"));
  }

  void filterIsRememberedAlsoAfterCancel() {
    TestApp t;
    OnNextDialog([](COpenImageDialog& dialog) {
      QCOMPARE(dialog.filterIndex(), 1);
      dialog.selectNameFilter(COpenImageDialog::Filters()[7]);
      dialog.reject();
    });
    t.app->OnFileOpen();
    QCOMPARE(t.state().openFilterIndex, 8);
    int shown = 0;
    OnNextDialog([&shown](COpenImageDialog& dialog) {
      shown = dialog.filterIndex();
      dialog.reject();
    });
    t.app->OnFileOpen();
    QCOMPARE(shown, 8);
    QVERIFY(t.messages.isEmpty());
  }

  void choosingAFileThatDoesNotOpenSaysSo() {
    TestApp t;
    const QString path = WriteBytes(t.dir.filePath("broken.bmp"), "BMbroken");
    OnNextDialog([path](COpenImageDialog& dialog) {
      dialog.setDirectory(QFileInfo(path).path());
      dialog.selectFile(path);
      QMetaObject::invokeMethod(&dialog, "accept");
    });
    t.frame()->action(kFileOpen)->trigger();
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unsupported Image File", "Invalid or Unsupported Image Selected"}));
    QCOMPARE(t.state().openDocumentCount, 0);
    QCOMPARE(t.state().openFolder, QFileInfo(path).path());
  }
};

QTEST_MAIN(OpenDialogTest)
#include "opendialog_test.moc"
