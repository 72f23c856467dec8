// How fast the viewer draws: a 4096 x 4096 colour picture opened up to its
// first painted frame, and full-window repaints at several magnifications,
// each beside Qt's own scaled blit of the same rectangles (the baseline).
//
// Run by hand: build/app/display_paint [--size N] [--window WxH]
// (offscreen unless QT_QPA_PLATFORM says otherwise).
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "childframe.h"
#include "formats/rwimage.h"
#include "mainframe.h"
#include "tovimdoc.h"
#include "tovimview.h"
#include "viewerapp.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double median;
  double worst;
};

template <typename Fn>
Stats Time(int runs, Fn fn) {
  fn();  // warm-up
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    fn();
    times.push_back(Millis(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

// A photograph-like picture: smooth gradients with fine texture, so that
// nothing compresses or caches unusually well.
bool MakePicture(vxImage& image, int size) {
  if (!image.Create(size, size, 24, 0)) return false;
  uint32_t noise = 12345;
  for (int y = 0; y < size; ++y) {
    unsigned char* row = image.Row(y);
    for (int x = 0; x < size; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int n = static_cast<int>(noise >> 28);
      row[3 * x] = static_cast<unsigned char>((x * 255 / size + n) & 0xFF);
      row[3 * x + 1] = static_cast<unsigned char>((y * 255 / size + n) & 0xFF);
      row[3 * x + 2] = static_cast<unsigned char>(((x + y) * 127 / size + n) & 0xFF);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Picture side."),
                                      QStringLiteral("N"), QStringLiteral("4096"));
  const QCommandLineOption windowOption(QStringLiteral("window"), QStringLiteral("Main window."),
                                        QStringLiteral("WxH"), QStringLiteral("1920x1080"));
  parser.addOption(sizeOption);
  parser.addOption(windowOption);
  parser.process(application);
  const int side = parser.value(sizeOption).toInt();
  const QStringList window = parser.value(windowOption).split(QLatin1Char('x'));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("picture.bmp"));
  {
    vxScopedImage picture;
    if (!MakePicture(picture, side) ||
        picture.SaveImage(QFile::encodeName(path).constData(), TypeBMP) != 0) {
      std::fprintf(stderr, "display_paint: cannot write the %d x %d test picture as BMP\n", side,
                   side);
      return 1;
    }
  }

  CViewerOptions options;
  options.settingsFile = dir.filePath(QStringLiteral("lunark.ini"));
  CViewerApp viewer(options);
  viewer.SetMessageHandler([](const CMessage& m) {
    std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    return QMessageBox::Ok;
  });
  viewer.InitInstance();
  viewer.mainFrame()->resize(window.value(0).toInt(), window.value(1).toInt());
  QCoreApplication::processEvents();

  // Open: load, display preparation, frame, and the first paint of the view
  // (which expands the rows of the cached picture that it shows).
  const auto start = Clock::now();
  auto owned = std::make_unique<CTOVIMDoc>(viewer);
  if (!owned->OnOpenDocument(path)) return 1;
  const auto loaded = Clock::now();
  CTOVIMDoc* doc = viewer.CreateDocumentFrame(std::move(owned));
  const auto framed = Clock::now();
  doc->view->viewport()->repaint();
  const auto painted = Clock::now();
  // Expanding every row of the cached picture, its memory already in use.
  const double expand = Time(5, [&] {
                          doc->PrepareDisplay();
                          doc->image->DisplayImage();
                        }).median;

  std::printf("picture %d x %d, 24-bit, %.1f MB file\n", side, side, QFileInfo(path).size() / 1e6);
  std::printf(
      "open to first frame   %8.1f ms: document %.1f ms (of which the reader %.1f ms), "
      "frame %.1f ms, first paint %.1f ms\n",
      Millis(painted - start), Millis(loaded - start), doc->loadSeconds * 1000.0,
      Millis(framed - loaded), Millis(painted - framed));
  std::printf("whole cached picture  %8.1f ms to expand again\n", expand);

  // Repaints of the whole view, the child frame filling the client area.
  auto* frame = qobject_cast<QMdiSubWindow*>(doc->view->parentWidget());
  frame->showMaximized();
  QCoreApplication::processEvents();
  CTOVIMView* view = doc->view;
  const QSize client = view->viewport()->size();
  std::printf("repaint of a %d x %d view (median / worst of 40, baseline = Qt drawImage):\n",
              client.width(), client.height());
  QImage canvas(client, QImage::Format_RGB32);
  const QImage& cached = doc->image->DisplayImage();
  for (float zoom : {1.0f, 1.3f, 2.0f, 3.7f, 8.0f, 25.0f, 100.0f}) {
    view->zoom = zoom;
    view->SetScrollSizes(QSize(static_cast<int>(side * zoom), static_cast<int>(side * zoom)));
    view->ScrollToPosition(
        QPoint(static_cast<int>(side * zoom / 3), static_cast<int>(side * zoom / 3)));
    const Stats ours = Time(40, [&] { view->viewport()->repaint(); });
    const QPoint at = view->GetScrollPosition();
    const Stats bare = Time(40, [&] {
      QPainter p(&canvas);
      const double inverse = 1.0 / zoom;
      p.drawImage(
          QRectF(0, 0, client.width(), client.height()), cached,
          QRectF(std::trunc(at.x() * inverse), std::trunc(at.y() * inverse),
                 std::trunc(client.width() * inverse), std::trunc(client.height() * inverse)));
    });
    std::printf("  zoom %6.1f   %6.2f / %6.2f ms   baseline %6.2f / %6.2f ms\n", zoom, ours.median,
                ours.worst, bare.median, bare.worst);
  }
  return 0;
}
