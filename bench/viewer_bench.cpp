// The viewer's timings on big folders and big pictures, run by hand:
//
//   viewer_bench make DIR           writes the test folders and pictures into DIR
//   viewer_bench folder FILE [N]    opens FILE, then steps N times (default 20)
//                                   through its folder, with and without the
//                                   neighbour read ahead
//   viewer_bench big FILE           opens a very large picture: first (reduced)
//                                   paint, full picture, peak memory
//
// Each run reports milliseconds and the process's peak resident memory, so
// run one scenario per process. Runs on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/image.h"
#include "engine/options.h"
#include "foldersequence.h"
#include "tovimdoc.h"
#include "tovimview.h"
#include "viewerapp.h"

namespace {

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A picture with detail everywhere (so that it compresses like a photograph
// rather than like a flat area): the test photograph enlarged, with a fine
// pattern over it.
bool MakePhoto(vxImage& image, int width, int height) {
  vxScopedImage photo;
  if (photo.LoadImage(LUNARK_TEST_DATA "/chelsea.ppm") != 0) return false;
  if (photo.ZoomImage(width, height) != 1) return false;
  image.TakeBlock(photo);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = image.Row(y);
    for (int x = 0; x < width * 3; ++x)
      row[x] = static_cast<unsigned char>(row[x] ^ ((x * 7 + y * 13) & 7));
  }
  return true;
}

bool Save(vxImage& image, const QString& path, int type, int quality) {
  vxSaveOptions options;
  options.quality = quality;
  return image.SaveImage(QFile::encodeName(path).constData(), type, &options) == 0;
}

bool Link(const QString& from, const QString& to) {
  QFile::remove(to);
  return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ||
         QFile::copy(from, to);
}

int Make(const QString& root) {
  QDir dir(root);
  for (const char* sub : {"small", "photos", "single", "big"}) dir.mkpath(QLatin1String(sub));
  QElapsedTimer clock;
  clock.start();
  {
    vxImage small;
    if (!MakePhoto(small, 320, 240) || !Save(small, dir.filePath("small/s.jpg"), TypeJPEG, 85)) {
      std::fprintf(stderr, "cannot write the small picture\n");
      return 1;
    }
    small.Delete();
    for (int i = 1; i <= 10000; ++i) {
      Link(dir.filePath("small/s.jpg"), dir.filePath(QStringLiteral("small/img%1.jpg").arg(i)));
    }
    QFile::remove(dir.filePath("small/s.jpg"));
  }
  {
    vxImage photo;
    if (!MakePhoto(photo, 4000, 3000) ||
        !Save(photo, dir.filePath("single/photo.jpg"), TypeJPEG, 90)) {
      std::fprintf(stderr, "cannot write the photograph\n");
      return 1;
    }
    photo.Delete();
    for (int i = 1; i <= 200; ++i) {
      Link(dir.filePath("single/photo.jpg"), dir.filePath(QStringLiteral("photos/p%1.jpg").arg(i)));
    }
    // The same photograph among the 10 000 small files.
    Link(dir.filePath("single/photo.jpg"), dir.filePath("small/img0.jpg"));
  }
  std::printf("folders written in %.1f s\n", clock.elapsed() / 1000.0);
  {
    vxImage big;
    if (!MakePhoto(big, 16384, 16384)) {
      std::fprintf(stderr, "cannot make the 16384 x 16384 picture\n");
      return 1;
    }
    clock.restart();
    if (!Save(big, dir.filePath("big/big.jpg"), TypeJPEG, 85)) return 1;
    std::printf("16384^2 JPEG written in %.1f s\n", clock.elapsed() / 1000.0);
    clock.restart();
    if (!Save(big, dir.filePath("big/big.wif"), TypeWIF, 40)) return 1;
    std::printf("16384^2 WIF written in %.1f s\n", clock.elapsed() / 1000.0);
    big.Delete();
  }
  return 0;
}

struct Session {
  QTemporaryDir profile;
  std::unique_ptr<CViewerApp> app;
  Session() {
    CViewerOptions options;
    options.settingsFile = profile.filePath("bench.ini");
    app = std::make_unique<CViewerApp>(options);
    app->SetMessageHandler([](const CMessage& m) {
      std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
      return QMessageBox::Ok;
    });
    app->InitInstance();
  }
};

double Millis(const QElapsedTimer& clock) { return clock.nsecsElapsed() / 1e6; }

// Opens and paints; the milliseconds until the picture is on the window.
CTOVIMDoc* OpenAndPaint(Session& s, const QString& path, double& millis) {
  QElapsedTimer clock;
  clock.start();
  CTOVIMDoc* doc = s.app->OpenDocumentFile(path);
  if (doc) doc->view->viewport()->repaint();
  millis = Millis(clock);
  return doc;
}

int Folder(const QString& file, int steps) {
  Session s;
  double first = 0;
  CTOVIMDoc* doc = OpenAndPaint(s, file, first);
  if (!doc) return 1;
  std::printf("first paint %.1f ms (folder not listed yet: %s)\n", first,
              doc->folder()->ready() ? "no, listed" : "yes");
  QElapsedTimer clock;
  clock.start();
  doc->folder()->WaitUntilListed();
  std::printf("folder of %lld pictures listed %.1f ms after the start\n",
              static_cast<long long>(doc->folder()->files().size()), first + Millis(clock));
  std::vector<double> hits;
  std::vector<double> misses;
  for (int i = 0; i < steps; ++i) {
    const bool wait = i % 2 == 0;
    if (wait) {
      // Read-ahead hit: the neighbour is ready before the step.
      const QString next = doc->folder()->Neighbour(doc->GetPathName(), 1);
      QElapsedTimer patience;
      patience.start();
      while (!doc->HasReadAhead(next) && patience.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      }
    }
    clock.restart();
    doc->Step(1);
    doc->view->viewport()->repaint();
    (wait ? hits : misses).push_back(Millis(clock));
    // The step right after another one finds its neighbour not read yet.
  }
  const auto report = [](const char* what, std::vector<double> v) {
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    std::printf("%s: median %.1f ms, max %.1f ms over %zu steps\n", what, v[v.size() / 2], v.back(),
                v.size());
  };
  report("step with read-ahead hit", hits);
  report("step without read-ahead", misses);
  std::printf("peak memory %.0f MiB\n", PeakMiB());
  return 0;
}

int Big(const QString& file) {
  Session s;
  double first = 0;
  CTOVIMDoc* doc = OpenAndPaint(s, file, first);
  if (!doc) return 1;
  std::printf("first paint %.1f ms at 1/%d (%d x %d shown, zoom %.4f)\n", first, doc->reduction,
              doc->image->Width(), doc->image->Height(), static_cast<double>(doc->view->zoom));
  QElapsedTimer clock;
  clock.start();
  while (doc->partial && clock.elapsed() < 600000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  doc->view->viewport()->repaint();
  const double raw = 3.0 * doc->image->Width() * doc->image->Height() / (1024.0 * 1024.0);
  std::printf("full picture %d x %d painted %.1f ms after the start\n", doc->image->Width(),
              doc->image->Height(), first + Millis(clock));
  std::printf("peak memory %.0f MiB, raw picture %.0f MiB, ratio %.2f\n", PeakMiB(), raw,
              PeakMiB() / raw);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() >= 3 && args[1] == QLatin1String("make")) return Make(args[2]);
  if (args.size() >= 3 && args[1] == QLatin1String("folder")) {
    return Folder(args[2], args.size() >= 4 ? args[3].toInt() : 20);
  }
  if (args.size() >= 3 && args[1] == QLatin1String("big")) return Big(args[2]);
  std::fprintf(stderr, "usage: viewer_bench make DIR | folder FILE [STEPS] | big FILE\n");
  return 2;
}
