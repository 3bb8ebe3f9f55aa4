#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "Drive.h"
#include "Harness.h"
#include "Indexer.h"

namespace kvel::sim::test {
namespace {

TEST(Config, DescribesLinesUnitsProgramsAndFaults) {
  SimConfig config;
  config.ApplyText(R"(# two lines
line COM1 baud=19200 reply-delay=5 select=7
  indexer 3 qn4100i id="S QN4100 \"X\"" probe=number:9 inputs=101 erase=100
  indexer 7 xmu autotest=4
  param 7 L70=125 26=0
  program 7 N001 G01   X100
  fault 3 slow=20 cut=4 answer-after=1 noise="\e\x7F"

line com2 gone-after=1500
drive grv bcd=-5 error=22
fault drive no-ack-h12
)",
                   "cfg");
  ASSERT_EQ(config.lines.size(), 2u);
  Line& one = *config.lines[0].line;
  EXPECT_EQ(config.lines[0].port, "COM1");
  EXPECT_EQ(one.timing().byteUs, 521);
  EXPECT_EQ(one.timing().replyDelayUs, 5000);
  EXPECT_EQ(one.Addressed(), 7);
  auto& qn = dynamic_cast<Indexer&>(*one.Find(3));
  EXPECT_EQ(qn.Setup().id, "S QN4100 \"X\"");
  EXPECT_EQ(qn.Setup().probe, ProbeStyle::Numbered);
  EXPECT_EQ(qn.Setup().probeNumber, 9);
  EXPECT_EQ(qn.Setup().inputs, 5u);
  EXPECT_EQ(qn.Setup().eraseUs, 100000);
  EXPECT_EQ(qn.faults().extraDelayUs, 20000);
  EXPECT_EQ(qn.faults().cutReplyTo, 4u);
  EXPECT_EQ(qn.faults().answerAfter, 1);
  EXPECT_EQ(qn.faults().noise, "\x1b\x7f");
  auto& xmu = dynamic_cast<Indexer&>(*one.Find(7));
  EXPECT_EQ(xmu.Param(70), 125);
  EXPECT_EQ(xmu.Param(26), 0);
  EXPECT_EQ(xmu.Program().at(1), "N001 G01   X100");
  EXPECT_EQ(xmu.Setup().autoTestResult, 4);

  EXPECT_EQ(config.lines[1].port, "COM2");
  Line& two = *config.lines[1].line;
  EXPECT_EQ(two.faults().goneAtUs, 1500000);
  auto& grv = dynamic_cast<Drive&>(*two.Units().front());
  EXPECT_EQ(grv.Setup().type, DriveType::GRV);
  EXPECT_EQ(grv.Setup().bcd, -5);
  EXPECT_TRUE(grv.faults().noAckH12);
}

TEST(Config, RefusesWhatItCannotUnderstandAndSaysWhere) {
  const struct {
    const char* text;
    const char* message;
  } rows[] = {
      {"indexer 0 xmu", "t:1: address: '0' is not a number from 1 to 99"},
      {"indexer 5 xmu\nindexer 5 mu", "t:2: indexer 5 is on COM1 twice"},
      {"indexer 5 abc", "t:1: indexer: unknown type 'abc'"},
      {"indexer 5 xmu colour=red", "t:1: indexer: unknown setting 'colour'"},
      {"indexer 5 xmu inputs=12", "t:1: inputs: '12' is not a bit string"},
      {"line COM1\nline com1", "t:2: line COM1 is described twice"},
      {"line ttyS0", "t:1: line needs a port name like COM1"},
      {"param 4 70=1", "t:1: param: no indexer 4 on COM1"},
      {"indexer 4 xmu\nprogram 4 G01 X1", "t:2: program: a line must start with its number"},
      {"indexer 4 xmu\nfault 4 grumpy", "t:2: unknown fault 'grumpy'"},
      {"indexer 4 xmu\nfault 4 slow=soon", "t:2: slow: 'soon' is not a time in milliseconds"},
      {"drive zorv\ndrive grv", "t:2: drive: COM1 already has a unit"},
      {"indexer 4 xmu id=\"open", "t:1: unterminated quote"},
      {"frobnicate", "t:1: unknown statement 'frobnicate'"},
      // Each statement names itself in what it refuses, and the first bad word is the one told.
      {"line COM1 colour=1", "t:1: line: unknown setting 'colour'"},
      {"line COM1 baud=10", "t:1: baud: '10' is not a number from 50 to 4000000"},
      {"indexer 4 xmu colour=red inputs=12", "t:1: indexer: unknown setting 'colour'"},
      {"indexer 4 xmu inputs=12 colour=red", "t:1: inputs: '12' is not a bit string"},
      {"indexer 4 xmu probe=maybe", "t:1: probe: 'maybe' is not ready, busy or number[:N]"},
      {"indexer 4 xmu silent-after=-1", "t:1: silent-after: '-1' is not a number from 0 to"},
      {"indexer 4 xmu\nparam 4 L100=1", "t:2: parameter: '100' is not a number from 0 to 99"},
      {"drive abc", "t:1: drive: unknown type 'abc'"},
      {"drive grv colour=1", "t:1: drive: unknown setting 'colour'"},
      {"drive grv outputs=111111111", "t:1: outputs: '111111111' is not a bit string"},
      {"drive grv encoder=far", "t:1: encoder: 'far' is not a number"},
      {"drive grv reply-delay=soon", "t:1: reply-delay: 'soon' is not a time in milliseconds"},
      {"indexer 4 xmu\nfault 9 silent", "t:2: fault: no unit 9 on COM1"},
      {"indexer 4 xmu\nfault 4 noise", "t:2: noise: needs the bytes to send"},
      {"indexer 4 xmu\nfault 4 store-line=3", "t:2: store-line: needs a line number and the text"},
      {"indexer 4 xmu\nfault 4 store-line=0:X", "t:2: store-line: '0' is not a number from 1"},
      {"indexer 4 xmu\nreply drive \"H21\" \"1\"", "t:2: reply: no unit drive on COM1"},
      {"indexer 4 xmu\nreply 4 \"H21\" \"1\" colour=1", "t:2: reply: unknown setting 'colour'"},
  };
  for (const auto& row : rows) {
    SimConfig config;
    try {
      config.ApplyText(row.text, "t");
      ADD_FAILURE() << "accepted: " << row.text;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos)
          << row.text << " -> " << e.what();
    }
  }
}

// Each statement's settings, every one with a value other than its default, land in the
// field they name; a later word overrides an earlier one, and a flag ignores its value.
TEST(Config, EverySettingReachesItsField) {
  SimConfig config;
  config.ApplyText(R"(line COM1 byte-us=300 gone-after-requests=4
indexer 2 mu rev="R 2" probe=busy h85=A h86=B h87=C erase=1.5 input-reply="1010" autotest-reply="E1-6" autotest-time=20 silent-after=3 reply-delay=7
indexer 4 qn4100i probe=busy probe=ready
indexer 6 xmu probe=number
fault 2 silent busy=no ack-delay=3 no-ack-after-line=5 silent-after=8 silent-from=100 busy-until=50 silent-after-line=2 store-line=3:"N003 G01 X9"
reply 2 "H21" "=1\r" uses=2 from=10 pause-at=1 pause=5
line COM2
drive zorvdrive inputs=101 outputs=11 bcd=-12 encoder=1.5 analog=-2.5 error=7 bcd-reply="B" analog-reply="A" error-reply="E" silent-after=9 reply-delay=4
reply drive "AN" "x"
)",
                   "cfg");
  ASSERT_EQ(config.lines.size(), 2u);
  Line& one = *config.lines[0].line;
  EXPECT_EQ(one.timing().byteUs, 300);
  EXPECT_EQ(one.faults().goneAfterRequests, 4);

  auto& mu = dynamic_cast<Indexer&>(*one.Find(2));
  const IndexerSetup& s = mu.Setup();
  EXPECT_EQ(s.type, IndexerType::MU);
  EXPECT_EQ(s.revision, "R 2");
  EXPECT_EQ(s.probe, ProbeStyle::Busy);
  EXPECT_EQ(s.h85, "A");
  EXPECT_EQ(s.h86, "B");
  EXPECT_EQ(s.h87, "C");
  EXPECT_EQ(s.eraseUs, 1500);
  EXPECT_EQ(s.inputReply, "1010");
  EXPECT_EQ(s.autoTestReply, "E1-6");
  EXPECT_EQ(s.autoTestUs, 20000);
  EXPECT_EQ(s.silentAfter, 3);
  EXPECT_EQ(mu.replyDelayUs(), 7000);
  EXPECT_EQ(dynamic_cast<Indexer&>(*one.Find(4)).Setup().probe, ProbeStyle::Ready);
  EXPECT_EQ(dynamic_cast<Indexer&>(*one.Find(4)).Setup().type, IndexerType::QN4100I);
  EXPECT_EQ(dynamic_cast<Indexer&>(*one.Find(6)).Setup().probe, ProbeStyle::Numbered);
  EXPECT_EQ(dynamic_cast<Indexer&>(*one.Find(6)).Setup().probeNumber, -1);
  EXPECT_EQ(one.Find(6)->replyDelayUs(), -1);

  const Faults& f = mu.faults();
  EXPECT_TRUE(f.silent);
  EXPECT_TRUE(f.busy);
  // Times are written in milliseconds and kept in microseconds; counts as written.
  EXPECT_EQ((std::vector<Micros>{f.ackDelayUs, f.silentFromUs, f.busyUntilUs}),
            (std::vector<Micros>{3000, 100000, 50000}));
  EXPECT_EQ((std::vector<int>{f.noAckAfterLine, f.silentAfter, f.silentAfterLine}),
            (std::vector<int>{5, 8, 2}));
  EXPECT_EQ(f.storedAs, (std::map<int, std::string>{{3, "N003 G01 X9"}}));
  ASSERT_EQ(mu.scriptedReplies().size(), 1u);
  const ScriptedReply& r = mu.scriptedReplies().front();
  EXPECT_EQ(r.command, "H21");
  EXPECT_EQ(r.bytes, "=1\r");
  EXPECT_EQ(r.uses, 2);
  EXPECT_EQ(r.fromUs, 10000);
  EXPECT_EQ(r.pauseAt, 1u);
  EXPECT_EQ(r.pauseUs, 5000);

  auto& drive = dynamic_cast<Drive&>(*config.lines[1].line->Units().front());
  const DriveSetup& d = drive.Setup();
  EXPECT_EQ(d.type, DriveType::ZorvDrive);
  EXPECT_EQ(d.inputs, 5u);
  EXPECT_EQ(d.outputs, 3u);
  EXPECT_EQ(d.bcd, -12);
  EXPECT_DOUBLE_EQ(d.encoder, 1.5);
  EXPECT_DOUBLE_EQ(d.analog, -2.5);
  EXPECT_EQ(d.error, 7);
  EXPECT_EQ(d.bcdReply, "B");
  EXPECT_EQ(d.analogReply, "A");
  EXPECT_EQ(d.errorReply, "E");
  EXPECT_EQ(d.silentAfter, 9);
  EXPECT_EQ(drive.replyDelayUs(), 4000);
  ASSERT_EQ(drive.scriptedReplies().size(), 1u);
  EXPECT_EQ(drive.scriptedReplies().front().command, "AN");
}

TEST(Config, ExampleFileIsValid) {
  std::ifstream in(KVEL_SIM_EXAMPLE);
  std::ostringstream text;
  text << in.rdbuf();
  SimConfig config;
  ASSERT_NO_THROW(config.ApplyText(text.str(), "example.sim"));
  EXPECT_EQ(config.lines.size(), 2u);
}

TEST(Config, SplitsQuotedWordsWithEscapes) {
  EXPECT_EQ(SplitStatement("a  \"b c\"  d=\"\\r\\n\\\\\"  e\"f g\""),
            (std::vector<std::string>{"a", "b c", "d=\r\n\\", "ef g"}));
  EXPECT_EQ(SplitStatement("x=\"\\x41\\e\""), (std::vector<std::string>{"x=A\x1b"}));
  EXPECT_EQ(SplitStatement("x=\"\""), (std::vector<std::string>{"x="}));
}

TEST(Config, DemoHasIndexersAndDrivesOnTheirOwnLines) {
  SimConfig config;
  config.Apply("demo");
  ASSERT_EQ(config.lines.size(), 3u);
  Line& indexers = *config.lines[0].line;
  EXPECT_NE(indexers.Find(1), nullptr);
  EXPECT_NE(indexers.Find(3), nullptr);
  EXPECT_NE(indexers.Find(12), nullptr);
  // The scan ends selecting the last unit it found.
  Harness h{indexers};
  h.Ask("<12 ");
  EXPECT_EQ(h.Ask("L49 70\rL50 1\rH16\r"), "===L70 = 010\r\n");
  EXPECT_NE(dynamic_cast<Drive*>(config.lines[1].line->Units().front().get()), nullptr);
  EXPECT_NE(dynamic_cast<Drive*>(config.lines[2].line->Units().front().get()), nullptr);
}

}  // namespace
}  // namespace kvel::sim::test
