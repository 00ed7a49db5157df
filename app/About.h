#pragma once

#include <QDialog>

#include "ElidedLabel.h"

class QLabel;
class QPushButton;

// The about box: the program's name and version, the maker, and the address of the
// manual installed with the program, which a click opens. One instance, AForm.
class TAForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAForm(QWidget* parent = nullptr);

  // Opens the address shown in Label3 with the desktop's default viewer.
  void Label3Click();
  // Ends the dialog with the result OK.
  void Button1Click();

  // The address Label3 shows and opens.
  QString Address() const;

  QLabel* Label1;
  QLabel* Label2;
  TElidedLabel* Label3;  // elided in the middle when the address is long
  QPushButton* Button1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The one about box, created at start-up after the options dialog.
extern TAForm* AForm;
