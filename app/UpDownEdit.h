#pragma once

#include <QSpinBox>

class QLineEdit;

// A read-only edit box with its up-down arrows: the value changes only through the
// arrows (mouse, or the arrow keys while the edit has the focus), stays within its
// range without wrapping round, and the edit always shows it in decimal.
class UpDownEdit : public QSpinBox {
  Q_OBJECT
 public:
  // minimum..maximum, step per press, position at start.
  UpDownEdit(int minimum, int maximum, int step, int position, QWidget* parent = nullptr);

  // The edit box part.
  QLineEdit* Edit() const { return lineEdit(); }
};
