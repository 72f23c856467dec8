// On a screen of two device pixels per logical pixel.
#include "app_test_util.h"

using namespace apptest;

class HiDpiTest : public QObject {
  Q_OBJECT

 private slots:
  void actualSizeIsOnePicturePixelPerDevicePixel() {
    TestApp t;
    ImagePtr picture = MakeImage(240, 180, 24, 0, [](int x, int y) {
      return static_cast<unsigned>((x & 0xFF) << 16 | (y & 0xFF) << 8 | ((x ^ y) & 0xFF));
    });
    CTOVIMDoc* doc = OpenInMemory(*t.app, std::move(picture), "/p/dense.bmp");
    CTOVIMView* view = doc->view;
    QCoreApplication::processEvents();
    if (view->devicePixelRatioF() < 1.5) QSKIP("the platform ignored the scale factor");
    QCOMPARE(view->zoom, 1.0f);
    // The picture is half as large in logical pixels as it has pixels.
    QCOMPARE(view->GetTotalSize(), QSize(240, 180));
    const QImage shown = view->viewport()->grab().toImage();
    const QImage& source = doc->image->DisplayImage();
    const int w = std::min(shown.width(), 240);
    const int h = std::min(shown.height(), 180);
    QVERIFY(w >= 100 && h >= 80);
    QVERIFY(shown.copy(0, 0, w, h).convertToFormat(QImage::Format_RGB32) ==
            source.copy(0, 0, w, h).convertToFormat(QImage::Format_RGB32));
    // A point under the pointer is found in device pixels.
    const QPointF at(30, 20);
    QCOMPARE(view->PictureAt(at), QPointF(60, 40));
    view->ZoomAt(2.0f, at);
    QVERIFY(std::abs(view->PictureAt(at).x() - 60) <= 1 &&
            std::abs(view->PictureAt(at).y() - 40) <= 1);
  }
};

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  HiDpiTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "hidpi_test.moc"
