#include "background.h"

#include <QPaintEvent>
#include <QPainter>

#include "artwork.h"

CBackground::CBackground(QWidget* parent) : QMdiArea(parent), picture_(BackgroundPicture()) {
  setBackground(QColor::fromRgb(kFill));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QPoint CBackground::PictureOrigin(QSize client) const {
  const QSize size = picture_.deviceIndependentSize().toSize();
  return {(client.width() - size.width()) / 2, (client.height() - size.height()) / 2};
}

void CBackground::paintEvent(QPaintEvent* event) {
  // Drawn again for the screen's pixel density, so that it stays sharp.
  const qreal ratio = viewport()->devicePixelRatioF();
  if (!qFuzzyCompare(picture_.devicePixelRatio(), ratio)) picture_ = BackgroundPicture(ratio);
  QPainter painter(viewport());
  painter.fillRect(event->rect(), QColor::fromRgb(kFill));
  painter.drawPixmap(PictureOrigin(viewport()->size()), picture_);
}

void CBackground::resizeEvent(QResizeEvent* event) {
  QMdiArea::resizeEvent(event);
  // The picture stays centred: the whole area is repainted, not only the
  // strip that the resize uncovered.
  viewport()->update();
  emit clientResized();
}
