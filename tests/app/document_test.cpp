// The image document: opening good and bad files, the open-document count,
// grey palettes made linear at open, and the display preparation on
// true-colour and palette screens.
#include <QDataStream>
#include <QSet>

#include "app_test_util.h"

using namespace apptest;

namespace {

ImagePtr GreyWithPalette(int colours, const std::function<uint8_t(int)>& level) {
  ImagePtr image = MakeImage(16, 4, 8, colours,
                             [colours](int x, int) { return static_cast<unsigned>(x % colours); });
  for (int i = 0; i < colours; ++i) image->palette[i] = vxRGBA{level(i), level(i), level(i), 0};
  return image;
}

ImagePtr Ramp() {
  return GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(i); });
}

}  // namespace

class DocumentTest : public QObject {
  Q_OBJECT

 private slots:
  void theReadersNoticesComeBeforeTheVerdict() {
    TestApp t;
    // A BMP whose compression (4) the reader does not decode.
    QByteArray bmp;
    QDataStream out(&bmp, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(70) << quint32(0) << quint32(54);                           // file header
    out << quint32(40) << qint32(2) << qint32(2) << quint16(1) << quint16(24)  // info header
        << quint32(4) << quint32(16) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    out.writeRawData(QByteArray(16, '\0').constData(), 16);
    const QString path = WriteBytes(t.dir.filePath("odd.bmp"), bmp);
    QVERIFY(!t.app->OpenDocumentFile(path));
    QCOMPARE(t.messageTexts(),
             (QStringList{"Unrecognized compression format", "Unsupported Image File"}));
    QCOMPARE(t.messages[0].detail, QDir::toNativeSeparators(path));
  }

  void goodFileOpensOnce() {
    TestApp t;
    const QString path = TestData("camera.pgm");
    CTOVIMDoc* doc = t.app->OpenDocumentFile(path);
    QVERIFY(doc);
    QVERIFY(t.messages.isEmpty());
    QCOMPARE(t.app->recentFiles(), QStringList{path});
    // Opening the same file again shows the document already open.
    QCOMPARE(t.app->OpenDocumentFile(path), doc);
    QCOMPARE(t.state().openDocumentCount, 1);
  }

  void greyPalettesThatAreNotTheIdentityRampAreLinearised() {
    TestApp t;
    // The identity ramp is kept as it is.
    ImagePtr ramp = Ramp();
    const vxBitmapInfoHeader* before = ramp->header;
    QCOMPARE(OpenInMemory(*t.app, std::move(ramp), "/p/ramp.pgm")->image->header, before);
    // 64 greys, and a full but reversed ramp: indices become grey levels.
    CTOVIMDoc* few =
        OpenInMemory(*t.app, GreyWithPalette(64, [](int i) { return static_cast<uint8_t>(4 * i); }),
                     "/p/64.gif");
    QVERIFY(few->image->IsGreyRamp());
    QCOMPARE(few->image->Row(3)[5], uint8_t{20});
    CTOVIMDoc* reversed = OpenInMemory(
        *t.app, GreyWithPalette(256, [](int i) { return static_cast<uint8_t>(255 - i); }),
        "/p/negative.bmp");
    QVERIFY(reversed->image->IsGreyRamp());
    QCOMPARE(reversed->image->Row(0)[1], uint8_t{254});
  }

  void displayCopiesOnlyForPaletteScreens() {
    {
      TestApp t(32);
      t.state().colorReductionMethod = BestQuantization;
      CTOVIMDoc* doc = OpenInMemory(*t.app, Colour(20, 20), "/p/colour.bmp");
      QVERIFY(doc->image->altHeader == nullptr);
      QCOMPARE(doc->image->useAlternate, 0);
      QCOMPARE(doc->image->DisplayImage().pixel(3, 2), qRgb(111, 118, 59));
    }
    const auto colours = [](const QImage& image) {
      QSet<QRgb> set;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) set << image.pixel(x, y);
      }
      return set.size();
    };
    TestApp t(8);
    CTOVIMDoc* reduced = OpenInMemory(*t.app, Colour(64, 64), "/p/median.bmp");
    // The display copy of the current method is drawn, through its palette.
    QVERIFY(reduced->image->altHeader);
    QCOMPARE(reduced->image->useAlternate, 1);
    QCOMPARE(reduced->image->paletteHandle->count, 256);
    QVERIFY(colours(reduced->image->DisplayImage()) <= 256);
    const vxRGBA first = reduced->image->altPalette[reduced->image->altBits[0]];
    QCOMPARE(reduced->image->DisplayImage().pixel(0, 63), qRgb(first.red, first.green, first.blue));

    t.frame()->action(kQuickDither)->trigger();
    CTOVIMDoc* dithered = OpenInMemory(*t.app, Colour(64, 64), "/p/dither.bmp");
    QVERIFY(dithered->image->altHeader == nullptr);
    QCOMPARE(dithered->image->useAlternate, 0);
    QVERIFY(colours(dithered->image->DisplayImage()) <= 216);
  }
};

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
