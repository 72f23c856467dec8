#include "adjustdialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "valueslider.h"

namespace {

constexpr int kLowest = -100;
constexpr int kHighest = 100;
constexpr int kEditLength = 4;  // "-100"

const QStringList kScale{QStringLiteral("-100"), QStringLiteral("0"), QStringLiteral("+100")};

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A titled group: the slider with its edit box beside it, the scale under it.
QGroupBox* SliderGroup(const QString& title, QSlider* slider, QLineEdit* edit, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(2);
  grid->addWidget(slider, 0, 0);
  grid->addWidget(edit, 0, 1, Qt::AlignTop);
  grid->addWidget(NewScaleLabels(kScale, group), 1, 0);
  return group;
}

}  // namespace

CBrightnessContrastDlg::CBrightnessContrastDlg(const AdjustmentDefaults& defaults, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Adjust Brightness/Contrast"));
  params_.brightness = std::clamp(defaults.brightness, kLowest, kHighest);
  params_.contrast = std::clamp(defaults.contrast, kLowest, kHighest);
  params_.contrastFirst = 1;
  params_.accepted = 0;

  brightnessSlider_ = NewValueSlider(kLowest, kHighest, params_.brightness, this);
  brightnessSlider_->setObjectName(QStringLiteral("brightnessSlider"));
  brightnessEdit_ = NewNumberEdit(kEditLength, this);
  brightnessEdit_->setObjectName(QStringLiteral("brightnessEdit"));
  brightnessEdit_->setText(QString::number(params_.brightness));
  contrastSlider_ = NewValueSlider(kLowest, kHighest, params_.contrast, this);
  contrastSlider_->setObjectName(QStringLiteral("contrastSlider"));
  contrastEdit_ = NewNumberEdit(kEditLength, this);
  contrastEdit_->setObjectName(QStringLiteral("contrastEdit"));
  contrastEdit_->setText(QString::number(params_.contrast));

  // The box shows the order the record starts with: contrast first.
  contrastFirst_ = new QCheckBox(QStringLiteral("Apply Contrast First"), this);
  contrastFirst_->setObjectName(QStringLiteral("contrastFirst"));
  contrastFirst_->setChecked(true);
  previewBox_ = new QCheckBox(QStringLiteral("Preview"), this);
  previewBox_->setObjectName(QStringLiteral("preview"));
  previewBox_->setChecked(defaults.preview);

  auto* checks = new QHBoxLayout;
  checks->addWidget(contrastFirst_);
  checks->addStretch();
  checks->addWidget(previewBox_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      SliderGroup(QStringLiteral("Brightness"), brightnessSlider_, brightnessEdit_, this));
  layout->addWidget(SliderGroup(QStringLiteral("Contrast"), contrastSlider_, contrastEdit_, this));
  layout->addLayout(checks);
  layout->addSpacing(6);
  layout->addWidget(OkCancel(this));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(brightnessSlider_, &QSlider::valueChanged, this, [this](int value) {
    OnSliderMoved(brightnessSlider_, brightnessEdit_, params_.brightness, value);
  });
  connect(contrastSlider_, &QSlider::valueChanged, this, [this](int value) {
    OnSliderMoved(contrastSlider_, contrastEdit_, params_.contrast, value);
  });
  connect(brightnessEdit_, &QLineEdit::textEdited, this, [this](const QString& text) {
    OnTextEdited(brightnessSlider_, brightnessEdit_, params_.brightness, text);
  });
  connect(contrastEdit_, &QLineEdit::textEdited, this, [this](const QString& text) {
    params_.contrastFirst = contrastFirst_->isChecked() ? 1 : 0;
    OnTextEdited(contrastSlider_, contrastEdit_, params_.contrast, text);
  });
  connect(contrastFirst_, &QCheckBox::toggled, this, [this](bool checked) {
    params_.contrastFirst = checked ? 1 : 0;
    Preview();
  });
}

bool CBrightnessContrastDlg::previewing() const { return previewBox_->isChecked(); }

void CBrightnessContrastDlg::Preview() {
  if (previewing() && preview_) preview_(params_);
}

void CBrightnessContrastDlg::OnSliderMoved(QSlider*, QLineEdit* edit, int& field, int value) {
  if (syncing_) return;
  edit->setText(QString::number(value));
  field = value;
  Preview();
}

void CBrightnessContrastDlg::OnTextEdited(QSlider* slider, QLineEdit* edit, int& field,
                                          const QString& text) {
  // A number beyond the range is replaced by the range's end, all of it
  // selected; text that is no number counts as 0 and is left as typed.
  const int typed = ReadTypedNumber(text);
  const int value = std::clamp(typed, kLowest, kHighest);
  syncing_ = true;
  if (value != slider->value()) slider->setValue(value);
  syncing_ = false;
  field = value;
  if (value != typed) {
    edit->setText(QString::number(value));
    edit->selectAll();
  }
  Preview();
}

void CBrightnessContrastDlg::accept() {
  params_.accepted = 1;
  QDialog::accept();
}

void CBrightnessContrastDlg::reject() {
  params_.accepted = 0;
  QDialog::reject();
}

CContrastDlg::CContrastDlg(const AdjustmentDefaults& defaults, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Adjust Contrast"));
  slider_ =
      NewValueSlider(kLowest, kHighest, std::clamp(defaults.contrast, kLowest, kHighest), this);
  slider_->setObjectName(QStringLiteral("contrastSlider"));
  edit_ = NewNumberEdit(kEditLength);
  edit_->setObjectName(QStringLiteral("contrastEdit"));
  edit_->setText(QString::number(slider_->value()));
  previewBox_ = new QCheckBox(QStringLiteral("Preview"), this);
  previewBox_->setObjectName(QStringLiteral("preview"));
  previewBox_->setChecked(defaults.preview);

  auto* group = new QGroupBox(QStringLiteral("Contrast"), this);
  auto* column = new QVBoxLayout(group);
  column->setSpacing(2);
  column->addWidget(slider_);
  column->addWidget(NewScaleLabels(kScale, group));
  // The edit box rides under the slider's thumb.
  column->addWidget(new CThumbFollower(slider_, edit_, group));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(previewBox_);
  layout->addSpacing(6);
  layout->addWidget(OkCancel(this));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(slider_, &QSlider::valueChanged, this, &CContrastDlg::OnSliderMoved);
  connect(edit_, &QLineEdit::textEdited, this, &CContrastDlg::OnTextEdited);
}

int CContrastDlg::value() const { return slider_->value(); }

bool CContrastDlg::previewing() const { return previewBox_->isChecked(); }

void CContrastDlg::Preview() {
  if (previewing() && preview_) preview_(value());
}

void CContrastDlg::OnSliderMoved(int value) {
  if (syncing_) return;
  edit_->setText(QString::number(value));
  Preview();
}

void CContrastDlg::OnTextEdited(const QString& text) {
  const int typed = ReadTypedNumber(text);
  const int value = std::clamp(typed, kLowest, kHighest);
  if (value != slider_->value()) {
    syncing_ = true;
    slider_->setValue(value);
    syncing_ = false;
    Preview();
  }
  if (value != typed) {
    edit_->setText(QString::number(value));
    edit_->selectAll();
  }
}
