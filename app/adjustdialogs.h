// The two adjustment dialogs of grey-scale pictures: "Adjust
// Brightness/Contrast" (two sliders, the order of the two steps) and "Adjust
// Contrast" (one slider). While "Preview" is checked every change is sent to
// the preview function, which shows it from the palette saved when the
// dialog opened; the command that opened the dialog commits or restores.
#pragma once

#include <QDialog>
#include <functional>

#include "tovimdoc.h"

class QCheckBox;
class QLineEdit;
class QSlider;

// Where the dialogs start; the user's preferences give them.
struct AdjustmentDefaults {
  int brightness = 0;
  int contrast = 0;
  bool preview = true;
};

class CBrightnessContrastDlg : public QDialog {
  Q_OBJECT

 public:
  using PreviewFn = std::function<void(const BrightnessContrastParams&)>;

  explicit CBrightnessContrastDlg(const AdjustmentDefaults& defaults = {},
                                  QWidget* parent = nullptr);

  void SetPreview(PreviewFn preview) { preview_ = std::move(preview); }
  // The values now chosen; `accepted` is 1 after OK, 0 after Cancel.
  const BrightnessContrastParams& params() const { return params_; }
  bool previewing() const;
  // Sends the current values to the preview function when "Preview" is checked.
  void Preview();

  QSlider* contrastSlider() const { return contrastSlider_; }
  QSlider* brightnessSlider() const { return brightnessSlider_; }
  QLineEdit* contrastEdit() const { return contrastEdit_; }
  QLineEdit* brightnessEdit() const { return brightnessEdit_; }
  QCheckBox* previewBox() const { return previewBox_; }
  QCheckBox* contrastFirstBox() const { return contrastFirst_; }

 public slots:
  void accept() override;
  void reject() override;

 private:
  void OnSliderMoved(QSlider* slider, QLineEdit* edit, int& field, int value);
  void OnTextEdited(QSlider* slider, QLineEdit* edit, int& field, const QString& text);

  BrightnessContrastParams params_;
  PreviewFn preview_;
  QSlider* contrastSlider_ = nullptr;
  QSlider* brightnessSlider_ = nullptr;
  QLineEdit* contrastEdit_ = nullptr;
  QLineEdit* brightnessEdit_ = nullptr;
  QCheckBox* previewBox_ = nullptr;
  QCheckBox* contrastFirst_ = nullptr;
  bool syncing_ = false;
};

class CContrastDlg : public QDialog {
  Q_OBJECT

 public:
  using PreviewFn = std::function<void(int contrast)>;

  explicit CContrastDlg(const AdjustmentDefaults& defaults = {}, QWidget* parent = nullptr);

  void SetPreview(PreviewFn preview) { preview_ = std::move(preview); }
  int value() const;
  bool previewing() const;
  void Preview();

  QSlider* slider() const { return slider_; }
  QLineEdit* edit() const { return edit_; }
  QCheckBox* previewBox() const { return previewBox_; }

 private:
  void OnSliderMoved(int value);
  void OnTextEdited(const QString& text);

  PreviewFn preview_;
  QSlider* slider_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QCheckBox* previewBox_ = nullptr;
  bool syncing_ = false;
};
