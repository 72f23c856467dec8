// The display adapter. (The display copy for 8-bit screens is exercised
// through the document.)
#include <QPainter>

#include "app_test_util.h"

using apptest::MakeImage;

namespace {

constexpr QRgb kSentinel = 0xFF123456;

// A canvas of the sentinel colour with `draw` painted on it.
QImage Drawn(int width, int height, const std::function<void(QPainter&)>& draw) {
  QImage canvas(width, height, QImage::Format_RGB32);
  canvas.fill(kSentinel);
  QPainter p(&canvas);
  draw(p);
  return canvas;
}

// A picture whose every pixel has its own colour: red = 10 x, green = 10 y.
ImagePtr Grid(int width, int height) {
  return MakeImage(width, height, 24, 0, [](int x, int y) -> unsigned {
    return (10u * x) << 16 | (10u * y) << 8 | 0x80;
  });
}

QRgb GridColour(int x, int y) { return qRgb(10 * x, 10 * y, 0x80); }

}  // namespace

class DisplayTest : public QObject {
  Q_OBJECT

 private slots:
  void drawFormsMapTheirRectangles() {
    // The whole picture stretched.
    ImagePtr image = Grid(2, 2);
    QImage canvas = Drawn(4, 4, [&](QPainter& p) { image->Draw(p, 4, 4, 0); });
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) QCOMPARE(canvas.pixel(x, y), GridColour(x / 2, y / 2));
    }

    // A float zoom: source (trunc(4 / 2), trunc(6 / 2), 10, 10) = (2, 3, 10,
    // 10), of which 8 x 7 pixels exist; they fill 16 x 14 window pixels.
    image = Grid(10, 10);
    canvas = Drawn(20, 20, [&](QPainter& p) {
      image->Draw(p, 20, 20, 4, 6, 10, 10, 2.0f, vxDrawBackgroundPalette);
    });
    QCOMPARE(canvas.pixel(1, 1), GridColour(2, 3));
    QCOMPARE(canvas.pixel(15, 13), GridColour(9, 9));
    QCOMPARE(canvas.pixel(16, 0), kSentinel);
    QCOMPARE(canvas.pixel(0, 14), kSentinel);
    // Truncation toward zero: at 1.5, position 3 starts at picture column 2;
    // a zoom that is not positive draws nothing.
    canvas = Drawn(6, 6, [&](QPainter& p) {
      image->Draw(p, 6, 6, 3, 0, 10, 10, 1.5f, 0);
      image->Draw(p, 6, 6, 0, 0, 10, 10, 0.0f, 0);
    });
    QCOMPARE(canvas.pixel(0, 0), GridColour(2, 0));
  }

  void shortPalettesArePaddedWithBlack() {
    // 16 palette entries; pixels use indices 3 and 200 (beyond the palette).
    ImagePtr image = MakeImage(2, 1, 8, 16, [](int x, int) { return x ? 200u : 3u; });
    for (int i = 0; i < 16; ++i) image->palette[i] = vxRGBA{0, 0, static_cast<uint8_t>(100 + i), 0};
    // A palette handle that claims 256 entries must not make the table read
    // past the 16 the picture has.
    std::vector<vxRGBA> wide(256, vxRGBA{255, 255, 255, 0});
    std::copy_n(image->palette, 16, wide.begin());
    QCOMPARE(image->CreateRGBPalette(256, wide.data()), 1);
    QCOMPARE(image->SetDrawPalette(), 1);
    QCOMPARE(image->ColorTable().size(), 256);
    QCOMPARE(image->ColorTable()[15], qRgb(115, 0, 0));
    QCOMPARE(image->ColorTable()[16], qRgb(0, 0, 0));
    QCOMPARE(image->DisplayImage().pixel(0, 0), qRgb(103, 0, 0));
    QCOMPARE(image->DisplayImage().pixel(1, 0), qRgb(0, 0, 0));
  }

  void oneAndFourBitPicturesExpand() {
    // 4-bit rows hold two pixels per byte, the high nibble first.
    ImagePtr nibbles(new vxOSWinClass);
    QVERIFY(nibbles->Create(3, 1, 4, 16));
    for (int i = 0; i < 16; ++i)
      nibbles->palette[i] = vxRGBA{0, static_cast<uint8_t>(16 * i), 0, 0};
    nibbles->Row(0)[0] = 0x1F;
    nibbles->Row(0)[1] = 0x70;
    nibbles->UpdateDisplay();
    QCOMPARE(nibbles->DisplayImage().pixel(0, 0), qRgb(0, 16, 0));
    QCOMPARE(nibbles->DisplayImage().pixel(1, 0), qRgb(0, 240, 0));
    QCOMPARE(nibbles->DisplayImage().pixel(2, 0), qRgb(0, 112, 0));
    // 1-bit pictures are held one byte per pixel with a 2-entry palette.
    ImagePtr bitmap = MakeImage(2, 1, 1, 2, [](int x, int) { return x ? 0u : 1u; });
    bitmap->palette[0] = vxRGBA{0, 0, 0, 0};
    bitmap->palette[1] = vxRGBA{255, 255, 255, 0};
    bitmap->UpdateDisplay();
    QCOMPARE(bitmap->DisplayImage().pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(bitmap->DisplayImage().pixel(1, 0), qRgb(0, 0, 0));
  }

  void bigPicturesExpandRightWhicheverPartIsDrawnFirst() {
    // Over a million pixels: expanded in bands, on several threads.
    const auto colour = [](int x, int y) -> unsigned {
      return (x & 0xFF) << 16 | (y & 0xFF) << 8 | ((x + y) >> 4 & 0xFF);
    };
    ImagePtr image = MakeImage(1300, 1000, 24, 0, colour);
    image->UpdateDisplay();
    const QImage canvas =
        Drawn(200, 100, [&](QPainter& p) { image->Draw(p, 200, 100, 700, 530, 0, 0, 1.0f, 0); });
    QCOMPARE(canvas.pixel(0, 0), QRgb(0xFF000000 | colour(700, 530)));
    const QImage& all = image->DisplayImage();
    for (const QPoint p : {QPoint(0, 0), QPoint(1299, 63), QPoint(5, 64), QPoint(640, 529),
                           QPoint(1299, 999), QPoint(17, 998)}) {
      QCOMPARE(all.pixel(p), QRgb(0xFF000000 | colour(p.x(), p.y())));
    }
  }

  void aBlockReplacedWithoutPreparationIsNoticed() {
    ImagePtr image = Grid(4, 4);
    image->UpdateDisplay();
    ImagePtr bigger = Grid(9, 7);
    image->TakeBlock(*bigger);
    const QImage canvas = Drawn(9, 7, [&](QPainter& p) { image->Draw(p, 9, 7, 0); });
    QCOMPARE(canvas.pixel(8, 6), GridColour(8, 6));
  }
};

QTEST_MAIN(DisplayTest)
#include "display_test.moc"
