#include "pictureload.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>

#include "codec/wif_reduced.h"
#include "engine/notice.h"
#include "formats/jpeg/jpeg.h"
#include "formats/output_depth.h"

namespace {

using Clock = std::chrono::steady_clock;

float SecondsSince(Clock::time_point start) {
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return static_cast<float>(static_cast<double>(millis) / 1000.0);
}

// The most pixels a WIF's first, reduced picture has: decoded in well under
// a second.
constexpr int64_t kQuickPixels = int64_t{2048} * 2048;

qint64 ModifiedMillis(const QString& path) {
  return QFileInfo(path).lastModified().toMSecsSinceEpoch();
}

}  // namespace

LoadedPicture LoadPicture(const QString& path) {
  auto loaded = std::make_shared<CLoadedPicture>();
  loaded->path = path;
  loaded->modified = ModifiedMillis(path);
  ImagePtr image(new vxOSWinClass);
  const QByteArray name = QFile::encodeName(path);
  const auto start = Clock::now();
  loaded->result = image->LoadImage(name.constData());
  loaded->seconds = SecondsSince(start);
  loaded->reason = QString::fromStdString(vxLastError());
  if (loaded->result == 0 && !image->IsEmpty()) {
    // A grey palette becomes the identity ramp here, off the window's thread.
    vxLinearizeGrey(*image);
    loaded->image = std::move(image);
  } else if (loaded->result == 0) {
    loaded->result = -2;
  }
  return loaded;
}

QSize PictureSize(const QString& path) {
  vxFileInfo info{};
  if (vxImage::GetInfo(QFile::encodeName(path).constData(), &info) != 0) return {};
  return {static_cast<int>(info.width), static_cast<int>(info.height)};
}

int ReductionFor(QSize picture, QSize screen) {
  if (picture.isEmpty() || screen.isEmpty()) return 1;
  // The header's sides may be turned by an orientation tag: compare long
  // side with long side and short with short.
  const double longRatio = static_cast<double>(std::max(picture.width(), picture.height())) /
                           std::max(screen.width(), screen.height());
  const double shortRatio = static_cast<double>(std::min(picture.width(), picture.height())) /
                            std::min(screen.width(), screen.height());
  // Fitted, the picture shrinks by the larger ratio; any reduction up to
  // that still gives a screen pixel at least one decoded pixel.
  const double shrink = std::max(longRatio, shortRatio);
  int factor = 1;
  while (factor < 8 && shrink >= 2.0 * factor) factor *= 2;
  return factor;
}

LoadedPicture LoadReduced(const QString& path, QSize full, int factor) {
  if (factor != 2 && factor != 4 && factor != 8) return {};
  const QByteArray name = QFile::encodeName(path);
  const int type = vxImage::GetFileType(name.constData());
  vxBitmapInfoHeader* block = nullptr;
  const auto start = Clock::now();
  int result = -2;
  int fullWidth = 0;
  int fullHeight = 0;
  if (type == TypeJPEG) {
    result = vxReadJpegScaled(name.constData(), factor, &block, &fullWidth, &fullHeight);
  } else if (type == TypeWIF) {
    // A WIF's reduced decode costs about as much as the pixels it yields
    // (every coefficient up to that size is decoded): past a few megapixels
    // a smaller first picture is shown sooner, and the full one follows.
    while (factor < 8 && int64_t{full.width() / factor} * (full.height() / factor) > kQuickPixels)
      factor *= 2;
    const int levels = factor == 2 ? 1 : factor == 4 ? 2 : 3;
    result = vxReadWifReduced(name.constData(), levels, &block, &fullWidth, &fullHeight);
  }
  if (result != 0 || !block) return {};
  auto loaded = std::make_shared<CLoadedPicture>();
  loaded->path = path;
  loaded->modified = ModifiedMillis(path);
  loaded->factor = factor;
  loaded->fullSize = QSize(fullWidth, fullHeight);
  ImagePtr image(new vxOSWinClass);
  image->AdoptBlock(block);
  vxLinearizeGrey(*image);
  loaded->seconds = SecondsSince(start);
  loaded->image = std::move(image);
  return loaded;
}
