#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "CPort.h"
#include "SimProcess.h"

namespace kvel::sim::test {
namespace {

// Polls the port as the dialogues do, until `until` has arrived or `timeoutMs` passed.
std::string Collect(TComPort& port, const std::string& until, int timeoutMs) {
  std::string got;
  for (int waited = 0; waited < timeoutMs && got.find(until) == std::string::npos; waited += 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string chunk;
    port.ReceiveText(chunk, port.PendingInput());
    got += chunk;
  }
  return got;
}

TEST(KvelSimPort, SerialComponentTalksToTheSimulatorByPortName) {
  SimProcess sim({"--line", "COM1", "--indexer", "1 xmu", "--indexer", "5 mu probe=number"});
  const std::string path = ValueOf(sim.ReadLine(5000));
  ASSERT_FALSE(path.empty());
  ::setenv("KVEL_COM62", path.c_str(), 1);
  for (int session = 0; session < 2; ++session) {  // closing the port leaves the line usable
    TComPort port;
    port.SetPort("COM62");
    port.OpenPort();
    port.PurgeBuffers(true, true);
    port.SendText("H23\r");
    EXPECT_EQ(Collect(port, "\r\n", 2000), "=E XMU VORTAN V2.1\r\n");
    port.SendText("<5? ");
    EXPECT_EQ(Collect(port, "\r\n", 2000), "5\r\n");
    port.SendText("<1 ");
    port.ClosePort();
  }
  ::unsetenv("KVEL_COM62");
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace kvel::sim::test
