#include <gtest/gtest.h>

#include <atomic>

#include "CPort.h"
#include "Harness.h"
#include "MemoryLine.h"
#include "MemoryPeer.h"

namespace kvel::sim::test {
namespace {

// The serial component on an in-memory line whose far end is the simulator, in virtual time.
struct MemoryRig {
  std::atomic<std::int64_t> nowMs{0};
  SimLine sim;
  MemoryPeer peer;
  std::shared_ptr<kvel::MemoryLine> line;
  TComPort port;

  explicit MemoryRig(const std::string& statements)
      : sim(statements),
        peer(sim.line()),
        line(std::make_shared<kvel::MemoryLine>([this] { return nowMs.load(); })) {
    line->SetPeer(&peer);
    kvel::RegisterMemoryLine("COM61", line);
    port.SetPort("COM61");
    port.OpenPort();
  }
  ~MemoryRig() {
    port.ClosePort();
    line->SetPeer(nullptr);
    kvel::UnregisterMemoryLine("COM61");
  }
  std::string Ask(const std::string& text, int waitMs) {
    port.SendText(text);
    nowMs += waitMs;
    std::string reply;
    port.ReceiveText(reply, port.PendingInput());
    return reply;
  }
};

TEST(MemoryPeer, ScanProbeAndUnitQueryThroughThePort) {
  MemoryRig rig("indexer 3 qn4100i\nindexer 7 xmu probe=busy");
  EXPECT_EQ(rig.Ask("<1? ", 100), "");
  EXPECT_EQ(rig.Ask("<3? ", 100), "=");
  EXPECT_EQ(rig.Ask("H23\r", 500), "=P QN4100I VORTAN V3.0\r\n");
  EXPECT_EQ(rig.Ask("<7? ", 100), ":");
  EXPECT_EQ(rig.Ask("H23\r", 500), "=E XMU VORTAN V2.1\r\n");
  const std::string sent = rig.peer.WithLine(
      [](Line& l) { return l.transcript().Bytes(Transcript::Direction::Received); });
  EXPECT_EQ(sent, "<1? <3? H23\r<7? H23\r");
}

TEST(MemoryPeer, RepliesTrickleInAtTheLineRate) {
  MemoryRig rig("indexer 1 xmu");
  rig.port.SendText("H23\r");
  rig.nowMs += 10;  // 4 ms in, 2 ms delay: four bytes have arrived by now
  EXPECT_EQ(rig.port.PendingInput(), 3);
  rig.nowMs += 100;
  EXPECT_EQ(rig.port.PendingInput(), 20);
}

TEST(MemoryPeer, DeviceGoingAwayFailsThePort) {
  MemoryRig rig("line COM1 gone-after=1000\nindexer 1 xmu");
  EXPECT_EQ(rig.Ask("H23\r", 100), "=E XMU VORTAN V2.1\r\n");
  rig.nowMs += 1000;
  EXPECT_THROW(rig.port.PendingInput(), EComPort);
}

}  // namespace
}  // namespace kvel::sim::test
