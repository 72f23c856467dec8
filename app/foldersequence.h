// The pictures of a document's folder, in the order the viewer steps through
// them: the supported files sorted by name in natural order ("img2" before
// "img10"), listed on a worker thread so that a folder of many thousand
// files never holds up the window, and kept current by a file-system
// watcher. The shown file is watched too: its changes and its removal are
// reported.
#pragma once

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Natural order of file names: runs of digits compare by their value, the
// rest without regard to case; names that still tie compare exactly, so the
// order is total.
bool NaturalLess(const QString& a, const QString& b);
// True when the name's extension is one the viewer reads.
bool IsPictureName(const QString& name);
// The picture files of `folder` (absolute paths) in natural order.
QStringList ListPictures(const QString& folder);

class CFolderSequence : public QObject {
  Q_OBJECT

 public:
  explicit CFolderSequence(QObject* parent = nullptr);
  ~CFolderSequence() override;

  // The file shown now. A new folder is listed (again) in the background.
  void SetCurrent(const QString& path);
  const QString& current() const { return current_; }
  QString folder() const { return folder_; }

  // True once the folder's listing is in.
  bool ready() const { return ready_; }
  // Waits for the listing when it is still being made.
  void WaitUntilListed();
  const QStringList& files() const { return files_; }

  // The file `steps` places after (negative: before) `from` in the
  // sequence, wrapping around at the ends. A file no longer in the folder
  // counts from where it stood in the order. Empty when the folder holds no
  // other picture.
  QString Neighbour(const QString& from, int steps) const;
  QString Neighbour(int steps) const { return Neighbour(current_, steps); }

 signals:
  // The listing came in or changed.
  void listed();
  // The shown file was written to (it still exists).
  void currentChanged(const QString& path);
  // The shown file is gone.
  void currentRemoved(const QString& path);

 private:
  void StartListing();
  void ListingDone();
  void OnFileChanged(const QString& path);
  void WatchCurrent();

  QString folder_;
  QString current_;
  QStringList files_;
  bool ready_ = false;
  bool relistPending_ = false;
  QFileSystemWatcher watcher_;
  QFutureWatcher<QStringList> listing_;
  // Bursts of folder changes (a copy of many files) are listed once.
  QTimer relist_;
};
