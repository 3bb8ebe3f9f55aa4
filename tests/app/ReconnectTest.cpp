#include <fcntl.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "AppTestSupport.h"
#include "KVEL_Var.h"
#include "PtyPair.h"
#include "Termios2.h"
#include "serial/PortKeeper.h"
#include "terminal/CPortCtl.h"

namespace {

std::string TerminalScreen(const kvel::TComTerminal& terminal) {
  std::ostringstream out;
  terminal.WriteScreenText(out);
  return out.str();
}

class ReconnectTest : public AppTest {
 protected:
  TForm1& StartPolling() {
    TForm1& form = Start();
    endPolls_ = false;
    form.DisplayTap = [this](const std::string& text) { shown_ += text; };
    return form;
  }
  void PollFor(int ms) {
    clock_.ScheduleAt(clock_.NowMs() + ms, [] { RunFlag = 0; });
    form_->PollReceive();
  }
  std::string shown_;
};

TEST_F(ReconnectTest, TheReceivePollWaitsForAnUnpluggedLineAndReadsAgainOnceItIsBack) {
  WriteIni("[QN4100I]\r\nBaudrate=19200\r\n");
  TForm1& form = StartPolling();
  line_->Send("before");
  const std::int64_t unplugAt = clock_.NowMs() + 250;
  clock_.ScheduleAt(unplugAt, [this] { line_->Unplug(); });
  // The sleeping poll hears of the loss from the line itself, not at its next look.
  std::string stateSoonAfter;
  clock_.ScheduleAt(unplugAt + 20, [&] { stateSoonAfter = Panel(0); });
  PollFor(3000);
  EXPECT_EQ(stateSoonAfter, " COM1 unplugged");
  EXPECT_EQ(shown_, "before");
  EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
  EXPECT_FALSE(form.ComPort1.Connected());
  EXPECT_EQ(Panel(0), " COM1 unplugged");
  EXPECT_EQ(form.Panels[0]->toolTip().toStdString(), " COM1 unplugged");

  // Ten seconds away cost ten looks, one a second, and the poll wakes for nothing else.
  const std::uint64_t looks = form.PortKeeping().Looks();
  clock_.ClearCalls();
  PollFor(10000);
  EXPECT_LE(form.PortKeeping().Looks() - looks, 11u);
  const std::vector<int>& calls = clock_.Calls();
  EXPECT_LE(std::count(calls.begin(), calls.end(), -1), 11);

  clock_.ScheduleAt(clock_.NowMs() + 300, [this] { line_->Replug(); });
  clock_.ScheduleAt(clock_.NowMs() + 1400, [this] { line_->Send("after"); });
  PollFor(2000);
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(Panel(0), " COM1 19200 8 None 1");
  EXPECT_EQ(line_->LastDcb().baudRate, 19200u);
  EXPECT_EQ(shown_, "beforeafter");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ReconnectTest, KeysTypedWhileUnpluggedAreNeitherSentNorEchoedAndNoticedOnce) {
  TForm1& form = StartPolling();
  clock_.ScheduleAt(clock_.NowMs() + 50, [this] { line_->Unplug(); });
  PollFor(200);
  ASSERT_TRUE(form.PortKeeping().Waiting());
  const std::string screen = TerminalScreen(*form.ComTerminal1);
  for (const char key : std::string("abc\r"))
    form.FormKeyPress(form.ComTerminal1, static_cast<std::uint8_t>(key));
  form.RepeatButton4Click();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(TerminalScreen(*form.ComTerminal1), screen);
  EXPECT_EQ(Panel(0), " COM1 unplugged; typed keys are not sent");
  EXPECT_EQ(form.CommandLine, "");

  line_->Replug();
  PollFor(1000);
  ASSERT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(line_->TakeReceived(), "");  // nothing was kept to go out later
  form.FormKeyPress(form.ComTerminal1, 'x');
  EXPECT_EQ(line_->TakeReceived(), "x");
  EXPECT_EQ(Panel(0), " COM1 9600 8 None 1");
}

// A command that needs the line while the adapter is away says why it failed, not only which
// call: the error alone reads as if the program had a fault.
TEST_F(ReconnectTest, ACommandWhileUnpluggedSaysThePortWaitsForItsDevice) {
  TForm1& form = StartPolling();
  form.ComboBox2->addItem(QStringLiteral("# 3 = XMU 2.1"));
  form.ComboBox2->setCurrentIndex(0);
  clock_.ScheduleAt(clock_.NowMs() + 50, [this] { line_->Unplug(); });
  PollFor(200);
  ASSERT_TRUE(form.PortKeeping().Waiting());
  Q_EMIT form.ComboBox2->activated(0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "WriteFile function failed (win error code: 9) - COM1 unplugged");

  line_->Replug();
  PollFor(1000);
  ASSERT_TRUE(form.ComPort1.Connected());
  line_->TakeReceived();
  Q_EMIT form.ComboBox2->activated(0);
  EXPECT_EQ(line_->TakeReceived(), "<3? \n\r");
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(ReconnectTest, AKeyThatMeetsTheLossFirstShowsNoBox) {
  TForm1& form = Start();
  line_->Unplug();
  form.FormKeyPress(form.ComTerminal1, 'q');
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(form.PortKeeping().Waiting());
  EXPECT_EQ(Panel(0), " COM1 unplugged; typed keys are not sent");
  EXPECT_EQ(TerminalScreen(*form.ComTerminal1).find('q'), std::string::npos);
  // Exit while the device is away: the port is not opened again only to report it.
  form_->close();
  EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
}

TEST_F(ReconnectTest, APollThatHadEndedRunsAgainAfterTheReturn) {
  TForm1& form = Start();
  form.Timer1Timer();  // the first tick: the poll runs (one round here) and ends
  line_->Unplug();
  form.FormKeyPress(form.ComTerminal1, 'q');
  ASSERT_TRUE(form.PortKeeping().Waiting());
  line_->Replug();
  std::string shown;
  form.DisplayTap = [&shown](const std::string& text) { shown += text; };
  clock_.Advance(1000);
  form.ServePort();  // as the port's timer does
  ASSERT_TRUE(form.ComPort1.Connected());
  line_->Send("back");
  EXPECT_EQ(shown, "");
  QCoreApplication::processEvents();  // the restarted poll's first round
  EXPECT_EQ(shown, "back");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ReconnectTest, APortThatDidNotOpenSaysWhyAndTheUnitTypeIsAppliedAllTheSame) {
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);
  WriteIni("[MainSection]\r\nControl Type =5\r\n");
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(Panel(0), " COM1 closed: busy");
  EXPECT_EQ(Caption(), " KVEL      MU / XMU Indexers");
  EXPECT_EQ(Panel(1), " EXT PGM");
  EXPECT_FALSE(form.PortKeeping().Waiting());
  // A failed open is the user's to mend: nothing tries it again meanwhile.
  other.reset();
  endPolls_ = false;
  PollFor(3000);
  EXPECT_FALSE(form.ComPort1.Connected());
  EXPECT_EQ(boxes_.size(), 1u);

  ComPortNumber = 7;  // no device is known as COM7
  EXPECT_THROW(form.ApplyPortSettings(), EComPort);
  EXPECT_EQ(Panel(0), " COM7 closed: no device");
}

TEST_F(ReconnectTest, AnAdapterBehindALinkIsReopenedOnTheNewDeviceWithTheSameRate) {
  kvel::test::PtyPair first;
  const std::string link = Folder() + "/adapter";
  std::filesystem::create_symlink(first.SlavePath(), link);
  kvel::UnregisterMemoryLine("COM1");
  ::setenv("KVEL_COM1", link.c_str(), 1);
  WriteIni("[QN4100I]\r\nBaudrate=4800\r\n");
  TForm1& form = StartPolling();
  ::unsetenv("KVEL_COM1");
  ASSERT_TRUE(form.ComPort1.Connected());

  first.CloseMaster();
  // The loss reaches the port from its reader thread: rounds of the poll until it has.
  for (int i = 0; i < 400 && form.ComPort1.Connected(); ++i) {
    PollFor(100);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Panel(0), " COM1 unplugged: waiting for " + link);
  EXPECT_GT(form.Panels[0]->sizeHint().width(), 150);  // a state takes the room the bar has
  EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;

  kvel::test::PtyPair second;
  std::filesystem::remove(link);
  std::filesystem::create_symlink(second.SlavePath(), link);
  PollFor(1100);
  ASSERT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(Panel(0), " COM1 4800 8 None 1");
  EXPECT_LT(form.Panels[0]->sizeHint().width(), 150);
  kvel::TermiosSettings settings;
  {
    const int fd = ::open(second.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    kvel::GetTermios2(fd, &settings);
    ::close(fd);
  }
  EXPECT_EQ(settings.speed, 4800u);
  form.FormKeyPress(form.ComTerminal1, 'k');
  EXPECT_EQ(second.Read(1), "k");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
