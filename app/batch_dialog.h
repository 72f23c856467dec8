// "Batch Conversion Parameters": the user browses an input folder, collects
// image files into a conversion list, picks an output folder and type, and
// presses Go. Every waiting entry is loaded, given the colour depth the
// output type needs and written into the output folder under its own base
// name. The conversions run one at a time, in list order, on a worker thread,
// so the window stays live and shows each entry's state as it changes. Stop
// pauses the run between two files; the next Go carries on with the entries
// still waiting.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>

#include "engine/options.h"
#include "formats/batch.h"
#include "preferences.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class vxRWImage;

class CBatchConvertDlg : public QDialog {
  Q_OBJECT

 public:
  // Item data roles: the icon index of a list entry, and the path a file
  // list entry stands for (a volume's root, a folder, a file).
  static constexpr int kIconRole = Qt::UserRole + 1;
  static constexpr int kPathRole = Qt::UserRole + 2;
  // Columns of the conversion list.
  enum Column { kImageColumn = 0, kResultColumn = 1 };

  // Shows a message box with the application's title and returns the button
  // pressed; tests replace it so that nothing waits for a click.
  using MessageHandler = std::function<QMessageBox::StandardButton(
      const QString& text, QMessageBox::StandardButtons buttons)>;
  // Asks for a folder: (title, starting folder) -> the folder, or "" for none.
  using FolderPicker = std::function<QString(const QString& title, const QString& start)>;

  explicit CBatchConvertDlg(const CPreferences& prefs = CPreferences(), QWidget* parent = nullptr);
  ~CBatchConvertDlg() override;

  void SetMessageHandler(MessageHandler handler) { message_ = std::move(handler); }
  void SetFolderPicker(FolderPicker picker) { pickFolder_ = std::move(picker); }

  // The input folder ("" for the volume list) and a rebuilt file list.
  void SetInputFolder(const QString& folder);
  QString inputFolder() const;
  void SetOutputFolder(const QString& folder);
  QString outputFolder() const;
  // Chooses the input filter by its list index (kBatchInputTypes).
  void SetInputFilter(int index);
  // Chooses the output type by type id; false when the list has no such type.
  bool SetOutputType(int type);
  int outputType() const { return outputType_; }

  // Conversion list operations, as the buttons do them.
  void AddAll();
  void AddSelected();
  void RemoveSelected();
  void RemoveAll();
  void UpOneFolder();
  void ShowImageInfo();
  // Enters the folder or volume of a file list entry (nothing for a file).
  void Navigate(QListWidgetItem* item);
  // Asks the writer of the output type for its options (the options dialog
  // of WIF and JPEG).
  void ChooseOptions();
  // Go: starts, resumes or, while running, asks for a pause.
  void GoStop();

  // The context menus of the file list and of the conversion list; the
  // caller owns them.
  QMenu* CreateFileListMenu();
  QMenu* CreateConversionListMenu();

  bool running() const { return running_; }
  bool paused() const { return paused_; }
  // The record each entry is written with: the chosen options, or the
  // default one (WIF from the preferences' quality and levels, JPEG 80).
  vxSaveOptions EffectiveOptions() const;

  QListWidget* fileList() const { return fileList_; }
  QTreeWidget* conversionList() const { return conversionList_; }
  QPushButton* goButton() const { return goButton_; }
  QPushButton* optionsButton() const { return optionsButton_; }
  QToolButton* button(int id) const;  // 1036 to 1041
  QComboBox* inputTypeList() const { return inputTypeBox_; }
  QComboBox* outputTypeList() const { return outputTypeBox_; }
  QProgressBar* progressBar() const { return progress_; }
  // The icon index of conversion list entry `row`.
  int EntryIcon(int row) const;

 signals:
  // A conversion started on entry `row`, or ended (after its icon was set).
  void entryStarted(int row);
  void entryFinished(int row);
  // The state icon of entry `row` changed to `icon`.
  void entryIconChanged(int row, int icon);
  // The run paused on Stop, or ended with no entry left waiting.
  void runPaused();
  void runFinished();

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void RebuildFileList();
  void ListVolumes();
  void OnOutputTypeChanged(int index);
  void AddEntries(const QList<QListWidgetItem*>& items);
  void UpdateRemoveButtons();
  void SetEntryIcon(QTreeWidgetItem* entry, int icon);
  void SetRunning(bool running);
  void StartNext(int fromRow);
  void OnEntryDone();
  void OnStage(quint64 job, int icon);
  void EndRun();
  void ShowFileListMenu(const QPoint& pos);
  void ShowConversionListMenu(const QPoint& pos);
  void PickInputFolder();
  void PickOutputFolder();
  QString ResolvedOutputFolder() const;

  CPreferences prefs_;
  MessageHandler message_;
  FolderPicker pickFolder_;

  // The writer of the output type, the type, the options the user chose
  // (null: none, the defaults apply) and whether they were asked for.
  std::unique_ptr<vxRWImage> writer_;
  int outputType_ = 0;
  vxSaveOptions* options_ = nullptr;
  bool optionsChosen_ = false;

  bool running_ = false;
  bool paused_ = false;
  bool pauseRequested_ = false;
  bool closeRequested_ = false;
  std::unique_ptr<vxBatchRun> run_;  // one per run, kept over a pause
  QFutureWatcher<vxBatchResult> watcher_;
  QTreeWidgetItem* current_ = nullptr;  // the entry being converted
  quint64 job_ = 0;                     // numbers the conversions, for stage reports
  int runTotal_ = 0;
  int runDone_ = 0;
  QString runOutputFolder_;
  vxSaveOptions runOptions_;

  QLineEdit* inputFolder_ = nullptr;
  QComboBox* inputTypeBox_ = nullptr;
  QPushButton* inputBrowse_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QLineEdit* outputFolder_ = nullptr;
  QComboBox* outputTypeBox_ = nullptr;
  QPushButton* outputBrowse_ = nullptr;
  QPushButton* optionsButton_ = nullptr;
  QTreeWidget* conversionList_ = nullptr;
  QToolButton* infoButton_ = nullptr;
  QToolButton* upButton_ = nullptr;
  QToolButton* removeSelectedButton_ = nullptr;
  QToolButton* removeAllButton_ = nullptr;
  QToolButton* addSelectedButton_ = nullptr;
  QToolButton* addAllButton_ = nullptr;
  QPushButton* goButton_ = nullptr;
  QPushButton* doneButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
};

// Command 32847 ("Convert Multiple Images"): the dialog, modal, over `parent`,
// starting from the preferences' folders and types.
void ShowBatchDialog(QWidget* parent, const CPreferences& prefs);
