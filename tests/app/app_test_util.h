// Helpers shared by the app's QTest programs.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "background.h"
#include "childframe.h"
#include "commands.h"
#include "engine/display/oswinclass.h"
#include "formats/rwimage.h"
#include "mainframe.h"
#include "statuspanes.h"
#include "tovimdoc.h"
#include "tovimview.h"
#include "viewerapp.h"

namespace apptest {

// An application whose profile lives in a temporary folder and whose message
// boxes are recorded and answered from a script (Ok or Yes by default).
struct TestApp {
  QTemporaryDir dir;
  std::unique_ptr<CViewerApp> app;
  QList<CMessage> messages;
  QList<QMessageBox::StandardButton> answers;

  // `stored`, when given, is in the profile before the application starts.
  explicit TestApp(int screenBits = 32, const QString& settingsFile = {},
                   const CPreferences* stored = nullptr) {
    CViewerOptions options;
    options.settingsFile =
        settingsFile.isEmpty() ? dir.filePath(QStringLiteral("lunark.ini")) : settingsFile;
    options.screenBits = screenBits;
    if (stored) {
      QSettings settings(options.settingsFile, LunarkIniFormat());
      stored->Save(settings);
    }
    app = std::make_unique<CViewerApp>(options);
    app->SetMessageHandler([this](const CMessage& message) {
      messages << message;
      if (!answers.isEmpty()) return answers.takeFirst();
      return (message.buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
    });
    app->InitInstance();
  }

  CMainFrame* frame() const { return app->mainFrame(); }
  void trigger(int command) const { frame()->action(command)->trigger(); }
  // Changes the preferences as the sheet would.
  void prefer(const std::function<void(CPreferences&)>& change) const {
    CPreferences prefs = app->preferences();
    change(prefs);
    app->SetPreferences(prefs);
  }
  CAppState& state() const { return app->state(); }
  QString pane(int i) const { return frame()->statusPanes()->PaneText(i); }
  QStringList messageTexts() const {
    QStringList texts;
    for (const CMessage& m : messages) texts << m.text;
    return texts;
  }
};

// A picture of width x height filled by `pixel(x, y)` where y = 0 is the top
// line; for 8-bit pictures pixel() gives the index, for 24-bit 0xRRGGBB.
template <typename PixelFn>
ImagePtr MakeImage(int width, int height, int bits, int colours, PixelFn pixel) {
  ImagePtr image(new vxOSWinClass);
  if (!image->Create(width, height, bits, bits == 24 ? 0 : colours)) return {};
  for (int y = 0; y < height; ++y) {
    unsigned char* row = image->Row(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const unsigned v = pixel(x, y);
      if (bits == 24) {
        row[3 * x] = static_cast<unsigned char>(v & 0xFF);
        row[3 * x + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
        row[3 * x + 2] = static_cast<unsigned char>((v >> 16) & 0xFF);
      } else {
        row[x] = static_cast<unsigned char>(v);
      }
    }
  }
  image->loadedBytes = 1000;
  return image;
}

// Grey levels, colours (every pixel unlike its neighbours) and a palette.
inline ImagePtr Grey(int width = 32, int height = 20) {
  return MakeImage(width, height, 8, 256,
                   [](int x, int y) { return static_cast<unsigned>((x * 7 + y * 11) & 0xFF); });
}
inline ImagePtr Colour(int width = 32, int height = 20) {
  return MakeImage(width, height, 24, 0, [](int x, int y) {
    return static_cast<unsigned>(((x * 37) & 0xFF) << 16 | ((y * 59) & 0xFF) << 8 |
                                 ((x * 11 + y * 13) & 0xFF));
  });
}
inline ImagePtr Palette(int width = 32, int height = 20, int colours = 8) {
  ImagePtr image = MakeImage(width, height, 8, colours, [colours](int x, int y) {
    return static_cast<unsigned>((x + 3 * y) % colours);
  });
  for (int i = 0; i < colours; ++i) {
    image->palette[i] = vxRGBA{static_cast<uint8_t>(30 * i), static_cast<uint8_t>(200 - 8 * i),
                               static_cast<uint8_t>(40 + 10 * i), 0};
  }
  return image;
}

// Every level of grey in a 16 x 16 square, index 16 y + x at (x, y).
inline ImagePtr Ramp() {
  return MakeImage(16, 16, 8, 256, [](int x, int y) { return static_cast<unsigned>(16 * y + x); });
}

// The colour each pixel shows (palette resolved), top row first.
inline QList<QRgb> Pixels(const vxImage& image) {
  QList<QRgb> pixels;
  for (int y = image.Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width(); ++x) {
      if (image.BitCount() == 24) {
        const unsigned char* p = image.Row(y) + 3 * x;
        pixels << qRgb(p[2], p[1], p[0]);
      } else {
        const vxRGBA e = image.PaletteEntry(image.Row(y)[x]);
        pixels << qRgb(e.red, e.green, e.blue);
      }
    }
  }
  return pixels;
}

// Runs a program; true when it ran to a successful end.
inline bool Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// A picture written as a file of `type`, and a BMP whose every pixel is
// `colour` (0xRRGGBB); true when written.
inline bool Write(const QString& path, ImagePtr image, int type = TypeBMP) {
  return image && image->SaveImage(QFile::encodeName(path).constData(), type) == 0;
}
inline bool WritePicture(const QString& path, int width, int height, unsigned colour) {
  return Write(path, MakeImage(width, height, 24, 0, [colour](int, int) { return colour; }));
}

// A file of `bytes` (its path, or empty on failure), and a file's bytes.
inline QString WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Mouse and wheel events sent straight to a widget.
inline void Mouse(QWidget* target, QEvent::Type type, QPoint at,
                  Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::MouseButtons(Qt::NoButton) : button;
  QMouseEvent event(type, at, target->mapToGlobal(at),
                    type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}
inline void Click(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  Mouse(target, QEvent::MouseButtonPress, at, button);
  Mouse(target, QEvent::MouseButtonRelease, at, button);
}
// A left drag of `steps` moves of `step` each.
inline void Drag(QWidget* target, QPoint from, QPoint step, int steps) {
  Mouse(target, QEvent::MouseButtonPress, from);
  for (int i = 0; i < steps; ++i) Mouse(target, QEvent::MouseMove, from += step);
  Mouse(target, QEvent::MouseButtonRelease, from);
}
inline void Wheel(QWidget* target, QPointF at, int notches, Qt::KeyboardModifiers modifiers) {
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                    modifiers, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

inline QString TestData(const char* name) {
  return QStringLiteral(LUNARK_TEST_DATA "/") + QLatin1String(name);
}

// Opens a document on a picture in memory, as if it had been loaded from `path`.
inline CTOVIMDoc* OpenInMemory(CViewerApp& app, ImagePtr image, const QString& path,
                               float seconds = 0.25f) {
  auto doc = std::make_unique<CTOVIMDoc>(app);
  doc->loadSeconds = seconds;
  doc->OpenImage(std::move(image), path);
  return app.CreateDocumentFrame(std::move(doc));
}

inline CChildFrame* FrameOf(CTOVIMDoc* doc) {
  return doc && doc->view ? qobject_cast<CChildFrame*>(doc->view->parentWidget()) : nullptr;
}

// Answers the modal dialogs that a command opens, one step per dialog in
// order. A dialog that no step expects is rejected and its class recorded,
// so that a test never waits for a click.
class DialogScript : public QObject {
 public:
  DialogScript() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }

  template <typename Dialog>
  DialogScript& Then(std::function<void(Dialog&)> action) {
    steps_.append(Step{[](QWidget* w) { return qobject_cast<Dialog*>(w) != nullptr; },
                       [action](QWidget* w) { action(*qobject_cast<Dialog*>(w)); }});
    return *this;
  }
  template <typename Dialog>
  DialogScript& Accept() {  // QFileDialog's accept() is protected, but a slot
    return Then<Dialog>([](Dialog& d) { QMetaObject::invokeMethod(&d, "accept"); });
  }
  template <typename Dialog>
  DialogScript& Reject() {
    return Then<Dialog>([](Dialog& d) { d.reject(); });
  }

  // Every step ran and no other dialog came up.
  bool done() const { return steps_.isEmpty() && unexpected.isEmpty(); }
  QStringList unexpected;

 private:
  struct Step {
    std::function<bool(QWidget*)> matches;
    std::function<void(QWidget*)> act;
  };

  void Poll() {
    QWidget* shown = QApplication::activeModalWidget();
    if (!shown || !shown->isVisible()) return;
    // A dialog is answered once, also when it is active again after a
    // dialog of its own closed.
    for (const QPointer<QWidget>& seen : handled_) {
      if (seen == shown) return;
    }
    handled_.append(shown);
    if (!steps_.isEmpty() && steps_.front().matches(shown)) {
      // Run from a timer of its own, so that dialogs the step opens are answered.
      const Step step = steps_.takeFirst();
      const QPointer<QWidget> guard = shown;
      QTimer::singleShot(0, this, [step, guard] {
        if (!guard) return;
        step.act(guard);
        // A step that failed half way leaves its dialog up.
        if (guard && guard->isVisible() && QApplication::activeModalWidget() == guard) Close(guard);
      });
      return;
    }
    unexpected << QString::fromLatin1(shown->metaObject()->className());
    Close(shown);
  }

  static void Close(QWidget* shown) {
    if (auto* dialog = qobject_cast<QDialog*>(shown)) {
      dialog->reject();
    } else {
      shown->close();
    }
  }

  QTimer timer_;
  QList<Step> steps_;
  QList<QPointer<QWidget>> handled_;
};

}  // namespace apptest
