#include "foldersequence.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace {

// The extensions of the formats the viewer reads, lower case.
const QStringList& PictureExtensions() {
  static const QStringList extensions = {
      QStringLiteral("wif"), QStringLiteral("vxw"),  QStringLiteral("bmp"),
      QStringLiteral("dib"), QStringLiteral("pcx"),  QStringLiteral("ppm"),
      QStringLiteral("pgm"), QStringLiteral("pnm"),  QStringLiteral("tga"),
      QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("gif"),
      QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
      QStringLiteral("jfif")};
  return extensions;
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// -1, 0 or 1 as a orders before, with or after b naturally, ignoring case.
int NaturalCompare(const QString& a, const QString& b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      // Leading zeros do not count toward the value; then the longer run is
      // the larger number, and equal lengths compare digit by digit.
      qsizetype si = i;
      qsizetype sj = j;
      while (si < a.size() && a[si] == QLatin1Char('0')) ++si;
      while (sj < b.size() && b[sj] == QLatin1Char('0')) ++sj;
      qsizetype ei = si;
      qsizetype ej = sj;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      for (qsizetype k = 0; k < ei - si; ++k) {
        if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
      }
      // Same value: fewer leading zeros first.
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    const QChar ca = a[i].toCaseFolded();
    const QChar cb = b[j].toCaseFolded();
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

bool NaturalLess(const QString& a, const QString& b) {
  const int order = NaturalCompare(a, b);
  if (order != 0) return order < 0;
  return a < b;
}

bool IsPictureName(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  return PictureExtensions().contains(name.mid(dot + 1).toLower());
}

QStringList ListPictures(const QString& folder) {
  QDir dir(folder);
  QStringList names;
  const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::Readable);
  names.reserve(entries.size());
  for (const QString& name : entries) {
    if (IsPictureName(name)) names << name;
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (QString& name : names) name = dir.filePath(name);
  return names;
}

CFolderSequence::CFolderSequence(QObject* parent) : QObject(parent) {
  relist_.setSingleShot(true);
  relist_.setInterval(150);
  connect(&relist_, &QTimer::timeout, this, &CFolderSequence::StartListing);
  connect(&listing_, &QFutureWatcherBase::finished, this, &CFolderSequence::ListingDone);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { relist_.start(); });
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &CFolderSequence::OnFileChanged);
}

CFolderSequence::~CFolderSequence() {
  relist_.stop();
  // A listing still running finishes on its own; its result is not wanted.
  listing_.disconnect(this);
  listing_.waitForFinished();
}

void CFolderSequence::SetCurrent(const QString& path) {
  const QFileInfo info(path);
  const QString folder = info.absolutePath();
  current_ = info.absoluteFilePath();
  if (folder != folder_) {
    if (!folder_.isEmpty()) watcher_.removePath(folder_);
    folder_ = folder;
    files_.clear();
    ready_ = false;
    watcher_.addPath(folder_);
    StartListing();
  }
  WatchCurrent();
}

void CFolderSequence::WatchCurrent() {
  const QStringList watched = watcher_.files();
  if (!watched.isEmpty()) watcher_.removePaths(watched);
  if (QFileInfo::exists(current_)) watcher_.addPath(current_);
}

void CFolderSequence::StartListing() {
  if (listing_.isRunning()) {
    // Listed again when the running listing is in: it may predate the change.
    relistPending_ = true;
    return;
  }
  const QString folder = folder_;
  listing_.setFuture(QtConcurrent::run([folder] { return ListPictures(folder); }));
}

void CFolderSequence::ListingDone() {
  if (listing_.future().resultCount() > 0) {
    files_ = listing_.result();
    ready_ = true;
  }
  if (relistPending_) {
    relistPending_ = false;
    StartListing();
  }
  // A file written by replacing it is a new file to the watcher: watch again.
  if (!current_.isEmpty() && watcher_.files().isEmpty() && QFileInfo::exists(current_)) {
    watcher_.addPath(current_);
  }
  emit listed();
}

void CFolderSequence::WaitUntilListed() {
  if (ready_) return;
  listing_.waitForFinished();
  // The finished signal is queued; take the result now.
  if (!ready_ && listing_.future().resultCount() > 0) {
    files_ = listing_.result();
    ready_ = true;
  }
}

void CFolderSequence::OnFileChanged(const QString& path) {
  if (path != current_) return;
  if (QFileInfo::exists(path)) {
    // Some writers replace the file: the watcher forgets it then.
    if (!watcher_.files().contains(path)) watcher_.addPath(path);
    emit currentChanged(path);
  } else {
    emit currentRemoved(path);
  }
}

QString CFolderSequence::Neighbour(const QString& from, int steps) const {
  const QString full = QFileInfo(from).absoluteFilePath();
  QStringList others = files_;
  qsizetype at = others.indexOf(full);
  qsizetype count = others.size();
  if (at < 0) {
    // Not listed (gone, or not a listed name): it stands where the order
    // puts it, between its neighbours.
    const QString name = QFileInfo(full).fileName();
    const auto place = std::lower_bound(others.cbegin(), others.cend(), name,
                                        [](const QString& path, const QString& n) {
                                          return NaturalLess(QFileInfo(path).fileName(), n);
                                        });
    at = place - others.cbegin();
    if (count == 0) return {};
    // Stepping forward lands on the file at the place itself.
    if (steps > 0) --steps;
    const qsizetype index = ((at + steps) % count + count) % count;
    return others[index];
  }
  if (count <= 1) return {};
  const qsizetype index = ((at + steps) % count + count) % count;
  return others[index];
}
