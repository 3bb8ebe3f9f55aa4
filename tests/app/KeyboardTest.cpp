#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "KVEL_RepTime.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/ErrorDisplay.h"

namespace {

class KeyboardTest : public AppTest {
 protected:
  void Type(QWidget* target, const std::string& keys) {
    for (const char c : keys) {
      if (c == '\r') {
        QTest::keyClick(target, Qt::Key_Return);
      } else if (c == '\b') {
        QTest::keyClick(target, Qt::Key_Backspace);
      } else {
        QTest::keyClick(target, c);
      }
    }
  }
  std::string Screen() const {
    std::ostringstream out;
    form_->ComTerminal1->WriteScreenText(out);
    return out.str();
  }
  void Activate() {
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> entries;
    for (int i = 0; i < form_->ComboBox1->count(); ++i)
      entries.push_back(form_->ComboBox1->itemText(i).toStdString());
    return entries;
  }
};

TEST_F(KeyboardTest, TypedLineGoesOutAsTypedAndIsRecordedWithoutHashDollarStar) {
  TForm1& form = Start();
  form.MUXMU1Click();
  line_->TakeReceived();
  Type(form.ComTerminal1, "H2#3$*\r");
  EXPECT_EQ(line_->TakeReceived(), "H2#3$*\r");
  EXPECT_NE(Screen().find("H2#3$*"), std::string::npos);
  EXPECT_EQ(form.ComTerminal1->CursorCol(), 1);  // CR LF shown for Enter
  ASSERT_EQ(Entries(), std::vector<std::string>{"H23"});
  EXPECT_EQ(form.ComboBox1->currentIndex(), 0);

  form.RepeatButton4->click();
  EXPECT_EQ(line_->TakeReceived(), "H23\r\n");
  // Backspace goes out and removes the last recorded character.
  Type(form.ComTerminal1, "AB\bC\r");
  EXPECT_EQ(line_->TakeReceived(), "AB\bC\r");
  EXPECT_EQ(Entries().front(), "AC");
}

TEST_F(KeyboardTest, UnitTypesWithoutTerminalKeysSendNothingButRepeatAndMacrosStillSend) {
  TForm1& form = Start();
  MacroText[1] = "M1";
  for (const int type : {1, 2, 3, 8}) {
    UnitType = type;
    line_->TakeReceived();
    const std::string before = Screen();
    Type(form.ComTerminal1, "H23\r");
    EXPECT_EQ(line_->TakeReceived(), "") << type;
    EXPECT_EQ(Screen(), before) << type;
    EXPECT_EQ(form.ComboBox1->count(), 0) << type;
    form.RepeatButton4Click();
    form.SendMacro(1);
    EXPECT_EQ(line_->TakeReceived(), "\r\n M1") << type;
  }
}

TEST_F(KeyboardTest, HistoryKeepsSixteenNewestFirstAndIgnoresCase) {
  TForm1& form = Start();
  UnitType = 6;
  // An empty line is recorded once, like any other; a second Enter records the same line.
  Type(form.ComTerminal1, "\r\r");
  EXPECT_EQ(Entries(), std::vector<std::string>{""});
  for (int n = 1; n <= 17; ++n) Type(form.ComTerminal1, "h" + std::to_string(n) + "\r");
  Type(form.ComTerminal1, "H17\r");
  ASSERT_EQ(form.ComboBox1->count(), 16);
  EXPECT_EQ(Entries().front(), "h17");
  EXPECT_EQ(Entries().back(), "h2");
}

TEST_F(KeyboardTest, ErrRunsTheReportAndIsRecordedOnlyForDrives) {
  TForm1& form = Start();
  int reports = 0;
  form.OnXmuErrorReport = [&reports] { ++reports; };
  form.OnDriveErrorReport = [&reports] { reports += 10; };
  UnitType = 4;
  Type(form.ComTerminal1, "eRr\r");
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(form.ComboBox1->count(), 0);
  UnitType = 7;
  Type(form.ComTerminal1, "err\r");
  EXPECT_EQ(reports, 11);
  EXPECT_EQ(Entries(), std::vector<std::string>{"err"});
}

TEST_F(KeyboardTest, CommandBufferEnterAddsSortedAndSendsNothing) {
  TForm1& form = Start();
  UnitType = 5;
  Type(form.ComTerminal1, "m1\r");
  line_->TakeReceived();
  form.ComboBox1->setEditText(QStringLiteral("Alpha"));
  Type(form.ComboBox1, "\r");
  form.ComboBox1->setEditText(QStringLiteral("ALPHA"));
  Type(form.ComboBox1, "\r");
  form.ComboBox1->setEditText(QStringLiteral("zed"));
  Type(form.ComboBox1, "x\r");
  EXPECT_EQ(line_->TakeReceived(), "");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Alpha", "m1", "zedx"}));
  EXPECT_EQ(form.ComboBox1->currentText().toStdString(), "zedx");
  form.RepeatButton4Click();
  EXPECT_EQ(line_->TakeReceived(), "m1\r\n");

  form.ComboBox1->showPopup();
  form.ComboBox1->view()->setCurrentIndex(form.ComboBox1->model()->index(0, 0));
  QTest::keyClick(form.ComboBox1->view(), Qt::Key_Delete);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"m1", "zedx"}));
  form.ComboBox1->hidePopup();

  const std::string file = Folder() + "/buffer.txt";
  kvel::SetFileDialogHook([&file](const kvel::FileDialogRequest&) { return file; });
  form.Save1->trigger();
  form.ClearAll1->trigger();
  EXPECT_EQ(form.ComboBox1->count(), 0);
  EXPECT_EQ(form.ComboBox1->currentText().toStdString(), "Command buffer");
  form.Load1->trigger();
  kvel::SetFileDialogHook({});
  EXPECT_EQ(Entries(), (std::vector<std::string>{"m1", "zedx"}));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "m1\r\nzedx\r\n");
}

// Fast typing presses the next key before the previous one is released.
TEST_F(KeyboardTest, OverlappingKeysInTheCommandBufferAreAllSeen) {
  TForm1& form = Start();
  UnitType = 5;
  form.SpeedButton3Click();
  form.ComboBox1->setEditText(QString());
  QTest::keyPress(form.ComboBox1, Qt::Key_H);
  QTest::keyPress(form.ComboBox1, Qt::Key_2);
  QTest::keyRelease(form.ComboBox1, Qt::Key_H);
  QTest::keyPress(form.ComboBox1, Qt::Key_3);
  QTest::keyPress(form.ComboBox1, Qt::Key_Return);
  QTest::keyRelease(form.ComboBox1, Qt::Key_2);
  QTest::keyRelease(form.ComboBox1, Qt::Key_3);
  QTest::keyRelease(form.ComboBox1, Qt::Key_Return);
  EXPECT_EQ(Entries(), std::vector<std::string>{"h23"});
  std::ifstream in(Folder() + "/KVEL.LOG", std::ios::binary);
  const std::string log(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(log.find("h23\r"), std::string::npos) << log;

  // Keys the grid lets through travel on to its parents and still reach no port.
  form.SpeedButton1Click();
  form.StringGrid1->setFocus();
  line_->TakeReceived();
  QTest::keyPress(form.StringGrid1, Qt::Key_Return);
  QTest::keyPress(form.StringGrid1, Qt::Key_Escape);
  QTest::keyRelease(form.StringGrid1, Qt::Key_Return);
  QTest::keyRelease(form.StringGrid1, Qt::Key_Escape);
  EXPECT_EQ(line_->TakeReceived(), "");
}

TEST_F(KeyboardTest, RepeatWithNothingSelectedSendsOnlyTheLineEnd) {
  TForm1& form = Start();
  Activate();
  line_->TakeReceived();
  QTest::keyClick(form.ComTerminal1, Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(line_->TakeReceived(), "\r\n");
}

TEST_F(KeyboardTest, MacrosSendABlankAndTheTextWithTokensAndWait) {
  TForm1& form = Start();
  MacroText[3] = "L48 20 H14";
  MacroText[4] = "ESCREV";
  Activate();
  line_->TakeReceived();
  clock_.ClearCalls();
  QTest::keyClick(form.ComTerminal1, Qt::Key_3, Qt::AltModifier);
  EXPECT_EQ(line_->TakeReceived(), " L48 20 H14");
  EXPECT_EQ(clock_.Calls(), std::vector<int>{100});
  QTest::keyClick(form.ComTerminal1, Qt::Key_4, Qt::AltModifier);
  EXPECT_EQ(line_->TakeReceived(), " \033REV");
}

TEST_F(KeyboardTest, AutoRepeatTicksWithTheDelayUntilAKeyIsTyped) {
  TForm1& form = Start();
  UnitType = 5;
  form.Timer1Timer();  // the first tick, which starts the receive poll
  RepeatDelay = 250;
  form.Autorepeat1Click();
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 250);
  line_->TakeReceived();
  form.Timer1Timer();
  EXPECT_EQ(line_->TakeReceived(), "\r\n");
  Type(form.ComTerminal1, "x");
  EXPECT_FALSE(form.AutoRepeat);
  EXPECT_FALSE(form.Timer1->isActive());

  RepeatDelay = 0;
  form.Autorepeat1Click();
  EXPECT_FALSE(form.Timer1->isActive());
}

// Real ticks of Timer1: a repeat that fails (adapter pulled, port closed) must not put up a
// new error box at every tick, nor may repeats go on once the window is closed.
TEST_F(KeyboardTest, AutoRepeatStopsAtAFailureAndAtClose) {
  TForm1& form = Start();
  RepeatDelay = 5;
  form.Autorepeat1Click();
  form.ComPort1.ClosePort();
  QTest::qWait(80);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("WriteFile function failed", 0), 0u) << boxes_[0].text;
  EXPECT_FALSE(form.AutoRepeat);
  EXPECT_FALSE(form.Timer1->isActive());

  boxes_.clear();
  form.ComPort1.OpenPort();
  form.Autorepeat1Click();
  std::string repeated;
  for (int i = 0; i < 400 && repeated.empty(); ++i) {
    QTest::qWait(5);
    repeated = line_->TakeReceived();
  }
  EXPECT_EQ(repeated.substr(0, 2), "\r\n");
  form.close();
  line_->TakeReceived();
  QTest::qWait(50);
  EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
  EXPECT_EQ(line_->TakeReceived(), "");
  EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(KeyboardTest, RepeatSetupTakesDigitsOnlyAndEnterConfirms) {
  TForm1& form = Start();
  form.move(100, 80);
  TForm2* seen = nullptr;
  QPoint place;
  int width = 0;
  QString shown;
  auto drive = [&](const char* keys) {
    QTimer::singleShot(0, [&, keys] {
      seen = qobject_cast<TForm2*>(QApplication::activeModalWidget());
      if (seen == nullptr) return;
      shown = seen->Edit1->text();
      place = seen->pos();
      width = seen->width();
      seen->Edit1->clear();
      QTest::keyClicks(seen->Edit1, QString::fromLatin1(keys));
      QTest::keyClick(seen->Button1, Qt::Key_Return);
    });
  };
  drive("12ab3");
  form.RepSetupClick();
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(shown.toStdString(), "1000");
  EXPECT_EQ(RepeatDelay, 123);
  const QRect main = form.frameGeometry();
  EXPECT_EQ(place, QPoint(main.left() + (main.width() - width) / 2,
                          main.top() + (main.height() - 100) / 2 + 20));

  drive("70000");
  kvel::Guarded([&form] { form.RepSetupClick(); });
  EXPECT_EQ(RepeatDelay, 123);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].text.find("65535"), std::string::npos);
}

}  // namespace
