#include "batch_dialog.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "batch_folders.h"
#include "batch_icons.h"
#include "batch_types.h"
#include "engine/image.h"
#include "formats/rwimage.h"

namespace {

// Results and reasons are read from their start: they are cut at the end,
// while the paths beside them keep both their folder and their file name.
class ElideRightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideRight;
  }
};

const QString kTitle = QStringLiteral("Lunark  V1.2");

bool IsImageIcon(int icon) { return icon >= kIconFirstImage && icon <= kIconLastImage; }
bool IsVolumeIcon(int icon) { return icon >= kIconVolumeUnknown && icon <= kIconVolumeMemory; }

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QToolButton* MakeToolButton(CBatchButton kind, const QString& tip, const char* name) {
  auto* button = new QToolButton;
  button->setIcon(BatchButtonIcon(kind));
  button->setIconSize(QSize(20, 20));
  button->setToolTip(tip);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoRaise(false);
  button->setMinimumSize(32, 30);
  return button;
}

}  // namespace

CBatchConvertDlg::CBatchConvertDlg(const CPreferences& prefs, QWidget* parent)
    : QDialog(parent), prefs_(prefs) {
  prefs_.Clamp();
  setWindowTitle(QStringLiteral("Batch Conversion Parameters"));
  message_ = [this](const QString& text, QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Information, kTitle, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };
  pickFolder_ = [this](const QString& title, const QString& start) {
    return PickBatchFolder(this, title, start);
  };
  BuildControls();
  connect(&watcher_, &QFutureWatcher<vxBatchResult>::finished, this,
          &CBatchConvertDlg::OnEntryDone);

  // The starting folders and types come from the preferences; a default
  // folder that has gone away (an unplugged disk) gives the home folder.
  QString input = prefs_.inputFolder;
  if (!input.isEmpty() && !QFileInfo(input).isDir()) input = QDir::homePath();
  {
    const QSignalBlocker block(inputTypeBox_);
    inputTypeBox_->setCurrentIndex(prefs_.inputTypeIndex);
  }
  SetOutputFolder(prefs_.outputFolder);
  if (!SetOutputType(prefs_.outputType)) SetOutputType(TypeWIF);
  SetInputFolder(input);
  UpdateRemoveButtons();
}

CBatchConvertDlg::~CBatchConvertDlg() {
  // The worker uses the run and the stage reports name this dialog: let the
  // file in hand finish first.
  watcher_.waitForFinished();
  vxFreeOptions(options_);
}

void CBatchConvertDlg::BuildControls() {
  inputFolder_ = new QLineEdit;
  inputFolder_->setObjectName(QStringLiteral("inputFolder"));
  inputFolder_->installEventFilter(this);
  inputBrowse_ = new QPushButton(QStringLiteral("Change Folder"));
  inputBrowse_->setObjectName(QStringLiteral("inputBrowse"));
  inputTypeBox_ = new QComboBox;
  inputTypeBox_->setObjectName(QStringLiteral("inputType"));
  for (int i = 0; i < kBatchInputTypeCount; ++i) {
    inputTypeBox_->addItem(QString::fromLatin1(kBatchInputTypes[i].label).toLower(), i);
  }
  fileList_ = new QListWidget;
  fileList_->setObjectName(QStringLiteral("fileList"));
  fileList_->setViewMode(QListView::ListMode);
  fileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  fileList_->setIconSize(QSize(20, 20));
  fileList_->setUniformItemSizes(true);
  fileList_->setContextMenuPolicy(Qt::CustomContextMenu);
  fileList_->installEventFilter(this);

  outputFolder_ = new QLineEdit;
  outputFolder_->setObjectName(QStringLiteral("outputFolder"));
  outputFolder_->installEventFilter(this);
  outputBrowse_ = new QPushButton(QStringLiteral("Change Folder"));
  outputBrowse_->setObjectName(QStringLiteral("outputBrowse"));
  outputTypeBox_ = new QComboBox;
  outputTypeBox_->setObjectName(QStringLiteral("outputType"));
  for (const CBatchTypeItem& item : kBatchOutputTypes) {
    outputTypeBox_->addItem(QString::fromLatin1(item.label).toLower(), item.type);
  }
  outputTypeBox_->setCurrentIndex(-1);
  optionsButton_ = new QPushButton(QStringLiteral("Options"));
  optionsButton_->setObjectName(QStringLiteral("options"));
  conversionList_ = new QTreeWidget;
  conversionList_->setObjectName(QStringLiteral("conversionList"));
  conversionList_->setColumnCount(2);
  conversionList_->setHeaderLabels({QStringLiteral("Image"), QStringLiteral("Result")});
  conversionList_->setRootIsDecorated(false);
  conversionList_->setUniformRowHeights(true);
  conversionList_->setTextElideMode(Qt::ElideMiddle);
  conversionList_->setItemDelegateForColumn(kResultColumn, new ElideRightDelegate(conversionList_));
  conversionList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  conversionList_->setIconSize(QSize(16, 16));
  conversionList_->setContextMenuPolicy(Qt::CustomContextMenu);
  conversionList_->header()->setStretchLastSection(true);
  conversionList_->header()->resizeSection(kImageColumn, 300);
  conversionList_->installEventFilter(this);

  infoButton_ = MakeToolButton(CBatchButton::Info, QStringLiteral("Image Info"), "InfoB");
  upButton_ = MakeToolButton(CBatchButton::UpFolder, QStringLiteral("Move Up To Parent Folder"),
                             "UpFolderB");
  removeSelectedButton_ = MakeToolButton(
      CBatchButton::RemoveSelected, QStringLiteral("Remove Selected Images From List"), "DELSELB");
  removeAllButton_ = MakeToolButton(CBatchButton::RemoveAll,
                                    QStringLiteral("Remove All Images From List"), "DELALLB");
  addSelectedButton_ = MakeToolButton(CBatchButton::AddSelected,
                                      QStringLiteral("Add Selected Images To List"), "ADDSELB");
  addAllButton_ =
      MakeToolButton(CBatchButton::AddAll, QStringLiteral("Add All Images To List"), "ADDALLB");

  goButton_ = new QPushButton(QStringLiteral("Go"));
  goButton_->setObjectName(QStringLiteral("go"));
  goButton_->setDefault(true);
  goButton_->setMinimumWidth(90);
  doneButton_ = new QPushButton(QStringLiteral("Done"));
  doneButton_->setObjectName(QStringLiteral("done"));
  doneButton_->setAutoDefault(false);
  doneButton_->setMinimumWidth(90);
  for (QPushButton* b : {inputBrowse_, outputBrowse_, optionsButton_}) b->setAutoDefault(false);
  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setFormat(QStringLiteral("%v / %m"));
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("status"));
  // Long file names are cut rather than widening the dialog.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  // Input on the left, the list buttons in the middle, output on the right.
  auto* inputRow = new QHBoxLayout;
  inputRow->addWidget(inputFolder_, 1);
  inputRow->addWidget(inputBrowse_);
  auto* inputTypeRow = new QHBoxLayout;
  inputTypeRow->addWidget(inputTypeBox_, 1);
  inputTypeRow->addSpacing(inputBrowse_->sizeHint().width() + inputRow->spacing());
  auto* outputRow = new QHBoxLayout;
  outputRow->addWidget(outputFolder_, 1);
  outputRow->addWidget(outputBrowse_);
  auto* outputTypeRow = new QHBoxLayout;
  outputTypeRow->addWidget(outputTypeBox_, 1);
  outputTypeRow->addWidget(optionsButton_);

  auto* middle = new QVBoxLayout;
  middle->addWidget(infoButton_);
  middle->addWidget(upButton_);
  middle->addSpacing(18);
  middle->addWidget(addSelectedButton_);
  middle->addWidget(addAllButton_);
  middle->addSpacing(18);
  middle->addWidget(removeSelectedButton_);
  middle->addWidget(removeAllButton_);
  middle->addStretch();

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Current Input Folder")), 0, 0);
  grid->addLayout(inputRow, 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("List Files of Type")), 2, 0);
  grid->addLayout(inputTypeRow, 3, 0);
  grid->addWidget(fileList_, 4, 0);
  grid->addLayout(middle, 4, 1);
  grid->addWidget(new QLabel(QStringLiteral("Current Output Folder")), 0, 2);
  grid->addLayout(outputRow, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Type for Output Files")), 2, 2);
  grid->addLayout(outputTypeRow, 3, 2);
  grid->addWidget(conversionList_, 4, 2);
  grid->setColumnStretch(0, 2);
  grid->setColumnStretch(2, 3);
  grid->setRowStretch(4, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(progress_, 1);
  bottom->addSpacing(12);
  bottom->addWidget(goButton_);
  bottom->addWidget(doneButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid, 1);
  layout->addLayout(bottom);
  resize(940, 560);

  connect(inputBrowse_, &QPushButton::clicked, this, &CBatchConvertDlg::PickInputFolder);
  connect(outputBrowse_, &QPushButton::clicked, this, &CBatchConvertDlg::PickOutputFolder);
  connect(inputTypeBox_, &QComboBox::currentIndexChanged, this, [this] { RebuildFileList(); });
  connect(outputTypeBox_, &QComboBox::currentIndexChanged, this,
          &CBatchConvertDlg::OnOutputTypeChanged);
  connect(optionsButton_, &QPushButton::clicked, this, &CBatchConvertDlg::ChooseOptions);
  connect(fileList_, &QListWidget::itemActivated, this, &CBatchConvertDlg::Navigate);
  connect(fileList_, &QWidget::customContextMenuRequested, this,
          &CBatchConvertDlg::ShowFileListMenu);
  connect(conversionList_, &QWidget::customContextMenuRequested, this,
          &CBatchConvertDlg::ShowConversionListMenu);
  connect(infoButton_, &QToolButton::clicked, this, &CBatchConvertDlg::ShowImageInfo);
  connect(upButton_, &QToolButton::clicked, this, &CBatchConvertDlg::UpOneFolder);
  connect(removeSelectedButton_, &QToolButton::clicked, this, &CBatchConvertDlg::RemoveSelected);
  connect(removeAllButton_, &QToolButton::clicked, this, &CBatchConvertDlg::RemoveAll);
  connect(addSelectedButton_, &QToolButton::clicked, this, &CBatchConvertDlg::AddSelected);
  connect(addAllButton_, &QToolButton::clicked, this, &CBatchConvertDlg::AddAll);
  connect(goButton_, &QPushButton::clicked, this, &CBatchConvertDlg::GoStop);
  connect(doneButton_, &QPushButton::clicked, this, &CBatchConvertDlg::reject);
}

QToolButton* CBatchConvertDlg::button(int id) const {
  switch (id) {
    case 1036:
      return infoButton_;
    case 1037:
      return upButton_;
    case 1038:
      return removeSelectedButton_;
    case 1039:
      return removeAllButton_;
    case 1040:
      return addSelectedButton_;
    case 1041:
      return addAllButton_;
    default:
      return nullptr;
  }
}

// --- The input side ---------------------------------------------------------

void CBatchConvertDlg::SetInputFolder(const QString& folder) {
  const QString trimmed = folder.trimmed();
  inputFolder_->setText(trimmed.isEmpty() ? QString() : QDir::cleanPath(trimmed));
  RebuildFileList();
}

QString CBatchConvertDlg::inputFolder() const { return inputFolder_->text(); }

void CBatchConvertDlg::SetInputFilter(int index) { inputTypeBox_->setCurrentIndex(index); }

void CBatchConvertDlg::RebuildFileList() {
  fileList_->clear();
  const QString folder = inputFolder_->text();
  inputFolder_->setModified(false);
  if (folder.isEmpty()) {
    ListVolumes();
    return;
  }
  const QDir dir(folder);
  if (!dir.exists() || !dir.isReadable()) return;  // nothing to show of a folder we cannot search
  auto add = [this](const QString& text, int icon, const QString& path) {
    auto* item = new QListWidgetItem(BatchFileIcon(icon), text, fileList_);
    item->setData(kIconRole, icon);
    item->setData(kPathRole, path);
  };
  add(QStringLiteral(".."), kIconParent, BatchParentFolder(folder));
  const int filter = inputTypeBox_->currentIndex();
  const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot,
                                                  QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& entry : entries) {
    const QString path = BatchChildPath(folder, entry.fileName());
    if (entry.isDir()) {
      add(entry.fileName(), kIconFolder, path);
      continue;
    }
    if (filter < 0 || !entry.isFile()) continue;
    // Files are recognised by their content, whatever their names say.
    const int type = vxImage::GetFileType(QFile::encodeName(path).constData());
    const int icon = BatchImageIconIndex(type);
    if (icon >= 0 && BatchInputFilterPasses(filter, type)) add(entry.fileName(), icon, path);
  }
}

void CBatchConvertDlg::ListVolumes() {
  const QList<CVolume> volumes = BatchVolumes();
  for (int i = 0; i < volumes.size(); ++i) {
    auto* item = new QListWidgetItem(BatchFileIcon(volumes[i].icon),
                                     BatchVolumeText(volumes[i], i == 0), fileList_);
    item->setData(kIconRole, volumes[i].icon);
    item->setData(kPathRole, volumes[i].root);
  }
}

void CBatchConvertDlg::Navigate(QListWidgetItem* item) {
  if (!item) return;
  const int icon = item->data(kIconRole).toInt();
  if (icon == kIconParent) {
    UpOneFolder();
  } else if (icon == kIconFolder || IsVolumeIcon(icon)) {
    // The item keeps the path it stands for: a mount point may hold blanks,
    // so its text cannot be cut at the first one.
    SetInputFolder(item->data(kPathRole).toString());
  }
}

void CBatchConvertDlg::UpOneFolder() { SetInputFolder(BatchParentFolder(inputFolder_->text())); }

void CBatchConvertDlg::PickInputFolder() {
  const QString start = inputFolder_->text().isEmpty() ? QDir::homePath() : inputFolder_->text();
  const QString folder = pickFolder_(QStringLiteral("Select Input Directory File"), start);
  if (!folder.isEmpty()) SetInputFolder(folder);
}

void CBatchConvertDlg::ShowImageInfo() {
  for (QListWidgetItem* item : fileList_->selectedItems()) {
    if (!IsImageIcon(item->data(kIconRole).toInt())) continue;
    const QString path = item->data(kPathRole).toString();
    vxFileInfo info{};
    QString text;
    if (vxImage::GetInfo(QFile::encodeName(path).constData(), &info) == 0) {
      const double pixels = double(info.width) * info.height * info.bitsPerPixel * 0.125;
      // An empty file has no ratio; it shows 0 rather than infinity.
      const double ratio = info.fileSize ? pixels / info.fileSize : 0.0;
      text = QString::asprintf(
          "%s\nWidth:%d\nHeight:%d\nBits Per Pixel:%d\nFile Size:%u\nCompression Ratio:%0.2f:1",
          qUtf8Printable(path), info.width, info.height, info.bitsPerPixel, info.fileSize, ratio);
    } else {
      text = path + QStringLiteral("\nUnsupported or Invalid Image");
    }
    // One box per image; Cancel skips the boxes of the images after it.
    if (message_(text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Cancel) break;
  }
}

// --- The conversion list ----------------------------------------------------

void CBatchConvertDlg::AddAll() {
  QList<QListWidgetItem*> items;
  for (int i = 0; i < fileList_->count(); ++i) items << fileList_->item(i);
  AddEntries(items);
}

void CBatchConvertDlg::AddSelected() {
  QList<QListWidgetItem*> items = fileList_->selectedItems();
  std::sort(items.begin(), items.end(), [this](QListWidgetItem* a, QListWidgetItem* b) {
    return fileList_->row(a) < fileList_->row(b);
  });
  AddEntries(items);
}

void CBatchConvertDlg::AddEntries(const QList<QListWidgetItem*>& items) {
  if (running_) return;
  bool added = false;
  for (QListWidgetItem* item : items) {
    if (!IsImageIcon(item->data(kIconRole).toInt())) continue;
    const QString path = QDir::cleanPath(item->data(kPathRole).toString());
    bool listed = false;
    for (int i = 0; i < conversionList_->topLevelItemCount() && !listed; ++i) {
      listed = conversionList_->topLevelItem(i)->text(kImageColumn) == path;
    }
    if (listed) continue;
    auto* entry = new QTreeWidgetItem;
    entry->setText(kImageColumn, path);
    entry->setToolTip(kImageColumn, path);
    SetEntryIcon(entry, kStateWaiting);
    // The entry goes where the file stands in the file list, or at the end.
    const int at = std::min(fileList_->row(item), conversionList_->topLevelItemCount());
    conversionList_->insertTopLevelItem(at, entry);
    added = true;
  }
  if (added) UpdateRemoveButtons();
}

void CBatchConvertDlg::RemoveSelected() {
  if (running_) return;
  qDeleteAll(conversionList_->selectedItems());
  UpdateRemoveButtons();
}

void CBatchConvertDlg::RemoveAll() {
  if (running_) return;
  conversionList_->clear();
  UpdateRemoveButtons();
}

void CBatchConvertDlg::UpdateRemoveButtons() {
  const bool any = conversionList_->topLevelItemCount() > 0;
  removeSelectedButton_->setVisible(any);
  removeAllButton_->setVisible(any);
}

int CBatchConvertDlg::EntryIcon(int row) const {
  const QTreeWidgetItem* entry = conversionList_->topLevelItem(row);
  return entry ? entry->data(kImageColumn, kIconRole).toInt() : -1;
}

void CBatchConvertDlg::SetEntryIcon(QTreeWidgetItem* entry, int icon) {
  if (entry->data(kImageColumn, kIconRole) == icon) return;
  entry->setIcon(kImageColumn, BatchStateIcon(icon));
  entry->setData(kImageColumn, kIconRole, icon);
  const int row = conversionList_->indexOfTopLevelItem(entry);
  if (row >= 0) emit entryIconChanged(row, icon);
}

// --- The output side --------------------------------------------------------

void CBatchConvertDlg::SetOutputFolder(const QString& folder) {
  const QString trimmed = folder.trimmed();
  outputFolder_->setText(trimmed.isEmpty() ? QString() : QDir::cleanPath(trimmed));
}

QString CBatchConvertDlg::outputFolder() const { return outputFolder_->text(); }

bool CBatchConvertDlg::SetOutputType(int type) {
  const int index = outputTypeBox_->findData(type);
  if (index < 0) return false;
  if (index == outputTypeBox_->currentIndex()) {
    OnOutputTypeChanged(index);
  } else {
    outputTypeBox_->setCurrentIndex(index);
  }
  return true;
}

void CBatchConvertDlg::OnOutputTypeChanged(int index) {
  outputType_ = index < 0 ? 0 : outputTypeBox_->itemData(index).toInt();
  writer_.reset(outputType_ ? vxImage::CreateRWImage(outputType_) : nullptr);
  vxFreeOptions(options_);
  options_ = nullptr;
  optionsChosen_ = false;
  optionsButton_->setVisible(outputType_ == TypeWIF || outputType_ == TypeJPEG);
}

void CBatchConvertDlg::ChooseOptions() {
  vxFreeOptions(options_);
  options_ = writer_ ? static_cast<vxSaveOptions*>(writer_->OutOptions()) : nullptr;
  optionsChosen_ = true;
}

vxSaveOptions CBatchConvertDlg::EffectiveOptions() const {
  vxSaveOptions options;
  if (options_) {
    options = *options_;
  } else {
    options.quality = outputType_ == TypeJPEG ? vxDefaultJpegQuality : prefs_.quality;
  }
  // The options dialog has no levels control: the preferences supply them.
  if (outputType_ == TypeWIF && options.levels == 0) options.levels = prefs_.waveletLevels;
  if (outputType_ != TypeWIF) options.levels = 0;
  return options;
}

void CBatchConvertDlg::PickOutputFolder() {
  const QString start = outputFolder_->text().isEmpty() ? QDir::homePath() : outputFolder_->text();
  const QString folder = pickFolder_(QStringLiteral("Select Output Directory File"), start);
  if (!folder.isEmpty()) SetOutputFolder(folder);
}

QString CBatchConvertDlg::ResolvedOutputFolder() const {
  const QString folder = outputFolder_->text().trimmed();
  if (folder.isEmpty() || QDir::isAbsolutePath(folder)) return QDir::cleanPath(folder);
  // A relative output folder is taken from the input folder, where the
  // listed files are.
  const QString base = inputFolder_->text().isEmpty() ? QDir::homePath() : inputFolder_->text();
  return QDir::cleanPath(QDir(base).absoluteFilePath(folder));
}

// --- The run ------------------------------------------------------------------

void CBatchConvertDlg::GoStop() {
  if (running_) {
    // Taken between two files: the one in hand is finished first.
    pauseRequested_ = true;
    goButton_->setEnabled(false);
    status_->setText(QStringLiteral("Stopping after the current file..."));
    return;
  }
  if (conversionList_->topLevelItemCount() == 0) return;
  const QString out = ResolvedOutputFolder();
  if (out.isEmpty()) {
    message_(QStringLiteral("Choose the output folder first."), QMessageBox::Ok);
    outputFolder_->setFocus();
    return;
  }
  if (!optionsChosen_) ChooseOptions();
  QDir().mkpath(out);  // a folder that cannot be made fails each entry with its reason

  if (!paused_ || !run_) {
    for (int i = 0; i < conversionList_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* entry = conversionList_->topLevelItem(i);
      SetEntryIcon(entry, kStateWaiting);
      entry->setText(kResultColumn, QString());
      entry->setToolTip(kResultColumn, QString());
    }
    run_ = std::make_unique<vxBatchRun>();
  }
  paused_ = false;
  pauseRequested_ = false;
  runOutputFolder_ = out;
  runOptions_ = EffectiveOptions();
  runTotal_ = 0;
  for (int i = 0; i < conversionList_->topLevelItemCount(); ++i) runTotal_ += EntryIcon(i) == 0;
  runDone_ = 0;
  progress_->setRange(0, std::max(runTotal_, 1));
  progress_->setValue(0);
  SetRunning(true);
  StartNext(0);
}

void CBatchConvertDlg::SetRunning(bool running) {
  running_ = running;
  goButton_->setText(running ? QStringLiteral("Stop") : QStringLiteral("Go"));
  goButton_->setEnabled(true);
  // While files are being written the list and the output settings stay as
  // they are; the input side may still be browsed.
  for (QWidget* w : std::initializer_list<QWidget*>{
           addSelectedButton_, addAllButton_, removeSelectedButton_, removeAllButton_,
           outputFolder_, outputBrowse_, outputTypeBox_, optionsButton_}) {
    w->setEnabled(!running);
  }
}

void CBatchConvertDlg::StartNext(int fromRow) {
  QTreeWidgetItem* entry = nullptr;
  int row = fromRow;
  for (; row < conversionList_->topLevelItemCount(); ++row) {
    if (EntryIcon(row) == kStateWaiting) {
      entry = conversionList_->topLevelItem(row);
      break;
    }
  }
  if (!entry) {
    EndRun();
    return;
  }
  current_ = entry;
  SetEntryIcon(entry, kStateWorking);
  conversionList_->scrollToItem(entry);
  status_->setText(QStringLiteral("Converting %1 of %2: %3")
                       .arg(runDone_ + 1)
                       .arg(runTotal_)
                       .arg(QFileInfo(entry->text(kImageColumn)).fileName()));
  const quint64 job = ++job_;
  const std::string input = NativePath(entry->text(kImageColumn));
  const std::string out = NativePath(runOutputFolder_);
  const int type = outputType_;
  const vxSaveOptions options = runOptions_;
  vxBatchRun* run = run_.get();
  // Stage reports come from the worker thread and are shown on this one.
  auto stage = [this, job](vxBatchStage what) {
    const int icon = what == vxBatchStage::ConvertingDepth ? kStateDepth : kStateWorking;
    QMetaObject::invokeMethod(
        this, [this, job, icon] { OnStage(job, icon); }, Qt::QueuedConnection);
  };
  emit entryStarted(row);
  watcher_.setFuture(QtConcurrent::run([run, input, out, type, options, stage] {
    return run->Convert(input, out, type, &options, stage);
  }));
}

void CBatchConvertDlg::OnStage(quint64 job, int icon) {
  if (job != job_ || !current_) return;  // a report that arrived after its entry ended
  SetEntryIcon(current_, icon);
}

void CBatchConvertDlg::OnEntryDone() {
  const vxBatchResult result = watcher_.result();
  QTreeWidgetItem* entry = current_;
  current_ = nullptr;
  const int row = conversionList_->indexOfTopLevelItem(entry);
  if (entry) {
    if (result.status == vxBatchResult::Written) {
      SetEntryIcon(entry, result.converted ? kStateConverted : kStateWritten);
      QString text = QFileInfo(QFile::decodeName(result.output.c_str())).fileName();
      if (result.converted) text += QStringLiteral(" (converted to %1-bit)").arg(result.bitCount);
      entry->setText(kResultColumn, text);
      entry->setForeground(kResultColumn, palette().brush(QPalette::Text));
    } else {
      // A failed entry keeps the icon it had while it was worked on.
      SetEntryIcon(entry, kStateWorking);
      entry->setText(kResultColumn, QString::fromStdString("Failed: " + result.reason));
      entry->setForeground(kResultColumn, QColor(0xb9, 0x1c, 0x1c));
    }
    entry->setToolTip(kResultColumn, entry->text(kResultColumn));
  }
  progress_->setValue(++runDone_);
  emit entryFinished(row);
  if (closeRequested_) {
    SetRunning(false);
    paused_ = true;
    QDialog::reject();
    return;
  }
  if (pauseRequested_) {
    pauseRequested_ = false;
    paused_ = true;
    SetRunning(false);
    status_->setText(
        QStringLiteral("Paused: %1 of %2 done; Go carries on").arg(runDone_).arg(runTotal_));
    emit runPaused();
    return;
  }
  StartNext(row + 1);
}

void CBatchConvertDlg::EndRun() {
  paused_ = false;
  SetRunning(false);
  int written = 0;
  int failed = 0;
  for (int i = 0; i < conversionList_->topLevelItemCount(); ++i) {
    const int icon = EntryIcon(i);
    written += icon == kStateWritten || icon == kStateConverted;
    failed += icon == kStateWorking;
  }
  status_->setText(QStringLiteral("Done: %1 written, %2 failed").arg(written).arg(failed));
  emit runFinished();
}

void CBatchConvertDlg::reject() {
  if (running_) {
    // Closing waits for the file in hand, like a pause.
    closeRequested_ = true;
    pauseRequested_ = true;
    goButton_->setEnabled(false);
    status_->setText(QStringLiteral("Closing after the current file..."));
    return;
  }
  QDialog::reject();
}

// --- Keys and menus -------------------------------------------------------------

bool CBatchConvertDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == fileList_ && key == Qt::Key_Backspace) {
      UpOneFolder();
      return true;
    }
    if (watched == conversionList_ && key == Qt::Key_Delete) {
      RemoveSelected();
      return true;
    }
    // Enter in a folder field takes the folder; it does not start a run.
    if (watched == inputFolder_ && enter) {
      RebuildFileList();
      return true;
    }
    if (watched == outputFolder_ && enter) {
      SetOutputFolder(outputFolder_->text());
      return true;
    }
  } else if (event->type() == QEvent::FocusOut && watched == inputFolder_) {
    if (inputFolder_->isModified()) RebuildFileList();
  }
  return QDialog::eventFilter(watched, event);
}

QMenu* CBatchConvertDlg::CreateFileListMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("Add Selected Item(s) To List"), this,
                  &CBatchConvertDlg::AddSelected)
      ->setEnabled(!running_);
  menu->addAction(QStringLiteral("Add All Item(s) To List"), this, &CBatchConvertDlg::AddAll)
      ->setEnabled(!running_);
  menu->addAction(QStringLiteral("Image Information"), this, &CBatchConvertDlg::ShowImageInfo);
  return menu;
}

QMenu* CBatchConvertDlg::CreateConversionListMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("Delete Selected Item(s)"), this,
                  &CBatchConvertDlg::RemoveSelected)
      ->setEnabled(!running_);
  menu->addAction(QStringLiteral("Delete Whole List"), this, &CBatchConvertDlg::RemoveAll)
      ->setEnabled(!running_);
  return menu;
}

void CBatchConvertDlg::ShowFileListMenu(const QPoint& pos) {
  std::unique_ptr<QMenu> menu(CreateFileListMenu());
  menu->exec(fileList_->viewport()->mapToGlobal(pos));
}

void CBatchConvertDlg::ShowConversionListMenu(const QPoint& pos) {
  std::unique_ptr<QMenu> menu(CreateConversionListMenu());
  menu->exec(conversionList_->viewport()->mapToGlobal(pos));
}

void ShowBatchDialog(QWidget* parent, const CPreferences& prefs) {
  CBatchConvertDlg dialog(prefs, parent);
  dialog.exec();
}
