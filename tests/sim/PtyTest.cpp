#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "SimProcess.h"

namespace kvel::sim::test {
namespace {

// A plain termios client on the simulator's pseudo-terminal.
class RawPort {
 public:
  explicit RawPort(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawPort() {
    if (fd_ >= 0) close(fd_);
  }
  RawPort(const RawPort&) = delete;
  RawPort& operator=(const RawPort&) = delete;
  bool IsOpen() const { return fd_ >= 0; }

  void Write(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until `until` has arrived or `timeoutMs` passed.
  std::string ReadUntil(const std::string& until, int timeoutMs) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char chunk[256];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Whether the line has hung up (read gives 0 or an error).
  bool HungUp(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return read(fd_, &c, 1) <= 0;
  }

 private:
  int fd_ = -1;
};

TEST(KvelSim, HelpAndBadOptions) {
  {
    SimProcess sim({"--help"});
    const std::string text = sim.ReadAll(5000);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(text.find("Usage: kvel-sim"), std::string::npos);
    EXPECT_NE(text.find("KVEL_COM<n>"), std::string::npos);
    EXPECT_NE(text.find("fault ADDR|drive"), std::string::npos);
  }
  {
    SimProcess sim({"--version"});
    const std::string text = sim.ReadAll(5000);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(text.rfind("kvel-sim ", 0), 0U) << text;
  }
  // An answer that cannot be written is a failure, not a success.
  for (const char* option : {"--version", "--help"}) {
    const std::string command = std::string(KVEL_SIM_EXE) + " " + option + " >/dev/full";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << option;
  }
  {
    SimProcess sim({"--no-such-option"});
    EXPECT_EQ(sim.Wait(), 2);
  }
  {
    SimProcess sim({"--indexer", "0 xmu"});
    EXPECT_EQ(sim.Wait(), 2);
  }
}

TEST(KvelSim, AnswersOnItsPseudoTerminalAgainAfterTheProgramClosedIt) {
  const std::string envFile = ::testing::TempDir() + "kvel-sim-env";
  std::remove(envFile.c_str());
  SimProcess sim({"--line", "COM1", "--indexer", "1 xmu", "--line", "COM2", "--drive",
                  "zorv error=12", "--env-file", envFile});
  const std::string first = sim.ReadLine(5000);
  const std::string second = sim.ReadLine(5000);
  ASSERT_EQ(first.rfind("KVEL_COM1=/dev/pts/", 0), 0u) << first;
  ASSERT_EQ(second.rfind("KVEL_COM2=/dev/pts/", 0), 0u) << second;
  std::ifstream env(envFile);
  std::string line1;
  std::string line2;
  std::getline(env, line1);
  std::getline(env, line2);
  EXPECT_EQ(line1, first);
  EXPECT_EQ(line2, second);

  {
    RawPort port(ValueOf(first));
    ASSERT_TRUE(port.IsOpen());
    port.Write("H23\r");
    EXPECT_EQ(port.ReadUntil("\r\n", 2000), "=E XMU VORTAN V2.1\r\n");
  }
  {
    RawPort port(ValueOf(first));
    ASSERT_TRUE(port.IsOpen());
    for (char c : std::string("H21 \n\r")) {  // typed, one character at a time
      port.Write(std::string(1, c));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(port.ReadUntil("\r\n", 2000), "=00000000\r\n");
  }
  {
    RawPort drive(ValueOf(second));
    ASSERT_TRUE(drive.IsOpen());
    drive.Write("ERR\r");
    EXPECT_EQ(drive.ReadUntil("\r\n", 2000), "12\r\n");
  }
  EXPECT_EQ(sim.Stop(), 0);
  struct stat st {};
  EXPECT_NE(stat(ValueOf(first).c_str(), &st), 0);  // the device is gone with the simulator
}

TEST(KvelSim, DeviceGoesAwayWhenTold) {
  SimProcess sim({"--line", "COM1 gone-after=300", "--indexer", "1 xmu"});
  const std::string path = ValueOf(sim.ReadLine(5000));
  ASSERT_FALSE(path.empty());
  RawPort port(path);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.HungUp(3000));
  struct stat st {};
  EXPECT_NE(stat(path.c_str(), &st), 0);
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace kvel::sim::test
