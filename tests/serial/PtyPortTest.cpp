#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "CPort.h"
#include "DeviceLock.h"
#include "PortErrors.h"
#include "PtyPair.h"
#include "Termios2.h"
#include "TermiosDevice.h"

using kvel::test::PtyPair;
using kvel::test::WaitFor;
using namespace std::chrono_literals;

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

// A port named COM31 pointing at a fresh pseudo-terminal.
class PtyPortTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("KVEL_COM31", pty_.SlavePath().c_str(), 1);
    port_.SetPort("COM31");
  }
  void TearDown() override { unsetenv("KVEL_COM31"); }

  std::string ReadAll(std::size_t count) {
    std::string all;
    WaitFor([&] {
      std::string part;
      port_.ReceiveText(part, std::max(4096, port_.PendingInput()));
      all += part;
      return all.size() >= count;
    });
    return all;
  }

  // The slave's termios as the driver holds them.
  kvel::TermiosSettings SlaveSettings() {
    const int fd = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    kvel::TermiosSettings t;
    EXPECT_EQ(kvel::GetTermios2(fd, &t), 0);
    close(fd);
    return t;
  }

  // XOFF from the far end; the byte after it arrives only once the driver has acted on it.
  void StopOutputFromTheFarEnd() {
    pty_.Write("\x13m");
    ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 1; }));
    port_.PurgeBuffers(true, false);
  }

  PtyPair pty_;
  TComPort port_;
};

TEST_F(PtyPortTest, EveryByteValueBothWays) {
  port_.OpenPort();
  const std::string bytes = AllBytes();
  pty_.Write(bytes + bytes);
  EXPECT_EQ(ReadAll(512), bytes + bytes);

  EXPECT_EQ(port_.SendText(bytes), 256);
  EXPECT_EQ(pty_.Read(256), bytes);
}

TEST_F(PtyPortTest, ReadsReturnAtOnceWithWhatIsQueued) {
  port_.OpenPort();
  std::string text = "x";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_.ReceiveText(text, 100), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(text.empty());
  pty_.Write("abc");
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 3; }));
  char block[2];
  EXPECT_EQ(port_.ReadBlock(block, 2), 2);
  EXPECT_EQ(std::string(block, 2), "ab");
  EXPECT_EQ(port_.PendingInput(), 1);
}

TEST_F(PtyPortTest, QueueHoldsMoreThanTheTerminalBuffer) {
  port_.OpenPort();
  std::string data;
  for (int i = 0; i < 20000; ++i) data.push_back(static_cast<char>('a' + i % 26));
  pty_.Write(data);
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 20000; }));
  std::string text;
  EXPECT_EQ(port_.ReceiveText(text, 20000), 20000);
  EXPECT_EQ(text, data);
}

// A device that keeps sending, in pieces of the sizes UARTs and writers hand over, is read
// with pauses between the reads: every byte arrives once and in order (marked 0xFF bytes
// and NULs among them), and the last piece arrives without anything behind it to push it.
TEST_F(PtyPortTest, GatheredReadsKeepEveryByteInOrderAndEndWithTheLine) {
  port_.OpenPort();
  std::string sent;
  const std::size_t sizes[] = {1, 1, 3, 64, 1, 300, 2047, 2048, 5000, 17, 64, 1};
  std::size_t n = 0;
  for (int round = 0; round < 12; ++round) {
    for (const std::size_t size : sizes) {
      std::string piece(size, '\0');
      for (char& c : piece) {
        c = static_cast<char>((n * 7 + n / 251) & 0xFF);
        ++n;
      }
      pty_.Write(piece);
      sent += piece;
      if (size < 64) std::this_thread::sleep_for(200us);  // a trickle, not one block
    }
  }
  EXPECT_EQ(ReadAll(sent.size()), sent);
  std::string rest;
  port_.ReceiveText(rest, 4096);
  EXPECT_EQ(rest, "");
  // After the stream, a last byte on a quiet line.
  pty_.Write("Z");
  EXPECT_EQ(ReadAll(1), "Z");
}

// The reader pauses only while more is coming and the pause is worth it: never after an empty
// read or with a full queue, never once the tty fills faster, and never for longer than a
// reply may take to reach the window. Within a stream it pauses longer, yet well within a
// frame of the window and far from filling the tty at 921600 baud.
TEST(ReadGather, PausesWhileATrickleOrALineRateStreamComes) {
  for (const bool streaming : {false, true}) {
    EXPECT_EQ(kvel::ReadGatherMs(0, false, streaming), 0);
    EXPECT_EQ(kvel::ReadGatherMs(2048, false, streaming), 0);
    EXPECT_EQ(kvel::ReadGatherMs(kvel::TermiosDevice::kReadSize, false, streaming), 0);
  }
  for (const std::size_t got : {1u, 63u, 64u, 300u, 2047u}) {
    EXPECT_GT(kvel::ReadGatherMs(got, false), 0) << got;
    EXPECT_LE(kvel::ReadGatherMs(got, false), 4) << got;
    EXPECT_EQ(kvel::ReadGatherMs(got, true), 0) << got;
    EXPECT_GT(kvel::ReadGatherMs(got, false, true), kvel::ReadGatherMs(got, false)) << got;
    EXPECT_LE(kvel::ReadGatherMs(got, false, true), 16) << got;
    EXPECT_EQ(kvel::ReadGatherMs(got, true, true), 0) << got;
  }
}

TEST_F(PtyPortTest, AFullQueueHoldsTheWriterBackInsteadOfDropping) {
  port_.OpenPort();
  const std::size_t total = 2 * kvel::TermiosDevice::kMinQueue;
  std::string data(total, '\0');
  for (std::size_t i = 0; i < total; ++i) data[i] = static_cast<char>((i * 13 + i / 251) & 0xFF);
  std::string writeError;
  std::thread writer([&] {
    try {
      pty_.Write(data, 20s);
    } catch (const std::exception& e) {
      writeError = e.what();
    }
  });
  // Nobody reads until the queue is full and the writer is stuck behind it.
  ASSERT_TRUE(WaitFor([&] {
    return static_cast<std::size_t>(port_.PendingInput()) >= kvel::TermiosDevice::kMinQueue;
  }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(static_cast<std::size_t>(port_.PendingInput()), kvel::TermiosDevice::kMinQueue);
  EXPECT_TRUE(port_.ReadLineErrors().Empty());
  const std::string got = ReadAll(total);
  writer.join();
  EXPECT_EQ(writeError, "");
  EXPECT_TRUE(got == data) << "got " << got.size() << " of " << total;
}

TEST_F(PtyPortTest, PurgeDiscardsInput) {
  port_.OpenPort();
  pty_.Write("stale input");
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 11; }));
  port_.PurgeBuffers(true, true);
  EXPECT_EQ(port_.PendingInput(), 0);
  pty_.Write("new");
  EXPECT_EQ(ReadAll(3), "new");
}

TEST_F(PtyPortTest, InputNoticeComesOnceAtItsLevelUntilAReadTakesTheQueueBelowIt) {
  std::atomic<int> calls{0};
  // Asked for before the opening: the device opened later takes it.
  port_.SetInputNotice(1000, [&calls] { ++calls; });
  port_.OpenPort();
  pty_.Write(std::string(999, 'a'));
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 999; }));
  EXPECT_EQ(calls, 0);
  pty_.Write("b");
  ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
  pty_.Write(std::string(3000, 'c'));
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 4000; }));
  // A read that leaves the queue at the level does not re-arm it.
  std::string text;
  port_.ReceiveText(text, 3000);
  pty_.Write("d");
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 1001; }));
  EXPECT_EQ(calls, 1);
  port_.ReceiveText(text, 1001);
  pty_.Write(std::string(1500, 'e'));
  ASSERT_TRUE(WaitFor([&] { return calls == 2; }));
  // A purge re-arms it as well.
  port_.PurgeBuffers(true, false);
  pty_.Write(std::string(1000, 'f'));
  ASSERT_TRUE(WaitFor([&] { return calls == 3; }));
  // Removed: never called again, also after closing and reopening.
  port_.SetInputNotice(0, [&calls] { ++calls; });
  port_.PurgeBuffers(true, false);
  port_.ClosePort();
  port_.OpenPort();
  pty_.Write(std::string(5000, 'g'));
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 5000; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(calls, 3);
}

// A reader that sleeps until the notice comes hears of a hang-up at once, and once.
TEST_F(PtyPortTest, TheInputNoticeAlsoTellsOfAHangUpOnce) {
  std::atomic<int> calls{0};
  port_.SetInputNotice(1, [&calls] { ++calls; });
  port_.OpenPort();
  pty_.CloseMaster();  // unplugged, the port still open
  ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
  EXPECT_THROW(port_.PendingInput(), EComPort);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(calls, 1);
  port_.SetInputNotice(0, {});
  port_.ClosePort();
}

TEST_F(PtyPortTest, RemovingTheInputNoticeWaitsForACallInProgress) {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  port_.SetInputNotice(10, [&] {
    started = true;
    std::this_thread::sleep_for(100ms);
    finished = true;
  });
  port_.OpenPort();
  pty_.Write(std::string(20, 'x'));
  ASSERT_TRUE(WaitFor([&] { return started.load(); }));
  port_.SetInputNotice(0, {});
  // Whoever owned what the notice touched may free it now.
  EXPECT_TRUE(finished);
}

TEST_F(PtyPortTest, MarkedBytesAndDroppedNulls) {
  port_.SetDiscardNull(true);
  port_.OpenPort();
  pty_.Write(
      std::string("A\xFF"
                  "B\0C",
                  5));
  // FF reaches the program once, NUL not at all.
  EXPECT_EQ(ReadAll(4),
            "A\xFF"
            "BC");
  EXPECT_TRUE(port_.ReadLineErrors().Empty());
}

// A pseudo-terminal receives no parity or framing errors and no breaks, so it goes without
// the error marks, which hold the kernel to its byte-by-byte path; with them (as on a real
// line) it doubles FF, and the decoding must undo that. Both ways every byte arrives as sent,
// a would-be mark too, and a parity setting adds no check either.
TEST(PtyMarks, APseudoTerminalGoesWithoutErrorMarksAndEveryByteArrivesAsSentEitherWay) {
  for (const bool marks : {false, true}) {
    SCOPED_TRACE(marks);
    PtyPair pty;
    std::unique_ptr<kvel::SerialDevice> device;
    ASSERT_EQ(kvel::TermiosDevice::Open(pty.SlavePath(), &device, nullptr, nullptr, marks), 0);
    kvel::Dcb dcb;
    dcb.baudRate = 9600;
    dcb.byteSize = 8;
    dcb.parity = 2;
    dcb.flags = kvel::kDcbBinary | kvel::kDcbParity;
    ASSERT_EQ(device->SetCommState(dcb), 0);
    kvel::TermiosSettings t;
    ASSERT_EQ(kvel::GetTermios2(pty.MasterFd(), &t), 0);  // the slave's settings
    EXPECT_EQ((t.iflag & PARMRK) != 0, marks);
    EXPECT_EQ((t.iflag & INPCK) != 0, marks);

    const std::string sent = AllBytes() + std::string("\xFF\0A\xFF\0\0\xFF\xFF", 8) + AllBytes();
    pty.Write(sent);
    std::string got;
    WaitFor([&] {
      std::uint8_t buffer[1024];
      std::size_t n = 0;
      if (device->Read(buffer, sizeof buffer, &n) == 0) got.append(buffer, buffer + n);
      return got.size() >= sent.size();
    });
    EXPECT_EQ(got, sent);
    std::uint32_t errors = 0;
    kvel::ComStat stat;
    ASSERT_EQ(device->ClearCommError(&errors, &stat), 0);
    EXPECT_EQ(errors, 0u);
  }
}

struct RateRow {
  TBaudRate rate;
  std::int32_t custom;
  std::uint32_t expected;
};

class PtyRateTest : public PtyPortTest, public testing::WithParamInterface<RateRow> {};

TEST_P(PtyRateTest, RateReadsBackFromTheDriver) {
  port_.SetBaudRate(GetParam().rate);
  port_.SetCustomBaudRate(GetParam().custom);
  port_.SetStopBits(sbTwoStopBits);
  port_.Parity().SetBits(prOdd);
  port_.FlowControl().SetFlowControl(fcSoftware);
  port_.OpenPort();
  const kvel::TermiosSettings t = SlaveSettings();
  EXPECT_EQ(t.speed, GetParam().expected);
  EXPECT_NE(t.cflag & CSTOPB, 0u);
  EXPECT_NE(t.cflag & PARODD, 0u);
  EXPECT_NE(t.iflag & IXON, 0u);
  EXPECT_NE(t.iflag & IXOFF, 0u);
  EXPECT_EQ(t.lflag & (ICANON | ECHO | ISIG), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, PtyRateTest,
                         testing::Values(RateRow{brCustom, 31250, 31250},
                                         RateRow{brCustom, 250000, 250000},
                                         RateRow{br14400, 0, 14400}, RateRow{br56000, 0, 56000},
                                         RateRow{br115200, 0, 115200},
                                         RateRow{br256000, 0, 256000}));

TEST_F(PtyPortTest, RateChangeReachesTheOpenDevice) {
  port_.OpenPort();
  EXPECT_EQ(SlaveSettings().speed, 9600u);
  port_.SetBaudRate(br57600);
  EXPECT_EQ(SlaveSettings().speed, 57600u);
  port_.BeginSettingsChange();
  port_.SetBaudRate(br1200);
  EXPECT_EQ(SlaveSettings().speed, 57600u);
  port_.EndSettingsChange();
  EXPECT_EQ(SlaveSettings().speed, 1200u);
}

TEST_F(PtyPortTest, PtyHasNoModemLines) {
  port_.FlowControl().SetControlDTR(dtrEnable);
  port_.FlowControl().SetControlRTS(rtsEnable);
  port_.OpenPort();
  EXPECT_TRUE(port_.ReadModemSignals().Empty());
}

TEST_F(PtyPortTest, SecondOpenIsRefused) {
  port_.OpenPort();
  TComPort second;
  second.SetPort("COM31");
  int code = 0;
  EXPECT_EQ(ErrorOf([&] { second.OpenPort(); }, &code), 1);
  EXPECT_EQ(code, EBUSY);
  EXPECT_FALSE(second.Connected());
  try {
    second.OpenPort();
  } catch (const EComPort& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: 16) - " +
                                         pty_.SlavePath() + " is in use by another program");
  }
  port_.ClosePort();
  second.OpenPort();
  EXPECT_TRUE(second.Connected());
}

TEST_F(PtyPortTest, AnotherProcessHoldingTheDeviceRefusesTheOpen) {
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
    char c;
    n = read(release[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);
  int code = 0;
  EXPECT_EQ(ErrorOf([&] { port_.OpenPort(); }, &code), 1);
  EXPECT_EQ(code, EBUSY);
  ASSERT_EQ(write(release[1], "x", 1), 1);
  waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  port_.OpenPort();
  EXPECT_TRUE(port_.Connected());
}

TEST_F(PtyPortTest, LockFileLivesWhileOpen) {
  const std::string name = pty_.SlavePath().substr(pty_.SlavePath().rfind('/') + 1);
  const std::string lock = kvel::DeviceLock::DefaultLockDir() + "/LCK.." + name;
  if (access(kvel::DeviceLock::DefaultLockDir().c_str(), W_OK) != 0) GTEST_SKIP();
  port_.OpenPort();
  EXPECT_TRUE(std::filesystem::exists(lock));
  port_.ClosePort();
  EXPECT_FALSE(std::filesystem::exists(lock));
}

TEST_F(PtyPortTest, ADeviceThatHasGoneKeepsNoLock) {
  const std::string name = pty_.SlavePath().substr(pty_.SlavePath().rfind('/') + 1);
  const std::string lock = kvel::DeviceLock::DefaultLockDir() + "/LCK.." + name;
  if (access(kvel::DeviceLock::DefaultLockDir().c_str(), W_OK) != 0) GTEST_SKIP();
  port_.OpenPort();
  ASSERT_TRUE(std::filesystem::exists(lock));
  pty_.CloseMaster();  // unplugged, the port still open
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(lock); }));
  // Another program opening a new device of that name is not told it is in use.
  kvel::DeviceLock other;
  EXPECT_EQ(other.Acquire("/dev/pts/" + name), 0);
  EXPECT_EQ(other.FileName(), lock);
  other.Release();
  EXPECT_THROW(port_.PendingInput(), EComPort);
  port_.ClosePort();
}

// Stale lock files of another user in the sticky lock directory, which this user cannot
// remove. Run as root, the test plays that user in a child process.
TEST(StaleLockOfAnotherUser, IsIgnoredAndTheDeviceOpensAllTheSame) {
  if (geteuid() != 0 || access(kvel::DeviceLock::DefaultLockDir().c_str(), W_OK) != 0)
    GTEST_SKIP() << "needs root to play two users";
  PtyPair pty;
  const std::string name = pty.SlavePath().substr(pty.SlavePath().rfind('/') + 1);
  const std::string lock = kvel::DeviceLock::DefaultLockDir() + "/LCK.." + name;
  {
    std::FILE* f = std::fopen(lock.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%10d\n", 0x3FFFFFFF);  // a process that cannot be running
    std::fclose(f);
  }
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chown(pty.SlavePath().c_str(), kNobody, static_cast<gid_t>(-1)), 0);
  // Something else holds the device's own lock for the second open.
  const auto runAsNobody = [&](bool deviceHeld) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    int holder = -1;
    if (deviceHeld) {
      holder = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      EXPECT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    const pid_t child = fork();
    if (child == 0) {
      close(out[0]);
      std::string result;
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
        result = "no setuid";
      } else {
        setenv("KVEL_COM33", pty.SlavePath().c_str(), 1);
        TComPort port;
        port.SetPort("COM33");
        try {
          port.OpenPort();
          result = port.Connected() ? "open" : "closed";
          port.ClosePort();
        } catch (const std::exception& e) {
          result = e.what();
        }
      }
      [[maybe_unused]] const ssize_t n = write(out[1], result.data(), result.size());
      _exit(0);
    }
    close(out[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
      result.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    waitpid(child, nullptr, 0);
    if (holder >= 0) close(holder);
    return result;
  };
  EXPECT_EQ(runAsNobody(false), "open");
  EXPECT_EQ(runAsNobody(true), "Unable to open com port (win error code: 16) - " + pty.SlavePath() +
                                   " is in use by another program; a stale lock file " + lock +
                                   " of user root (process 1073741823, not running) was ignored");
  EXPECT_TRUE(std::filesystem::exists(lock));  // not ours to remove
  std::filesystem::remove(lock);
}

TEST_F(PtyPortTest, WriteUnderXoffCompletesPartlyAfterItsTimeout) {
  port_.FlowControl().SetXonXoffOut(true);
  port_.Timeouts().SetWriteTotalMultiplier(1);
  port_.Timeouts().SetWriteTotalConstant(150);
  port_.OpenPort();
  StopOutputFromTheFarEnd();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_.SendText(std::string(50, 'x')), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 1500ms);
  pty_.Write("\x11");  // XON: the line moves again
  EXPECT_EQ(port_.SendText("ok"), 2);
  EXPECT_EQ(pty_.Read(2), "ok");
}

TEST_F(PtyPortTest, RtsToggleWriteUnderXoffStillEndsInTime) {
  port_.FlowControl().SetXonXoffOut(true);
  port_.FlowControl().SetControlRTS(rtsToggle);
  port_.Timeouts().SetWriteTotalMultiplier(1);
  port_.Timeouts().SetWriteTotalConstant(100);
  port_.OpenPort();
  StopOutputFromTheFarEnd();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_.SendText(std::string(20, 'x')), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  pty_.Write("\x11");
  EXPECT_EQ(port_.SendText("ok"), 2);
  EXPECT_EQ(pty_.Read(2), "ok");
}

TEST_F(PtyPortTest, AllOnesTimeoutMultipliersWaitInsteadOfGivingUp) {
  // 3000 bytes times the all-ones multiplier is beyond what a clock can add.
  const std::string data(3000, 'w');
  port_.Timeouts().SetWriteTotalMultiplier(-1);
  port_.Timeouts().SetReadInterval(0);
  port_.Timeouts().SetReadTotalMultiplier(-1);
  port_.OpenPort();
  EXPECT_EQ(port_.SendText(data), 3000);
  EXPECT_TRUE(pty_.Read(3000) == data);

  std::thread farEnd([&] {
    std::this_thread::sleep_for(100ms);
    pty_.Write(data);
  });
  std::string text;
  EXPECT_EQ(port_.ReceiveText(text, 3000), 3000);
  farEnd.join();
  EXPECT_TRUE(text == data);
}

TEST_F(PtyPortTest, InputFromBeforeTheOpenIsNotDelivered) {
  // Left in the driver by whoever had the line before, under other settings.
  pty_.Write(std::string("\xFF\0A\xFF\xFFold", 8));
  std::this_thread::sleep_for(20ms);
  port_.OpenPort();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(port_.PendingInput(), 0);
  EXPECT_TRUE(port_.ReadLineErrors().Empty());
  pty_.Write("new\xFF");
  EXPECT_EQ(ReadAll(4), "new\xFF");
}

TEST_F(PtyPortTest, CloseLeavesTheDeviceOpenableByOthers) {
  port_.OpenPort();
  port_.ClosePort();
  // Someone else still has the device open (here the pair itself): exclusive use must
  // end with this program's close all the same.
  const int fd = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  close(fd);
  EXPECT_EQ(exclusive, 0);
}

TEST_F(PtyPortTest, DeviceGoneFailsCallsWithoutSpinning) {
  port_.OpenPort();
  pty_.CloseMaster();
  int code = 0;
  ASSERT_TRUE(WaitFor([&] { return ErrorOf([&] { port_.PendingInput(); }, &code) == 10; }));
  EXPECT_EQ(code, EIO);

  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(300ms);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const auto cpuUs = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 100000L);  // well under a third of the wait

  std::string text;
  EXPECT_EQ(ErrorOf([&] { port_.SendText("x"); }, &code), 2);
  EXPECT_EQ(code, EIO);
  try {
    port_.PendingInput();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(),
                 "ClearCommError function failed (win error code: 5) - the device has gone "
                 "(adapter unplugged?)");
  }
  EXPECT_EQ(ErrorOf([&] { port_.ReceiveText(text, 5); }, &code), 3);
  EXPECT_EQ(ErrorOf([&] { port_.ReadModemSignals(); }, &code), 11);
  EXPECT_EQ(ErrorOf([&] { port_.PurgeBuffers(true, false); }, &code), 5);
  port_.ClosePort();
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(ErrorOf([&] { port_.OpenPort(); }, &code), 1);
  EXPECT_EQ(code, ENOENT);
}

TEST(PtyOpen, UnknownPortsFailToOpen) {
  TComPort port;
  port.SetPort("COM0x");
  int code = 0;
  EXPECT_EQ(ErrorOf([&] { port.OpenPort(); }, &code), 1);
  EXPECT_EQ(code, ENOENT);
  EXPECT_FALSE(port.Connected());
  try {
    port.OpenPort();
  } catch (const EComPort& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to open com port (win error code: 2) - ", 0), 0u)
        << e.what();
  }
}

struct HintRow {
  const char* name;
  mode_t mode;
  const char* group;  // nullptr: root
  const char* expected;
};

class PermissionHintTest : public testing::TestWithParam<HintRow> {};

TEST_P(PermissionHintTest, NamesAGroupOnlyWhenItMayReadAndWrite) {
  const HintRow& row = GetParam();
  char path[] = "/tmp/kvel-hint-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(chmod(path, row.mode), 0);
  gid_t gid = 0;
  if (row.group != nullptr) {
    const struct group* g = getgrnam(row.group);
    if (g == nullptr) GTEST_SKIP() << "no group " << row.group;
    gid = g->gr_gid;
  }
  if (chown(path, static_cast<uid_t>(-1), gid) != 0) GTEST_SKIP() << "cannot change the group";
  const std::string hint = kvel::PermissionHint(path);
  unlink(path);
  EXPECT_NE(hint.find(row.expected), std::string::npos) << hint;
  EXPECT_EQ(hint.find("-aG root"), std::string::npos) << hint;
  // The message box shows the byte string one byte per character: no multi-byte forms.
  for (const char c : hint) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << hint;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PermissionHintTest,
    testing::Values(HintRow{"RootOnly", 0600, nullptr, "its mode 0600 lets no group"},
                    HintRow{"RootGroupWritable", 0660, nullptr, "udev rule"},
                    HintRow{"TtyWriteOnly", 0620, "tty", "its mode 0620 lets no group"},
                    HintRow{"Dialout", 0660, "dialout", "sudo usermod -aG dialout $USER"}),
    [](const testing::TestParamInfo<HintRow>& row) { return std::string(row.param.name); });

TEST(OpenHints, WhatIsNoSerialDeviceSaysSo) {
  char dir[] = "/tmp/kvel-open-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/plain";
  std::FILE* f = std::fopen(file.c_str(), "w");
  std::fclose(f);
  const struct {
    std::string path;
    int code;
    std::string hint;
  } rows[] = {{file, ENOTTY, " - " + file + " is not a serial device"},
              {dir, EISDIR, std::string(" - ") + dir + " is a folder, not a serial device"}};
  for (const auto& row : rows) {
    setenv("KVEL_COM36", row.path.c_str(), 1);
    TComPort port;
    port.SetPort("COM36");
    try {
      port.OpenPort();
      ADD_FAILURE() << row.path << " opened";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.SystemError(), row.code);
      EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " +
                                           std::to_string(row.code) + ")" + row.hint);
    }
    EXPECT_FALSE(port.Connected());
  }
  unsetenv("KVEL_COM36");
  std::filesystem::remove_all(dir);
}

struct UartRow {
  std::uint32_t base;
  std::uint32_t requested;
  std::uint32_t actual;
};

TEST(UartRate, WholeDivisorsOfTheBaseClock) {
  const UartRow rows[] = {{115200, 31250, 28800},   {115200, 9600, 9600},
                          {115200, 115200, 115200}, {115200, 250000, 115200},
                          {1500000, 31250, 31250},  {115200, 14400, 14400}};
  for (const UartRow& row : rows)
    EXPECT_EQ(kvel::UartRate(row.base, row.requested), row.actual) << row.requested;
}

TEST(FrameKept, DataBitsParityAndStopBitsMustStay) {
  EXPECT_TRUE(kvel::FrameKept(CS7 | PARENB | CREAD, CS7 | PARENB | CLOCAL));
  EXPECT_FALSE(kvel::FrameKept(CS7 | PARENB, CS8));  // what a pseudo-terminal does
  EXPECT_FALSE(kvel::FrameKept(CS8 | PARENB | CMSPAR, CS8 | PARENB));
  EXPECT_FALSE(kvel::FrameKept(CS5 | CSTOPB, CS5));
}

TEST(DeviceLockTest, StaleLocksAreTakenOverLiveOnesRefused) {
  char pattern[] = "/tmp/kvel-lock-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string file = dir + "/LCK..ttyFAKE0";
  {
    // A process id that cannot be alive.
    std::FILE* f = std::fopen(file.c_str(), "w");
    std::fprintf(f, "%10d\n", 0x3FFFFFFF);
    std::fclose(f);
  }
  kvel::DeviceLock first(dir);
  EXPECT_EQ(first.Acquire("/dev/ttyFAKE0"), 0);
  EXPECT_EQ(first.FileName(), file);
  kvel::DeviceLock second(dir);
  EXPECT_EQ(second.Acquire("/dev/ttyFAKE0"), EBUSY);  // this very process holds it
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(second.Acquire("/dev/ttyFAKE0"), 0);
  second.Release();
  kvel::DeviceLock nowhere(dir + "/missing");
  EXPECT_EQ(nowhere.Acquire("/dev/ttyFAKE0"), 0);  // no lock directory: go on without
  EXPECT_EQ(nowhere.FileName(), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
