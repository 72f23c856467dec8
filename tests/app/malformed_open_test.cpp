// Opening malformed files in the viewer: every kept malformed input either
// opens (a partial picture) or shows a message naming the file, and the
// documents that were already open stay open and unchanged.
#include <QDir>
#include <QDirIterator>
#include <QTest>

#include "app_test_util.h"

using namespace apptest;

class MalformedOpenTest : public QObject {
  Q_OBJECT

 private slots:
  void malformedFilesShowAMessageAndLeaveTheOtherDocuments() {
    TestApp t;
    CTOVIMDoc* grey = t.app->OpenDocumentFile(TestData("camera.pgm"));
    CTOVIMDoc* colour = t.app->OpenDocumentFile(TestData("chelsea.ppm"));
    QVERIFY(grey && colour);
    const vxBitmapInfoHeader* greyBlock = grey->image->header;
    const vxBitmapInfoHeader* colourBlock = colour->image->header;

    int files = 0, refused = 0;
    QDirIterator it(TestData("malformed"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      ++files;
      t.messages.clear();
      const int before = t.state().openDocumentCount;
      CTOVIMDoc* doc = t.app->OpenDocumentFile(path);
      if (doc) {
        QVERIFY2(doc->image && doc->image->Width() > 0 && doc->image->Height() > 0, qPrintable(path));
        QCOMPARE(t.state().openDocumentCount, before + 1);
      } else {
        ++refused;
        QVERIFY2(!t.messages.isEmpty(), qPrintable(path));
        bool named = false;
        for (const CMessage& m : t.messages) {
          if (m.detail.contains(QDir::toNativeSeparators(path))) named = true;
        }
        QVERIFY2(named, qPrintable(path + ": " + t.messageTexts().join(QStringLiteral(" / "))));
        QCOMPARE(t.state().openDocumentCount, before);
      }
      // The documents open before are still there, with their pictures.
      const QList<CTOVIMDoc*> open = t.app->documents();
      QVERIFY2(open.contains(grey) && open.contains(colour), qPrintable(path));
      QCOMPARE(grey->image->header, greyBlock);
      QCOMPARE(colour->image->header, colourBlock);
      QCOMPARE(grey->image->Width(), 512);
      QCOMPARE(colour->image->Width(), 451);
    }
    QVERIFY(files > 20);
    QVERIFY(refused > 0);
    QVERIFY(FrameOf(grey) && FrameOf(colour));
  }
};

QTEST_MAIN(MalformedOpenTest)
#include "malformed_open_test.moc"
