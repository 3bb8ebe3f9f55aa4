#include <gtest/gtest.h>

#include "Harness.h"

namespace kvel::sim::test {
namespace {

TEST(FaultsMidRun, StopAnsweringAfterSomeRequests) {
  SimLine sim("indexer 1 xmu\nfault 1 silent-after=2");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");
  EXPECT_EQ(h.Ask("H21 \n\r"), "=00000000\r\n");
  EXPECT_EQ(h.Ask("H23\r"), "");
  EXPECT_EQ(h.Ask("<1? "), "");
}

TEST(FaultsMidRun, StopAnsweringAtATime) {
  SimLine sim("indexer 1 xmu\nfault 1 silent-from=300");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");  // at 200 ms
  EXPECT_EQ(h.Ask("H23\r"), "");                        // at 400 ms
}

TEST(FaultsMidRun, BusyUntilATime) {
  SimLine sim("indexer 1 xmu\nfault 1 busy-until=500");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("<1? "), ":");
  EXPECT_EQ(h.Ask("Z95 1\r"), ":");
  EXPECT_EQ(h.Ask("", 200), "");
  EXPECT_EQ(h.Ask("<1? "), "=");
  EXPECT_EQ(h.Ask("Z95 1\r"), "=");
}

TEST(RequestOrder, ASlowAcknowledgeIsNotOvertakenByTheNextData) {
  SimLine sim("indexer 1 xmu\nfault 1 ack-delay=300");
  Harness h = sim.harness();
  h.Send("L50 0\r");
  EXPECT_EQ(h.Ask("H23\r", 50), "");
  EXPECT_EQ(h.Wait(400), "==E XMU VORTAN V2.1\r\n");
}

TEST(ScriptedReplies, ReplaceTheUnitsReplyForSomeUses) {
  SimLine sim("indexer 1 xmu\nreply 1 H23 \"=X special\\r\\n\" uses=2");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r"), "=X special\r\n");
  EXPECT_EQ(h.Ask("  H23\r"), "=X special\r\n");
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");
}

TEST(ScriptedReplies, StartAtATimeAndTheCommandStillActs) {
  SimLine sim("indexer 1 xmu\nreply 1 \"N001 G01\" \"\" from=100");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("N001 G01\r", 150), "=");
  EXPECT_EQ(h.Ask("N001 G01\r", 100), "");  // silent now, but the line is stored
  EXPECT_EQ(h.Ask("N1 H13\n\r", 100), "=N001 G01\r\n");
}

TEST(ScriptedReplies, PauseAtAChosenByte) {
  SimLine sim("indexer 1 xmu\nreply 1 H16 \"L26 = 2\\r\\n\" pause-at=3 pause=1000");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H16\r", 100), "L26");
  EXPECT_EQ(h.Wait(900), "");
  EXPECT_EQ(h.Wait(100), " = 2\r\n");
}

TEST(ScriptedReplies, StatementErrorsNameTheProblem) {
  SimConfig config;
  EXPECT_THROW(config.ApplyText("indexer 1 xmu\nreply 2 H23 x", "t"), ConfigError);
  EXPECT_THROW(config.ApplyText("reply 1 H23", "t"), ConfigError);
  EXPECT_THROW(config.ApplyText("reply 1 H23 x speed=3", "t"), ConfigError);
}

TEST(LineConfig, AnIndexerOnADriveLineIsRefused) {
  SimConfig config;
  try {
    config.ApplyText("line COM2\ndrive zorv\nindexer 3 xmu", "f.sim");
    FAIL() << "accepted";
  } catch (const ConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("f.sim:3: indexer 3: COM2 has a drive"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace kvel::sim::test
