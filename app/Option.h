#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class UpDownEdit;

// The options dialog: the tracking percentages and the length border. One instance,
// OForm, lives hidden from start-up to exit, so its values last until the program ends.
// The engine reads CPRatio and DBRatio, and the border as the live position of UDBorder.
class TOForm : public QDialog {
  Q_OBJECT
 public:
  explicit TOForm(QWidget* parent = nullptr);

  // Click on either arrow of UDCP: both percentage edits show their positions.
  void UDCPClick();
  // Close: takes the percentages over into the ratios and ends the dialog.
  void Button1Click();

  // Closing through the window system ends the dialog the same way as Close, so the
  // ratios never differ from the positions shown.
  void reject() override;

  double CPRatio = 0;  // position of UDCP x 0.01: 0.30..1.00, 0.60 at start
  double DBRatio = 0;  // position of UDDB x 0.01: 0.30..1.00, 0.70 at start

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLineEdit* EditCP;
  UpDownEdit* UDCP;  // percent, 30..100, step 5
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* EditDB;
  UpDownEdit* UDDB;  // percent, 30..100, step 5
  QLabel* Label4;
  QLabel* Label5;
  QGroupBox* GroupBox2;
  QLabel* Label6;
  QLineEdit* EditBorder;
  UpDownEdit* UDBorder;  // frames, 1..100, step 1
  QLabel* Label7;
  QLabel* Label8;
  QGroupBox* GBoxWindow;  // disabled: the analyser always uses the Hann window
  QRadioButton* RBHanning;
  QRadioButton* RBHamming;
  QRadioButton* RBBlackman;
  QRadioButton* RBGauss;
  QRadioButton* RBHoukei;
  QPushButton* Button1;
};

// The one options dialog, created at start-up after the main window.
extern TOForm* OForm;
