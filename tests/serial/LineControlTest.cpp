// The output lines (DTR, RTS, break), the line-error counts and the wait for modem-line
// changes, through the in-memory line and through a pseudo-terminal with stand-in lines.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "CPort.h"
#include "CPortThread.h"
#include "MemoryLine.h"
#include "PtyPair.h"
#include "TermiosDevice.h"

namespace {

using namespace std::chrono_literals;
using Action = kvel::MemoryLine::LineAction;

class LinePortTest : public testing::Test {
 protected:
  void SetUp() override {
    line_ = std::make_shared<kvel::MemoryLine>([this] { return nowMs_; });
    kvel::RegisterMemoryLine("COM7", line_);
    port_.SetPort("COM7");
  }
  void TearDown() override { kvel::UnregisterMemoryLine("COM7"); }

  std::int64_t nowMs_ = 0;
  std::shared_ptr<kvel::MemoryLine> line_;
  TComPort port_;
};

TEST_F(LinePortTest, DtrRtsAndBreakReachTheLineAndTheSettingsSetThemAgain) {
  port_.FlowControl().SetControlDTR(dtrEnable);
  EXPECT_FALSE(port_.DTRState());  // closed: no line is driven
  try {
    port_.SetDTR(true);
    FAIL() << "a closed port took DTR";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 12);
  }
  port_.OpenPort();
  EXPECT_TRUE(port_.DTRState());
  EXPECT_FALSE(port_.RTSState());
  EXPECT_TRUE(line_->Dtr());
  EXPECT_FALSE(line_->Rts());

  port_.SetDTR(false);
  port_.SetRTS(true);
  nowMs_ = 40;
  port_.SetBreak(true);
  nowMs_ = 290;
  port_.SetBreak(false);
  EXPECT_FALSE(port_.DTRState());
  EXPECT_TRUE(port_.RTSState());
  EXPECT_FALSE(line_->Dtr());
  EXPECT_TRUE(line_->Rts());
  EXPECT_FALSE(line_->InBreak());
  const std::vector<Action> actions = line_->TakeLineActions();
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0].kind, Action::kDtr);
  EXPECT_FALSE(actions[0].on);
  EXPECT_EQ(actions[1].kind, Action::kRts);
  EXPECT_TRUE(actions[1].on);
  EXPECT_EQ(actions[2].kind, Action::kBreak);
  EXPECT_TRUE(actions[2].on);
  EXPECT_EQ(actions[3].kind, Action::kBreak);
  EXPECT_FALSE(actions[3].on);
  EXPECT_EQ(actions[3].atMs - actions[2].atMs, 250);

  // Line settings applied again set the levels their flow control names.
  port_.SetBaudRate(br19200);
  EXPECT_TRUE(port_.DTRState());
  EXPECT_FALSE(port_.RTSState());
  EXPECT_TRUE(line_->Dtr());
  EXPECT_FALSE(line_->Rts());

  // Closing ends a break the program left on.
  port_.SetBreak(true);
  port_.ClosePort();
  EXPECT_FALSE(line_->InBreak());
  EXPECT_FALSE(port_.DTRState());

  // A device that has gone fails the call instead of ignoring it.
  port_.OpenPort();
  line_->Unplug();
  EXPECT_THROW(port_.SetRTS(false), EComPort);
}

TEST_F(LinePortTest, ErrorCountsStartAtTheOpenAndComeFromTheCountersOrTheErrorWord) {
  kvel::LineCounters before;
  before.overrun = 5;
  line_->CountLineErrors(before);  // counted while another program had the line
  port_.OpenPort();
  bool counted = false;
  EXPECT_EQ(port_.LineErrorCounts(&counted).Errors(), 0u);
  EXPECT_TRUE(counted);

  kvel::LineCounters now;
  now.overrun = 1;
  now.frame = 3;
  now.parity = 2;
  line_->CountLineErrors(now);
  kvel::LineCounters counts = port_.LineErrorCounts(&counted);
  EXPECT_EQ(counts.overrun, 1u);
  EXPECT_EQ(counts.frame, 3u);
  EXPECT_EQ(counts.parity, 2u);
  EXPECT_EQ(counts.Errors(), 6u);
  // The program's own queue overflows where the driver counts nothing.
  port_.ClosePort();
  port_.Buffer().SetInputSize(4);
  port_.OpenPort();
  line_->Send("123456");
  EXPECT_EQ(port_.PendingInput(), 4);
  EXPECT_EQ(port_.LineErrorCounts().bufferOverrun, 1u);

  // Without counters: one for each reading of the error word that named the kind, also when
  // it was the receive loop's queue read that took the word.
  port_.ClosePort();
  line_->SetCountersAvailable(false);
  port_.OpenPort();
  line_->RaiseLineErrors(kvel::kCeOverrun | kvel::kCeFrame);
  EXPECT_EQ(port_.PendingInput(), 0);
  line_->RaiseLineErrors(kvel::kCeOverrun);
  port_.ReadLineErrors();
  counts = port_.LineErrorCounts(&counted);
  EXPECT_FALSE(counted);
  EXPECT_EQ(counts.overrun, 2u);
  EXPECT_EQ(counts.frame, 1u);
  kvel::LineCounters raw;
  EXPECT_FALSE(port_.ReadLineCounters(&raw));
}

TEST_F(LinePortTest, AnErrorTakenByAQueueReadBeforeItsEventIsStillTold) {
  int told = 0;
  port_.SetEvents({evError});
  port_.OnError = [&](TCustomComPort&, TComErrors) { ++told; };
  port_.OpenPort();
  line_->RaiseLineErrors(kvel::kCeOverrun);
  // The receive loop reads the queue count (and with it the error word) before the event
  // thread's batch runs here.
  EXPECT_EQ(port_.PendingInput(), 0);
  EXPECT_TRUE(kvel::test::WaitFor([&] {
    kvel::CheckSynchronize();
    return told == 1;
  }));
  EXPECT_EQ(port_.LineErrorCounts().overrun, 1u);
  port_.ClosePort();
}

// A new mask (a handler bound while the port is open) keeps the events not yet taken that
// it still asks for; the ones it no longer asks for, and an arrival already read, go.
TEST(MaskChangeTest, EventsNotYetTakenSurviveAWiderMask) {
  auto line = std::make_shared<kvel::MemoryLine>();
  std::unique_ptr<kvel::SerialDevice> device;
  ASSERT_EQ(line->Open(&device), 0);
  ASSERT_EQ(device->SetCommMask(kvel::kEvErr | kvel::kEvRxChar | kvel::kEvRing), 0);
  line->RaiseLineErrors(kvel::kCeOverrun);
  line->Send("x");
  std::uint8_t byte = 0;
  std::size_t got = 0;
  ASSERT_EQ(device->Read(&byte, 1, &got), 0);
  ASSERT_EQ(got, 1u);
  line->SetModemStatus(kvel::kMsRingOn);

  ASSERT_EQ(device->SetCommMask(kvel::kEvErr | kvel::kEvRxChar | kvel::kEvCts), 0);
  line->SetModemStatus(kvel::kMsRingOn | kvel::kMsCtsOn);  // something to end the wait
  std::uint32_t events = 0;
  ASSERT_EQ(device->WaitCommEvent(&events), 0);
  EXPECT_EQ(events, kvel::kEvErr | kvel::kEvCts);
}

// Modem lines that the test sets; a waiter sees each change at once.
struct FakeLines {
  std::mutex mutex;
  std::condition_variable cv;
  int bits = 0;
  int changes = 0;
  int waits = 0;
  int refusal = 0;  // what WaitChange answers instead of waiting, 0: it waits
  bool interrupt = false;

  void Set(int value) {
    std::lock_guard lock(mutex);
    bits = value;
    ++changes;
    cv.notify_all();
  }
  int Waits() {
    std::lock_guard lock(mutex);
    return waits;
  }
};

class FakeModemLines final : public kvel::ModemLines {
 public:
  explicit FakeModemLines(std::shared_ptr<FakeLines> lines) : lines_(std::move(lines)) {}
  int Get(int, int* bits) override {
    std::lock_guard lock(lines_->mutex);
    *bits = lines_->bits;
    return 0;
  }
  int WaitChange(int, int mask) override {
    std::unique_lock lock(lines_->mutex);
    EXPECT_EQ(mask, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG);
    if (lines_->refusal != 0) return lines_->refusal;
    ++lines_->waits;
    const int seen = lines_->changes;
    lines_->cv.wait(lock, [&] { return lines_->changes != seen || lines_->interrupt; });
    if (lines_->interrupt) {
      lines_->interrupt = false;
      return EINTR;
    }
    return 0;
  }
  void Interrupt(std::thread&) override {
    std::lock_guard lock(lines_->mutex);
    lines_->interrupt = true;
    lines_->cv.notify_all();
  }

 private:
  std::shared_ptr<FakeLines> lines_;
};

// The events of one wait, or 0 when none came within a few seconds.
std::uint32_t WaitEvent(kvel::SerialDevice& device) {
  auto events = std::async(std::launch::async, [&device] {
    std::uint32_t ev = 0;
    device.WaitCommEvent(&ev);
    return ev;
  });
  if (events.wait_for(5s) != std::future_status::ready) device.CancelWait();
  return events.get();
}

std::unique_ptr<kvel::SerialDevice> OpenWith(const kvel::test::PtyPair& pty,
                                             std::shared_ptr<FakeLines> lines) {
  std::unique_ptr<kvel::SerialDevice> device;
  EXPECT_EQ(kvel::TermiosDevice::Open(pty.SlavePath(), &device, nullptr,
                                      std::make_unique<FakeModemLines>(std::move(lines))),
            0);
  return device;
}

TEST(ModemWaitTest, ChangesArriveThroughTheWaitAndThroughPollingWhereItIsRefused) {
  for (const int refusal : {0, ENOTTY, EINVAL}) {
    SCOPED_TRACE(refusal);
    kvel::test::PtyPair pty;
    auto lines = std::make_shared<FakeLines>();
    lines->refusal = refusal;
    auto device = OpenWith(pty, lines);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->SetCommMask(kvel::kEvCts | kvel::kEvDsr | kvel::kEvRlsd), 0);
    if (refusal == 0) {
      ASSERT_TRUE(kvel::test::WaitFor([&] { return lines->Waits() > 0; }));
    }

    lines->Set(TIOCM_CTS);
    EXPECT_EQ(WaitEvent(*device), kvel::kEvCts);
    lines->Set(TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
    std::uint32_t seen = 0;
    // A change may be told in one batch or two.
    while ((seen & (kvel::kEvDsr | kvel::kEvRlsd)) != (kvel::kEvDsr | kvel::kEvRlsd)) {
      const std::uint32_t ev = WaitEvent(*device);
      ASSERT_NE(ev, 0u);
      seen |= ev;
    }
    std::uint32_t status = 0;
    ASSERT_EQ(device->GetModemStatus(&status), 0);
    EXPECT_EQ(status, kvel::kMsCtsOn | kvel::kMsDsrOn | kvel::kMsRlsdOn);
    if (refusal == 0) {
      EXPECT_GE(lines->Waits(), 2);
    } else {
      EXPECT_EQ(lines->Waits(), 0);
    }
    // The close ends the waiter that sits in its wait.
    device.reset();
  }
}

TEST(ModemWaitTest, APseudoTerminalSaysWhatItCannotDo) {
  kvel::test::PtyPair pty;
  std::unique_ptr<kvel::SerialDevice> device;
  // The tty's own lines: a pseudo-terminal refuses the wait, so the waiter ends at once.
  ASSERT_EQ(kvel::TermiosDevice::Open(pty.SlavePath(), &device), 0);
  EXPECT_EQ(device->SetDtr(true), ENOTSUP);
  EXPECT_EQ(device->FailureDetail(), "a pseudo-terminal has no modem lines");
  EXPECT_EQ(device->SetRts(false), ENOTSUP);
  EXPECT_EQ(device->SetBreak(true), ENOTSUP);
  EXPECT_EQ(device->FailureDetail(), "a pseudo-terminal cannot send a break");
  kvel::LineCounters counters;
  EXPECT_EQ(device->GetLineCounters(&counters), ENOTSUP);
  EXPECT_TRUE(kvel::ModemWaitRefused(ENOTTY));
  EXPECT_FALSE(kvel::ModemWaitRefused(EIO));  // unplugged: not a reason to poll
  device.reset();

  // Through the port the refusal is an error with its reason, not a silent no-op.
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  try {
    port.SetBreak(true);
    FAIL() << "a break on a pseudo-terminal passed as sent";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 12);
    EXPECT_NE(std::string(e.what()).find("a pseudo-terminal cannot send a break"),
              std::string::npos)
        << e.what();
  }
  port.ClosePort();
}

}  // namespace
