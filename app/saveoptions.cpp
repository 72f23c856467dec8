#include "saveoptions.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/image.h"
#include "valueslider.h"

namespace {

struct QualityScale {
  int minimum;
  int maximum;
  const char* caption;
  const char* leftWord;   // beside the minimum
  const char* rightWord;  // beside the maximum
};

// WIF's quality is a quantisation step: 1 keeps the most. JPEG's is the
// other way round.
constexpr QualityScale kWif{1, 255, "WIF Save Options", "High", "Low"};
constexpr QualityScale kJpeg{1, 100, "JPEG Save Options", "Low", "High"};

const QualityScale& ScaleOf(int type) { return type == TypeJPEG ? kJpeg : kWif; }

QLabel* Word(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  return label;
}

}  // namespace

CSaveOptionsDlg::CSaveOptionsDlg(int type, int quality, QWidget* parent)
    : QDialog(parent), type_(type == TypeJPEG ? TypeJPEG : TypeWIF) {
  const QualityScale& scale = ScaleOf(type_);
  setWindowTitle(QString::fromLatin1(scale.caption));

  auto* group = new QGroupBox(QStringLiteral("Quality"), this);
  slider_ = NewValueSlider(scale.minimum, scale.maximum,
                           std::clamp(quality, scale.minimum, scale.maximum), group);
  slider_->setObjectName(QStringLiteral("qualitySlider"));
  slider_->setTickInterval(type_ == TypeJPEG ? 10 : 25);
  slider_->setPageStep(type_ == TypeJPEG ? 10 : 25);
  edit_ = NewNumberEdit(3);
  edit_->setObjectName(QStringLiteral("qualityEdit"));
  edit_->setText(QString::number(slider_->value()));

  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  grid->addWidget(Word(scale.leftWord, group), 0, 0);
  grid->addWidget(slider_, 0, 1);
  grid->addWidget(Word(scale.rightWord, group), 0, 2);
  grid->addWidget(
      NewScaleLabels({QString::number(scale.minimum), QString::number(scale.maximum)}, group), 1,
      1);
  grid->addWidget(new CThumbFollower(slider_, edit_, group), 2, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  if (type_ == TypeWIF) {
    auto* note = new QLabel(QStringLiteral("Note: The Lunark is a lossy  compressor."), this);
    note->setObjectName(QStringLiteral("note"));
    layout->addWidget(note);
  }
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* compress =
      buttons->addButton(QStringLiteral("Compress"), QDialogButtonBox::AcceptRole);
  compress->setObjectName(QStringLiteral("compressButton"));
  compress->setDefault(true);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)
      ->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(slider_, &QSlider::valueChanged, this, &CSaveOptionsDlg::OnSliderMoved);
  connect(edit_, &QLineEdit::textEdited, this, &CSaveOptionsDlg::OnTextEdited);
}

int CSaveOptionsDlg::minimum() const { return slider_->minimum(); }
int CSaveOptionsDlg::maximum() const { return slider_->maximum(); }
int CSaveOptionsDlg::quality() const { return slider_->value(); }

void CSaveOptionsDlg::OnSliderMoved(int value) {
  if (syncing_) return;
  edit_->setText(QString::number(value));
}

void CSaveOptionsDlg::OnTextEdited(const QString& text) {
  // What was typed is brought into range and moves the slider; a number out
  // of range (or no number) is replaced by the slider's position, its last
  // character selected so that typing on replaces it.
  const int typed = ReadTypedNumber(text);
  const int value = std::clamp(typed, minimum(), maximum());
  if (value != slider_->value()) {
    syncing_ = true;
    slider_->setValue(value);
    syncing_ = false;
  }
  if (value != typed) {
    const QString shown = QString::number(slider_->value());
    edit_->setText(shown);
    edit_->setSelection(static_cast<int>(shown.size()) - 1, 1);
  }
}

vxSaveOptions* CSaveOptionsDlg::Run(int type, int quality, int levels, QWidget* parent) {
  CSaveOptionsDlg dialog(type, quality, parent);
  if (dialog.exec() != QDialog::Accepted) return nullptr;
  auto* options = new vxSaveOptions;
  options->quality = dialog.quality();
  options->reserved = 6;
  options->levels = dialog.type() == TypeWIF ? std::clamp(levels, 0, 8) : 0;
  return options;
}

vxOptionsDialogHook MakeSaveOptionsHook(std::function<int()> wifQuality,
                                        std::function<int()> levels) {
  return
      [wifQuality = std::move(wifQuality), levels = std::move(levels)](int type) -> vxSaveOptions* {
        if (type != TypeWIF && type != TypeJPEG) return nullptr;
        const int quality = type == TypeWIF ? wifQuality() : vxDefaultJpegQuality;
        const int depth = type == TypeWIF ? levels() : 0;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread()) {
          auto* options = new vxSaveOptions;
          options->quality = std::clamp(quality, 1, type == TypeWIF ? 255 : 100);
          options->levels = depth;
          return options;
        }
        // Over the dialog that asked (the batch dialog), else over the main window.
        QWidget* parent = QApplication::activeModalWidget();
        if (!parent) parent = QApplication::activeWindow();
        return CSaveOptionsDlg::Run(type, quality, depth, parent);
      };
}
