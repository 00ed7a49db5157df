#include "Option.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "Appearance.h"
#include "EngineConstants.h"
#include "Texts.h"
#include "UpDownEdit.h"

TOForm* OForm = nullptr;

namespace {

constexpr int kFontHeight = 12;     // pixels
constexpr int kClientWidth = 403;   // pixels
constexpr int kClientHeight = 192;  // pixels
constexpr int kLeft = 575;          // screen position
constexpr int kTop = 211;
constexpr int kPercentStep = 5;
constexpr int kBorderStep = 1;
constexpr double kPercentToRatio = 0.01;
constexpr int kArrowWidth = 15;  // the up-down beside its edit

QLabel* MakeLabel(const QString& caption, QWidget* parent, int x, int y, int w, int h) {
  auto* label = new QLabel(caption, parent);
  // Never narrower than its text in the font at hand.
  label->setGeometry(x, y, std::max(w, label->sizeHint().width()),
                     std::max(h, label->sizeHint().height()));
  return label;
}

// Edit at (x, y, w, h) with its up-down attached on the right.
UpDownEdit* MakeUpDown(QWidget* parent, int x, int y, int w, int h, int minimum, int maximum,
                       int step, int position) {
  auto* upDown = new UpDownEdit(minimum, maximum, step, position, parent);
  upDown->setGeometry(x, y, w + kArrowWidth, h);
  return upDown;
}

QRadioButton* MakeRadio(const QString& caption, QWidget* parent, int y) {
  auto* radio = new QRadioButton(caption, parent);
  radio->setGeometry(24, y, std::max(70, radio->sizeHint().width()), 17);
  return radio;
}

}  // namespace

TOForm::TOForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  using namespace zuroka;
  setWindowTitle(text::kOptionCaption);
  setFont(InterfaceFont(kFontHeight));
  setFixedSize(kClientWidth, kClientHeight);
  move(kLeft, kTop);

  GroupBox1 = new QGroupBox(text::kTrackingGroup, this);
  GroupBox1->setGeometry(8, 7, 121, 154);
  Label1 = MakeLabel(text::kOfMaxCepstrum, GroupBox1, 8, 24, 99, 12);
  UDCP = MakeUpDown(GroupBox1, 16, 40, 35, 20, kMinPercent, kMaxPercent, kPercentStep,
                    kDefaultCPPercent);
  EditCP = UDCP->Edit();
  Label2 = MakeLabel(text::kPercent, GroupBox1, 73, 45, 12, 12);
  Label3 = MakeLabel(text::kOfMaxDB, GroupBox1, 8, 72, 50, 12);
  UDDB = MakeUpDown(GroupBox1, 16, 88, 35, 20, kMinPercent, kMaxPercent, kPercentStep,
                    kDefaultDBPercent);
  EditDB = UDDB->Edit();
  Label4 = MakeLabel(text::kPercent, GroupBox1, 73, 93, 12, 12);
  Label5 = MakeLabel(text::kAreCandidates, GroupBox1, 16, 120, 89, 12);

  GroupBox2 = new QGroupBox(text::kLengthGroup, this);
  GroupBox2->setGeometry(136, 8, 120, 153);
  Label6 = MakeLabel(text::kLength, GroupBox2, 8, 24, 21, 12);
  UDBorder =
      MakeUpDown(GroupBox2, 15, 39, 35, 20, kMinBorder, kMaxBorder, kBorderStep, kDefaultBorder);
  EditBorder = UDBorder->Edit();
  Label7 = MakeLabel(text::kOrShorter, GroupBox2, 8, 64, 103, 12);
  Label8 = MakeLabel(text::kRejected, GroupBox2, 8, 80, 46, 12);

  GBoxWindow = new QGroupBox(text::kWindowGroup, this);
  GBoxWindow->setGeometry(264, 7, 121, 153);
  RBHanning = MakeRadio(text::kHanning, GBoxWindow, 24);
  RBHamming = MakeRadio(text::kHamming, GBoxWindow, 48);
  RBBlackman = MakeRadio(text::kBlackman, GBoxWindow, 72);
  RBGauss = MakeRadio(text::kGauss, GBoxWindow, 96);
  RBHoukei = MakeRadio(text::kRectangular, GBoxWindow, 120);
  RBHanning->setChecked(true);
  GBoxWindow->setEnabled(false);

  Button1 = new QPushButton(text::kClose, this);
  Button1->setGeometry(310, 167, 75, 20);

  // Window group, Close, then the two groups, each in its own order.
  setTabOrder(RBHanning, RBHamming);
  setTabOrder(RBHamming, RBBlackman);
  setTabOrder(RBBlackman, RBGauss);
  setTabOrder(RBGauss, RBHoukei);
  setTabOrder(RBHoukei, Button1);
  setTabOrder(Button1, UDCP);
  setTabOrder(UDCP, UDDB);
  setTabOrder(UDDB, UDBorder);

  connect(UDCP, &QSpinBox::valueChanged, this, &TOForm::UDCPClick);
  connect(Button1, &QPushButton::clicked, this, &TOForm::Button1Click);

  CPRatio = UDCP->value() * kPercentToRatio;
  DBRatio = UDDB->value() * kPercentToRatio;
}

void TOForm::UDCPClick() {
  const QString cp = QString::number(UDCP->value());
  const QString db = QString::number(UDDB->value());
  if (EditCP->text() != cp) EditCP->setText(cp);
  if (EditDB->text() != db) EditDB->setText(db);
}

void TOForm::Button1Click() {
  CPRatio = UDCP->value() * kPercentToRatio;
  DBRatio = UDDB->value() * kPercentToRatio;
  done(1);
}

void TOForm::reject() { Button1Click(); }
