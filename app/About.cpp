#include "About.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <algorithm>

#include "Appearance.h"
#include "ElidedLabel.h"
#include "Texts.h"
#include "UiSeam.h"

TAForm* AForm = nullptr;

namespace {

constexpr int kClientWidth = 361;  // pixels
constexpr int kClientHeight = 129;
constexpr int kTitleHeight = 13;    // pixels, name and maker lines
constexpr int kAddressHeight = 12;  // pixels, the address
constexpr int kAddressLeft = 32;    // pixels
constexpr int kMargin = 24;         // pixels kept free at the right edge, as at the left

QLabel* MakeLabel(const QString& caption, QWidget* parent, int x, int y, int pixelHeight,
                  const QColor& colour) {
  auto* label = new QLabel(caption, parent);
  label->setFont(InterfaceFont(pixelHeight));
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->move(x, y);
  label->resize(label->sizeHint());
  return label;
}

}  // namespace

TAForm::TAForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle(text::kAboutCaption);
  setFont(InterfaceFont(kAddressHeight));
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = MakeLabel(text::kMainCaption, this, 24, 24, kTitleHeight, Qt::darkBlue);
  Label2 = MakeLabel(text::kMaker, this, 32, 48, kTitleHeight, Qt::darkBlue);
  // A long installation path would run past the box: the middle is elided, and the
  // tooltip shows the whole address.
  Label3 = new TElidedLabel(Address(), Qt::ElideMiddle, this);
  QFont underlined = InterfaceFont(kAddressHeight);
  underlined.setUnderline(true);
  Label3->setFont(underlined);
  QPalette blue = Label3->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  Label3->setPalette(blue);
  Label3->setGeometry(kAddressLeft, 72,
                      std::min(Label3->sizeHint().width(), kClientWidth - kAddressLeft - kMargin),
                      Label3->sizeHint().height());
  Label3->setCursor(Qt::PointingHandCursor);
  Label3->installEventFilter(this);

  Button1 = new QPushButton(text::kAboutClose, this);
  Button1->setGeometry(264, 96, 75, 25);
  connect(Button1, &QPushButton::clicked, this, &TAForm::Button1Click);
}

QString TAForm::Address() const { return QUrl::fromLocalFile(ManualPath()).toString(); }

void TAForm::Label3Click() { Ui().OpenUrl(QUrl(Address())); }

void TAForm::Button1Click() { done(QDialog::Accepted); }

bool TAForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Label3Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
