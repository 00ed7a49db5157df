#include "UpDownEdit.h"

#include <QLineEdit>

UpDownEdit::UpDownEdit(int minimum, int maximum, int step, int position, QWidget* parent)
    : QSpinBox(parent) {
  setRange(minimum, maximum);
  setSingleStep(step);
  setValue(position);
  setWrapping(false);
  setAccelerated(false);
  // Only the edit is read-only: a read-only spin box would also lock its arrows.
  lineEdit()->setReadOnly(true);
}
