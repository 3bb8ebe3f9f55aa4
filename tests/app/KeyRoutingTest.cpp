// Which keys reach the line, and what changes the command buffer's selected entry.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sstream>

#include "AppTestSupport.h"
#include "KVEL_RepTime.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"

namespace {

class KeyRoutingTest : public AppTest {
 protected:
  void Activate() {
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  std::string Screen() const {
    std::ostringstream out;
    form_->ComTerminal1->WriteScreenText(out);
    return out.str();
  }
  void Enter(QWidget* target) { QTest::keyClick(target, Qt::Key_Return); }
};

TEST_F(KeyRoutingTest, OnlyTheUsersChoiceChangesTheSelectedCommand) {
  TForm1& form = Start();
  UnitType = 5;
  Activate();
  line_->TakeReceived();
  QComboBox& buffer = *form.ComboBox1;

  // An entry added in the edit field of an empty buffer is listed, not selected.
  buffer.setEditText(QStringLiteral("Alpha"));
  Enter(&buffer);
  ASSERT_EQ(buffer.count(), 1);
  EXPECT_EQ(buffer.currentIndex(), -1);
  form.RepeatButton4Click();
  EXPECT_EQ(line_->TakeReceived(), "\r\n");

  // A recorded line is selected; leaving the edit field with the text of another entry
  // (other letter case) does not select that one.
  QTest::keyClicks(form.ComTerminal1, QStringLiteral("h23"));
  Enter(form.ComTerminal1);
  ASSERT_EQ(buffer.itemText(buffer.currentIndex()).toStdString(), "h23");
  buffer.setFocus();
  buffer.lineEdit()->clear();
  QTest::keyClicks(&buffer, QStringLiteral("ALPHA"));
  form.ComTerminal1->setFocus();
  QApplication::processEvents();
  ASSERT_FALSE(buffer.hasFocus());
  line_->TakeReceived();
  form.RepeatButton4Click();
  EXPECT_EQ(line_->TakeReceived(), "h23\r\n");

  // Deleting the selected entry leaves none selected: auto-repeat sends no neighbour.
  buffer.showPopup();
  const int selected = buffer.currentIndex();
  buffer.view()->setCurrentIndex(buffer.model()->index(selected, 0));
  QTest::keyClick(buffer.view(), Qt::Key_Delete);
  buffer.hidePopup();
  ASSERT_EQ(buffer.count(), 1);
  EXPECT_EQ(buffer.currentIndex(), -1);
  form.Autorepeat1Click();
  form.Timer1Timer();
  EXPECT_EQ(line_->TakeReceived(), "\r\n");
}

TEST_F(KeyRoutingTest, RepeatSetupFieldLetsEscCancelAndDeleteDelete) {
  TForm1& form = Start();
  QString afterDelete;
  bool escClosed = true;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TForm2*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->Edit1->setFocus();
    dialog->Edit1->setText(QStringLiteral("2500"));
    dialog->Edit1->setCursorPosition(0);
    QTest::keyClick(dialog->Edit1, Qt::Key_Delete);
    afterDelete = dialog->Edit1->text();
    QTest::keyClick(dialog->Edit1, Qt::Key_Escape);
    if (dialog->isVisible()) {
      escClosed = false;
      dialog->accept();
    }
  });
  form.RepSetupClick();
  EXPECT_EQ(afterDelete.toStdString(), "500");
  EXPECT_TRUE(escClosed);
  EXPECT_EQ(RepeatDelay, 1000);
}

TEST_F(KeyRoutingTest, KeysThatMenusAndDialogsTakeNeverReachTheLine) {
  TForm1& form = Start();
  UnitType = 5;
  Activate();
  line_->TakeReceived();

  // Esc closing a menu, and Esc that ends the menu bar's keyboard mode.
  form.menuBar()->setActiveAction(form.Setup1->menuAction());
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  QTest::keyClick(menu, Qt::Key_Escape);
  QTest::keyClick(form.menuBar(), Qt::Key_Escape);
  EXPECT_EQ(line_->TakeReceived(), "");

  // Enter chooses an item of the command buffer's pop-up menu instead of adding its text.
  QTest::keyClicks(form.ComTerminal1, QStringLiteral("h1"));
  Enter(form.ComTerminal1);
  line_->TakeReceived();
  form.PopupMenu1->popup(form.ComboBox1->mapToGlobal(QPoint(4, 4)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.PopupMenu1));
  form.PopupMenu1->setActiveAction(form.ClearAll1);
  QTest::keyClick(form.PopupMenu1, Qt::Key_Return);
  EXPECT_EQ(form.ComboBox1->count(), 0);

  // A key that reaches the window while a dialog of it is modal.
  QDialog dialog(&form);
  QTimer::singleShot(0, [&] {
    QTest::keyClick(form.ComTerminal1, Qt::Key_Escape);
    QTest::keyClick(form.ComTerminal1, Qt::Key_X);
    dialog.reject();
  });
  dialog.exec();
  EXPECT_EQ(line_->TakeReceived(), "");

  // The terminal itself still sends.
  QTest::keyClick(form.ComTerminal1, Qt::Key_Escape);
  EXPECT_EQ(line_->TakeReceived(), "\033");
}

// The tick that starts the receive poll comes one second after creation, whatever is typed.
TEST_F(KeyRoutingTest, AKeyTypedInTheFirstSecondLeavesThePollStartAlone) {
  form_ = std::make_unique<TForm1>();
  TForm1& form = *form_;
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&form] { return form.FormShowDone(); }, 5000));
  ASSERT_EQ(UnitType, 4);
  QTest::keyClick(form.ComTerminal1, Qt::Key_X);
  EXPECT_EQ(line_->TakeReceived().substr(0, 1), "x");
  EXPECT_TRUE(form.Timer1->isActive());
  line_->Send("ready>");
  EXPECT_TRUE(
      QTest::qWaitFor([this] { return Screen().find("ready>") != std::string::npos; }, 5000));

  // Auto-repeat started before that tick and stopped by typing still lets the poll start.
  form_.reset();
  form_ = std::make_unique<TForm1>();
  form_->show();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  RepeatDelay = 250;
  form_->Autorepeat1Click();
  QTest::keyClick(form_->ComTerminal1, Qt::Key_Y);
  EXPECT_FALSE(form_->AutoRepeat);
  EXPECT_TRUE(form_->Timer1->isActive());
  EXPECT_EQ(form_->Timer1->interval(), kPollStartMs);
  form_->Timer1->stop();
}

}  // namespace
