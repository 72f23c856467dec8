// Helpers shared by the viewer's QTest programs: an application object with
// its profile in a temporary folder and its message boxes captured, pictures
// made in memory, and documents opened on them without a file reader.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

  explicit TestApp(int screenBits = 32, const QString& settingsFile = {}) {
    CViewerOptions options;
    options.settingsFile =
        settingsFile.isEmpty() ? dir.filePath(QStringLiteral("lunark.ini")) : settingsFile;
    options.screenBits = screenBits;
    app = std::make_unique<CViewerApp>(options);
    app->SetMessageHandler([this](const CMessage& message) {
      messages << message;
      if (!answers.isEmpty()) return answers.takeFirst();
      return (message.buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
    });
    app->InitInstance();
  }

  CMainFrame* frame() const { return app->mainFrame(); }
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
// order: each step names the dialog class it expects and acts on it (fills
// it in, then accepts or rejects it). A dialog that no step expects is
// rejected and its class recorded, so that a test never waits for a click.
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
  DialogScript& Accept() {
    // QFileDialog keeps accept() protected; as a slot it is there for everyone.
    return Then<Dialog>([](Dialog& d) { QMetaObject::invokeMethod(&d, "accept"); });
  }
  template <typename Dialog>
  DialogScript& Reject() {
    return Then<Dialog>([](Dialog& d) { d.reject(); });
  }

  // Every step ran and no other dialog came up.
  bool done() const { return steps_.isEmpty() && unexpected.isEmpty(); }
  int pending() const { return static_cast<int>(steps_.size()); }
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
      // The step runs from a timer of its own, so that this one keeps polling
      // and answers a dialog that the step itself opens.
      const Step step = steps_.takeFirst();
      const QPointer<QWidget> guard = shown;
      QTimer::singleShot(0, this, [step, guard] {
        if (!guard) return;
        step.act(guard);
        // A step that failed half way leaves its dialog up: close it, so
        // that the test goes on to report the failure.
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
