#include "statuspanes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>
#include <cmath>

namespace {

const char* const kLabels[CStatusPanes::kPaneCount] = {"Ratio",
                                                       nullptr,
                                                       "   Time",
                                                       nullptr,
                                                       "   Width",
                                                       nullptr,
                                                       "   Height",
                                                       nullptr,
                                                       " Bits Per Pixel",
                                                       nullptr,
                                                       " Original File Size",
                                                       nullptr,
                                                       " Compressed File Size",
                                                       nullptr};

// The widest figure each value pane may have to show: a ratio and a time of
// several digits, the largest sides, and the bytes of a 65535 x 65535 colour
// picture. A pane narrower than its figure would cut off its first digits.
const char* const kWidestValues[CStatusPanes::kPaneCount] = {
    nullptr, "9999.99:1", nullptr, "999.99", nullptr, "65535", nullptr, "65535",
    nullptr, "24",        nullptr, "12884508675", nullptr, "12884508675"};

int PaneWidth(int pane) {
  const int left = pane == 0 ? 0 : CStatusPanes::kRightEdges[pane - 1];
  return CStatusPanes::kRightEdges[pane] - left;
}

}  // namespace

CStatusPanes::CStatusPanes(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // The edges were laid out for a small dialog font. With a wider font all
  // panes grow in proportion, so that the longest label still fits.
  double scale = 1.0;
  for (int i = 0; i < kPaneCount; i += 2) {
    const int needed = fontMetrics().horizontalAdvance(QString::fromLatin1(kLabels[i])) + 6;
    scale = std::max(scale, static_cast<double>(needed) / PaneWidth(i));
  }
  for (int i = 0; i < kPaneCount; ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("pane%1").arg(i));
    int width = static_cast<int>(std::lround(PaneWidth(i) * scale));
    if (kLabels[i]) {
      // Label panes have no border.
      label->setText(QString::fromLatin1(kLabels[i]));
    } else {
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      label->setContentsMargins(2, 0, 3, 0);
      const int needed = fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestValues[i])) +
                         2 + 3 + 2 * label->frameWidth() + 2;
      width = std::max(width, needed);
    }
    label->setFixedWidth(width);
    layout->addWidget(label);
    panes_[i] = label;
  }
}

void CStatusPanes::SetPaneText(int pane, const QString& text) {
  if (pane >= 0 && pane < kPaneCount) panes_[pane]->setText(text);
}

QString CStatusPanes::PaneText(int pane) const {
  return pane >= 0 && pane < kPaneCount ? panes_[pane]->text() : QString();
}

void CStatusPanes::ClearValues() {
  for (int i = 1; i < kPaneCount; i += 2) SetPaneText(i, QString(20, QLatin1Char(' ')));
}

int CStatusPanes::PaneRightEdge(int pane) const { return panes_[pane]->geometry().right() + 1; }
