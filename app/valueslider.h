// Pieces shared by the dialogs that pair a slider with an edit box: reading
// what was typed, a short number box, the labels under a slider's ends and a
// row in which the number box rides under the slider's thumb.
#pragma once

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QSlider;

// The number at the start of `text`, as C's atoi reads it: leading blanks, an
// optional sign, then digits; anything else ends the number, and text that
// does not start with one reads as 0. Saturates instead of overflowing.
int ReadTypedNumber(const QString& text);

// A right-aligned edit box for at most `maxLength` characters, just wide
// enough for them.
QLineEdit* NewNumberEdit(int maxLength, QWidget* parent = nullptr);

// A horizontal slider from `minimum` to `maximum` standing at `value`.
QSlider* NewValueSlider(int minimum, int maximum, int value, QWidget* parent = nullptr);

// The labels under a slider: the first at its left end, the last at its right
// end, any others evenly between.
QWidget* NewScaleLabels(const QStringList& labels, QWidget* parent = nullptr);

// A row under a slider holding one widget whose centre follows the slider's
// thumb, kept inside the row at the ends.
class CThumbFollower : public QWidget {
  Q_OBJECT

 public:
  CThumbFollower(QSlider* slider, QWidget* rider, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Moves the rider under the thumb as the slider now stands.
  void Follow();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QSlider* slider_;
  QWidget* rider_;
};
