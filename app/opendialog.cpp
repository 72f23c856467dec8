#include "opendialog.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

#include "engine/image.h"

namespace {

struct Filter {
  const char* description;
  const char* patterns;  // separated by blanks
};

// "All Files *.*" lists every file: "*" is what matches names without a dot
// too on this platform.
constexpr Filter kFilters[] = {
    {"All Image Formats", "*.WIF *.VXW *.BMP *.TGA *.TIF *.PCX *.PGM *.PPM *.JPG *.GIF"},
    {"VX Wavelet Image File (WIF,VXW)", "*.WIF *.VXW"},
    {"Windows Bitmap (BMP)", "*.bmp"},
    {"PC Paintbrush File (PCX)", "*.pcx"},
    {"Portable Pixel Map (PPM)", "*.ppm"},
    {"Portable Grey Map (PGM)", "*.pgm"},
    {"Targa (TGA)", "*.tga"},
    {"TIFF (TIF)", "*.tif *.tiff"},
    {"JPEG (JPG)", "*.JPG *.JPE"},
    {"Graphics Interchange Format (GIF)", "*.gif"},
    {"All Files *.*", "*"},
};

}  // namespace

QStringList COpenImageDialog::Filters() {
  QStringList list;
  for (const Filter& f : kFilters) {
    list << QStringLiteral("%1 (%2)").arg(QLatin1String(f.description), QLatin1String(f.patterns));
  }
  return list;
}

COpenImageDialog::COpenImageDialog(QWidget* parent, int filterIndex, bool showFileStatus)
    : QFileDialog(parent, QStringLiteral("Select Image File")) {
  // Qt's own dialog, so that the status panel can be added below it.
  setOption(QFileDialog::DontUseNativeDialog);
  setOption(QFileDialog::HideNameFilterDetails);
  setFileMode(QFileDialog::ExistingFile);
  setAcceptMode(QFileDialog::AcceptOpen);
  const QStringList filters = Filters();
  setNameFilters(filters);
  if (filterIndex >= 1 && filterIndex <= filters.size()) selectNameFilter(filters[filterIndex - 1]);

  if (!showFileStatus) return;
  auto* panel = new QGroupBox(QStringLiteral("File Status"), this);
  panel->setObjectName(QStringLiteral("fileStatusPanel"));
  auto* row = new QHBoxLayout(panel);
  status_ = new QLabel(panel);
  status_->setObjectName(QStringLiteral("fileStatus"));
  status_->setMinimumWidth(220);
  status_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  status_->setContentsMargins(6, 3, 6, 3);
  row->addWidget(status_);
  row->addStretch();
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
  }
  connect(this, &QFileDialog::currentChanged, this, &COpenImageDialog::OnSelectionChanged);
}

int COpenImageDialog::filterIndex() const {
  const qsizetype index = Filters().indexOf(selectedNameFilter());
  return index < 0 ? 1 : static_cast<int>(index) + 1;
}

QString COpenImageDialog::statusText() const { return status_ ? status_->text() : QString(); }

void COpenImageDialog::OnSelectionChanged(const QString& path) {
  if (!status_ || path.isEmpty()) return;
  // Only plain files are looked at: not folders, and not devices or pipes,
  // whose opening could block.
  const QFileInfo info(path);
  if (!info.isFile()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  file.close();
  const QByteArray name = QFile::encodeName(path);
  const bool supported = vxImage::GetFileType(name.constData()) >= 0;
  status_->setText(supported ? QStringLiteral("Supported Image")
                             : QStringLiteral("Unsupported or Invalid Image"));
}
