#include "savedialog.h"

#include "engine/image.h"

const QList<SaveFilter>& SaveAsFilters() {
  static const QList<SaveFilter> filters{
      {"Wavelet Image File (WIF)", "*.wif", TypeWIF},
      {"VX Wavelet Image (VXW)", "*.vxw", TypeWIF},
      {"Windows Bitmap (BMP)", "*.bmp", TypeBMP},
      {"PC Paintbrush File (PCX)", "*.pcx", TypePCX},
      {"Portable Pixel Map (PPM)", "*.ppm", TypePPM},
      {"Portable Grey Map (PGM)", "*.pgm", TypePGM},
      {"Targa (TGA)", "*.tga", TypeTGA},
      {"TIFF (TIF)", "*.tif", TypeTIFF},
  };
  return filters;
}

const QList<SaveFilter>& CompressFilters() {
  static const QList<SaveFilter> filters{
      {"Wavelet Image File (WIF)", "*.wif", TypeWIF},
      {"VX Wavelet Image (VXW)", "*.vxw", TypeWIF},
  };
  return filters;
}

QString CompleteFileName(const QString& typed, const QString& pattern, int platformId) {
  const QString dotted = pattern.startsWith(QLatin1Char('*')) ? pattern.mid(1) : pattern;  // ".bmp"
  const QString bare = dotted.startsWith(QLatin1Char('.')) ? dotted.mid(1) : dotted;       // "bmp"
  // The extension is what follows the last dot of the name itself, not of
  // the folders above it.
  const qsizetype slash = typed.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = typed.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || dot < slash) return typed + dotted;
  if (dot == typed.size() - 1) {
    return platformId == 2 ? typed + bare : typed + QLatin1Char('.') + bare;
  }
  // strncmp over three characters: a shorter extension differs.
  const QString own = typed.mid(dot + 1, 3);
  return own == bare.left(3) ? typed : typed + dotted;
}

QStringList CSaveImageDialog::FilterStrings(const QList<SaveFilter>& filters) {
  QStringList list;
  for (const SaveFilter& f : filters) {
    list << QStringLiteral("%1 (%2)").arg(QLatin1String(f.label), QLatin1String(f.pattern));
  }
  return list;
}

CSaveImageDialog::CSaveImageDialog(QWidget* parent, const QString& title,
                                   const QList<SaveFilter>& filters, int filterIndex)
    : QFileDialog(parent, title), filterStrings_(FilterStrings(filters)) {
  // Qt's own dialog everywhere, so that it behaves alike on every desktop.
  // The command asks about replacing a file itself, once the name is complete.
  setOption(QFileDialog::DontUseNativeDialog);
  setOption(QFileDialog::DontConfirmOverwrite);
  setOption(QFileDialog::HideNameFilterDetails);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setNameFilters(filterStrings_);
  if (filterIndex >= 1 && filterIndex <= filterStrings_.size())
    selectNameFilter(filterStrings_[filterIndex - 1]);
  resize(820, 500);
}

int CSaveImageDialog::filterIndex() const {
  // With the patterns hidden, the dialog may name the filter by its label alone.
  const QString selected = selectedNameFilter();
  for (int i = 0; i < filterStrings_.size(); ++i) {
    if (filterStrings_[i] == selected ||
        filterStrings_[i].startsWith(selected + QStringLiteral(" (")))
      return i + 1;
  }
  return 1;
}

QString CSaveImageDialog::chosenFile() const {
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.constFirst();
}
