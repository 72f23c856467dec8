// The MDI client area with its painted background: a mid-grey fill and the
// product picture in the centre.
#pragma once

#include <QMdiArea>
#include <QPixmap>

class CBackground : public QMdiArea {
  Q_OBJECT

 public:
  static constexpr QRgb kFill = 0xFF808080;  // red, green, blue 128

  explicit CBackground(QWidget* parent = nullptr);
  // Where the picture goes in a client area of `client` size.
  QPoint PictureOrigin(QSize client) const;
  const QPixmap& picture() const { return picture_; }

 signals:
  // The client area changed size (frame resized, bars docked or hidden).
  void clientResized();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPixmap picture_;
};
