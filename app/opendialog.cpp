#include "opendialog.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QSplitter>
#include <QTreeView>

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

  // Room for the names, sizes, types and dates of the files.
  resize(860, 520);
  if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->resizeSection(1, 90);
    header->resizeSection(2, 150);
    header->resizeSection(3, 150);
  }
  if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter")))
    splitter->setSizes({140, 700});

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
  // A click makes a file current; selectFile() and the keyboard select it.
  // Either way the panel follows the selected file.
  connect(this, &QFileDialog::currentChanged, this, &COpenImageDialog::OnSelectionChanged);
  if (auto* list = findChild<QListView*>(QStringLiteral("listView"))) {
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
      const QStringList files = selectedFiles();
      if (!files.isEmpty()) OnSelectionChanged(files.constFirst());
    });
  }
}

int COpenImageDialog::filterIndex() const {
  // With the patterns hidden, the dialog may name the filter by its
  // description alone.
  const QString selected = selectedNameFilter();
  const QStringList filters = Filters();
  for (int i = 0; i < filters.size(); ++i) {
    if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" (")))
      return i + 1;
  }
  return 1;
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
