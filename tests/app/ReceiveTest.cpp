#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "AppTestSupport.h"
#include "KVEL_Events.h"
#include "KVEL_Var.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"
#include "terminal/CPortCtl.h"
#include "ui/Clock.h"
#include "ui/ErrorDisplay.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ReceiveTest : public AppTest {
 protected:
  TForm1& StartPolling() {
    TForm1& form = Start();
    endPolls_ = false;
    form.DisplayTap = [this](const std::string& text) { shown_ += text; };
    return form;
  }
  // Runs the poll of the current unit type until `stopAt` (virtual ms from now).
  void PollFor(int stopAtMs) {
    clock_.ScheduleAt(clock_.NowMs() + stopAtMs, [] { RunFlag = 0; });
    form_->PollReceive();
  }
  std::string LogFile() const { return ReadAll(Folder() + "/KVEL.LOG"); }
  // The line's far end hands its bytes over only when the port looks at it, as a device
  // without an input notice does.
  void LookOnly() {
    line_->SetPeer(&peer_);
    ASSERT_FALSE(form_->ComPort1.TellsOfInput());
  }
  void TearDown() override {
    line_->SetPeer(nullptr);
    AppTest::TearDown();
  }
  // What each round showed, with the virtual time it showed it.
  void RecordRounds() {
    form_->DisplayTap = [this](const std::string& text) {
      rounds_.emplace_back(clock_.NowMs(), text);
    };
  }
  int Rounds() const {
    const std::vector<int>& calls = clock_.Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), -1));
  }
  // The window with COM1 on `pty` and the terminal log switched on.
  TForm1& StartOnPtyWithTheLogOn(kvel::test::PtyPair& pty) {
    kvel::UnregisterMemoryLine("COM1");
    ::setenv("KVEL_COM1", pty.SlavePath().c_str(), 1);
    TForm1& form = StartPolling();
    ::unsetenv("KVEL_COM1");
    form.SpeedButton3Click();
    return form;
  }
  // Every byte value, in a pattern that does not repeat with the pty's buffer sizes.
  static std::string Pattern(std::size_t size, std::size_t step, std::size_t shift) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>((i * step + i / shift) & 0xFF);
    return data;
  }
  std::string shown_;
  kvel::test::ScriptedPeer peer_;
  std::vector<std::pair<std::int64_t, std::string>> rounds_;
};

using Shown = std::vector<std::pair<std::int64_t, std::string>>;

// A device that tells of its input: the poll sleeps until a byte comes or a handler runs.
TEST_F(ReceiveTest, ThePollSleepsWhileNothingArrivesAndAHandlerEndsTheWait) {
  TForm1& form = StartPolling();
  ASSERT_TRUE(form.ComPort1.TellsOfInput());
  clock_.ClearCalls();
  PollFor(10000);
  // One sleep, and one round when the handler ends it: a pace of any period would be more.
  EXPECT_EQ(clock_.Calls(), (std::vector<int>{10000, -1}));

  // A handler that stops the poll takes effect when it runs, not at the end of the sleep.
  const std::int64_t start = clock_.NowMs();
  clock_.ClearCalls();
  PollFor(2500);
  EXPECT_EQ(clock_.NowMs(), start + 2500);
  EXPECT_EQ(clock_.Calls(), (std::vector<int>{2500, -1}));
}

// A reply that comes in pieces is read in the round its first byte starts, a few
// milliseconds later, and shown whole; the next reply again wakes the poll at once.
TEST_F(ReceiveTest, ArrivalEndsTheWaitAndAReplyIsGatheredIntoOneRound) {
  TForm1& form = StartPolling();
  RecordRounds();
  const std::int64_t t = clock_.NowMs();
  clock_.ScheduleAt(t + 150, [this] { line_->Send("L48="); });
  clock_.ScheduleAt(t + 151, [this] { line_->Send("100"); });
  clock_.ScheduleAt(t + 153, [this] { line_->Send("\r\n"); });
  clock_.ScheduleAt(t + 720, [this] { line_->Send(">"); });
  PollFor(1000);
  ASSERT_EQ(rounds_.size(), 2u);
  EXPECT_EQ(rounds_[0].second, "L48=100\r\n");
  EXPECT_EQ(rounds_[1].second, ">");
  EXPECT_GE(rounds_[0].first, t + 153);
  EXPECT_LE(rounds_[0].first, t + 160);
  EXPECT_LE(rounds_[1].first, t + 730);
  (void)form;
}

// A device that streams (a byte every millisecond here) is read a frame's worth at a time,
// not in a round every few milliseconds; the first round still comes quickly.
TEST_F(ReceiveTest, AStreamIsReadInRoundsOfAFrameAndNothingIsLost) {
  TForm1& form = StartPolling();
  RecordRounds();
  const std::int64_t t = clock_.NowMs();
  std::string sent;
  for (int i = 0; i < 400; ++i) {
    const std::string byte(1, static_cast<char>('a' + i % 26));
    sent += byte;
    clock_.ScheduleAt(t + 100 + i, [this, byte] { line_->Send(byte); });
  }
  PollFor(1000);
  std::string shown;
  for (const auto& round : rounds_) shown += round.second;
  EXPECT_EQ(shown, sent);
  ASSERT_FALSE(rounds_.empty());
  EXPECT_LE(rounds_.front().first, t + 105);
  EXPECT_LE(rounds_.size(), 30u);  // 400 ms of stream; a round every 4 ms would be 80
  (void)form;
}

// Bytes that arrive while a round shows what it read come after the notice has been armed
// again: they wake the next wait and are not left for the long sleep (they are read with the
// gathering of a stream, within a frame).
TEST_F(ReceiveTest, BytesArrivingDuringARoundAreReadInTheNext) {
  TForm1& form = StartPolling();
  const std::int64_t t = clock_.NowMs();
  form.DisplayTap = [this](const std::string& text) {
    shown_ += text;
    if (text == "1") line_->Send("2");
    rounds_.emplace_back(clock_.NowMs(), text);
  };
  clock_.ScheduleAt(t + 100, [this] { line_->Send("1"); });
  PollFor(900);
  ASSERT_EQ(rounds_.size(), 2u);
  EXPECT_EQ(shown_, "12");
  EXPECT_LE(rounds_[1].first, rounds_[0].first + 44);
}

// A device that fills its queue only when the port looks at it is still read, every
// period, and nothing it sends is lost or waits for a notice that never comes.
TEST_F(ReceiveTest, ADeviceWithoutAnInputNoticeIsStillReadEveryPeriod) {
  TForm1& form = StartPolling();
  LookOnly();
  RecordRounds();
  peer_.Expect("H23\r", "=\r\n", 40);
  const std::int64_t t = clock_.NowMs();
  clock_.ScheduleAt(t + 130, [&form] { form.ComPort1.SendText("H23\r"); });
  clock_.ClearCalls();
  PollFor(1000);
  EXPECT_EQ(rounds_, (Shown{{t + 200, "=\r\n"}}));
  EXPECT_TRUE(peer_.Done());
  EXPECT_EQ(Rounds(), 10);
}

TEST_F(ReceiveTest, HexModeSpellsOutControlBytes) {
  TForm1& form = StartPolling();
  form.HEXMode1->trigger();
  EXPECT_TRUE(form.HEXMode1->isChecked());
  line_->Send("A\r\nB");
  clock_.ScheduleAt(clock_.NowMs() + 150, [this] { line_->Send("\x1e\x1f"); });
  PollFor(350);
  EXPECT_EQ(shown_, "A <$0D> <$0A>\n\rB <$1E>\x1f");
}

TEST_F(ReceiveTest, ReadsEveryHundredMillisecondsAndServesHandlersBetween) {
  TForm1& form = StartPolling();
  LookOnly();
  clock_.ClearCalls();
  PollFor(450);
  EXPECT_EQ(clock_.Calls(), (std::vector<int>{100, -1, 100, -1, 100, -1, 100, -1, 100, -1}));
  EXPECT_EQ(RunFlag, 0);
  (void)form;
}

TEST_F(ReceiveTest, ARoundThatReadsABacklogIsFollowedAtOnceByTheNext) {
  TForm1& form = StartPolling();
  LookOnly();
  form.ComPort1.Buffer().SetInputSize(1 << 20);
  std::string data(TForm1::kPollBacklogBytes + 1000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  line_->Send(data);
  clock_.ScheduleAt(clock_.NowMs() + 150, [this] { line_->Send("small"); });
  clock_.ClearCalls();
  PollFor(350);
  // Backlog: no wait. Short waits for one period after it, then the usual wait, also after
  // a round with a little in it.
  std::vector<int> expected{-1};
  for (int i = 0; i < 10; ++i) expected.insert(expected.end(), {10, -1});
  expected.insert(expected.end(), {100, -1, 100, -1});
  const std::vector<int> calls = clock_.Calls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<int>(calls.begin(), calls.begin() + static_cast<long>(expected.size())),
            expected);
  EXPECT_TRUE(shown_ == data + "small") << shown_.size();
}

TEST(PollWait, AWakeFromAnyThreadEndsTheWaitEarly) {
  using Clock = std::chrono::steady_clock;
  ASSERT_EQ(&kvel::CurrentClock(), &kvel::SystemClock());
  WaitWaker waker;
  // From another thread, while the wait runs.
  std::thread other([&waker] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    waker.Wake();
  });
  Clock::time_point start = Clock::now();
  WaitServingEvents(20000, &waker);
  other.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  // Before the wait: the next wait ends at once.
  waker.Wake();
  start = Clock::now();
  WaitServingEvents(20000, &waker);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  // Each wake ends one wait only.
  start = Clock::now();
  WaitServingEvents(40, &waker);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
}

// The poll's sleep on the real event loop: window events end it, a wake from the device's
// thread ends it and says so, and a wake that has been used up does not claim the next one.
TEST(PollWait, AnActivityWaitEndsOnWindowEventsAndOnAWake) {
  ASSERT_EQ(&kvel::CurrentClock(), &kvel::SystemClock());
  WaitWaker waker;
  bool served = false;
  bool late = false;  // the wait went on after the event, until this watchdog's tick
  QTimer::singleShot(0, [&served] { served = true; });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&late] { late = true; });
  watchdog.start(15000);
  EXPECT_FALSE(WaitForActivity(30000, waker));
  EXPECT_TRUE(served);
  EXPECT_FALSE(late);

  // Other events may end a wait before the wake comes; the wake then ends one of its own.
  std::thread device([&waker] { waker.Wake(); });
  bool woken = false;
  for (int i = 0; i < 100 && !woken && !late; ++i) woken = WaitForActivity(30000, waker);
  EXPECT_TRUE(woken);
  device.join();
  EXPECT_FALSE(late);
  // The wake's posted event is still on its way: it ends this wait as an event, not as a wake.
  waker.Wake();
  EXPECT_TRUE(WaitForActivity(30000, waker));
  EXPECT_FALSE(WaitForActivity(30000, waker));
  EXPECT_FALSE(late);
  EXPECT_FALSE(WaitForActivity(20, waker));
}

TEST_F(ReceiveTest, HiddenTerminalDropsDataUnlessHexModeIsOn) {
  TForm1& form = StartPolling();
  form.SpeedButton3->click();
  form.SpeedButton1Click();
  ASSERT_TRUE(form.ComTerminal1->isHidden());
  line_->Send("lost");
  PollFor(150);
  EXPECT_EQ(shown_, "");
  EXPECT_EQ(LogFile().find("lost"), std::string::npos);
  form.HEXMode1Click();
  line_->Send("kept\n");
  PollFor(150);
  EXPECT_EQ(shown_, "kept <$0A>\n\r");
  EXPECT_NE(LogFile().find("kept <$0A>\n\r"), std::string::npos);
}

TEST_F(ReceiveTest, LogButtonWritesStampLinesAndRecordsTypedAndShownText) {
  TForm1& form = StartPolling();
  UnitType = 5;
  form.SpeedButton3->click();
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is ON");
  QTest::keyClicks(form.ComTerminal1, QStringLiteral("ab"));
  QTest::keyClicks(form.ComboBox1, QStringLiteral("c"));
  form.ComTerminal1->PutText("not logged");
  form.DisplayText("shown");
  form.SpeedButton3->click();
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");
  form.DisplayText("after");
  const std::string log = LogFile();
  const std::string on = " \r\nLog ON : ";
  const std::string off = " \r\nLog OFF: ";
  ASSERT_EQ(log.rfind(on, 0), 0u) << log;
  const std::size_t body = log.find(" \r\n", on.size()) + 3;
  EXPECT_EQ(log.substr(body, log.find(off) - body), "abcshown");
  EXPECT_EQ(log.substr(log.size() - 3), " \r\n");
  EXPECT_EQ(log.find("after"), std::string::npos);
}

TEST_F(ReceiveTest, UnitTypeChangeEndsThePollAndNestedPollsEndTogether) {
  TForm1& form = StartPolling();
  // Type 2 chosen inside a type-5 poll: that poll ends and nothing more is shown.
  clock_.ScheduleAt(250, [&form] { form.RQMKQB21Click(); });
  form.MUXMU1Click();
  EXPECT_EQ(UnitType, 2);
  EXPECT_EQ(RunFlag, 1);
  line_->Send("late");
  clock_.Advance(500);
  EXPECT_EQ(shown_, "");

  // A poll started inside another: the outer one goes on only after the inner one returns.
  // (Each unit-type change reopens the port, so data is sent after it.)
  std::int64_t innerEnd = 0;
  clock_.ScheduleAt(clock_.NowMs() + 150, [this, &form, &innerEnd] {
    clock_.ScheduleAt(clock_.NowMs() + 50, [this] { line_->Send("1"); });
    clock_.ScheduleAt(clock_.NowMs() + 300, [] { RunFlag = 0; });
    form.QN4100I1Click();
    innerEnd = clock_.NowMs();
  });
  form.GRV1Click();
  EXPECT_GT(innerEnd, 0);
  EXPECT_EQ(UnitType, 4);
  EXPECT_EQ(shown_, "1");
}

// Every start request inside a running poll (unit-type items, Alt+T, the end of a scan) must
// not leave one more poll on the stack: held down or repeated for long, the stack would overflow.
TEST_F(ReceiveTest, StartRequestsInsideARunningPollTakeItOverInsteadOfNesting) {
  TForm1& form = StartPolling();
  std::vector<std::int64_t> returnedAt;
  for (int i = 1; i <= 5; ++i) {
    clock_.ScheduleAt(100 * i + 50, [&form, &returnedAt, this] {
      // The XMU test window opens first; it is dismissed at once, without its exit.
      QTimer::singleShot(0, [] {
        if (auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
          window->done(QDialog::Rejected);
        }
      });
      form.IOButton2Click();
      returnedAt.push_back(clock_.NowMs());
    });
  }
  // Type 4 chosen inside the type-5 poll: the same poll now reads for type 4.
  clock_.ScheduleAt(650, [&form, &returnedAt, this] {
    form.QN4100I1Click();
    returnedAt.push_back(clock_.NowMs());
  });
  clock_.ScheduleAt(700, [this] { line_->Send("after"); });
  clock_.ScheduleAt(1000, [] { RunFlag = 0; });
  form.MUXMU1Click();
  EXPECT_EQ(returnedAt, (std::vector<std::int64_t>{150, 250, 350, 450, 550, 650}));
  EXPECT_EQ(UnitType, 4);
  EXPECT_EQ(shown_, "after");
  EXPECT_EQ(clock_.NowMs(), 1000);
}

TEST_F(ReceiveTest, AnAdapterPulledDuringThePollShowsNoBoxAndThePollWaitsForIt) {
  TForm1& form = StartPolling();
  line_->Unplug();  // the adapter is pulled while the port is open
  clock_.ScheduleAt(clock_.NowMs() + 500, [] { RunFlag = 0; });
  kvel::Guarded([&form] { form.Timer1Timer(); });
  EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_EQ(Panel(0), " COM1 unplugged");
}

TEST_F(ReceiveTest, IOTestCommandRestartsThePollForEveryUnitType) {
  TForm1& form = StartPolling();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.RQMKQB21Click();
  line_->Send("x");
  clock_.ScheduleAt(clock_.NowMs() + 150, [] { RunFlag = 0; });
  QTest::keyClick(form.ComTerminal1, Qt::Key_T, Qt::AltModifier);
  EXPECT_EQ(shown_, "x");
}

TEST_F(ReceiveTest, UnitsListSendsTheAddressQueryAndShowsTheId) {
  TForm1& form = StartPolling();
  form.ComboBox2->addItem(QStringLiteral("# 3 = XMU 2.1"));
  form.ComboBox2->addItem(QStringLiteral("# 12 = QN"));
  line_->TakeReceived();
  for (int i = 0; i < 2; ++i) {
    form.ComboBox2->setCurrentIndex(i);
    form.ComboBox2Change();
  }
  EXPECT_EQ(line_->TakeReceived(), "<3? \n\r<12? \n\r");
  EXPECT_EQ(Panel(2), " Unit : QN");
  std::ostringstream screen;
  form.ComTerminal1->WriteScreenText(screen);
  EXPECT_NE(screen.str().find("<3"), std::string::npos);
  EXPECT_EQ(shown_, "");  // the echo is not logged
}

TEST_F(ReceiveTest, GridFilledByColumnsAndInfoLineShowsTheKey) {
  TForm1& form = StartPolling();
  form.SetGridCell(18, "L48=100");
  EXPECT_EQ(form.StringGrid1->item(1, 1)->text().toStdString(), "L48=100");
  form.StringGrid1Click(1, 1);
  EXPECT_EQ(form.Label2->text().toStdString(), "L48 : Program Line Count Designator   ");
  form.LParamName = [](int n) { return "name " + std::to_string(n); };
  form.StringGrid1Click(1, 1);
  EXPECT_EQ(form.Label2->text().toStdString(), "L48 : name 48");
  form.StringGrid1Click(5, 2);
  EXPECT_EQ(form.Label2->text().toStdString(), " ");
  form.Label2->setText(QStringLiteral("kept"));
  form.SetGridCell(0, "L5=3");
  EXPECT_ANY_THROW(form.StringGrid1Click(0, 0));
  EXPECT_EQ(form.Label2->text().toStdString(), "kept");
}

TEST_F(ReceiveTest, ScreenCommandsAndMessages) {
  TForm1& form = StartPolling();
  form.ComTerminal1->PutText("top");
  form.Copy1Click();
  const std::string clip = QApplication::clipboard()->text().toStdString();
  std::size_t lineEnds = 0;
  for (std::size_t at = clip.find("\r\n"); at != std::string::npos; at = clip.find("\r\n", at + 2))
    ++lineEnds;
  EXPECT_EQ(lineEnds, static_cast<std::size_t>(form.ComTerminal1->Rows()));
  EXPECT_EQ(clip.substr(clip.size() - 2), "\r\n");
  EXPECT_NE(clip.find("top"), std::string::npos);

  std::vector<kvel::FileDialogRequest> asked;
  std::vector<std::string> opened;
  kvel::SetFileDialogHook([&asked](const kvel::FileDialogRequest& request) {
    asked.push_back(request);
    return std::optional<std::string>("/tmp/x.LOG");
  });
  SetOpenFileHook([&opened](const std::string& path) { opened.push_back(path); });
  form.Viewlogfile1Click();
  kvel::SetFileDialogHook({});
  SetOpenFileHook({});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].fileName, "KVEL.LOG");
  EXPECT_EQ(asked[0].filter, "Logfiles (*.LOG)|*.LOG");
  EXPECT_EQ(asked[0].defaultExt, "LOG");
  EXPECT_EQ(opened, std::vector<std::string>{"/tmp/x.LOG"});

  form.ShowNoControlSelected();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "There is no control selected.\r\nUse Alt+S to select a control.");
  EXPECT_EQ(boxes_[0].caption, " No control selected");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Error);
}

// A device that writes as fast as the pty takes it, held back while the reader side holds
// a pty buffer's worth (4095 bytes): every byte reaches the screen path and the log, in order.
TEST_F(ReceiveTest, FastDeviceOverAPtyLosesNothingWithTheLogOn) {
  kvel::test::PtyPair pty;
  TForm1& form = StartOnPtyWithTheLogOn(pty);
  ASSERT_TRUE(form.ComPort1.Connected());
  const std::string logStart = LogFile();
  const std::string data = Pattern(256 * 1024, 7, 256);
  form.DisplayTap = [this](const std::string& text) { shown_ += text; };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // The device writes as fast as the pseudo-terminal takes it; the line must hold it back
  // while the program's queue is full instead of dropping anything.
  std::string writeError;
  std::thread writer([&pty, &data, &writeError] {
    try {
      pty.Write(data, std::chrono::seconds(20));
    } catch (const std::exception& e) {
      writeError = e.what();
    }
  });
  clock_.AddMessageHook([this, &data, deadline] {
    if (shown_.size() >= data.size() || std::chrono::steady_clock::now() > deadline) RunFlag = 0;
  });
  form.PollReceive();
  writer.join();
  EXPECT_EQ(writeError, "");
  EXPECT_TRUE(shown_ == data) << "shown " << shown_.size() << " of " << data.size();
  EXPECT_TRUE(LogFile() == logStart + data);
}

// The same in real time: the port's backlog notice ends the poll's waits, rounds follow each
// other while the device streams, and still every byte arrives once and in order.
TEST_F(ReceiveTest, AStreamingDeviceInRealTimeLosesNothing) {
  kvel::test::PtyPair pty;
  TForm1& form = StartOnPtyWithTheLogOn(pty);
  ASSERT_TRUE(form.ComPort1.Connected());
  const std::string logStart = LogFile();
  const std::string data = Pattern(3 * 1024 * 1024, 11, 4093);
  form.DisplayTap = [this, &data](const std::string& text) {
    shown_ += text;
    if (shown_.size() >= data.size()) RunFlag = 0;
  };
  kvel::SetClock(nullptr);
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { RunFlag = 0; });
  watchdog.start(60000);
  std::thread writer([&pty, &data] {
    for (std::size_t at = 0; at < data.size(); at += 100000)
      pty.Write(data.substr(at, 100000), std::chrono::seconds(60));
  });
  form.PollReceive();
  writer.join();
  kvel::SetClock(&clock_);
  EXPECT_TRUE(watchdog.isActive()) << "the poll did not see the whole stream";
  EXPECT_TRUE(shown_ == data) << "shown " << shown_.size() << " of " << data.size();
  EXPECT_TRUE(LogFile() == logStart + data);
}

}  // namespace
