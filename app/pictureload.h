// Loading pictures for the viewer away from the window's thread: a full
// decode, and for a picture much larger than the screen a quick reduced one
// (JPEG by the library's DCT scaling, WIF by stopping the inverse transform
// early) that is shown while the full decode runs.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <vector>

#include "engine/notice.h"
#include "tovimdoc.h"

struct CLoadedPicture {
  QString path;
  ImagePtr image;  // null when the load failed
  int result = 0;  // the engine's result; 0 success
  QString reason;  // the reader's one-line reason for a failure
  float seconds = 0;
  int factor = 1;       // 1 for a full decode; else the reduction (2, 4, 8)
  QSize fullSize;       // the whole picture's size (upright), also for a reduced one
  qint64 modified = 0;  // the file's modification time (ms) when it was read
  // The picture reduced for a fitted window, made with it off the window's
  // thread (null when not asked for or not smaller).
  QImage preview;
  // What the readers had to say, when the picture was read ahead of being
  // asked for: shown with the picture, dropped with it.
  std::vector<vxNotice> notices;
};
using LoadedPicture = std::shared_ptr<CLoadedPicture>;

// Decodes the whole file. Safe on any thread.
LoadedPicture LoadPicture(const QString& path);

// The size a picture has (upright) according to its header, or an empty size.
QSize PictureSize(const QString& path);

// The power of two (2, 4 or 8) by which a picture of `picture` pixels can be
// decoded smaller and still fill a window of `screen` pixels when fitted; 1
// when a reduced decode would not pay.
int ReductionFor(QSize picture, QSize screen);

// Decodes a JPEG or WIF file of `full` pixels (PictureSize) at 1/factor of
// its size; a WIF whose reduced picture would still be large goes smaller
// (up to 1/8), since its reduced decode takes time in proportion to its size
// (the result's factor says which). Null when the format has no reduced
// decode or the decode failed (the caller decodes in full).
LoadedPicture LoadReduced(const QString& path, QSize full, int factor);
