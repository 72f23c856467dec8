#include "artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

#include "commands.h"

namespace {

// Icons are drawn on a 16 x 16 design grid and rendered at each size the
// tool bars and menus ask for, so they stay sharp at every scale.
using IconPainter = void (*)(QPainter&);

const QColor kInk(0x2b, 0x36, 0x45);
const QColor kBlue(0x2f, 0x74, 0xc0);
const QColor kLightBlue(0xcf, 0xe3, 0xf7);
const QColor kPaper(0xfb, 0xfb, 0xf8);

QPen Outline(qreal width = 0.9, QColor colour = kInk) {
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

void ArrowHead(QPainter& p, QPointF tip, QPointF direction, qreal length, QColor colour) {
  const qreal norm = std::hypot(direction.x(), direction.y());
  if (norm == 0) return;
  const QPointF d = direction / norm;
  const QPointF n(-d.y(), d.x());
  const QPointF base = tip - d * length;
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPolygon(QPolygonF{tip, base + n * length * 0.6, base - n * length * 0.6});
}

// A circular arrow around (8, 8.5); sweep in degrees, positive = counter clockwise.
void CircularArrow(QPainter& p, qreal sweep) {
  const QPointF centre(8, 8.5);
  const qreal radius = 5;
  const qreal start = sweep > 0 ? 45 : 135;
  QPainterPath arc;
  const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
  arc.arcMoveTo(box, start);
  arc.arcTo(box, start, sweep * 0.93);
  p.setPen(Outline(2.0, kBlue));
  p.setBrush(Qt::NoBrush);
  p.drawPath(arc);
  const qreal end = (start + sweep) * std::numbers::pi / 180;
  const QPointF tip = centre + QPointF(std::cos(end), -std::sin(end)) * radius;
  const qreal sign = sweep > 0 ? 1 : -1;
  ArrowHead(p, tip, QPointF(-std::sin(end), -std::cos(end)) * sign, 4.2, kBlue);
}

void Page(QPainter& p, QRectF r) {
  const qreal fold = 3;
  QPainterPath page;
  page.moveTo(r.topLeft());
  page.lineTo(r.right() - fold, r.top());
  page.lineTo(r.right(), r.top() + fold);
  page.lineTo(r.bottomRight());
  page.lineTo(r.bottomLeft());
  page.closeSubpath();
  p.setPen(Outline());
  p.setBrush(kPaper);
  p.drawPath(page);
  p.drawPolyline(QPolygonF{{r.right() - fold, r.top()},
                           {r.right() - fold, r.top() + fold},
                           {r.right(), r.top() + fold}});
}

// The "Mexican hat" wavelet between x0 and x1 around the height y.
QPainterPath Wavelet(qreal x0, qreal x1, qreal y, qreal amplitude) {
  QPainterPath path;
  for (int i = 0; i <= 48; ++i) {
    const qreal t = -3.5 + 7.0 * i / 48;
    const qreal v = (1 - t * t) * std::exp(-t * t / 2);
    const QPointF pt(x0 + (x1 - x0) * i / 48, y - amplitude * v);
    if (i == 0) {
      path.moveTo(pt);
    } else {
      path.lineTo(pt);
    }
  }
  return path;
}

void DrawOpen(QPainter& p) {
  QPainterPath back;
  back.moveTo(1.5, 3);
  back.lineTo(6, 3);
  back.lineTo(7.5, 4.5);
  back.lineTo(13.5, 4.5);
  back.lineTo(13.5, 13.5);
  back.lineTo(1.5, 13.5);
  back.closeSubpath();
  p.setPen(Outline(0.9, QColor(0x8a, 0x5a, 0x10)));
  p.setBrush(QColor(0xe2, 0xa8, 0x32));
  p.drawPath(back);
  p.setBrush(QColor(0xf6, 0xd0, 0x6e));
  p.drawPolygon(QPolygonF{{4, 7}, {15.5, 7}, {13.5, 13.5}, {1.5, 13.5}});
}

void DrawAbout(QPainter& p) {
  p.setPen(Outline(0.9, kBlue.darker(140)));
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(8, 8), 6.6, 6.6);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(10);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 0.5, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawSaveAs(QPainter& p) {
  p.setPen(Outline(0.9, QColor(0x1e, 0x3f, 0x6e)));
  p.setBrush(QColor(0x3b, 0x6f, 0xb6));
  p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.2, 1.2);
  p.setPen(Qt::NoPen);
  p.setBrush(kPaper);
  p.drawRect(QRectF(4, 1.9, 8, 5.3));
  p.setBrush(QColor(0xd5, 0xda, 0xe1));
  p.drawRect(QRectF(4.5, 9.5, 7, 5));
  p.setBrush(QColor(0x3b, 0x6f, 0xb6));
  p.drawRect(QRectF(9.3, 10.4, 1.5, 3));
}

void DrawCompress(QPainter& p) {
  Page(p, QRectF(2.5, 1.5, 11, 13));
  p.setPen(Outline(1.4, kBlue));
  p.setBrush(Qt::NoBrush);
  p.drawPath(Wavelet(3.6, 12.4, 9.6, 4.2));
}

void DrawConvertMultiple(QPainter& p) {
  Page(p, QRectF(1.5, 1.5, 8, 10));
  Page(p, QRectF(4, 3.5, 8, 10));
  const QColor green(0x2e, 0x93, 0x46);
  p.setPen(Qt::NoPen);
  p.setBrush(green);
  p.drawRect(QRectF(8.5, 11, 4, 2.4));
  ArrowHead(p, QPointF(15.7, 12.2), QPointF(1, 0), 4, green);
}

void DrawRotateCounterClockwise(QPainter& p) { CircularArrow(p, 270); }
void DrawRotateClockwise(QPainter& p) { CircularArrow(p, -270); }

void DrawFlipVertical(QPainter& p) {
  p.setPen(Outline(0.9));
  p.setBrush(kBlue);
  p.drawPolygon(QPolygonF{{3, 6.5}, {13, 6.5}, {8, 1.5}});
  p.setBrush(kPaper);
  p.drawPolygon(QPolygonF{{3, 9.5}, {13, 9.5}, {8, 14.5}});
  QPen dash(kInk, 0.8, Qt::DashLine);
  p.setPen(dash);
  p.drawLine(QPointF(1, 8), QPointF(15, 8));
}

void DrawFlipHorizontal(QPainter& p) {
  p.translate(8, 8);
  p.rotate(-90);
  p.translate(-8, -8);
  DrawFlipVertical(p);
}

void DrawBrightnessContrast(QPainter& p) {
  const QPointF c(8, 8);
  p.setPen(Outline(1.0));
  p.setBrush(kPaper);
  p.drawEllipse(c, 6, 6);
  QPainterPath half;
  half.moveTo(c);
  half.arcTo(QRectF(2, 2, 12, 12), 90, 180);
  half.closeSubpath();
  p.setBrush(kInk);
  p.drawPath(half);
}

void DrawInvert(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawRect(QRectF(2, 2, 6, 12));
  p.setBrush(kPaper);
  p.drawRect(QRectF(8, 2, 6, 12));
  p.setBrush(kPaper);
  p.drawPie(QRectF(5, 5, 6, 6), 90 * 16, 180 * 16);
  p.setBrush(kInk);
  p.drawPie(QRectF(5, 5, 6, 6), -90 * 16, 180 * 16);
  p.setPen(Outline(0.9));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(2, 2, 12, 12));
}

void DrawMagnifier(QPainter& p) {
  p.setPen(Outline(2.6, QColor(0x5a, 0x3c, 0x1e)));
  p.drawLine(QPointF(10.2, 10.2), QPointF(14.4, 14.4));
  p.setPen(Outline(1.5));
  p.setBrush(kLightBlue);
  p.drawEllipse(QPointF(6.5, 6.5), 4.6, 4.6);
  p.setPen(Outline(0.9, Qt::white));
  p.drawArc(QRectF(3.6, 3.6, 5.8, 5.8), 100 * 16, 70 * 16);
}

void DrawPan(QPainter& p) {
  p.setPen(Outline(1.6, kInk));
  p.drawLine(QPointF(8, 3), QPointF(8, 13));
  p.drawLine(QPointF(3, 8), QPointF(13, 8));
  ArrowHead(p, QPointF(8, 0.8), QPointF(0, -1), 3.6, kInk);
  ArrowHead(p, QPointF(8, 15.2), QPointF(0, 1), 3.6, kInk);
  ArrowHead(p, QPointF(0.8, 8), QPointF(-1, 0), 3.6, kInk);
  ArrowHead(p, QPointF(15.2, 8), QPointF(1, 0), 3.6, kInk);
}

void DrawSelect(QPainter& p) {
  QPen dash(kInk, 1.0, Qt::CustomDashLine);
  dash.setDashPattern({2, 1.6});
  p.setPen(dash);
  p.setBrush(QColor(0x2f, 0x74, 0xc0, 40));
  p.drawRect(QRectF(2.5, 2.5, 11, 11));
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  for (const QPointF& c :
       {QPointF(2.5, 2.5), QPointF(13.5, 2.5), QPointF(2.5, 13.5), QPointF(13.5, 13.5)}) {
    p.drawRect(QRectF(c.x() - 1.2, c.y() - 1.2, 2.4, 2.4));
  }
}

void DrawResetPanZoom(QPainter& p) {
  p.setPen(Outline(0.9));
  p.setBrush(kLightBlue);
  p.drawRoundedRect(QRectF(0.8, 3, 14.4, 10), 1.5, 1.5);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(8);
  font.setLetterSpacing(QFont::AbsoluteSpacing, -0.4);
  p.setFont(font);
  p.setPen(kInk);
  p.drawText(QRectF(0.8, 3, 14.4, 10), Qt::AlignCenter, QStringLiteral("1:1"));
}

// A crescent moon in a circle of `radius` around `centre`.
void DrawMoon(QPainter& p, QPointF centre, qreal radius, QColor light, QColor dark) {
  QPainterPath disc;
  disc.addEllipse(centre, radius, radius);
  QPainterPath shadow;
  shadow.addEllipse(centre + QPointF(radius * 0.55, -radius * 0.22), radius * 0.92, radius * 0.92);
  const QPainterPath crescent = disc.subtracted(shadow);
  QRadialGradient glow(centre - QPointF(radius * 0.4, radius * 0.1), radius * 1.1);
  glow.setColorAt(0, light);
  glow.setColorAt(1, dark);
  p.setPen(Qt::NoPen);
  p.setBrush(glow);
  p.drawPath(crescent);
}

void DrawAppIcon(QPainter& p) {
  QLinearGradient sky(0, 0, 0, 16);
  sky.setColorAt(0, QColor(0x1d, 0x2b, 0x4a));
  sky.setColorAt(1, QColor(0x2f, 0x4c, 0x7e));
  p.setPen(Qt::NoPen);
  p.setBrush(sky);
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  DrawMoon(p, QPointF(7.2, 7.6), 5.6, QColor(0xff, 0xf6, 0xd8), QColor(0xe0, 0xc8, 0x7a));
}

IconPainter IconPainterFor(int id) {
  switch (id) {
    case kFileOpen:
      return DrawOpen;
    case kAppAbout:
      return DrawAbout;
    case kFileSaveAs:
      return DrawSaveAs;
    case kCompress:
      return DrawCompress;
    case kConvertMultiple:
      return DrawConvertMultiple;
    case kRotateCounterClockwise:
      return DrawRotateCounterClockwise;
    case kRotateClockwise:
      return DrawRotateClockwise;
    case kFlipVertical:
      return DrawFlipVertical;
    case kFlipHorizontal:
      return DrawFlipHorizontal;
    case kAdjustBrightnessContrast:
      return DrawBrightnessContrast;
    case kInvertColor:
      return DrawInvert;
    case kToolZoom:
      return DrawMagnifier;
    case kToolPan:
      return DrawPan;
    case kToolSelect:
      return DrawSelect;
    case kResetPanZoom:
      return DrawResetPanZoom;
    default:
      return nullptr;
  }
}

QPixmap Render(IconPainter paint, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(size / 16.0, size / 16.0);
  paint(p);
  return pixmap;
}

QIcon IconFrom(IconPainter paint) {
  QIcon icon;
  for (int size : {16, 20, 24, 32, 48, 64}) icon.addPixmap(Render(paint, size));
  return icon;
}

}  // namespace

QIcon CommandIcon(int id) {
  const IconPainter paint = IconPainterFor(id);
  return paint ? IconFrom(paint) : QIcon();
}

QIcon ApplicationIcon() { return IconFrom(DrawAppIcon); }

QPixmap BackgroundPicture(qreal devicePixelRatio) {
  const QSize size(300, 220);
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // A soft halo behind the moon.
  QRadialGradient halo(QPointF(142, 74), 84);
  halo.setColorAt(0, QColor(255, 255, 255, 50));
  halo.setColorAt(0.6, QColor(255, 255, 255, 18));
  halo.setColorAt(1, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(QPointF(142, 74), 84, 84);
  DrawMoon(p, QPointF(140, 74), 52, QColor(0xff, 0xfa, 0xe8), QColor(0xd8, 0xc8, 0x98));
  // A few craters on the lit side.
  p.setBrush(QColor(0xc8, 0xb8, 0x88, 110));
  p.drawEllipse(QPointF(112, 62), 7, 6);
  p.drawEllipse(QPointF(104, 90), 4.5, 4);
  p.drawEllipse(QPointF(124, 112), 5, 4.2);

  // The wavelet under the moon.
  QPen wave(QColor(0xf4, 0xf1, 0xe8), 2.2);
  wave.setCapStyle(Qt::RoundCap);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  p.drawPath(Wavelet(60, 240, 150, 16));

  QFont title(QStringLiteral("DejaVu Serif"));
  title.setPixelSize(36);
  title.setBold(true);
  title.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  p.setFont(title);
  p.setPen(QColor(0, 0, 0, 70));
  p.drawText(QRectF(2, 158, size.width(), 44), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Lunark"));
  p.setPen(QColor(0xfb, 0xf8, 0xf0));
  p.drawText(QRectF(0, 156, size.width(), 44), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Lunark"));
  QFont tagline(QStringLiteral("DejaVu Sans"));
  tagline.setPixelSize(12);
  p.setFont(tagline);
  p.setPen(QColor(0xea, 0xea, 0xea));
  p.drawText(QRectF(0, 198, size.width(), 20), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("wavelet image viewer and converter"));
  return pixmap;
}

QCursor ToolCursor(int cursorId) {
  switch (cursorId) {
    case kCursorPan:
      return QCursor(Qt::OpenHandCursor);
    case kCursorZoom: {
      // The magnifier with a light rim, so it shows on dark and light pictures.
      QPixmap pixmap(32, 32);
      pixmap.fill(Qt::transparent);
      QPainter p(&pixmap);
      p.setRenderHint(QPainter::Antialiasing);
      p.scale(1.6, 1.6);
      p.setPen(QPen(Qt::white, 4.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(10.2, 10.2), QPointF(14.4, 14.4));
      p.setPen(QPen(Qt::white, 3.0));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(6.5, 6.5), 4.6, 4.6);
      DrawMagnifier(p);
      p.end();
      return QCursor(pixmap, 10, 10);
    }
    default:
      return QCursor(Qt::ArrowCursor);
  }
}
