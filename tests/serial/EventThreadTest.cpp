// The line-event thread and its dispatch, on an in-memory line and over a pseudo-terminal.
// The test's own thread plays the GUI thread: it runs the synchronised calls itself.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CPort.h"
#include "CPortThread.h"
#include "MemoryLine.h"
#include "PtyPair.h"

using kvel::test::WaitFor;
using namespace std::chrono_literals;

namespace {

// Runs the GUI thread's share until `condition` holds.
template <typename Condition>
bool ServeUntil(Condition condition, std::chrono::milliseconds timeout = 2000ms) {
  return WaitFor(
      [&] {
        kvel::CheckSynchronize();
        return condition();
      },
      timeout);
}

class EventThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    line_ = std::make_shared<kvel::MemoryLine>();
    kvel::RegisterMemoryLine("COM8", line_);
    port_.SetPort("COM8");
  }
  void TearDown() override {
    port_.ClosePort();
    kvel::UnregisterMemoryLine("COM8");
  }
  void Hear(const std::string& what) {
    std::lock_guard lock(mutex_);
    heard_.push_back(what);
  }
  std::vector<std::string> Heard() {
    std::lock_guard lock(mutex_);
    return heard_;
  }
  std::size_t Count() { return Heard().size(); }
  void RecordLineEvents() {
    port_.OnError = [this](TCustomComPort&, TComErrors e) {
      Hear("error" + std::to_string(e.Bits()));
    };
    port_.OnRxChar = [this](TCustomComPort&, std::int32_t n) { Hear("rx" + std::to_string(n)); };
    port_.OnRxBuf = [this](TCustomComPort&, const std::uint8_t* b, std::int32_t n) {
      Hear("buf:" + std::string(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n)));
    };
    port_.OnRing = [this](TCustomComPort&) { Hear("ring"); };
    port_.OnBreak = [this](TCustomComPort&) { Hear("break"); };
    port_.OnTxEmpty = [this](TCustomComPort&) { Hear("txempty"); };
    port_.OnRxFlag = [this](TCustomComPort&) { Hear("flag"); };
    port_.OnRx80Full = [this](TCustomComPort&) { Hear("80full"); };
  }
  // The thread is busy with a ring that nobody has served yet; what happens meanwhile
  // waits for it and comes as one batch.
  void HoldTheThread() {
    line_->SetModemStatus(kvel::kMsRingOn);
    std::this_thread::sleep_for(20ms);
  }

  std::shared_ptr<kvel::MemoryLine> line_;
  std::mutex mutex_;
  std::vector<std::string> heard_;
  TComPort port_;
};

TEST_F(EventThreadTest, ABatchRunsItsErrorBeforeItsReceivedBytes) {
  RecordLineEvents();
  port_.OpenPort();
  HoldTheThread();
  line_->Send("twelve bytes");
  line_->RaiseLineErrors(kvel::kCeFrame | kvel::kCeBreak);
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 4; }));
  EXPECT_EQ(Heard(), (std::vector<std::string>{"ring", "error9", "rx12", "break"}));
  EXPECT_EQ(port_.PendingInput(), 12);  // announced, left for the owner
}

TEST_F(EventThreadTest, ADataLinkTakesTheBytesAndOnRxCharStaysSilent) {
  RecordLineEvents();
  TComLink first, second, quiet;
  std::string firstGot, secondGot;
  std::vector<bool> rxSignals;
  first.RxBlock = [&](TCustomComPort&, const std::uint8_t* b, std::int32_t n) {
    firstGot.assign(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
    Hear("first");
  };
  second.RxBlock = [&](TCustomComPort&, const std::uint8_t* b, std::int32_t n) {
    secondGot.assign(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
    Hear("second");
  };
  quiet.RxSignal = [&](TCustomComPort&, bool on) { rxSignals.push_back(on); };
  port_.AttachLink(&quiet);
  port_.AttachLink(&first);
  port_.AttachLink(&second);
  port_.OpenPort();
  HoldTheThread();
  line_->Send("twelve bytes");
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 4; }));
  EXPECT_EQ(Heard(), (std::vector<std::string>{"ring", "buf:twelve bytes", "first", "second"}));
  EXPECT_EQ(firstGot, "twelve bytes");
  EXPECT_EQ(secondGot, "twelve bytes");
  EXPECT_EQ(rxSignals, (std::vector<bool>{true, false}));  // waiting, then read empty
  EXPECT_EQ(port_.PendingInput(), 0);
  port_.ClosePort();
  for (TComLink* link : {&quiet, &first, &second}) port_.DetachLink(link);
}

TEST_F(EventThreadTest, ModemLinesEventCharacterAndTransmitEmpty) {
  RecordLineEvents();
  port_.OnCTSChange = [this](TCustomComPort&, bool on) { Hear(on ? "cts1" : "cts0"); };
  port_.OnRLSDChange = [this](TCustomComPort&, bool on) { Hear(on ? "rlsd1" : "rlsd0"); };
  port_.SetEventChar('\r');
  port_.SetEvents({evCTS, evRLSD, evRxFlag, evTxEmpty});
  port_.OpenPort();
  heard_.clear();  // the reports of the open
  line_->SetModemStatus(kvel::kMsCtsOn);
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 1; }));
  line_->SetModemStatus(kvel::kMsCtsOn | kvel::kMsRlsdOn);
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 2; }));
  line_->Send("ok\r");
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 3; }));
  port_.SendText("x");
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 4; }));
  EXPECT_EQ(Heard(), (std::vector<std::string>{"cts1", "rlsd1", "flag", "txempty"}));
}

TEST_F(EventThreadTest, CloseWhileABatchWaitsForTheGuiThread) {
  RecordLineEvents();
  port_.OpenPort();
  line_->Send("abc");
  std::this_thread::sleep_for(20ms);  // the batch now waits for this thread
  port_.ClosePort();                  // serves it while it stops the thread
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(Heard(), (std::vector<std::string>{"rx3"}));
}

TEST_F(EventThreadTest, AHandlerThatClosesThePortDoesNotDeadlock) {
  port_.OnRxChar = [this](TCustomComPort& port, std::int32_t) {
    port.ClosePort();
    Hear("closed");
  };
  port_.OnBreak = [this](TCustomComPort&) { Hear("break after close"); };
  port_.OpenPort();
  HoldTheThread();
  line_->Send("x");
  line_->RaiseLineErrors(kvel::kCeBreak);
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 1; }));
  std::this_thread::sleep_for(20ms);
  kvel::CheckSynchronize();
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(Heard(), (std::vector<std::string>{"closed"}));  // the rest of the batch is dropped
}

TEST_F(EventThreadTest, AnErrorInABatchIsReportedAndTheThreadGoesOn) {
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort& port, std::int32_t n) {
    ++calls;
    std::string text;
    port.ReceiveText(text, n);
    if (calls == 1) throw std::runtime_error("handler failed");
  };
  port_.OpenPort();
  line_->Send("a");
  std::string shown;
  ASSERT_TRUE(WaitFor([&] {
    try {
      kvel::CheckSynchronize();
    } catch (const std::exception& e) {
      shown = e.what();
    }
    return !shown.empty();
  }));
  EXPECT_EQ(shown, "handler failed");
  line_->Send("b");
  ASSERT_TRUE(ServeUntil([&] { return calls == 2; }));
}

TEST_F(EventThreadTest, ALostDeviceEndsTheWaitingWithoutSpinning) {
  RecordLineEvents();
  port_.OpenPort();
  line_->Unplug();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(200ms);
  kvel::CheckSynchronize();  // nothing to report: the owner's next call tells the loss
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const auto cpuUs = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 60000L);
  EXPECT_EQ(Heard(), std::vector<std::string>{});
  EXPECT_THROW(port_.PendingInput(), EComPort);
  port_.ClosePort();
  EXPECT_FALSE(port_.Connected());
}

TEST_F(EventThreadTest, WindowSyncHandsEachEventOverAndChecksTheConnection) {
  RecordLineEvents();
  port_.SetSyncMethod(smWindowSync);
  port_.OpenPort();
  HoldTheThread();
  line_->RaiseLineErrors(kvel::kCeBreak);
  line_->Send("xy");
  ASSERT_TRUE(ServeUntil([&] { return Count() >= 3; }));
  EXPECT_EQ(Heard(), (std::vector<std::string>{"ring", "rx2", "break"}));
  EXPECT_THROW(port_.SetSyncMethod(smThreadSync), EComPort);
}

TEST_F(EventThreadTest, WithoutSynchronisationHandlersRunOnTheEventThread) {
  std::atomic<bool> onOtherThread{false};
  std::atomic<int> count{0};
  const auto main = std::this_thread::get_id();
  port_.SetSyncMethod(smNone);
  port_.OnRxChar = [&](TCustomComPort&, std::int32_t) {
    onOtherThread = std::this_thread::get_id() != main;
    ++count;
  };
  port_.OpenPort();
  line_->Send("z");
  ASSERT_TRUE(WaitFor([&] { return count > 0; }));  // nobody serves: no GUI thread needed
  EXPECT_TRUE(onOtherThread);
}

TEST_F(EventThreadTest, NoEventsNoThread) {
  RecordLineEvents();
  port_.SetEvents({});
  port_.OpenPort();
  line_->Send("quiet");
  std::this_thread::sleep_for(20ms);
  kvel::CheckSynchronize();
  EXPECT_EQ(Heard(), std::vector<std::string>{});
  EXPECT_EQ(port_.PendingInput(), 5);
}

// Counts the calls queued for the GUI thread through the wake-up hook; the test's thread
// serves them itself.
class HandOffCounter {
 public:
  HandOffCounter() {
    kvel::SetSynchronizeWakeup([this] { ++wakes_; });
    wakes_ = 0;  // installing wakes once
  }
  ~HandOffCounter() { kvel::SetSynchronizeWakeup({}); }
  int Wakes() const { return wakes_; }

 private:
  std::atomic<int> wakes_{0};
};

// A port that tells the test each time its event thread has a batch in hand.
class WatchedPort : public TComPort {
 public:
  std::atomic<int> batches{0};

 protected:
  bool HasBoundEvents() const override {
    ++const_cast<WatchedPort*>(this)->batches;
    return TComPort::HasBoundEvents();
  }
};

TEST(EventDispatch, NothingIsHandedOverOrWokenWhenNothingIsBound) {
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM8", line);
  HandOffCounter handOffs;
  {
    WatchedPort port;
    port.SetPort("COM8");
    port.OpenPort();
    for (const char* bytes : {"a", "b", "c"}) line->Send(bytes);
    line->RaiseLineErrors(kvel::kCeFrame);
    line->Send("d");
    // A ring that somebody hears is the first thing the thread is woken for: what came
    // before it would have come in that batch or an earlier one.
    int rings = 0;
    port.OnRing = [&rings](TCustomComPort&) { ++rings; };
    line->SetModemStatus(kvel::kMsRingOn);
    ASSERT_TRUE(ServeUntil([&] { return rings == 1; }));
    EXPECT_EQ(port.batches, 1);
    EXPECT_EQ(handOffs.Wakes(), 1);
    EXPECT_EQ(port.PendingInput(), 4);  // the bytes stay for the owner's poll
    // The error nobody heard was left for the owner's reads, not taken away unseen.
    bool counted = false;
    EXPECT_EQ(port.LineErrorCounts(&counted).frame, 1u);
    port.ClosePort();
  }
  kvel::UnregisterMemoryLine("COM8");
}

TEST(EventDispatch, AHandlerOrLinkBoundWhileOpenWidensTheWait) {
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM8", line);
  std::vector<std::string> heard;
  {
    TComPort port;
    port.SetPort("COM8");
    port.OpenPort();
    line->Send("abc");
    // Bytes that were queued before anybody listened are announced once somebody does.
    port.OnRxChar = [&](TCustomComPort&, std::int32_t n) {
      heard.push_back("rx" + std::to_string(n));
    };
    ASSERT_TRUE(ServeUntil([&] { return heard.size() == 1; }));
    port.OnRxChar = {};
    TComLink link;
    link.RxBlock = [&](TCustomComPort&, const std::uint8_t* b, std::int32_t n) {
      heard.emplace_back(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
    };
    port.AttachLink(&link);
    line->Send("de");
    ASSERT_TRUE(ServeUntil([&] { return heard.size() == 2; }));
    port.DetachLink(&link);
    port.ClosePort();
  }
  kvel::UnregisterMemoryLine("COM8");
  EXPECT_EQ(heard, (std::vector<std::string>{"rx3", "abcde"}));
}

TEST(EventDispatch, EventsThatComeWhileABatchWaitsAreMergedIntoTheNext) {
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM8", line);
  HandOffCounter handOffs;
  std::vector<std::string> heard;
  {
    TComPort port;
    port.SetPort("COM8");
    port.SetEvents({evRxChar, evError, evRing});
    port.OnRxChar = [&](TCustomComPort&, std::int32_t n) {
      heard.push_back("rx" + std::to_string(n));
    };
    port.OnError = [&](TCustomComPort&, TComErrors) { heard.push_back("error"); };
    port.OnRing = [&](TCustomComPort&) { heard.push_back("ring"); };
    port.OpenPort();
    line->Send("a");
    ASSERT_TRUE(WaitFor([&] { return handOffs.Wakes() == 1; }));  // the batch waits for us
    line->Send("b");
    line->RaiseLineErrors(kvel::kCeFrame);
    line->Send("c");
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 2; }));
    // The next batch holds all three; a ring after it shows that nothing else came.
    line->SetModemStatus(kvel::kMsRingOn);
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 4; }));
    EXPECT_EQ(handOffs.Wakes(), 3);
    port.ClosePort();
  }
  kvel::UnregisterMemoryLine("COM8");
  // The first batch finds all three bytes queued by the time it runs; its queue read takes
  // the error word, yet the merged batch still tells the error (a loss on the line must not
  // pass unheard). The bytes stay for the owner, so the merged batch announces them again.
  EXPECT_EQ(heard, (std::vector<std::string>{"rx3", "error", "rx3", "ring"}));
}

TEST(EventDispatch, ArrivalsThatNoHandlerTakesUpAreNotHandedOverButErrorsStillAre) {
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM8", line);
  HandOffCounter handOffs;
  int errorsHeard = 0;
  {
    WatchedPort port;
    port.SetPort("COM8");
    port.OnError = [&](TCustomComPort&, TComErrors) { ++errorsHeard; };
    port.OpenPort();
    for (const char* bytes : {"a", "b", "c"}) line->Send(bytes);
    EXPECT_EQ(port.PendingInput(), 3);
    line->RaiseLineErrors(kvel::kCeOverrun);
    ASSERT_TRUE(ServeUntil([&] { return errorsHeard == 1; }));
    // The error's batch is the only one: the bytes woke neither thread.
    EXPECT_EQ(port.batches, 1);
    EXPECT_EQ(handOffs.Wakes(), 1);
    port.ClosePort();
  }
  kvel::UnregisterMemoryLine("COM8");
}

TEST(EventMask, EventSetsAndPlatformBits) {
  EXPECT_EQ(kvel::EventSetToMask(kAllComEvents.Bits()), 0x05FFu);
  EXPECT_EQ(kvel::EventSetToMask(TComEvents{evRLSD}.Bits()), 0x0020u);
  EXPECT_EQ(kvel::EventSetToMask(TComEvents{evRing}.Bits()), 0x0100u);
  EXPECT_EQ(kvel::MaskToEventSet(0x0002 | 0x0200 | 0x0400),
            (TComEvents{evRxFlag, evRx80Full}).Bits());
}

// Real termios over a pseudo-terminal: received bytes, the event character, transmit empty.
TEST(PtyEvents, RealTermiosRaisesTheLineEventsItCan) {
  kvel::test::PtyPair pty;
  setenv("KVEL_COM37", pty.SlavePath().c_str(), 1);
  std::vector<std::string> heard;
  {
    TComPort port;
    port.SetPort("COM37");
    port.SetEventChar('\n');
    port.OnRxChar = [&](TCustomComPort& p, std::int32_t n) {
      std::string text;
      p.ReceiveText(text, n);
      heard.push_back("rx:" + text);
    };
    port.OnRxFlag = [&](TCustomComPort&) { heard.push_back("flag"); };
    port.OnTxEmpty = [&](TCustomComPort&) { heard.push_back("txempty"); };
    port.OpenPort();
    pty.Write("ab");
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 1; }));
    pty.Write("c\n");
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 2; }));
    port.SendText("out");
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 4; }));
    EXPECT_EQ(pty.Read(3), "out");
  }
  unsetenv("KVEL_COM37");
  EXPECT_EQ(heard, (std::vector<std::string>{"rx:ab", "rx:c\n", "flag", "txempty"}));
}

}  // namespace
