#include "tovimdoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>

#include "formats/output_depth.h"
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

}  // namespace

void ImageDeleter::operator()(vxOSWinClass* image) const {
  if (!image) return;
  image->Delete();
  delete image;
}

CTOVIMDoc::CTOVIMDoc(CViewerApp& app) : app_(app) {}

CTOVIMDoc::~CTOVIMDoc() { OnCloseDocument(); }

QString CTOVIMDoc::GetTitle() const { return QFileInfo(pathName_).fileName(); }

bool CTOVIMDoc::OnOpenDocument(const QString& path) {
  CWaitCursor wait;
  // The path enters the recent-file list before loading, so a file that
  // fails to load is listed too.
  pathName_ = path;
  app_.AddToRecentFileList(path);

  ImagePtr loaded(new vxOSWinClass);
  const QByteArray name = QFile::encodeName(path);
  const auto start = std::chrono::steady_clock::now();
  const int result = loaded->LoadImage(name.constData());
  const auto end = std::chrono::steady_clock::now();
  const QString reason = QString::fromStdString(vxLastError());
  // What the reader had to say comes before the verdict.
  app_.FlushNotices();
  if (result != 0 || loaded->IsEmpty()) {
    QString detail = QDir::toNativeSeparators(path);
    if (!reason.isEmpty()) detail += QLatin1Char('\n') + reason;
    app_.MessageBox(QStringLiteral("Unsupported Image File"), QMessageBox::Ok | QMessageBox::Cancel,
                    QMessageBox::Warning, detail);
    return false;
  }
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  loadSeconds = static_cast<float>(static_cast<double>(millis) / 1000.0);
  OpenImage(std::move(loaded), path);
  return true;
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

void CTOVIMDoc::ApplyFilter(int filter) {
  if (!image || image->IsEmpty()) return;
  image->Filter(filter);
  PrepareDisplay();
  modified = 1;
}

void CTOVIMDoc::FlipImage(int direction) {
  if (!image || image->IsEmpty()) return;
  image->Flip(direction);
  PrepareDisplay();
  modified = 1;
}

void CTOVIMDoc::RotateImage(int degrees) {
  if (!image || image->IsEmpty()) return;
  image->Rotate(degrees);
  PrepareDisplay();
  modified = 1;
}

void CTOVIMDoc::InvertImage() {
  if (!image || image->IsEmpty()) return;
  CWaitCursor wait;
  if (image->InvertColor() != 0) return;
  PrepareDisplay();
  Repaint();
  modified = 1;
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

// Saving is not available in this build of the viewer: nothing is written,
// and the commands stay disabled.
bool CTOVIMDoc::SaveImageAs() { return false; }
bool CTOVIMDoc::CompressImage() { return false; }
