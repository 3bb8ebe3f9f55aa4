#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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
