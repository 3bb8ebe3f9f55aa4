#include <gtest/gtest.h>

#include <cctype>

#include "Harness.h"
#include "Indexer.h"

namespace kvel::sim::test {
namespace {

struct FaultRow {
  const char* fault;
  const char* requests;  // sent one after the other, 200 ms apart
  const char* replies;   // everything that arrived, in order
};

class Fault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(Fault, ShowsInTheReplies) {
  const FaultRow& row = GetParam();
  SimLine sim(std::string("indexer 1 xmu\nindexer 2 mu\nfault 1 ") + row.fault);
  Harness h = sim.harness();
  std::string got;
  std::string requests = row.requests;
  for (std::size_t start = 0; start < requests.size();) {
    std::size_t end = requests.find('|', start);
    if (end == std::string::npos) end = requests.size();
    got += h.Ask(requests.substr(start, end - start), 200);
    start = end + 1;
  }
  EXPECT_EQ(Transcript::Visible(got), Transcript::Visible(row.replies));
}

INSTANTIATE_TEST_SUITE_P(
    Indexer, Fault,
    ::testing::Values(FaultRow{"silent", "<1? |H23\r|<2? |H23\r", "==I MU VORTAN V1.7\r\n"},
                      FaultRow{"busy", "<1? |Z95 1\r|H21 \r", "::=00000000\r\n"},
                      FaultRow{"cut=5", "H23\r|H23\r", "=E XM=E XM"},
                      FaultRow{"noise=\"\\x01\\xFF\"", "<1? |H21 \r",
                               "\x01\xFF=\x01\xFF=00000000\r\n"},
                      FaultRow{"answer-after=2", "H23\r|H23\r|H23\r", "=E XMU VORTAN V2.1\r\n"},
                      FaultRow{"slow=300", "H23\r|L26\r", "=E XMU VORTAN V2.1\r\n"},
                      FaultRow{"ack-delay=500", "Z95 1\r|H23\r|<1? ", "==E XMU VORTAN V2.1\r\n="}),
    [](const auto& row) {
      std::string name;
      for (char c : std::string(row.param.fault)) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
        if (c == '=') break;
      }
      return name;
    });

TEST(Faults, SlowRepliesComeLate) {
  SimLine sim("indexer 1 xmu\nfault 1 slow=300");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r", 300), "");
  EXPECT_EQ(h.Wait(100), "=E XMU VORTAN V2.1\r\n");
}

TEST(Faults, SlowAcknowledgesComeLateButDataDoesNot) {
  SimLine sim("indexer 1 xmu\nfault 1 ack-delay=150");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("Z95 1\n\r", 150), "");
  EXPECT_EQ(h.Wait(20), "=");
  EXPECT_EQ(h.Ask("H21 \n\r", 100), "=00000000\r\n");
}

TEST(Faults, AcknowledgesStopAfterProgramLineK) {
  SimLine sim("indexer 1 xmu\nfault 1 no-ack-after-line=2");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H12\n\r", 400), "=");
  EXPECT_EQ(h.Ask("N001 G01 X1\r", 100), "=");
  EXPECT_EQ(h.Ask("N002 G01 X2\r", 100), "=");
  EXPECT_EQ(h.Ask("N003 G01 X3\r", 4000), "");
  EXPECT_EQ(h.Ask("H21 \n\r", 100), "=00000000\r\n");  // other commands still answer
  EXPECT_EQ(h.Ask("H12\n\r", 400), "=");               // and a new erase starts counting again
  EXPECT_EQ(h.Ask("N001 G01 X1\r", 100), "=");
}

TEST(Faults, EraseIsNeverAcknowledged) {
  SimLine sim("indexer 1 xmu\nfault 1 no-ack-h12");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H12\n\r", 6000), "");
  EXPECT_EQ(h.Ask("N001 G01 X1\r", 100), "=");
}

TEST(Faults, DeviceGoesAwayAfterSomeRequests) {
  SimLine sim("line COM1 gone-after-requests=3\nindexer 1 xmu");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");
  h.Send("H23\r");
  EXPECT_FALSE(sim.line().IsGone());
  EXPECT_EQ(h.Ask("H23\r"), "");  // the third request finds nobody
  EXPECT_TRUE(sim.line().IsGone());
  EXPECT_EQ(h.Ask("H23\r"), "");
  const auto entries = sim.line().transcript().Entries();
  EXPECT_EQ(entries.back().direction, Transcript::Direction::Event);
}

TEST(Faults, DeviceGoesAwayAtATimeAndDropsWhatWasQueued) {
  SimLine sim("line COM1 gone-after=10\nindexer 1 xmu");
  Harness h = sim.harness();
  h.Send("H23\r");
  EXPECT_EQ(h.Wait(9.5), "=E ");
  EXPECT_EQ(h.line.NextEventUs(), 10000);
  EXPECT_EQ(h.Wait(100), "");
  EXPECT_TRUE(sim.line().IsGone());
  EXPECT_EQ(h.line.NextEventUs(), std::nullopt);
}

TEST(Faults, DriveCanBeSilent) {
  SimLine sim("drive grv error=5\nfault drive silent");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("ERR\r"), "");
}

}  // namespace
}  // namespace kvel::sim::test

namespace kvel::sim::test {
namespace {

TEST(DownloadFaults, UnitFallsSilentAfterProgramLineKUntilTheNextErase) {
  SimLine sim("indexer 1 xmu\nfault 1 silent-after-line=2");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("L26 2\n\r", 100), "=");
  EXPECT_EQ(h.Ask("H12\n\r", 400), "=");
  EXPECT_EQ(h.Ask("N001 G01 X1\r", 100), "=");
  EXPECT_EQ(h.Ask("N002 G01 X2\r", 100), "=");
  EXPECT_EQ(h.Ask("N003 G01 X3\r", 500), "");
  // Nothing at all answers now: not the line read, the unit query or the probe.
  EXPECT_EQ(h.Ask("H13\n\r", 200), "");
  EXPECT_EQ(h.Ask("H23\r", 200), "");
  EXPECT_EQ(h.Ask("<1? ", 200), "");
  // The third line was never stored.
  EXPECT_EQ(static_cast<Indexer*>(sim.line().Find(1))->Program().count(3), 0U);
  EXPECT_EQ(h.Ask("H12\n\r", 400), "=");
  EXPECT_EQ(h.Ask("H23\r", 100), "=E XMU VORTAN V2.1\r\n");
}

TEST(DownloadFaults, UnitStoresOneLineAsAnotherText) {
  SimLine sim("indexer 1 xmu\nfault 1 \"store-line=2:N002 G01 X999\"");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("L26 2\n\r", 100), "=");
  EXPECT_EQ(h.Ask("N001 G01 X1\r", 100), "=");
  EXPECT_EQ(h.Ask("N002 G01 X2\r", 100), "=");
  EXPECT_EQ(h.Ask("N003 G01 X3\r", 100), "=");
  EXPECT_EQ(h.Ask("N1 H13\n\r", 100), "=N001 G01 X1\r\n");
  EXPECT_EQ(h.Ask("N2 H13\n\r", 100), "=N002 G01 X999\r\n");
  EXPECT_EQ(h.Ask("N3 H13\n\r", 100), "=N003 G01 X3\r\n");
}

TEST(DownloadFaults, NewFaultSettingsAreChecked) {
  SimConfig config;
  config.Apply("indexer 1 xmu");
  EXPECT_THROW(config.Apply("fault 1 store-line=2"), ConfigError);
  EXPECT_THROW(config.Apply("fault 1 store-line=0:N000 X1"), ConfigError);
  EXPECT_THROW(config.Apply("fault 1 silent-after-line=x"), ConfigError);
  EXPECT_NO_THROW(config.Apply("fault 1 silent-after-line=0"));
}

}  // namespace
}  // namespace kvel::sim::test
