// The "Select Image File" dialog: the image-format filters and a "File
// Status" panel that says whether the selected file is an image the engine
// recognises by its content.
#pragma once

#include <QFileDialog>

class QLabel;

class COpenImageDialog : public QFileDialog {
  Q_OBJECT

 public:
  // `filterIndex` is 1-based, as remembered between uses.
  COpenImageDialog(QWidget* parent, int filterIndex, bool showFileStatus = true);

  // The eleven filters, "Description (patterns)".
  static QStringList Filters();
  // The filter chosen, 1-based.
  int filterIndex() const;
  QString statusText() const;
  // Updates the status for the file now selected; a folder, a file that
  // cannot be opened or anything but a plain file leaves it as it was.
  void OnSelectionChanged(const QString& path);

 private:
  QLabel* status_ = nullptr;
};
