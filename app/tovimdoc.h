// The image document: one engine image, loaded from a file, timed, prepared
// for display, with its unsaved-changes flag and the operations that the
// view's commands and the save commands call.
#pragma once

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "engine/display/oswinclass.h"

class CFolderSequence;
class CTOVIMView;
class CViewerApp;
struct CLoadedPicture;
struct SaveFilter;

// The values of the Brightness/Contrast dialog.
struct BrightnessContrastParams {
  int brightness = 0;     // -100 .. 100
  int contrast = 0;       // -100 .. 100
  int contrastFirst = 1;  // 1: contrast is applied first
  int accepted = 0;       // 1 after OK, 0 after Cancel
};

// Releases an owned engine image: its block first, then the object.
struct ImageDeleter {
  void operator()(vxOSWinClass* image) const;
};
using ImagePtr = std::unique_ptr<vxOSWinClass, ImageDeleter>;

class CTOVIMDoc : public QObject {
  Q_OBJECT

 public:
  explicit CTOVIMDoc(CViewerApp& app);
  ~CTOVIMDoc() override;

  CTOVIMView* view = nullptr;        // the document's one view, not owned
  float loadSeconds = 0;             // seconds the last load took
  ImagePtr image;                    // null before loading and after a failed load
  std::vector<vxRGBA> savedPalette;  // palette taken before an adjustment dialog
  bool hasSavedPalette = false;
  int modified = 0;
  // A picture larger than the window opens fitted to it. Set for files
  // opened from disk when the preference asks for it.
  bool fitOnOpen = false;
  // The picture shown is a reduced decode (1/reduction of each side) of a
  // large file; the full picture is being decoded, and the commands that
  // change or save the picture wait for it.
  bool partial = false;
  int reduction = 1;
  QSize fullSize;  // the size of the whole picture while a reduced one is shown

  // Loads `path`: enters it into the recent-file list, times the load and
  // prepares the display. False (after a message) when the file did not load.
  bool OnOpenDocument(const QString& path);
  // Takes a loaded image as the document's picture: grey palettes are made
  // linear, the document is counted as open and the display is prepared.
  void OpenImage(ImagePtr loaded, const QString& path);
  // May the document close? Asks about unsaved changes.
  bool SaveModified();
  // The document is going away: it no longer counts as open.
  void OnCloseDocument();

  // The picture may be changed and saved: it is loaded in full.
  bool IsEditable() const;

  // Folder browsing. The folder of the document's file, listed in the
  // background; null for a document that has no file.
  CFolderSequence* folder() {
    StartBackgroundWork();
    return folder_.get();
  }
  // Whether the document browses a folder (now or once its first paint is done).
  bool hasFolder() const { return folder_ || backgroundPending_; }
  // The work that waits until the picture is first on the screen: listing
  // and watching the folder, reading the neighbours ahead, the full decode
  // of a reduced picture. Runs once per shown picture; later calls do nothing.
  void StartBackgroundWork();
  bool backgroundPending() const { return backgroundPending_; }
  // Shows the next (1) or previous (-1) picture of the folder in this
  // window, after asking about unsaved changes; files that do not load are
  // passed over. False when the picture stayed.
  bool Step(int direction);
  // Shows `path` in this window in place of the picture (asks nothing).
  // False (after a message) when it did not load.
  bool ShowFile(const QString& path);
  // True when a neighbour's read-ahead has finished with a picture.
  bool HasReadAhead(const QString& path) const;
  // Waits for the read-ahead and a full decode in progress (for tests and
  // the benchmark).
  void WaitForBackgroundLoads();

  const QString& GetPathName() const { return pathName_; }
  // The file name shown in the frame caption.
  QString GetTitle() const;
  CViewerApp& app() const { return app_; }

  // Operations on the image. "Prepare" is PrepareDisplay. Those that return
  // a bool say whether the picture changed (an engine failure changes
  // nothing and leaves `modified` as it was).
  int PrepareDisplay();
  // Colour-depth conversions; they do not mark the document modified.
  bool ConvertTo24Bit();
  bool ConvertToGray();
  bool ApplyFilter(int filter);
  bool FlipImage(int direction);
  bool RotateImage(int degrees);
  bool InvertImage();
  int PreviewContrast(int value);
  int PreviewBrightness(int value);
  int PreviewBrightnessContrast(const BrightnessContrastParams& params);
  int SavePalette();
  int CommitPalette();
  int RestorePalette();
  // After a change of the pixels or the depth: the display, the view, the
  // status figures and the commands' enabling follow.
  void RefreshView();

  // Save As and Compress: true when the image was written. A cancelled
  // dialog, a "No", or a failed write (after a message naming the file and
  // the reason) write nothing and leave `modified` as it was.
  bool SaveImageAs();
  bool CompressImage();

 signals:
  // Another picture (or the same one read again) took the picture's place;
  // `sameFile` when it is the shown file, reloaded or completed.
  void pictureReplaced(bool sameFile);

 private:
  // Loads `path` for showing: a reduced decode first when the picture is
  // much larger than the screen (the full one follows), the whole of other
  // large pictures off the window's thread.
  std::shared_ptr<CLoadedPicture> LoadForShowing(const QString& path);
  void ShowLoaded(std::shared_ptr<CLoadedPicture> loaded, bool sameFile,
                  QFuture<std::shared_ptr<CLoadedPicture>> full = {});
  void ScheduleBackgroundWork(QFuture<std::shared_ptr<CLoadedPicture>> full = {});
  void AttachFolder();
  void StartFullLoad(QFuture<std::shared_ptr<CLoadedPicture>> running = {});
  void ReadAhead();
  std::shared_ptr<CLoadedPicture> TakeReadAhead(const QString& path);
  void OnChangedOnDisk();
  void OnRemovedFromDisk();
  // The palette of a palette image becomes the display colour table: 2 to the
  // bit count entries, those beyond the image's palette black.
  void RebuildPalette();
  void ReleaseSavedPalette();
  void Repaint();
  // Save steps: the completed name from the file dialog (empty when
  // cancelled), the replace question, the depth the type needs (asked
  // first), the write.
  QString AskSaveFileName(const QString& title, const QList<SaveFilter>& filters, int& filterIndex);
  bool ConfirmReplace(const QString& path);
  bool ConvertForType(int type, bool compressing);
  bool WriteImage(const QString& path, int type);

  CViewerApp& app_;
  QString pathName_;
  bool counted_ = false;

  std::unique_ptr<CFolderSequence> folder_;
  // Neighbours read ahead: (path, its load).
  QList<QPair<QString, QFuture<std::shared_ptr<CLoadedPicture>>>> ahead_;
  // The full decode of a partial picture.
  QFuture<std::shared_ptr<CLoadedPicture>> full_;
  int generation_ = 0;
  // The modification time of the file as it was read; a change seen on disk
  // with the same time is our own save.
  qint64 shownModified_ = 0;
  QTimer changedOnDisk_;
  bool backgroundPending_ = false;
  // A step or reload in progress: a large picture is decoded while events
  // run, and a second step (a key, the slideshow) must not start inside it.
  bool busy_ = false;
  // A decode of the full picture already under way (a read-ahead) that the
  // background work takes over instead of starting another.
  QFuture<std::shared_ptr<CLoadedPicture>> pendingFull_;
};
