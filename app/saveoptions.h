// The writers' options dialogs: "WIF Save Options" (quality 1 to 255, where 1
// is the best picture) and "JPEG Save Options" (quality 1 to 100, where 100
// is). The engine asks for them through its options-dialog hook whenever a
// WIF or JPEG writer is asked for its options.
#pragma once

#include <QDialog>

#include "engine/options.h"

class QLineEdit;
class QSlider;

class CSaveOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  // `type` is TypeWIF or TypeJPEG; `quality` is where the slider starts
  // (brought into the type's range).
  CSaveOptionsDlg(int type, int quality, QWidget* parent = nullptr);

  int type() const { return type_; }
  int minimum() const;
  int maximum() const;
  // The quality the record gets: the slider's position.
  int quality() const;
  QSlider* slider() const { return slider_; }
  QLineEdit* edit() const { return edit_; }

  // Shows the dialog for `type`; a new record (quality, 6, `levels`) after
  // "Compress", null after "Cancel".
  static vxSaveOptions* Run(int type, int quality, int levels, QWidget* parent);

 private:
  void OnSliderMoved(int value);
  void OnTextEdited(const QString& text);

  int type_;
  QSlider* slider_ = nullptr;
  QLineEdit* edit_ = nullptr;
  bool syncing_ = false;
};

// The hook the viewer installs: shows the dialog of a WIF or JPEG writer on
// the user-interface thread, starting WIF at `wifQuality` and giving WIF
// records `levels`. Called from another thread, where no dialog can be
// shown, it returns those defaults without asking.
vxOptionsDialogHook MakeSaveOptionsHook(std::function<int()> wifQuality,
                                        std::function<int()> levels);
