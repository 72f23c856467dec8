#include "tovimdoc.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMdiSubWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <chrono>

#include "engine/options.h"
#include "foldersequence.h"
#include "formats/output_depth.h"
#include "mainframe.h"
#include "pictureload.h"
#include "savedialog.h"
#include "tovimview.h"
#include "viewerapp.h"

namespace {

// `count` palette entries for the display: the first `available` from
// `entries`, the rest black. Never reads past the image's palette.
std::vector<vxRGBA> PaddedPalette(const vxRGBA* entries, int available, int count) {
  std::vector<vxRGBA> out(static_cast<size_t>(count), vxRGBA{0, 0, 0, 0});
  if (entries) std::copy_n(entries, std::clamp(available, 0, count), out.begin());
  return out;
}

// Pictures read ahead larger than this (raw bytes) are left to be read when
// they are shown, so that two neighbours never hold more than twice it.
constexpr int64_t kReadAheadBudget = int64_t{256} << 20;
// Pictures above this many raw bytes are decoded off the window's thread.
constexpr int64_t kBackgroundDecodeBytes = int64_t{48} << 20;

int64_t RawBytes(QSize size) { return int64_t{3} * size.width() * size.height(); }

// The screen in device pixels: what a fitted picture has to fill.
QSize ScreenPixels() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {1920, 1080};
  return screen->size() * screen->devicePixelRatio();
}

// A full decode of `path` within the read-ahead budget; null beyond it.
// With a room given, the reduced copy a fitted window shows is made too.
// The readers' notices are kept with the picture, so a neighbour that is
// never shown never interrupts the user.
LoadedPicture LoadWithinBudget(const QString& path, QSizeF room) {
  std::vector<vxNotice> notices;
  const vxNoticeCapture capture(notices);
  const QSize size = PictureSize(path);
  if (size.isEmpty() || RawBytes(size) > kReadAheadBudget) return {};
  LoadedPicture loaded = LoadPicture(path);
  loaded->notices = std::move(notices);
  if (loaded->image && !room.isEmpty()) {
    const QSize picture(loaded->image->Width(), loaded->image->Height());
    const float zoom = CTOVIMView::FitZoomFor(picture, room);
    if (zoom < 1.0f) {
      const QSize shown = CTOVIMView::ScaledSize(picture, zoom);
      loaded->preview = loaded->image->ReducedImage(shown.width(), shown.height());
    }
  }
  return loaded;
}

// Runs `load` on a worker thread while the window goes on painting.
LoadedPicture LoadOffThread(std::function<LoadedPicture()> load) {
  QFutureWatcher<LoadedPicture> watcher;
  QEventLoop loop;
  QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
  watcher.setFuture(QtConcurrent::run(std::move(load)));
  if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  return watcher.result();
}

bool SameFile(const QString& a, const QString& b) {
  return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

void ImageDeleter::operator()(vxOSWinClass* image) const {
  if (!image) return;
  image->Delete();
  delete image;
}

CTOVIMDoc::CTOVIMDoc(CViewerApp& app) : app_(app) {
  changedOnDisk_.setSingleShot(true);
  // A program writing the file sends several changes: the last one counts.
  changedOnDisk_.setInterval(200);
  connect(&changedOnDisk_, &QTimer::timeout, this, &CTOVIMDoc::OnChangedOnDisk);
}

CTOVIMDoc::~CTOVIMDoc() {
  // Loads still running finish on their own; their pictures are dropped.
  OnCloseDocument();
}

bool CTOVIMDoc::IsEditable() const { return image && !image->IsEmpty() && !partial; }

QString CTOVIMDoc::GetTitle() const { return QFileInfo(pathName_).fileName(); }

bool CTOVIMDoc::OnOpenDocument(const QString& path) {
  CWaitCursor wait;
  // The path enters the recent-file list before loading, so a file that
  // fails to load is listed too.
  pathName_ = path;
  app_.AddToRecentFileList(path);
  fitOnOpen = app_.preferences().fitLargePictures;

  const LoadedPicture loaded = LoadForShowing(path);
  // What the reader had to say comes before the verdict.
  app_.FlushNotices();
  if (!loaded->image) {
    QString detail = QDir::toNativeSeparators(path);
    if (!loaded->reason.isEmpty()) detail += QLatin1Char('\n') + loaded->reason;
    app_.MessageBox(QStringLiteral("Unsupported Image File"), QMessageBox::Ok | QMessageBox::Cancel,
                    QMessageBox::Warning, detail);
    return false;
  }
  loadSeconds = loaded->seconds;
  partial = loaded->factor > 1;
  reduction = loaded->factor;
  fullSize = loaded->fullSize;
  shownModified_ = loaded->modified;
  OpenImage(std::move(loaded->image), path);
  ScheduleBackgroundWork();
  return true;
}

void CTOVIMDoc::ScheduleBackgroundWork(QFuture<LoadedPicture> full) {
  backgroundPending_ = true;
  pendingFull_ = full;
  // The view starts it after its first paint; this is for a window that is
  // not painted soon (hidden or minimised).
  const int generation = generation_;
  QTimer::singleShot(300, this, [this, generation] {
    if (generation == generation_) StartBackgroundWork();
  });
}

void CTOVIMDoc::StartBackgroundWork() {
  if (!backgroundPending_) return;
  backgroundPending_ = false;
  QFuture<LoadedPicture> full = pendingFull_;
  pendingFull_ = {};
  AttachFolder();
  if (partial) StartFullLoad(full);
}

LoadedPicture CTOVIMDoc::LoadForShowing(const QString& path) {
  const QSize size = PictureSize(path);
  const int factor = ReductionFor(size, ScreenPixels());
  if (factor > 1) {
    if (LoadedPicture reduced = LoadReduced(path, size, factor)) return reduced;
  }
  if (RawBytes(size) > kBackgroundDecodeBytes) {
    return LoadOffThread([path] { return LoadPicture(path); });
  }
  return LoadPicture(path);
}

void CTOVIMDoc::AttachFolder() {
  if (!folder_) {
    folder_ = std::make_unique<CFolderSequence>();
    connect(folder_.get(), &CFolderSequence::listed, this, &CTOVIMDoc::ReadAhead);
    connect(folder_.get(), &CFolderSequence::currentChanged, this,
            [this] { changedOnDisk_.start(); });
    connect(folder_.get(), &CFolderSequence::currentRemoved, this, &CTOVIMDoc::OnRemovedFromDisk);
  }
  folder_->SetCurrent(pathName_);
  // With the folder already listed the neighbours are read at once.
  if (folder_->ready()) ReadAhead();
}

void CTOVIMDoc::StartFullLoad(QFuture<LoadedPicture> running) {
  const QString path = pathName_;
  const int generation = ++generation_;
  full_ = running.isValid() ? running : QtConcurrent::run([path] { return LoadPicture(path); });
  const bool tookOver = running.isValid();
  auto* watcher = new QFutureWatcher<LoadedPicture>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, tookOver] {
    watcher->deleteLater();
    // Another picture took the window meanwhile: this one is not wanted.
    if (generation != generation_ || !partial) return;
    LoadedPicture loaded =
        watcher->future().resultCount() > 0 ? watcher->result() : LoadedPicture();
    full_ = {};
    // A read-ahead taken over may have left the picture out (beyond its
    // budget): decode it here after all.
    if (tookOver && (!loaded || !loaded->image)) {
      StartFullLoad();
      return;
    }
    app_.FlushNotices();
    if (!loaded || !loaded->image) {
      if (app_.mainFrame()) {
        app_.mainFrame()->statusBar()->showMessage(
            QStringLiteral("%1 could not be read in full; a reduced copy is shown")
                .arg(QDir::toNativeSeparators(pathName_)),
            10000);
      }
      return;
    }
    ShowLoaded(std::move(loaded), true);
  });
  watcher->setFuture(full_);
}

void CTOVIMDoc::ReadAhead() {
  if (!folder_ || !folder_->ready() || pathName_.isEmpty()) return;
  QStringList wanted;
  for (int step : {1, -1}) {
    const QString next = folder_->Neighbour(pathName_, step);
    if (!next.isEmpty() && !SameFile(next, pathName_) && !wanted.contains(next)) wanted << next;
  }
  // Neighbours no longer next to the picture are let go.
  for (qsizetype i = ahead_.size() - 1; i >= 0; --i) {
    if (!wanted.contains(ahead_[i].first)) ahead_.removeAt(i);
  }
  // Fitted pictures get their reduced copy made with them.
  const QSizeF room = fitOnOpen && view ? view->FitRoom() : QSizeF();
  for (const QString& path : wanted) {
    const bool started =
        std::any_of(ahead_.cbegin(), ahead_.cend(), [&](const auto& a) { return a.first == path; });
    if (!started) {
      ahead_.append(
          {path, QtConcurrent::run([path, room] { return LoadWithinBudget(path, room); })});
    }
  }
}

LoadedPicture CTOVIMDoc::TakeReadAhead(const QString& path) {
  for (qsizetype i = 0; i < ahead_.size(); ++i) {
    if (ahead_[i].first != path) continue;
    QFuture<LoadedPicture> future = ahead_[i].second;
    ahead_.removeAt(i);
    future.waitForFinished();
    LoadedPicture loaded = future.resultCount() > 0 ? future.result() : LoadedPicture();
    // A file written since it was read ahead is read again.
    if (loaded && loaded->modified != QFileInfo(path).lastModified().toMSecsSinceEpoch()) return {};
    return loaded;
  }
  return {};
}

bool CTOVIMDoc::HasReadAhead(const QString& path) const {
  for (const auto& a : ahead_) {
    if (a.first == path && a.second.isFinished() && a.second.resultCount() > 0 && a.second.result())
      return a.second.result()->image != nullptr;
  }
  return false;
}

void CTOVIMDoc::WaitForBackgroundLoads() {
  for (auto& a : ahead_) a.second.waitForFinished();
  full_.waitForFinished();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

bool CTOVIMDoc::Step(int direction) {
  if (busy_) return false;
  busy_ = true;
  const auto done = qScopeGuard([this] { busy_ = false; });
  StartBackgroundWork();
  if (!folder_) return false;
  folder_->WaitUntilListed();
  QString target = folder_->Neighbour(pathName_, direction);
  if (target.isEmpty() || SameFile(target, pathName_)) return false;
  if (!SaveModified()) return false;
  CWaitCursor wait;
  // Files that do not load are passed over, each at most once.
  const qsizetype count = folder_->files().size();
  for (qsizetype tried = 0; tried < count && !target.isEmpty(); ++tried) {
    if (tried > 0 && SameFile(target, pathName_)) break;
    // A neighbour still being read ahead: a reduced decode shows it at once
    // when it is large, and the read-ahead becomes its full decode.
    QFuture<LoadedPicture> running;
    LoadedPicture loaded;
    for (const auto& a : ahead_) {
      if (a.first == target && !a.second.isFinished()) running = a.second;
    }
    if (running.isValid()) {
      const QSize size = PictureSize(target);
      const int factor = ReductionFor(size, ScreenPixels());
      if (factor > 1) loaded = LoadReduced(target, size, factor);
      if (loaded) {
        for (qsizetype i = ahead_.size() - 1; i >= 0; --i) {
          if (ahead_[i].first == target) ahead_.removeAt(i);
        }
      } else {
        running = {};
      }
    }
    if (!loaded) loaded = TakeReadAhead(target);
    if (!loaded) loaded = LoadForShowing(target);
    if (loaded && loaded->image) {
      ShowLoaded(std::move(loaded), false, running);
      app_.FlushNotices();
      return true;
    }
    target = folder_->Neighbour(target, direction);
  }
  app_.FlushNotices();
  app_.MessageBox(QStringLiteral("No other picture of this folder could be read"), QMessageBox::Ok,
                  QMessageBox::Information, QDir::toNativeSeparators(folder_->folder()));
  return false;
}

bool CTOVIMDoc::ShowFile(const QString& path) {
  CWaitCursor wait;
  LoadedPicture loaded = LoadForShowing(path);
  app_.FlushNotices();
  if (!loaded->image) {
    QString detail = QDir::toNativeSeparators(path);
    if (!loaded->reason.isEmpty()) detail += QLatin1Char('\n') + loaded->reason;
    app_.MessageBox(QStringLiteral("Unsupported Image File"), QMessageBox::Ok, QMessageBox::Warning,
                    detail);
    return false;
  }
  ShowLoaded(std::move(loaded), SameFile(path, pathName_));
  return true;
}

void CTOVIMDoc::ShowLoaded(LoadedPicture loaded, bool sameFile, QFuture<LoadedPicture> full) {
  ++generation_;
  // The picture stepped away from is the neighbour behind: kept as read
  // ahead, unless it was changed here or is not complete.
  if (!sameFile && image && !image->IsEmpty() && !modified && !partial && !pathName_.isEmpty()) {
    auto previous = std::make_shared<CLoadedPicture>();
    previous->path = pathName_;
    previous->image = std::move(image);
    previous->seconds = loadSeconds;
    previous->modified = shownModified_;
    if (view && view->fitMode) previous->preview = view->TakeReduced();
    for (qsizetype i = ahead_.size() - 1; i >= 0; --i) {
      if (ahead_[i].first == pathName_) ahead_.removeAt(i);
    }
    ahead_.append({pathName_, QtFuture::makeReadyFuture(LoadedPicture(previous))});
  }
  ReleaseSavedPalette();
  modified = 0;
  loadSeconds = loaded->seconds;
  partial = loaded->factor > 1;
  const int previousReduction = reduction;
  reduction = loaded->factor;
  fullSize = loaded->fullSize;
  shownModified_ = loaded->modified;
  QImage preview = std::move(loaded->preview);
  // Notices of a picture read ahead are shown now that it is.
  for (const vxNotice& notice : loaded->notices) vxDeliverNotice(notice);
  loaded->notices.clear();
  OpenImage(std::move(loaded->image), loaded->path);
  if (view) {
    view->OnPictureReplaced(sameFile,
                            sameFile ? static_cast<double>(previousReduction) / reduction : 1.0);
    view->OfferReduced(std::move(preview));
  }
  emit pictureReplaced(sameFile);
  if (sameFile && !partial) {
    // The full picture of the one shown, or the file read again: the folder
    // is listed already.
    if (folder_) folder_->SetCurrent(pathName_);
  } else {
    ScheduleBackgroundWork(full);
  }
  if (app_.mainFrame()) app_.mainFrame()->UpdateCommandUI();
}

void CTOVIMDoc::OnChangedOnDisk() {
  if (pathName_.isEmpty() || !QFileInfo::exists(pathName_)) return;
  if (busy_) {
    changedOnDisk_.start();  // looked at again when the step is done
    return;
  }
  busy_ = true;
  const auto done = qScopeGuard([this] { busy_ = false; });
  const qint64 stamp = QFileInfo(pathName_).lastModified().toMSecsSinceEpoch();
  if (stamp == shownModified_) return;  // our own save, or nothing new
  if (modified) {
    // The user's changes are not thrown away; they can be saved elsewhere.
    shownModified_ = stamp;
    app_.MessageBox(QStringLiteral("%1 was changed by another program.\nYour changes in this "
                                   "window are kept; save them under another name to keep both.")
                        .arg(QDir::toNativeSeparators(pathName_)),
                    QMessageBox::Ok, QMessageBox::Information);
    return;
  }
  LoadedPicture loaded = LoadForShowing(pathName_);
  app_.FlushNotices();
  // A file caught half written is tried again on its next change.
  if (loaded->image) ShowLoaded(std::move(loaded), true);
}

void CTOVIMDoc::OnRemovedFromDisk() {
  // The picture stays in memory and can still be saved; the sequence goes on
  // from where the file stood.
  if (app_.mainFrame()) {
    app_.mainFrame()->statusBar()->showMessage(
        QStringLiteral("%1 was deleted; the picture shown is the copy in memory")
            .arg(QDir::toNativeSeparators(pathName_)),
        10000);
  }
}

void CTOVIMDoc::OpenImage(ImagePtr loaded, const QString& path) {
  pathName_ = path;
  image = std::move(loaded);
  // Grey pictures whose palette is not the 256-entry identity ramp (fewer
  // greys, other orders) are rewritten so that index and grey level agree.
  if (image && !image->IsEmpty()) vxLinearizeGrey(*image);
  if (!counted_) {
    counted_ = true;
    app_.DocumentLoaded(this);
  }
  PrepareDisplay();
}

bool CTOVIMDoc::SaveModified() {
  if (!modified) return true;
  const auto answer =
      app_.MessageBox(QStringLiteral("Image not saved\nWould you like to save it now?\n"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  // A save that did not happen (dialog cancelled, write failed) keeps the
  // document open rather than losing the changes.
  if (answer == QMessageBox::Yes) return SaveImageAs();
  return true;
}

void CTOVIMDoc::OnCloseDocument() {
  if (!counted_) return;
  counted_ = false;
  app_.DocumentClosed(this);
}

int CTOVIMDoc::PrepareDisplay() {
  if (!image || image->IsEmpty()) return 1;
  const CAppState& state = app_.state();
  if (state.screenBitsPerPixel == 8 && image->BitCount() > 8 &&
      state.colorReductionMethod != QuickDither) {
    image->Create8bitColor(256, state.colorReductionMethod);
    if (image->altHeader && image->altPalette) {
      const std::vector<vxRGBA> entries =
          PaddedPalette(image->altPalette, static_cast<int>(image->altHeader->coloursUsed), 256);
      if (image->CreateRGBPalette(256, entries.data()) == 1) {
        image->useAlternate = 1;
        image->SetDrawPalette();
        return 1;
      }
    }
    // No display copy: the picture is drawn as it is, dithered on the way.
    image->useAlternate = 0;
    image->UpdateDisplay();
    return 1;
  }
  image->useAlternate = 0;
  if (image->BitCount() <= 8) {
    RebuildPalette();
  } else {
    image->UpdateDisplay();
  }
  return 1;
}

void CTOVIMDoc::RebuildPalette() {
  const int bits = image->BitCount();
  if (bits > 8) return;
  const int count = 1 << bits;
  const std::vector<vxRGBA> entries = PaddedPalette(image->palette, image->ColoursUsed(), count);
  image->CreateRGBPalette(count, entries.data());
  image->SetDrawPalette();
}

void CTOVIMDoc::Repaint() {
  if (view) view->viewport()->update();
}

bool CTOVIMDoc::ConvertTo24Bit() {
  if (!image || image->IsEmpty() || image->BitCount() == 24) return false;
  CWaitCursor wait;
  if (image->Make24Bit() != 1) return false;
  PrepareDisplay();
  return true;
}

bool CTOVIMDoc::ConvertToGray() {
  if (!image || image->IsEmpty() || image->BitCount() == 8) return false;
  CWaitCursor wait;
  if (image->Make8Bit() != 1) return false;
  PrepareDisplay();
  return true;
}

bool CTOVIMDoc::ApplyFilter(int filter) {
  if (!image || image->IsEmpty()) return false;
  // A colour palette picture comes back 24-bit: it is filtered in colour.
  if (image->Filter(filter) != 1) return false;
  PrepareDisplay();
  modified = 1;
  return true;
}

bool CTOVIMDoc::FlipImage(int direction) {
  if (!image || image->IsEmpty()) return false;
  if (image->Flip(direction) != 0) return false;
  PrepareDisplay();
  modified = 1;
  return true;
}

bool CTOVIMDoc::RotateImage(int degrees) {
  if (!image || image->IsEmpty()) return false;
  if (image->Rotate(degrees) != 1) return false;
  PrepareDisplay();
  modified = 1;
  return true;
}

bool CTOVIMDoc::InvertImage() {
  if (!image || image->IsEmpty()) return false;
  CWaitCursor wait;
  if (image->InvertColor() != 0) return false;
  PrepareDisplay();
  Repaint();
  modified = 1;
  return true;
}

void CTOVIMDoc::RefreshView() {
  if (view) {
    view->RealizeViewPalette(view->paletteForeground != 0);
    view->viewport()->update();
    view->UpdateStatusPanes();
  }
  if (app_.mainFrame()) app_.mainFrame()->UpdateCommandUI();
}

int CTOVIMDoc::PreviewContrast(int value) {
  if (!image || image->IsEmpty() || image->BitCount() > 8) return 0;
  if (!hasSavedPalette || savedPalette.size() < static_cast<size_t>(image->ColoursUsed())) return 0;
  image->Contrast(savedPalette.data(), value);
  RebuildPalette();
  return 1;
}

int CTOVIMDoc::PreviewBrightness(int value) {
  if (!image || image->IsEmpty() || image->BitCount() > 8) return 0;
  if (!hasSavedPalette || savedPalette.size() < static_cast<size_t>(image->ColoursUsed())) return 0;
  image->Brightness(savedPalette.data(), value);
  RebuildPalette();
  return 1;
}

int CTOVIMDoc::PreviewBrightnessContrast(const BrightnessContrastParams& params) {
  if (!image || image->IsEmpty() || image->BitCount() > 8) return 1;
  if (!hasSavedPalette || savedPalette.size() < static_cast<size_t>(image->ColoursUsed())) return 1;
  // The second adjustment starts from the result of the first: a copy, so
  // that the engine never reads the palette it is writing.
  const auto current = [this] {
    return std::vector<vxRGBA>(image->palette, image->palette + image->ColoursUsed());
  };
  if (params.contrastFirst != 1) {
    image->Brightness(savedPalette.data(), params.brightness);
    image->Contrast(current().data(), params.contrast);
  } else {
    image->Contrast(savedPalette.data(), params.contrast);
    image->Brightness(current().data(), params.brightness);
  }
  RebuildPalette();
  return 1;
}

int CTOVIMDoc::SavePalette() {
  ReleaseSavedPalette();
  if (!image || image->IsEmpty()) return 1;
  savedPalette.assign(image->palette, image->palette + image->ColoursUsed());
  hasSavedPalette = true;
  return 1;
}

int CTOVIMDoc::CommitPalette() {
  if (image && !image->IsEmpty()) {
    image->ApplyColorMap();
    PrepareDisplay();
  }
  ReleaseSavedPalette();
  modified = 1;
  return 1;
}

int CTOVIMDoc::RestorePalette() {
  if (image && !image->IsEmpty() && hasSavedPalette) {
    const size_t n = std::min(savedPalette.size(), static_cast<size_t>(image->ColoursUsed()));
    std::copy_n(savedPalette.begin(), n, image->palette);
    // The display follows, so the window no longer shows the preview.
    PrepareDisplay();
  }
  ReleaseSavedPalette();
  return 1;
}

void CTOVIMDoc::ReleaseSavedPalette() {
  savedPalette.clear();
  savedPalette.shrink_to_fit();
  hasSavedPalette = false;
}

QString CTOVIMDoc::AskSaveFileName(const QString& title, const QList<SaveFilter>& filters,
                                   int& filterIndex) {
  CSaveImageDialog dialog(app_.mainFrame(), title, filters, filterIndex);
  const QFileInfo own(pathName_);
  if (own.isAbsolute() && own.dir().exists()) dialog.setDirectory(own.dir());
  if (dialog.exec() != QDialog::Accepted) return {};
  const QString typed = dialog.chosenFile();
  if (typed.isEmpty()) return {};
  filterIndex = dialog.filterIndex();
  return CompleteFileName(typed, QLatin1String(filters[filterIndex - 1].pattern),
                          app_.state().platformId);
}

bool CTOVIMDoc::ConfirmReplace(const QString& path) {
  QFile existing(path);
  if (!existing.open(QIODevice::ReadOnly)) return true;
  existing.close();
  const auto answer =
      app_.MessageBox(QStringLiteral("%1 already exists.\nDo you want to replace it?\n")
                          .arg(QDir::toNativeSeparators(path)),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question);
  return answer == QMessageBox::Yes;
}

bool CTOVIMDoc::ConvertForType(int type, bool compressing) {
  const bool is24 = image->BitCount() == 24;
  const bool grey = image->IsGrayScale() != 0;
  QString question;
  if ((type == TypeWIF && !is24 && !grey) || (type == TypePPM && !is24)) {
    question =
        QStringLiteral("This image must be converted to Full Color\nWould you like to do it now?");
  } else if (type == TypePGM && (is24 || !grey)) {
    question =
        QStringLiteral("This image must be converted to Gray Scale\nWould you like to do it now?");
  }
  if (question.isEmpty()) return true;
  // The preference converts pictures for compression without asking.
  const bool ask = !(compressing && app_.AutoConvertForCompression());
  if (ask && app_.MessageBox(question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) !=
                 QMessageBox::Yes) {
    return false;
  }
  int result = 0;
  {
    CWaitCursor wait;
    result = vxConvertForOutput(*image, type);
  }
  if (result < 0) {
    app_.MessageBox(QStringLiteral("The image could not be converted"), QMessageBox::Ok,
                    QMessageBox::Warning, QStringLiteral("Not enough memory for the conversion."));
    return false;
  }
  PrepareDisplay();
  RefreshView();
  return true;
}

bool CTOVIMDoc::WriteImage(const QString& path, int type) {
  // WIF asks for its quality first; "Cancel" there writes nothing.
  vxSaveOptions* options = nullptr;
  if (type == TypeWIF) {
    options = static_cast<vxSaveOptions*>(vxImage::GetOutOptions(TypeWIF));
    if (!options) return false;
  }
  int result = 0;
  {
    CWaitCursor wait;
    result = image->SaveImage(QFile::encodeName(path).constData(), type, options);
  }
  vxFreeOptions(options);
  const QString reason = QString::fromStdString(vxLastError());
  // What the writer had to say comes before the verdict.
  app_.FlushNotices();
  if (result != 0) {
    QString detail = QDir::toNativeSeparators(path);
    if (!reason.isEmpty()) detail += QLatin1Char('\n') + reason;
    app_.MessageBox(QStringLiteral("The image could not be saved"), QMessageBox::Ok,
                    QMessageBox::Warning, detail);
    return false;
  }
  modified = 0;
  if (SameFile(path, pathName_)) {
    shownModified_ = QFileInfo(path).lastModified().toMSecsSinceEpoch();
  }
  return true;
}

bool CTOVIMDoc::SaveImageAs() {
  if (!IsEditable()) return false;
  CAppState& state = app_.state();
  const QList<SaveFilter>& filters = SaveAsFilters();
  int index = std::clamp(state.saveAsFilterIndex, 1, static_cast<int>(filters.size()));
  const QString path = AskSaveFileName(QStringLiteral("Select Output File Name"), filters, index);
  if (path.isEmpty() || !ConfirmReplace(path)) return false;
  state.saveAsFilterIndex = index;
  const int type = filters[index - 1].type;
  if (!ConvertForType(type, type == TypeWIF)) return false;
  return WriteImage(path, type);
}

bool CTOVIMDoc::CompressImage() {
  if (!IsEditable()) return false;
  // The depth comes first; it stays converted even if no file is chosen.
  if (!ConvertForType(TypeWIF, true)) return false;
  int index = 1;
  const QString path =
      AskSaveFileName(QStringLiteral("Select Compressed File Name"), CompressFilters(), index);
  if (path.isEmpty() || !ConfirmReplace(path)) return false;
  return WriteImage(path, TypeWIF);
}
