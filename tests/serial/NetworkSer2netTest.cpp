// The network back end against a real ser2net on 127.0.0.1, with a pseudo-terminal behind
// it standing in for the serial line (or kvel-sim at the far end), and against
// kvel-sim --listen.
#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "CPort.h"
#include "ComError.h"
#include "NetworkTestServers.h"
#include "PortErrors.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "Termios2.h"

using kvel::test::PtyPair;
using kvel::test::Ser2net;
using kvel::test::WaitFor;
using namespace std::chrono_literals;

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

std::string ReadAll(TComPort& port, std::size_t count) {
  std::string all;
  WaitFor(
      [&] {
        std::string part;
        port.ReceiveText(part, std::max(4096, port.PendingInput()));
        all += part;
        return all.size() >= count;
      },
      5000ms);
  return all;
}

class Ser2netTest : public testing::Test {
 protected:
  void SetUp() override {
    if (Ser2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed (tools/deps.sh)";
    folder_ = testing::TempDir() + "kvel-ser2net-" + std::to_string(getpid()) + "-" +
              testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(folder_);
    server_ = std::make_unique<Ser2net>(
        folder_, std::vector<Ser2net::Connection>{{true, rfcLine_.SlavePath(), 0},
                                                  {false, rawLine_.SlavePath(), 0}});
    ASSERT_TRUE(server_->Running()) << server_->Error();
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(folder_);
  }

  // The line settings ser2net gave the pseudo-terminal (read through the master, which
  // reports the slave's).
  kvel::TermiosSettings Line() {
    kvel::TermiosSettings t;
    EXPECT_EQ(kvel::GetTermios2(rfcLine_.MasterFd(), &t), 0);
    return t;
  }

  std::string folder_;
  PtyPair rfcLine_;
  PtyPair rawLine_;
  std::unique_ptr<Ser2net> server_;
  TComPort port_;
};

TEST_F(Ser2netTest, TheSettingsOfThePortArriveOnTheLineBehindTheServer) {
  port_.SetPort(server_->Url(0));
  port_.SetBaudRate(br19200);
  port_.SetDataBits(dbSeven);
  port_.Parity().SetBits(prOdd);
  port_.SetStopBits(sbTwoStopBits);
  port_.OpenPort();  // ser2net answered every setting as asked, 7 data bits included
  // A pseudo-terminal keeps no character size and no parity enable (the kernel forces CS8
  // and clears PARENB), so the frame shows in what it keeps: the stop bits and the parity
  // kind.
  kvel::TermiosSettings t = Line();
  EXPECT_EQ(t.speed, 19200u);
  EXPECT_NE(t.cflag & CSTOPB, 0u);
  EXPECT_EQ(t.cflag & (PARODD | CMSPAR), static_cast<unsigned>(PARODD));

  // Changes while open arrive at once.
  port_.SetBaudRate(br38400);
  port_.SetStopBits(sbOneStopBit);
  port_.Parity().SetBits(prSpace);
  t = Line();
  EXPECT_EQ(t.speed, 38400u);
  EXPECT_EQ(t.cflag & CSTOPB, 0u);
  EXPECT_EQ(t.cflag & (PARODD | CMSPAR), static_cast<unsigned>(CMSPAR));
  port_.Parity().SetBits(prMark);
  EXPECT_EQ(Line().cflag & (PARODD | CMSPAR), static_cast<unsigned>(PARODD | CMSPAR));
  port_.SetCustomBaudRate(31250);
  port_.SetBaudRate(brCustom);
  EXPECT_EQ(Line().speed, 31250u);
  port_.ClosePort();
}

TEST_F(Ser2netTest, EveryByteValueRoundTripsAndAPurgeEmptiesWhatWaits) {
  for (std::size_t i : {0u, 1u}) {
    SCOPED_TRACE(server_->Url(i));
    PtyPair& line = i == 0 ? rfcLine_ : rawLine_;
    TComPort port;
    port.SetPort(server_->Url(i));
    port.OpenPort();
    const std::string all = AllBytes() + "\r" + std::string(1, '\0') + "\r\n";
    EXPECT_EQ(port.SendText(all), static_cast<std::int32_t>(all.size()));
    EXPECT_EQ(line.Read(all.size(), 5000ms), all);
    line.Write(all);
    EXPECT_EQ(ReadAll(port, all.size()), all);

    line.Write("stale");
    ASSERT_TRUE(WaitFor([&] { return port.PendingInput() == 5; }, 5000ms));
    port.PurgeBuffers(true, true);
    EXPECT_EQ(port.PendingInput(), 0);
    line.Write("fresh");
    EXPECT_EQ(ReadAll(port, 5), "fresh");
    port.ClosePort();
  }
}

TEST_F(Ser2netTest, TheServerGoingAwayFailsThePortAsAnUnpluggedAdapter) {
  port_.SetPort(server_->Url(0));
  port_.OpenPort();
  server_->Kill();
  int code = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        return ErrorOf(
                   [&] {
                     std::string text;
                     port_.SendText("x");
                     port_.ReceiveText(text, 10);
                   },
                   &code) != 0;
      },
      5000ms));
  EXPECT_TRUE(kvel::IsDeviceGone(code)) << code;
  port_.ClosePort();
  // Nobody listens any more: the next open says so.
  try {
    port_.OpenPort();
    ADD_FAILURE() << "opened";
  } catch (const EComPort& e) {
    EXPECT_NE(std::string(e.what()).find("refused the connection"), std::string::npos) << e.what();
  }
}

TEST(KvelSimListenTest, TheSimulatorServesALineOnTcp) {
  kvel::sim::test::SimProcess sim(
      {"--listen", "127.0.0.1:0", "--line", "COM1", "--indexer", "1 xmu"});
  const std::string url = kvel::sim::test::ValueOf(sim.ReadLine(10000));
  ASSERT_EQ(url.rfind("socket://127.0.0.1:", 0), 0u) << url;
  for (int session = 0; session < 2; ++session) {  // a second client after the first left
    TComPort port;
    port.SetPort(url);
    port.OpenPort();
    port.SendText("H23\r");
    std::string reply;
    WaitFor(
        [&] {
          std::string part;
          port.ReceiveText(part, port.PendingInput());
          reply += part;
          return reply.find("\r\n") != std::string::npos;
        },
        5000ms);
    EXPECT_EQ(reply, "=E XMU VORTAN V2.1\r\n");
    port.ClosePort();
  }
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
