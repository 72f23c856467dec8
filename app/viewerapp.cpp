#include "viewerapp.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QStandardPaths>
#include <QTextStream>

#include "aboutdialog.h"
#include "adjustdialogs.h"
#include "background.h"
#include "batch_dialog.h"
#include "childframe.h"
#include "commands.h"
#include "mainframe.h"
#include "opendialog.h"
#include "saveoptions.h"
#include "tovimdoc.h"
#include "tovimview.h"

namespace {

CViewerApp* g_app = nullptr;

constexpr int kRecentFileCount = 4;
const QString kRecentSection = QStringLiteral("Recent File List");

// A plain INI file: "[Section]" lines and "key=value" lines, names as they are.
bool ReadIni(QIODevice& device, QSettings::SettingsMap& map) {
  QTextStream in(&device);
  QString section;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) {
      continue;
    }
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      section = line.mid(1, line.size() - 2).trimmed();
      continue;
    }
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0) continue;
    const QString key = line.left(equals).trimmed();
    map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key,
               line.mid(equals + 1).trimmed());
  }
  return true;
}

bool WriteIni(QIODevice& device, const QSettings::SettingsMap& map) {
  QTextStream out(&device);
  QString current;
  bool first = true;
  // The map is sorted, so each section's keys come together.
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    const qsizetype slash = it.key().lastIndexOf(QLatin1Char('/'));
    const QString section = slash < 0 ? QString() : it.key().left(slash);
    const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
    if (first || section != current) {
      if (!first) out << '\n';
      if (!section.isEmpty()) out << '[' << section << "]\n";
      current = section;
      first = false;
    }
    QString value = it.value().toString();
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out << key << '=' << value << '\n';
  }
  out.flush();
  return out.status() == QTextStream::Ok;
}

bool SamePath(const QString& a, const QString& b) {
  const QString ca = QFileInfo(a).canonicalFilePath();
  const QString cb = QFileInfo(b).canonicalFilePath();
  if (!ca.isEmpty() && !cb.isEmpty()) return ca == cb;
  return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

QSettings::Format LunarkIniFormat() {
  static const QSettings::Format format =
      QSettings::registerFormat(QStringLiteral("ini"), ReadIni, WriteIni, Qt::CaseSensitive);
  return format;
}

CViewerApp::CViewerApp(Options options) : options_(std::move(options)) {
  g_app = this;
  previousSink_ = vxSetNoticeSink([this](const vxNotice& notice) { QueueNotice(notice); });
  // The WIF and JPEG writers ask for their quality through this hook: Save
  // As, Compress and the batch dialog's Options button all show our dialogs.
  previousHook_ = vxSetOptionsDialogHook(MakeSaveOptionsHook(
      [this] { return DefaultWifQuality(); }, [this] { return DefaultWaveletLevels(); }));
}

CViewerApp::~CViewerApp() {
  vxSetOptionsDialogHook(std::move(previousHook_));
  vxSetNoticeSink(std::move(previousSink_));
  if (frame_) {
    // Documents go before the frame whose status bar and tool bars they update.
    for (QMdiSubWindow* window : frame_->mdiClient()->subWindowList()) delete window;
  }
  frame_.reset();
  if (g_app == this) g_app = nullptr;
}

CViewerApp* CViewerApp::instance() { return g_app; }

bool CViewerApp::InitInstance(const QStringList& paths) {
  LoadStdProfileSettings();
  frame_ = std::make_unique<CMainFrame>(*this);
  if (!frame_->LoadFrame()) {
    frame_.reset();
    return false;
  }
  state_.platformId = 2;
  frame_->show();
  for (const QString& path : paths) {
    if (!path.isEmpty()) OpenDocumentFile(path);
  }
  ResetTools();
  frame_->setWindowTitle(ProductCaption());
  frame_->UpdateFrameTitle();
  return true;
}

QString CViewerApp::settingsFile() const {
  if (!options_.settingsFile.isEmpty()) return options_.settingsFile;
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Lunark/Lunark.ini");
}

void CViewerApp::LoadStdProfileSettings() {
  recentFiles_.clear();
  QSettings settings(settingsFile(), LunarkIniFormat());
  SetPreferences(CPreferences::FromSettings(settings));
  state_.colorReductionMethod = prefs_.colorReduction;
  settings.beginGroup(kRecentSection);
  for (int i = 1; i <= kRecentFileCount; ++i) {
    const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (!path.isEmpty() && !recentFiles_.contains(path)) recentFiles_ << path;
  }
}

void CViewerApp::SaveRecentFileList() const {
  QSettings settings(settingsFile(), LunarkIniFormat());
  settings.beginGroup(kRecentSection);
  settings.remove(QString());
  for (int i = 0; i < recentFiles_.size(); ++i) {
    settings.setValue(QStringLiteral("File%1").arg(i + 1), recentFiles_[i]);
  }
  settings.endGroup();
  settings.sync();
}

void CViewerApp::AddToRecentFileList(const QString& path) {
  const QString full = QFileInfo(path).absoluteFilePath();
  recentFiles_.removeAll(full);
  recentFiles_.prepend(full);
  while (recentFiles_.size() > kRecentFileCount) recentFiles_.removeLast();
  SaveRecentFileList();
  if (frame_) frame_->UpdateRecentFileMenu();
}

void CViewerApp::RemoveFromRecentFileList(const QString& path) {
  if (recentFiles_.removeAll(QFileInfo(path).absoluteFilePath()) == 0) return;
  SaveRecentFileList();
  if (frame_) frame_->UpdateRecentFileMenu();
}

CTOVIMDoc* CViewerApp::OpenDocumentFile(const QString& path) {
  if (path.isEmpty()) return nullptr;
  const QString full = QFileInfo(path).absoluteFilePath();
  for (CTOVIMDoc* doc : openDocuments_) {
    if (!SamePath(doc->GetPathName(), full) || !doc->view) continue;
    if (auto* window = qobject_cast<QMdiSubWindow*>(doc->view->parentWidget())) {
      frame_->mdiClient()->setActiveSubWindow(window);
    }
    return doc;
  }
  auto doc = std::make_unique<CTOVIMDoc>(*this);
  if (!doc->OnOpenDocument(full)) return nullptr;
  return CreateDocumentFrame(std::move(doc));
}

CTOVIMDoc* CViewerApp::CreateDocumentFrame(std::unique_ptr<CTOVIMDoc> doc) {
  if (!doc || !frame_) return nullptr;
  CTOVIMDoc* raw = doc.get();
  auto* child = new CChildFrame(std::move(doc), *this);
  frame_->mdiClient()->addSubWindow(child);
  // Shown first: the frame's borders and title bar are known only then.
  child->show();
  child->view()->OnInitialUpdate();
  child->view()->setFocus();
  frame_->UpdateFrameTitle();
  frame_->UpdateCommandUI();
  return raw;
}

QList<CTOVIMDoc*> CViewerApp::documents() const { return openDocuments_; }

bool CViewerApp::SaveAllModified() {
  for (CTOVIMDoc* doc : openDocuments_) {
    if (!doc->SaveModified()) return false;
  }
  return true;
}

void CViewerApp::DocumentLoaded(CTOVIMDoc* doc) {
  openDocuments_.append(doc);
  ++state_.openDocumentCount;
  if (frame_) {
    frame_->ShowMenu(129);
    frame_->UpdateCommandUI();
  }
}

void CViewerApp::DocumentClosed(CTOVIMDoc* doc) {
  openDocuments_.removeAll(doc);
  --state_.openDocumentCount;
  if (state_.openDocumentCount > 0 || !frame_) return;
  // The last document went: nothing is shown, so the figures and the tools go too.
  frame_->ClearStatusPanes();
  ResetTools();
  frame_->ShowMenu(128);
  frame_->UpdateCommandUI();
}

void CViewerApp::SetPreferences(const CPreferences& prefs) {
  prefs_ = prefs;
  prefs_.Clamp();
  wifQuality_.store(prefs_.quality);
  waveletLevels_.store(prefs_.waveletLevels);
}

bool CViewerApp::AutoConvertForCompression() const { return prefs_.autoConvert; }

AdjustmentDefaults CViewerApp::AdjustmentStart() const {
  return {prefs_.brightness, prefs_.contrast, prefs_.interactiveFiltering};
}

int CViewerApp::DefaultWifQuality() const { return wifQuality_.load(); }

int CViewerApp::DefaultWaveletLevels() const { return waveletLevels_.load(); }

bool CViewerApp::ShowsFileStatus() const { return prefs_.previewingOpenDialog; }

void CViewerApp::OnGeneralPreferences() {
  QSettings settings(settingsFile(), LunarkIniFormat());
  CPreferencesSheet sheet(settings, frame_.get());
  sheet.SetMessageHandler([this](const QString& text) { MessageBox(text); });
  // Stored values govern from now on; the colour reduction method of the
  // Options menu stays as it is (the preference is the start-up default).
  connect(&sheet, &CPreferencesSheet::applied, this, &CViewerApp::SetPreferences);
  sheet.exec();
}

void CViewerApp::OnConvertMultiple() {
  CBatchConvertDlg dialog(prefs_, frame_.get());
  dialog.SetMessageHandler([this](const QString& text, QMessageBox::StandardButtons buttons) {
    return MessageBox(text, buttons);
  });
  dialog.exec();
}

void CViewerApp::OnFileOpen() {
  COpenImageDialog dialog(frame_.get(), state_.openFilterIndex, ShowsFileStatus());
  if (!state_.openFolder.isEmpty()) dialog.setDirectory(state_.openFolder);
  const int result = dialog.exec();
  state_.openFilterIndex = dialog.filterIndex();
  state_.openFolder = dialog.directory().absolutePath();
  if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  if (!OpenDocumentFile(dialog.selectedFiles().constFirst())) {
    MessageBox(QStringLiteral("Invalid or Unsupported Image Selected"),
               QMessageBox::Ok | QMessageBox::Cancel);
  }
}

void CViewerApp::OnOpenRecentFile(int index) {
  if (index < 0 || index >= recentFiles_.size()) return;
  const QString path = recentFiles_[index];
  // An entry that no longer opens leaves the list.
  if (!OpenDocumentFile(path)) RemoveFromRecentFileList(path);
}

void CViewerApp::OnAppAbout() {
  CAboutDialog dialog(frame_.get());
  dialog.exec();
}

void CViewerApp::OnColorReduction(vxColorReduction method) {
  // Takes effect the next time a document prepares its display.
  state_.colorReductionMethod = method;
  if (frame_) frame_->UpdateCommandUI();
}

void CViewerApp::SelectTool(int id) {
  state_.currentTool = id;
  if (id == kToolZoom) {
    state_.leftTool = &CTOVIMView::ZoomDrag;
    state_.leftCursor = kCursorZoom;
  } else if (id == kToolPan) {
    state_.leftTool = &CTOVIMView::PanDrag;
    state_.leftCursor = kCursorPan;
  } else {
    state_.leftTool = nullptr;
    state_.leftCursor = kCursorArrow;
  }
  if (frame_) frame_->CheckToolButtons(id);
  for (CTOVIMDoc* doc : openDocuments_) {
    if (doc->view) doc->view->UpdateCursor();
  }
}

void CViewerApp::ResetTools() {
  state_.rightTool = nullptr;
  state_.leftButtonDown = 0;
  state_.rightButtonDown = 0;
  state_.rightCursor = kCursorArrow;
  SelectTool(0);
}

QMessageBox::StandardButton CViewerApp::MessageBox(const QString& text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::Icon icon, const QString& detail) {
  return MessageBox(CMessage{text, detail, icon, buttons});
}

QMessageBox::StandardButton CViewerApp::MessageBox(const CMessage& message) {
  if (messageHandler_) return messageHandler_(message);
  const bool waiting = QGuiApplication::overrideCursor() != nullptr;
  if (waiting) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  QMessageBox box(message.icon, QString::fromLatin1(kAppTitle), message.text, message.buttons,
                  frame_.get());
  if (!message.detail.isEmpty()) box.setInformativeText(message.detail);
  const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
  if (waiting) QGuiApplication::restoreOverrideCursor();
  return answer;
}

CViewerApp::MessageHandler CViewerApp::SetMessageHandler(MessageHandler handler) {
  std::swap(messageHandler_, handler);
  return handler;
}

void CViewerApp::QueueNotice(const vxNotice& notice) {
  bool first = false;
  {
    std::lock_guard lock(noticeMutex_);
    first = notices_.empty();
    notices_.push_back(notice);
  }
  // Notices are shown by the user-interface thread, never inside the engine
  // call that posted them: the engine may be on another thread, or hold its
  // notice lock while a box would run its own event loop.
  if (first) QMetaObject::invokeMethod(this, &CViewerApp::FlushNotices, Qt::QueuedConnection);
}

void CViewerApp::FlushNotices() {
  if (flushing_) return;  // a box already up shows the rest in turn
  flushing_ = true;
  for (;;) {
    vxNotice notice;
    {
      std::lock_guard lock(noticeMutex_);
      if (notices_.empty()) break;
      notice = std::move(notices_.front());
      notices_.pop_front();
    }
    CMessage message;
    // Some readers end their messages with a line feed; the box needs none.
    message.text = QString::fromStdString(notice.text).trimmed();
    QStringList detail;
    if (!notice.file.empty()) {
      detail << QDir::toNativeSeparators(QString::fromStdString(notice.file));
    }
    if (!notice.caption.empty()) detail << QString::fromStdString(notice.caption);
    message.detail = detail.join(QLatin1Char('\n'));
    switch (notice.kind) {
      case vxNoticeKind::Error:
        message.icon = QMessageBox::Warning;
        message.buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
      case vxNoticeKind::Warning:
        message.icon = QMessageBox::Warning;
        break;
      case vxNoticeKind::Info:
        message.icon = QMessageBox::Information;
        break;
    }
    MessageBox(message);
  }
  flushing_ = false;
}
