// The application object: start-up, the application-wide state shared by
// documents, views and dialogs, the recent-file list, message boxes and the
// engine's notice sink.
#pragma once

#include <QGuiApplication>
#include <QMessageBox>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/image.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "preferences.h"

class CMainFrame;
class CTOVIMDoc;
struct AdjustmentDefaults;
class CTOVIMView;

// What a drag with a mouse button does: a member of the view called with the
// previous and the current pointer position.
using DragOperation = void (CTOVIMView::*)(QPoint from, QPoint to);

struct CAppState {
  vxColorReduction colorReductionMethod = MedianCut;
  int currentTool = 0;  // kToolZoom, kToolPan, kToolSelect or 0
  DragOperation leftTool = nullptr;
  DragOperation rightTool = nullptr;  // never set: a right drag does nothing
  int leftCursor = 184;
  int rightCursor = 184;
  int leftButtonDown = 0;
  int rightButtonDown = 0;
  CTOVIMView* activeView = nullptr;  // the view holding the foreground palette
  int openDocumentCount = 0;         // documents that loaded and are not closed
  int saveAsFilterIndex = 1;
  int openFilterIndex = 1;
  QString openFolder;  // where the open dialog starts (the last folder used)
  int screenWidth = 0;
  int screenHeight = 0;
  int screenBitsPerPixel = 32;
  QRect mainClientRect;  // the area child frames live in
  int platformId = 2;    // name completion on saving follows the NT rule
};

// One message box as the application shows it; the caption is always the
// application title.
struct CMessage {
  QString text;
  QString detail;  // shown under the text: the file concerned, a reason
  QMessageBox::Icon icon = QMessageBox::Warning;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct CViewerOptions {
  // The profile (INI) file; empty: Lunark/Lunark.ini in the user's
  // configuration folder.
  QString settingsFile;
  // Bits per pixel of the screen; 0: the screen's own. 8 makes the viewer
  // build the 8-bit display copies of a palette screen.
  int screenBits = 0;
};

class CViewerApp : public QObject {
  Q_OBJECT

 public:
  using Options = CViewerOptions;

  // Shows a message box and returns the button pressed. Tests replace it.
  using MessageHandler = std::function<QMessageBox::StandardButton(const CMessage&)>;

  explicit CViewerApp(Options options = {});
  ~CViewerApp() override;
  static CViewerApp* instance();

  // Start-up: profile, main frame, documents named on the command line, tool
  // state, caption. False when the main frame cannot be created.
  bool InitInstance(const QStringList& paths = {});

  CMainFrame* mainFrame() const { return frame_.get(); }
  CAppState& state() { return state_; }
  const Options& options() const { return options_; }

  // Opens `path` as a document in a new child frame, or activates the frame
  // of a document already open on that file. Null when the file did not load.
  CTOVIMDoc* OpenDocumentFile(const QString& path);
  // Gives a loaded document its child frame and view.
  CTOVIMDoc* CreateDocumentFrame(std::unique_ptr<CTOVIMDoc> doc);
  QList<CTOVIMDoc*> documents() const;
  // Asks every document whether it may close (unsaved changes); true when all agree.
  bool SaveAllModified();

  // Bookkeeping of open documents, called by CTOVIMDoc.
  void DocumentLoaded(CTOVIMDoc* doc);
  void DocumentClosed(CTOVIMDoc* doc);

  // The recent-file list (four entries, most recent first), kept in the
  // profile under "Recent File List" as "File1" ... "File4".
  QStringList recentFiles() const { return recentFiles_; }
  void AddToRecentFileList(const QString& path);
  void RemoveFromRecentFileList(const QString& path);
  QString settingsFile() const;

  // The user's preferences, read at start-up and replaced when the
  // "General Preferences" sheet stores new ones.
  const CPreferences& preferences() const { return prefs_; }
  void SetPreferences(const CPreferences& prefs);

  // The user's defaults as the commands apply them.
  // Convert a picture's depth for compression without asking.
  bool AutoConvertForCompression() const;
  // Where the adjustment dialogs start.
  AdjustmentDefaults AdjustmentStart() const;
  // The WIF options dialog's starting quality and the wavelet levels it gives.
  int DefaultWifQuality() const;
  int DefaultWaveletLevels() const;
  // Whether the open dialog shows its "File Status" panel.
  bool ShowsFileStatus() const;

  // Commands handled by the application.
  void OnFileOpen();
  void OnOpenRecentFile(int index);
  void OnAppAbout();
  void OnColorReduction(vxColorReduction method);
  void OnGeneralPreferences();
  void OnConvertMultiple();
  // Tool selection (zoom, pan, selection or none) and its reset.
  void SelectTool(int id);
  void ResetTools();

  // Message boxes with the application title; the wait cursor gives way to
  // the normal one while a box is up.
  QMessageBox::StandardButton MessageBox(const CMessage& message);
  QMessageBox::StandardButton MessageBox(const QString& text,
                                         QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                         QMessageBox::Icon icon = QMessageBox::Warning,
                                         const QString& detail = {});
  MessageHandler SetMessageHandler(MessageHandler handler);

  // Shows the notices that the engine posted (from any thread) and that are
  // still waiting. Runs on the user-interface thread.
  void FlushNotices();

 private:
  void LoadStdProfileSettings();
  void SaveRecentFileList() const;
  void QueueNotice(const vxNotice& notice);

  Options options_;
  CAppState state_;
  std::unique_ptr<CMainFrame> frame_;
  QStringList recentFiles_;
  CPreferences prefs_;
  // The two values the options hook reads, which may be on a worker thread.
  std::atomic<int> wifQuality_{vxDefaultWifQuality};
  std::atomic<int> waveletLevels_{0};
  QList<CTOVIMDoc*> openDocuments_;
  MessageHandler messageHandler_;
  vxNoticeSink previousSink_;
  vxOptionsDialogHook previousHook_;

  std::mutex noticeMutex_;
  std::deque<vxNotice> notices_;
  bool flushing_ = false;
};

// The wait cursor for the length of a scope.
class CWaitCursor {
 public:
  CWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The viewer's profile file format: a plain INI file whose section and key
// names are written as they are ("[Recent File List]").
QSettings::Format LunarkIniFormat();
