// The options dialog's limits, defaults and behaviour, and the about box.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "About.h"
#include "AppFixture.h"
#include "Main.h"
#include "Option.h"
#include "UpDownEdit.h"

namespace {

void Press(QWidget* target, Qt::Key key, int times) {
  for (int i = 0; i < times; ++i) QTest::keyClick(target, key);
}

}  // namespace

TEST_F(AppTest, OptionsStartAtTheirDefaults) {
  EXPECT_EQ(OForm->windowTitle(), Qs("オプション"));
  EXPECT_DOUBLE_EQ(OForm->CPRatio, 60 * 0.01);
  EXPECT_DOUBLE_EQ(OForm->DBRatio, 70 * 0.01);
  EXPECT_EQ(OForm->UDBorder->value(), 3);
  EXPECT_EQ(OForm->EditCP->text(), QStringLiteral("60"));
  EXPECT_EQ(OForm->EditDB->text(), QStringLiteral("70"));
  EXPECT_EQ(OForm->EditBorder->text(), QStringLiteral("3"));
  for (QLineEdit* edit : {OForm->EditCP, OForm->EditDB, OForm->EditBorder}) {
    EXPECT_TRUE(edit->isReadOnly());
  }
  EXPECT_FALSE(OForm->windowFlags() & Qt::WindowCloseButtonHint);
  SaveScreenshot(OForm, QStringLiteral("options.png"));
}

TEST_F(AppTest, PercentagesStepByFiveAndStopAtTheirLimits) {
  Press(OForm->UDCP, Qt::Key_Up, 8);
  EXPECT_EQ(OForm->UDCP->value(), 100);
  Press(OForm->UDCP, Qt::Key_Up, 3);  // no wrap-around
  EXPECT_EQ(OForm->UDCP->value(), 100);
  EXPECT_EQ(OForm->EditCP->text(), QStringLiteral("100"));

  OForm->UDCP->setValue(60);
  Press(OForm->UDCP, Qt::Key_Down, 6);
  EXPECT_EQ(OForm->UDCP->value(), 30);
  Press(OForm->UDCP, Qt::Key_Down, 2);
  EXPECT_EQ(OForm->UDCP->value(), 30);

  Press(OForm->UDDB, Qt::Key_Up, 7);
  EXPECT_EQ(OForm->UDDB->value(), 100);
  Press(OForm->UDDB, Qt::Key_Down, 20);
  EXPECT_EQ(OForm->UDDB->value(), 30);

  Press(OForm->UDBorder, Qt::Key_Down, 5);
  EXPECT_EQ(OForm->UDBorder->value(), 1);
  OForm->UDBorder->setValue(98);
  Press(OForm->UDBorder, Qt::Key_Up, 5);
  EXPECT_EQ(OForm->UDBorder->value(), 100);

  // Typing cannot change a value.
  OForm->UDBorder->setValue(3);
  QTest::keyClicks(OForm->EditBorder, QStringLiteral("7"));
  EXPECT_EQ(OForm->UDBorder->value(), 3);
}

TEST_F(AppTest, RatiosChangeOnlyWhenTheDialogCloses) {
  OForm->UDCP->setValue(45);
  OForm->UDDB->setValue(90);
  EXPECT_DOUBLE_EQ(MForm->GetCPRatio(), 60 * 0.01);
  QTest::mouseClick(OForm->Button1, Qt::LeftButton);
  EXPECT_DOUBLE_EQ(MForm->GetCPRatio(), 45 * 0.01);
  EXPECT_DOUBLE_EQ(MForm->GetDBRatio(), 90 * 0.01);
  EXPECT_EQ(OForm->result(), 1);

  // Closed by the window system (or Escape): the values shown are the values used.
  OForm->UDCP->setValue(80);
  OForm->reject();
  EXPECT_DOUBLE_EQ(OForm->CPRatio, 80 * 0.01);
}

TEST_F(AppTest, WindowTypeCannotBeChanged) {
  EXPECT_FALSE(OForm->GBoxWindow->isEnabled());
  OForm->show();
  QTest::mouseClick(OForm->RBGauss, Qt::LeftButton);
  EXPECT_TRUE(OForm->RBHanning->isChecked());
  EXPECT_FALSE(OForm->RBGauss->isChecked());
  OForm->hide();
}

TEST_F(AppTest, TabOrderRunsFromCloseThroughTheGroups) {
  // The controls Tab reaches from Close, each edit counted as its up-down; the
  // window-type group is disabled and is skipped.
  std::vector<QWidget*> order;
  for (QWidget* w = OForm->Button1->nextInFocusChain(); w != OForm->Button1;
       w = w->nextInFocusChain()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled()) continue;
    QWidget* control = qobject_cast<UpDownEdit*>(w->parentWidget()) ? w->parentWidget() : w;
    if (order.empty() || order.back() != control) order.push_back(control);
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{OForm->UDCP, OForm->UDDB, OForm->UDBorder}));
}

TEST_F(AppTest, AboutBoxNamesTheProjectAndOpensItsManual) {
  EXPECT_EQ(AForm->windowTitle(), Qs("Zurokaについて"));
  EXPECT_EQ(AForm->Label1->text(), Qs("Zuroka　Ver 1.0.1"));
  EXPECT_EQ(AForm->Label2->text(), QStringLiteral("Zuroka project"));
  EXPECT_EQ(AForm->Button1->text(), Qs("とじる"));
  EXPECT_EQ(AForm->Label3->text(), AForm->Address());
  // The address fits the box: whole, or elided with the whole of it as the tooltip.
  AForm->show();
  EXPECT_TRUE(AForm->rect().contains(AForm->Label3->geometry()));
  const QString shown = AForm->Label3->ShownText();
  EXPECT_LE(AForm->Label3->fontMetrics().horizontalAdvance(shown),
            AForm->Label3->contentsRect().width());
  EXPECT_TRUE(shown == AForm->Address() || AForm->Label3->toolTip() == AForm->Address())
      << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral("index.html")));
  AForm->hide();
  EXPECT_TRUE(AForm->Address().startsWith(QStringLiteral("file:///")));
  EXPECT_TRUE(AForm->Address().endsWith(QStringLiteral("/share/doc/zuroka/index.html")));

  QTest::mouseClick(AForm->Label3, Qt::LeftButton);
  ASSERT_EQ(ui->urls.size(), 1u);
  EXPECT_EQ(ui->urls[0].toString(), AForm->Address());
  // The build tree holds the manual at that address, as an installation does.
  EXPECT_TRUE(QFileInfo::exists(ui->urls[0].toLocalFile()));

  ui->onDialog = [](QDialog* dialog) {
    QTest::mouseClick(AForm->Button1, Qt::LeftButton);
    return dialog->result();
  };
  MForm->MIAppClick();
  ASSERT_EQ(ui->dialogs.size(), 1u);
  EXPECT_EQ(ui->dialogs[0], AForm);
  EXPECT_EQ(AForm->result(), QDialog::Accepted);
  SaveScreenshot(AForm, QStringLiteral("about.png"));
}

TEST_F(AppTest, QtsOwnDialogsSpeakJapanese) {
  // The real open dialog, as Open shows it; read while it is up, then cancelled.
  QString cancel, accept, title;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    const auto* buttons = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    cancel = buttons->button(QDialogButtonBox::Cancel)->text();
    for (QAbstractButton* b : buttons->buttons()) {
      if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) accept = b->text();
    }
    title = dialog->windowTitle();
    static_cast<QDialog*>(dialog)->reject();
  });
  UiSeam real;
  EXPECT_TRUE(
      real.GetOpenFileName(MForm, dir.path(), Qs("wavファイル (*.wav)"), Qs("wav")).isEmpty());
  EXPECT_EQ(cancel, Qs("キャンセル"));
  EXPECT_EQ(title, Qs("開く"));
  EXPECT_TRUE(accept.contains(Qs("開く"))) << accept.toStdString();
}
