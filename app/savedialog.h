// The file dialogs of Save As ("Select Output File Name", eight formats) and
// Compress ("Select Compressed File Name", the two WIF names), and the
// completion of the typed name from the chosen filter.
#pragma once

#include <QFileDialog>
#include <QList>

struct SaveFilter {
  const char* label;    // "Windows Bitmap (BMP)"
  const char* pattern;  // "*.bmp"
  int type;             // the type id written
};

// Save As: WIF, VXW, BMP, PCX, PPM, PGM, TGA, TIFF (indices 1 to 8).
const QList<SaveFilter>& SaveAsFilters();
// Compress: WIF and VXW.
const QList<SaveFilter>& CompressFilters();

// The name that is written when `typed` was chosen with the filter whose
// pattern is `pattern` ("*.bmp"): a name without an extension gets the
// filter's; a name ending in a dot gets the extension after it (with a
// second dot on platforms other than 2); a name whose extension does not
// start with the filter's first three letters (compared case-sensitively)
// gets the filter's extension added after its own.
QString CompleteFileName(const QString& typed, const QString& pattern, int platformId);

class CSaveImageDialog : public QFileDialog {
  Q_OBJECT

 public:
  // `filterIndex` is 1-based.
  CSaveImageDialog(QWidget* parent, const QString& title, const QList<SaveFilter>& filters,
                   int filterIndex);

  // The filter chosen, 1-based.
  int filterIndex() const;
  // The name as chosen (before completion); empty when nothing was chosen.
  QString chosenFile() const;

  static QStringList FilterStrings(const QList<SaveFilter>& filters);

 private:
  QStringList filterStrings_;
};
