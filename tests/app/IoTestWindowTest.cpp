#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <sstream>

#include "AppTestSupport.h"
#include "Config.h"
#include "KVELIoTestHost.h"
#include "KVEL_Var.h"
#include "MemoryPeer.h"
#include "Transcript.h"
#include "iotest/KVEL_QN4KIO.h"
#include "iotest/KVEL_XMU_IO.h"
#include "iotest/ZorvIOTest.h"
#include "terminal/CPortCtl.h"

namespace {

// The main window with a simulated unit on COM1: its I/O test command, the error reports
// that a typed ERR starts, and closing while a test window runs.
class IoTestWindowTest : public AppTest {
 protected:
  void TearDown() override {
    if (line_) line_->SetPeer(nullptr);
    AppTest::TearDown();
  }
  TForm1& StartWith(const std::string& statements, int unitType) {
    sim_.ApplyText(statements, "test");
    peer_ = std::make_unique<kvel::sim::MemoryPeer>(*sim_.lines.front().line);
    line_->SetPeer(peer_.get());
    WriteIni("[MainSection]\r\nControl Type =" + std::to_string(unitType) + "\r\n");
    return Start();
  }
  std::string Sent() {
    return peer_->WithLine([](kvel::sim::Line& l) {
      return l.transcript().Bytes(kvel::sim::Transcript::Direction::Received);
    });
  }
  std::string Screen() const {
    std::ostringstream out;
    form_->ComTerminal1->WriteScreenText(out);
    return out.str();
  }
  // Runs `action` on the modal test window once it is up.
  template <typename Window>
  void WhenOpen(std::function<void(Window&)> action) {
    QTimer::singleShot(0, [this, action] {
      auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
      ASSERT_NE(window, nullptr);
      opened_ = window->windowTitle().toStdString();
      action(*window);
    });
  }

  kvel::sim::SimConfig sim_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
  std::string opened_;
  int polls_ = 0;
  bool asked_ = false;
};

TEST_F(IoTestWindowTest, IoTestOpensTheWindowOfTheUnitTypeAndThenRestartsThePoll) {
  TForm1& form = StartWith("indexer 1 xmu", 5);
  EXPECT_FALSE(form.IoTests().DriveErrorForm().isVisible());  // created at start, hidden
  WhenOpen<TXMU_IO_Form>([](TXMU_IO_Form& window) { window.Button1->click(); });
  RunFlag = 0;
  form.IOButton2->click();
  EXPECT_EQ(opened_, " (X)MU   I/O Test ");
  EXPECT_EQ(RunFlag, 0);  // the restarted poll ran one round and was ended by the test
  EXPECT_NE(Sent().find("Z90 9 \r"), std::string::npos);

  for (const auto& [type, title] : {std::pair{6, " GRV I/O Test "}, {7, " ZorvDrive I/O Test "}}) {
    UnitType = type;
    opened_.clear();
    WhenOpen<TZorvIOForm>([](TZorvIOForm& window) { window.StopBtn->click(); });
    form.N101->trigger();  // Alt+T
    EXPECT_EQ(opened_, title);
  }

  UnitType = 4;
  opened_.clear();
  WhenOpen<TQN4K_IO_Form>([](TQN4K_IO_Form& window) { window.Button1->click(); });
  form.IOButton2Click();
  EXPECT_EQ(opened_, " QN4100I I/O Test");

  // Types without a test window only restart the poll.
  clock_.AddMessageHook([this] { ++polls_; });
  for (const int type : {1, 2, 3, 8}) {
    UnitType = type;
    RunFlag = 0;
    const int before = polls_;
    form.IOButton2Click();
    EXPECT_GT(polls_, before) << type;
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST_F(IoTestWindowTest, ErrTypedWithAnXmuWritesTheErrorReport) {
  TForm1& form = StartWith("indexer 1 xmu h85=00100000 h87=12", 5);
  for (const char c : std::string("err")) QTest::keyClick(form.ComTerminal1, c);
  QTest::keyClick(form.ComTerminal1, Qt::Key_Return);
  EXPECT_NE(Screen().find("Reporting XMU E XMU VORTAN V2.1 error -"), std::string::npos);
  EXPECT_NE(Screen().find("H85 : 00100000   CCW Software Limit exceeded"), std::string::npos)
      << Screen();
  EXPECT_NE(Screen().find("H87 : 12      Error at line number : 12"), std::string::npos);
  EXPECT_EQ(Sent(), "err\rH23\rH85\rH86\rH87\r");
  EXPECT_EQ(form.ComboBox1->count(), 0);  // not recorded
}

TEST_F(IoTestWindowTest, ErrTypedWithADriveDecodesItsAnswer) {
  TForm1& form = StartWith("drive zorv error=12", 7);
  for (const char c : std::string("ERR")) QTest::keyClick(form.ComTerminal1, c);
  QTest::keyClick(form.ComTerminal1, Qt::Key_Return);
  EXPECT_NE(Screen().find("Error #12 : Motion occuring when program ended"), std::string::npos)
      << Screen();
  EXPECT_EQ(form.ComboBox1->count(), 1);  // recorded for the drives
}

TEST_F(IoTestWindowTest, ClosingTheMainWindowDuringTheDriveLoopSwitchesTheDriveOffFirst) {
  TForm1& form = StartWith("drive grv", 6);
  WhenOpen<TZorvIOForm>([this](TZorvIOForm& window) {
    clock_.AddMessageHook([this] {
      if (asked_ || Sent().find("ledtest") == std::string::npos) return;
      asked_ = true;
      form_->close();
    });
    window.Button2->click();  // Start
  });
  form.IOButton2Click();
  EXPECT_TRUE(asked_);
  EXPECT_EQ(opened_, " GRV I/O Test ");
  const std::string sent = Sent();
  EXPECT_NE(sent.rfind("TORQUE=0\rSERVOOUT=1\rTORQUE=0\rWNDGS=0\r"), std::string::npos);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_NE(IniText().find("Control Type =6"), std::string::npos);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(IoTestWindowTest, ClosingTheMainWindowOverAnOpenXmuWindowRunsItsExit) {
  TForm1& form = StartWith("indexer 1 xmu", 5);
  WhenOpen<TXMU_IO_Form>([&form](TXMU_IO_Form&) { form.close(); });
  form.IOButton2Click();
  EXPECT_NE(Sent().find("Z90 9\n\rZ90 9 \r"), std::string::npos);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_NE(IniText().find("Control Type =5"), std::string::npos);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(IoTestWindowTest, ClosingTheMainWindowDuringTheQn4100IPollingEndsIt) {
  TForm1& form = StartWith("indexer 3 qn4100i", 4);
  WhenOpen<TQN4K_IO_Form>([this](TQN4K_IO_Form& window) {
    clock_.AddMessageHook([this] {
      if (asked_ || Sent().find("N000") == std::string::npos) return;
      asked_ = true;
      form_->close();
    });
    window.FormActivate();
  });
  form.IOButton2Click();
  EXPECT_TRUE(asked_);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_NE(IniText().find("Control Type =4"), std::string::npos);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
