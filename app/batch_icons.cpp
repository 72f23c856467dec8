#include "batch_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "engine/image.h"

namespace {

// Every icon is drawn on a 16 x 16 grid and rendered at several sizes, so
// that it stays sharp in lists and on buttons of any scale.
using Drawing = std::function<void(QPainter&)>;

QIcon Render(const Drawing& draw) {
  QIcon icon;
  for (const int size : {16, 20, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 16.0, size / 16.0);
    draw(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QPen Outline(const QColor& colour, double width = 1.0) {
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

void DrawFolder(QPainter& p, const QColor& body) {
  QPainterPath tab;
  tab.moveTo(1.5, 4.5);
  tab.lineTo(1.5, 2.5);
  tab.lineTo(6.0, 2.5);
  tab.lineTo(7.5, 4.0);
  tab.lineTo(14.5, 4.0);
  tab.lineTo(14.5, 13.5);
  tab.lineTo(1.5, 13.5);
  tab.closeSubpath();
  p.setPen(Outline(body.darker(170)));
  p.setBrush(body.darker(112));
  p.drawPath(tab);
  p.setBrush(body);
  p.drawRoundedRect(QRectF(1.5, 5.5, 13.0, 8.0), 1.0, 1.0);
}

void DrawArrowUp(QPainter& p, const QColor& colour, double cx, double top, double bottom) {
  p.setPen(Outline(colour, 1.8));
  p.drawLine(QPointF(cx, top + 0.8), QPointF(cx, bottom));
  p.drawLine(QPointF(cx - 3.0, top + 3.5), QPointF(cx, top + 0.5));
  p.drawLine(QPointF(cx + 3.0, top + 3.5), QPointF(cx, top + 0.5));
}

// A volume: a box with a coloured front and a mark saying what kind it is.
void DrawVolume(QPainter& p, int index) {
  const QColor case_(index == kIconVolumeNoRoot || index == kIconVolumeUnknown ? "#9aa0a6"
                                                                               : "#7c8794");
  if (index == kIconVolumeOptical) {
    p.setPen(Outline(QColor("#6b7280")));
    QRadialGradient shine(QPointF(6, 6), 9);
    shine.setColorAt(0, QColor("#f5f7ff"));
    shine.setColorAt(0.5, QColor("#c9d6f2"));
    shine.setColorAt(1, QColor("#e9d8f7"));
    p.setBrush(shine);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(6.0, 6.0, 4, 4));
    return;
  }
  if (index == kIconVolumeRemote) {
    p.setPen(Outline(QColor("#2f5f98")));
    p.setBrush(QColor("#9cc3ee"));
    p.drawEllipse(QRectF(2.5, 1.5, 11, 11));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5.5, 1.5, 5, 11));
    p.drawLine(QPointF(2.5, 7), QPointF(13.5, 7));
    p.setPen(Outline(QColor("#4b5563"), 1.4));
    p.drawLine(QPointF(8, 12.5), QPointF(8, 14.5));
    p.drawLine(QPointF(3, 14.5), QPointF(13, 14.5));
    return;
  }
  if (index == kIconVolumeRemovable) {
    p.setPen(Outline(QColor("#4b5563")));
    p.setBrush(QColor("#cfd5dc"));
    p.drawRect(QRectF(5.5, 1.5, 5, 4));
    p.setBrush(QColor("#3b82c4"));
    p.drawRoundedRect(QRectF(3.5, 5.5, 9, 9), 1.5, 1.5);
    p.setPen(Outline(Qt::white, 1.2));
    p.drawLine(QPointF(6.5, 3), QPointF(6.5, 4));
    p.drawLine(QPointF(9.5, 3), QPointF(9.5, 4));
    return;
  }
  if (index == kIconVolumeMemory) {
    p.setPen(Outline(QColor("#1f5132")));
    p.setBrush(QColor("#3f9b63"));
    p.drawRect(QRectF(1.5, 4.5, 13, 7));
    p.setPen(Outline(QColor("#c7a23a"), 1.0));
    for (double x = 3; x <= 13; x += 2) p.drawLine(QPointF(x, 11.5), QPointF(x, 13.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#1b1f23"));
    p.drawRect(QRectF(3.5, 6, 3.5, 4));
    p.drawRect(QRectF(9, 6, 3.5, 4));
    return;
  }
  // Fixed, undetermined and not-ready volumes: a disk drive.
  p.setPen(Outline(case_.darker(160)));
  QLinearGradient face(0, 4, 0, 13);
  face.setColorAt(0, case_.lighter(140));
  face.setColorAt(1, case_);
  p.setBrush(face);
  p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(index == kIconVolumeFixed ? QColor("#34d399") : QColor("#6b7280"));
  p.drawEllipse(QRectF(11, 9.5, 2, 2));
  p.setPen(Outline(case_.darker(150), 0.8));
  p.drawLine(QPointF(3.5, 10.5), QPointF(8.5, 10.5));
  if (index == kIconVolumeNoRoot) {
    p.setPen(Outline(QColor("#b91c1c"), 1.6));
    p.drawLine(QPointF(4, 1), QPointF(8, 5));
    p.drawLine(QPointF(8, 1), QPointF(4, 5));
  } else if (index == kIconVolumeUnknown) {
    QFont font;
    font.setPixelSize(6);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor("#374151"));
    p.drawText(QRectF(3, 4.5, 8, 6), Qt::AlignCenter, QStringLiteral("?"));
  }
}

struct ImageStyle {
  const char* label;
  const char* colour;
};

// Image files: a page holding a small picture, with the type's letters on a
// band of the type's colour.
constexpr ImageStyle kImageStyles[] = {
    {"BMP", "#2563eb"}, {"GIF", "#d97706"}, {"JPG", "#dc2626"},
    {"PCX", "#7c3aed"}, {"PGM", "#4b5563"}, {"PPM", "#0d9488"},
    {"TGA", "#be185d"}, {"TIF", "#15803d"}, {"WIF", "#0f4c81"},
};

void DrawImageFile(QPainter& p, int index) {
  const ImageStyle& style = kImageStyles[index - kIconFirstImage];
  const QColor band(style.colour);
  QPainterPath page;
  page.moveTo(2.5, 0.5);
  page.lineTo(10.5, 0.5);
  page.lineTo(13.5, 3.5);
  page.lineTo(13.5, 15.5);
  page.lineTo(2.5, 15.5);
  page.closeSubpath();
  p.setPen(Outline(QColor("#8a949e")));
  p.setBrush(Qt::white);
  p.drawPath(page);
  // The picture: a sky and a hill.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#bfdbfe"));
  p.drawRect(QRectF(4, 2.5, 6.5, 5));
  p.setBrush(index == kIconFirstImage + 4 ? QColor("#6b7280") : QColor("#65a30d"));
  QPainterPath hill;
  hill.moveTo(4, 7.5);
  hill.quadTo(7, 3.5, 10.5, 7.5);
  hill.closeSubpath();
  p.drawPath(hill);
  p.setBrush(QColor("#facc15"));
  p.drawEllipse(QRectF(8.2, 3.0, 1.8, 1.8));
  p.setBrush(band);
  p.drawRoundedRect(QRectF(0.5, 9.0, 15.0, 6.0), 1.0, 1.0);
  QFont font;
  font.setPixelSize(5);
  font.setBold(true);
  font.setStretch(QFont::Condensed);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0.5, 9.0, 15.0, 6.0), Qt::AlignCenter, QString::fromLatin1(style.label));
}

void DrawBadge(QPainter& p, const QColor& fill) {
  p.setPen(Outline(fill.darker(140)));
  QRadialGradient g(QPointF(6, 5), 9);
  g.setColorAt(0, fill.lighter(130));
  g.setColorAt(1, fill);
  p.setBrush(g);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
}

void DrawCheck(QPainter& p) {
  p.setPen(Outline(Qt::white, 1.9));
  p.drawLine(QPointF(4.6, 8.3), QPointF(7.0, 10.7));
  p.drawLine(QPointF(7.0, 10.7), QPointF(11.4, 5.6));
}

void DrawState(QPainter& p, int index) {
  switch (index) {
    case kStateWaiting: {
      // A clock face.
      p.setPen(Outline(QColor("#6b7280")));
      p.setBrush(QColor("#f3f4f6"));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.setPen(Outline(QColor("#4b5563"), 1.3));
      p.drawLine(QPointF(8, 8), QPointF(8, 4.2));
      p.drawLine(QPointF(8, 8), QPointF(10.8, 9.6));
      break;
    }
    case kStateWorking: {
      // An amber badge with an exclamation mark: being worked on now, or
      // left like this because the entry failed.
      DrawBadge(p, QColor("#f59e0b"));
      p.setPen(Outline(Qt::white, 2.0));
      p.drawLine(QPointF(8, 4.3), QPointF(8, 8.9));
      p.drawPoint(QPointF(8, 11.6));
      break;
    }
    case kStateWritten:
      DrawBadge(p, QColor("#16a34a"));
      DrawCheck(p);
      break;
    case kStateConverted: {
      // Written after a depth change: the check on a red, green and blue badge.
      p.setPen(Outline(QColor("#1e3a8a")));
      const QRectF disc(1.5, 1.5, 13, 13);
      p.setBrush(QColor("#dc2626"));
      p.drawPie(disc, 90 * 16, 120 * 16);
      p.setBrush(QColor("#16a34a"));
      p.drawPie(disc, 210 * 16, 120 * 16);
      p.setBrush(QColor("#2563eb"));
      p.drawPie(disc, 330 * 16, 120 * 16);
      DrawCheck(p);
      break;
    }
    case kStateDepth: {
      // A colour wheel: the depth is being changed.
      const QRectF disc(1.5, 1.5, 13, 13);
      QConicalGradient wheel(disc.center(), 90);
      wheel.setColorAt(0.0, QColor("#ef4444"));
      wheel.setColorAt(0.33, QColor("#22c55e"));
      wheel.setColorAt(0.66, QColor("#3b82f6"));
      wheel.setColorAt(1.0, QColor("#ef4444"));
      p.setPen(Outline(QColor("#374151")));
      p.setBrush(wheel);
      p.drawEllipse(disc);
      p.setBrush(QColor("#9ca3af"));
      p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
      break;
    }
    default:
      break;  // 4 and 5 are not used: blank
  }
}

void DrawArrowRight(QPainter& p, double x, const QColor& colour) {
  QPainterPath arrow;
  arrow.moveTo(x, 4.5);
  arrow.lineTo(x + 5.5, 8);
  arrow.lineTo(x, 11.5);
  arrow.closeSubpath();
  p.setPen(Outline(colour.darker(140)));
  p.setBrush(colour);
  p.drawPath(arrow);
}

void DrawCross(QPainter& p, double cx, double cy, double r, const QColor& colour) {
  p.setPen(Outline(colour, 2.0));
  p.drawLine(QPointF(cx - r, cy - r), QPointF(cx + r, cy + r));
  p.drawLine(QPointF(cx + r, cy - r), QPointF(cx - r, cy + r));
}

}  // namespace

int BatchImageIconIndex(int type) {
  switch (type) {
    case TypeBMP:
      return 10;
    case TypeGIF:
      return 11;
    case TypeJPEG:
      return 12;
    case TypePCX:
      return 13;
    case TypePGM:
      return 14;
    case TypePPM:
      return 15;
    case TypeTGA:
      return 16;
    case TypeTIFF:
      return 17;
    case TypeWIF:
      return 18;
    default:
      return -1;
  }
}

QIcon BatchFileIcon(int index) {
  if (index == kIconFolder) {
    return Render([](QPainter& p) { DrawFolder(p, QColor("#f2c14e")); });
  }
  if (index == kIconParent) {
    return Render([](QPainter& p) {
      DrawFolder(p, QColor("#f2c14e"));
      DrawArrowUp(p, QColor("#1d4ed8"), 8, 5.5, 12.5);
    });
  }
  if (index >= kIconVolumeUnknown && index <= kIconVolumeMemory) {
    return Render([index](QPainter& p) { DrawVolume(p, index); });
  }
  if (index >= kIconFirstImage && index <= kIconLastImage) {
    return Render([index](QPainter& p) { DrawImageFile(p, index); });
  }
  return {};
}

QIcon BatchStateIcon(int index) {
  return Render([index](QPainter& p) { DrawState(p, index); });
}

QIcon BatchButtonIcon(CBatchButton button) {
  const QColor green("#16a34a");
  const QColor red("#dc2626");
  switch (button) {
    case CBatchButton::Info:
      return Render([](QPainter& p) {
        DrawBadge(p, QColor("#2563eb"));
        p.setPen(Outline(Qt::white, 2.0));
        p.drawPoint(QPointF(8, 4.6));
        p.drawLine(QPointF(8, 7.4), QPointF(8, 11.6));
      });
    case CBatchButton::UpFolder:
      return BatchFileIcon(kIconParent);
    case CBatchButton::AddSelected:
      return Render([green](QPainter& p) { DrawArrowRight(p, 5.5, green); });
    case CBatchButton::AddAll:
      return Render([green](QPainter& p) {
        DrawArrowRight(p, 2.5, green);
        DrawArrowRight(p, 8.5, green);
      });
    case CBatchButton::RemoveSelected:
      return Render([red](QPainter& p) { DrawCross(p, 8, 8, 3.5, red); });
    case CBatchButton::RemoveAll:
      return Render([red](QPainter& p) {
        DrawCross(p, 5, 8, 2.8, red);
        DrawCross(p, 11, 8, 2.8, red);
      });
  }
  return {};
}
