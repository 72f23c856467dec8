// The image view: status panes, zoom and pan drags, arrow keys, Reset Pan /
// Zoom, the palette moving between views, and what closing the last
// document does.

#include "app_test_util.h"

using namespace apptest;

namespace {

ImagePtr Picture(int width, int height, int bits = 24) {
  return MakeImage(width, height, bits, 256,
                   [](int x, int y) { return static_cast<unsigned>((x * 7 + y * 3) & 0xFF); });
}

QStringList ValuePanes(const TestApp& t) {
  QStringList values;
  for (int i = 1; i < CStatusPanes::kPaneCount; i += 2) values << t.pane(i);
  return values;
}

}  // namespace

class ViewTest : public QObject {
  Q_OBJECT

 private slots:
  void statusPanesShowThePictureFigures() {
    TestApp t;
    ImagePtr colour = Picture(300, 200);
    colour->loadedBytes = 45000;
    OpenInMemory(*t.app, std::move(colour), "/p/colour.bmp", 0.123f);
    QCOMPARE(ValuePanes(t), (QStringList{"4.00:1", "0.12", "300", "200", "24", "180000", "45000"}));
    // 4-bit pictures count whole bytes per pixel: none.
    ImagePtr nibbles(new vxOSWinClass);
    QVERIFY(nibbles->Create(10, 10, 4, 16));
    nibbles->loadedBytes = 118;
    OpenInMemory(*t.app, std::move(nibbles), "/p/icon.bmp", 0);
    QCOMPARE(ValuePanes(t), (QStringList{"0.00:1", "0.00", "10", "10", "4", "0", "118"}));
  }

  void zoomDragIsClampedBetweenOneAndAHundred() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Picture(50, 40), "/p/small.bmp")->view;
    t.app->SelectTool(kToolZoom);
    Drag(view->viewport(), {10, 10}, {1, 0}, 5);
    QCOMPARE(view->zoom, 1.5f);
    QCOMPARE(view->GetTotalSize(), QSize(75, 60));
    Drag(view->viewport(), {10, 10}, {1, 0}, 1200);
    QCOMPARE(view->zoom, 100.0f);
    QCOMPARE(view->GetTotalSize(), QSize(5000, 4000));
    Drag(view->viewport(), {500, 10}, {-1, 0}, 1200);
    QCOMPARE(view->zoom, 1.0f);
    // Vertical motion leaves the zoom but still sets the scroll sizes.
    Drag(view->viewport(), {10, 10}, {1, 0}, 3);
    view->SetScrollSizes({1, 1});
    Drag(view->viewport(), {10, 10}, {0, 2}, 4);
    QCOMPARE(view->zoom, 1.3f);
    QCOMPARE(view->GetTotalSize(), QSize(65, 52));
    // With the selection tool a left drag does nothing.
    t.app->SelectTool(kToolSelect);
    Drag(view->viewport(), {10, 10}, {1, 0}, 20);
    QCOMPARE(view->zoom, 1.3f);
  }

  void panDragAndArrowKeysScroll() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Picture(2000, 1500), "/p/big.bmp")->view;
    t.app->SelectTool(kToolPan);
    view->ScrollToPosition({300, 300});
    Drag(view->viewport(), {100, 100}, {-8, -4}, 5);
    QCOMPARE(view->GetScrollPosition(), QPoint(340, 320));
    Drag(view->viewport(), {100, 100}, {50, 50}, 20);
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    Drag(view->viewport(), {600, 400}, {-100, -100}, 30);
    const QSize page = view->viewport()->size();
    QCOMPARE(view->GetScrollPosition(), QPoint(2000 - page.width(), 1500 - page.height()));

    // The arrows scroll by ten (Up moves the position down the picture);
    // those of the numeric pad do not scroll.
    view->ScrollToPosition({100, 100});
    const struct {
      int key;
      Qt::KeyboardModifiers modifiers;
      QPoint position;
    } steps[] = {{Qt::Key_Left, {}, {90, 100}},  {Qt::Key_Up, {}, {90, 110}},
                 {Qt::Key_Right, {}, {100, 110}}, {Qt::Key_Down, {}, {100, 100}},
                 {Qt::Key_Left, Qt::KeypadModifier, {100, 100}},
                 {Qt::Key_Down, Qt::KeypadModifier, {100, 100}}};
    for (const auto& step : steps) {
      QKeyEvent event(QEvent::KeyPress, step.key, step.modifiers);
      QApplication::sendEvent(view, &event);
      QCOMPARE(view->GetScrollPosition(), step.position);
    }
  }

  // Reset Pan / Zoom returns to the whole picture, 1:1, in a fitting frame.
  void resetPanZoomShowsTheWholePicture() {
    TestApp t;
    CTOVIMView* view = OpenInMemory(*t.app, Picture(100, 80), "/p/reset.bmp")->view;
    t.app->SelectTool(kToolZoom);
    Drag(view->viewport(), {10, 10}, {1, 0}, 20);
    view->ScrollToPosition({50, 40});
    QCOMPARE(view->zoom, 3.0f);
    t.frame()->action(kResetPanZoom)->trigger();
    QCOMPARE(view->zoom, 1.0f);
    QCoreApplication::processEvents();
    QCOMPARE(view->GetScrollPosition(), QPoint(0, 0));
    QCOMPARE(view->viewport()->size(), QSize(100, 80));
  }

  void clickingAViewTakesThePaletteAndTheStatusBar() {
    TestApp t;
    CTOVIMDoc* first = OpenInMemory(*t.app, Picture(80, 60), "/p/first.bmp");
    CTOVIMDoc* second = OpenInMemory(*t.app, Picture(90, 70), "/p/second.bmp");
    QCOMPARE(t.state().activeView, second->view);
    Click(first->view->viewport(), {5, 5});
    QCOMPARE(t.state().activeView, first->view);
    QCOMPARE(first->view->paletteForeground, 1);
    QCOMPARE(second->view->paletteForeground, 0);
    QCOMPARE(t.pane(5), QStringLiteral("80"));
    Click(second->view->viewport(), {5, 5}, Qt::RightButton);
    QCOMPARE(t.state().activeView, second->view);
    // A view that goes away no longer holds the palette.
    const QPointer<CTOVIMView> closing = second->view;
    const CTOVIMView* address = closing.data();
    FrameOf(second)->close();
    QTRY_VERIFY(closing.isNull());
    QVERIFY(t.state().activeView != address);
  }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
