#include "valueslider.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <climits>

int ReadTypedNumber(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
    value = std::min<long long>(value * 10 + (text[i].unicode() - '0'), 1LL + INT_MAX);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

QLineEdit* NewNumberEdit(int maxLength, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(maxLength);
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  const int digits = edit->fontMetrics().horizontalAdvance(QString(maxLength, QLatin1Char('8')));
  edit->setFixedWidth(digits + 20);
  return edit;
}

QSlider* NewValueSlider(int minimum, int maximum, int value, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setRange(minimum, maximum);
  slider->setValue(value);
  slider->setPageStep(std::max(1, (maximum - minimum) / 10));
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(std::max(1, (maximum - minimum) / 10));
  slider->setMinimumWidth(280);
  return slider;
}

QWidget* NewScaleLabels(const QStringList& labels, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  for (qsizetype i = 0; i < labels.size(); ++i) {
    auto* label = new QLabel(labels[i], row);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    label->setFont(small);
    label->setForegroundRole(QPalette::PlaceholderText);
    Qt::Alignment align = Qt::AlignHCenter;
    if (i == 0) align = Qt::AlignLeft;
    if (i == labels.size() - 1 && i > 0) align = Qt::AlignRight;
    label->setAlignment(align | Qt::AlignTop);
    layout->addWidget(label, 1);
  }
  return row;
}

CThumbFollower::CThumbFollower(QSlider* slider, QWidget* rider, QWidget* parent)
    : QWidget(parent), slider_(slider), rider_(rider) {
  rider_->setParent(this);
  // The rider keeps its own width and its natural height, whatever it had
  // before it came here.
  rider_->resize(rider_->width(), rider_->sizeHint().height());
  setFixedHeight(rider_->height());
  slider_->installEventFilter(this);
  connect(slider_, &QSlider::valueChanged, this, &CThumbFollower::Follow);
  connect(slider_, &QSlider::rangeChanged, this, &CThumbFollower::Follow);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize CThumbFollower::sizeHint() const { return {slider_->sizeHint().width(), rider_->height()}; }

QSize CThumbFollower::minimumSizeHint() const { return {rider_->width(), rider_->height()}; }

void CThumbFollower::Follow() {
  QStyleOptionSlider option;
  option.initFrom(slider_);
  option.orientation = slider_->orientation();
  option.minimum = slider_->minimum();
  option.maximum = slider_->maximum();
  option.sliderPosition = slider_->sliderPosition();
  option.sliderValue = slider_->value();
  option.singleStep = slider_->singleStep();
  option.pageStep = slider_->pageStep();
  option.tickPosition = slider_->tickPosition();
  option.tickInterval = slider_->tickInterval();
  option.upsideDown =
      slider_->invertedAppearance() != (slider_->layoutDirection() == Qt::RightToLeft);
  option.subControls = QStyle::SC_SliderHandle;
  const QRect thumb = slider_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                       QStyle::SC_SliderHandle, slider_);
  const int centre = mapFrom(window(), slider_->mapTo(window(), thumb.center())).x();
  const int left =
      std::clamp(centre - rider_->width() / 2, 0, std::max(0, width() - rider_->width()));
  rider_->move(left, 0);
}

void CThumbFollower::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Follow();
}

bool CThumbFollower::eventFilter(QObject* watched, QEvent* event) {
  // The slider's own size or place decides where its thumb is.
  if (watched == slider_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
    Follow();
  }
  return QWidget::eventFilter(watched, event);
}
