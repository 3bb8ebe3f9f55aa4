// The data path under stress over a pseudo-terminal: what arrives after a purge, the
// last bytes of a device that hangs up, and output that the far end holds off at close.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "CPort.h"
#include "PortErrors.h"
#include "PtyPair.h"

using kvel::test::PtyPair;
using kvel::test::WaitFor;
using namespace std::chrono_literals;

namespace {

class PtyStressTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("KVEL_COM32", pty_.SlavePath().c_str(), 1);
    port_.SetPort("COM32");
  }
  void TearDown() override { unsetenv("KVEL_COM32"); }

  PtyPair pty_;
  TComPort port_;
};

// A far end that floods the line with filler and answers each command "Q<n>\r" with
// "<R<n>>" in the middle of the flood.
class FloodingResponder {
 public:
  explicit FloodingResponder(int masterFd) : fd_(masterFd), thread_([this] { Run(); }) {}
  ~FloodingResponder() {
    stop_ = true;
    thread_.join();
  }

 private:
  void WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && !stop_) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 5);
      }
    }
  }
  void Run() {
    const std::string filler(200, '.');
    std::string commands;
    char buffer[256];
    while (!stop_) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) commands.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = commands.find('\r')) != std::string::npos) {
        WriteAll("<R" + commands.substr(1, end - 1) + ">");
        commands.erase(0, end + 1);
      }
      WriteAll(filler);
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(PtyStressTest, NoReplyAfterAPurgeIsLostUnderAFlood) {
  port_.SetEvents({});
  port_.OpenPort();
  FloodingResponder farEnd(pty_.MasterFd());
  constexpr int kRounds = 1000;
  int lost = 0;
  std::string text;
  for (int round = 0; round < kRounds; ++round) {
    port_.PurgeBuffers(true, true);
    const std::string number = std::to_string(round);
    port_.SendText("Q" + number + "\r");
    const std::string reply = "<R" + number + ">";
    std::string seen;
    const bool found = WaitFor(
        [&] {
          port_.ReceiveText(text, port_.PendingInput());
          seen += text;
          if (seen.find(reply) != std::string::npos) return true;
          // Only the tail can still hold the start of the reply.
          if (seen.size() > 64) seen.erase(0, seen.size() - 64);
          return false;
        },
        2000ms);
    if (!found) ++lost;
  }
  EXPECT_EQ(lost, 0) << "of " << kRounds << " rounds";
}

TEST_F(PtyStressTest, TheLastLineBeforeAHangUpIsRead) {
  port_.OpenPort();
  pty_.Write("last line\r\n");
  ASSERT_TRUE(WaitFor([&] { return port_.PendingInput() == 11; }));
  pty_.CloseMaster();
  std::this_thread::sleep_for(100ms);  // the hang-up reaches the reader
  EXPECT_EQ(port_.PendingInput(), 11);
  std::string text;
  EXPECT_EQ(port_.ReceiveText(text, 5), 5);
  EXPECT_EQ(text, "last ");
  EXPECT_EQ(port_.PendingInput(), 6);
  EXPECT_EQ(port_.ReceiveText(text, 100), 6);
  EXPECT_EQ(text, "line\r\n");
  // Once the queue is empty the loss is told.
  int code = 0;
  EXPECT_EQ(ErrorOf([&] { port_.PendingInput(); }, &code), 10);
  EXPECT_EQ(code, EIO);
  EXPECT_EQ(ErrorOf([&] { port_.ReceiveText(text, 5); }, &code), 3);
  port_.ClosePort();
}

// Bytes handed to the driver are on their way: neither a purge of the output nor the close
// that follows a last command may take them back.
TEST_F(PtyStressTest, OutputOfCompletedWritesSurvivesPurgesAndTheClose) {
  std::string expected;
  for (int session = 0; session < 300; ++session) {
    port_.OpenPort();
    const std::string command = "<" + std::to_string(session) + " ";
    port_.SendText(command);
    port_.PurgeBuffers(true, true);
    port_.SendText("!");
    port_.ClosePort();
    expected += command + "!";
  }
  EXPECT_TRUE(pty_.Read(expected.size()) == expected);
}

}  // namespace
