#include <gtest/gtest.h>

#include "Harness.h"
#include "Indexer.h"

namespace kvel::sim::test {
namespace {

struct Row {
  const char* request;
  const char* reply;
};

void ExpectRows(const std::string& statements, std::initializer_list<Row> rows) {
  SimLine sim(statements);
  Harness h = sim.harness();
  for (const Row& r : rows) {
    SCOPED_TRACE(Transcript::Visible(r.request));
    EXPECT_EQ(Transcript::Visible(h.Ask(r.request)), Transcript::Visible(r.reply));
  }
}

TEST(Indexer, XmuAnswersTheDialogueCommands) {
  ExpectRows("indexer 1 xmu inputs=1010 h85=00100000 h86=01000000 h87=17",
             {
                 {"H23\r", "=E XMU VORTAN V2.1\r\n"},
                 {"\x1bREV\r", "XMU firmware rev 2.14 11/1998\r\n"},
                 {"H21 \n\r", "=00001010\r\n"},
                 {"H85\r", "=00100000\r\n"},
                 {"H86\r", "=01000000\r\n"},
                 {"H87\r", "=17\r\n"},
                 {"L49 70\r", "="},
                 {"L50 1\r", "="},
                 {"H16\r", "=L70 = 001\r\n"},
                 {"L49 0\rL50 0\r", "=="},
                 {"H16\r", "="},
                 {"L26\r", "=L26 = 2\r\n"},
                 {"Z95 1\n\r", "="},
                 {"Z90 3\n\r", "="},
                 {" \r", "="},
                 {";comment\r", "="},
                 {"ERR\r", "?\r\n"},
                 {"\x1b"
                  "FOO\r",
                  "?\r\n"},
                 {"L100 3\r", "?\r\n"},
                 {"h23\r", "=E XMU VORTAN V2.1\r\n"},
             });
}

TEST(Indexer, WithoutCommandAcknowledgeOnlyDataIsSent) {
  ExpectRows("indexer 1 mu id=\"0 MU V1.2\"", {
                                                  {"L26 0\n\r", ""},
                                                  {"H23\r", "0 MU V1.2\r\n"},
                                                  {"Z95 1\n\r", ""},
                                                  {"N1 H13\n\r", "N001\r\n"},
                                                  {"L26 2\n\r", "="},
                                              });
}

TEST(Indexer, QnAnswersItsInputsOutputsAndRegisters) {
  SimLine sim("indexer 4 qn4100i inputs=1000000000000011");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H21 \n\r"), "=10000000 00000011\r\n");
  EXPECT_EQ(h.Ask("N000 G47 X10000001 H01\n\r"), "=");
  EXPECT_EQ(h.Ask("H85\r"), "=X000000000\r\n");
  EXPECT_EQ(h.Ask("H86\r"), "=0000000000000000\r\n");
  auto& unit = dynamic_cast<Indexer&>(*sim.line().Find(4));
  EXPECT_EQ(unit.Outputs(), 0x81u);
  // The I/O window looks for the brand letters within the first 20 bytes.
  const std::string reply = h.Ask("H23\r", 100);
  EXPECT_NE(reply.substr(0, 20).find("VOR"), std::string::npos);
}

TEST(Indexer, OutputsAndStrobesFollowTheZCommands) {
  SimLine sim("indexer 1 xmu");
  Harness h = sim.harness();
  auto& unit = dynamic_cast<Indexer&>(*sim.line().Find(1));
  h.Ask("Z97 1\n\r");
  h.Ask("Z91 1\n\r");
  EXPECT_EQ(unit.Outputs(), 0x41u);
  h.Ask("Z91 0\r");
  EXPECT_EQ(unit.Outputs(), 0x01u);
  h.Ask("Z90 8\n\r");
  EXPECT_EQ(unit.Strobe(), 8);
  h.Ask("Z90 9 \r");
  EXPECT_EQ(unit.Strobe(), 9);
}

TEST(Indexer, AutomaticTestSendsItsResultAfterTheTestTime) {
  SimLine sim("indexer 1 xmu autotest=13");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("Z90 0 \r", 500), "=");
  EXPECT_EQ(h.Ask("Z79 \r", 100), "=");
  EXPECT_EQ(h.Ask("<1? ", 50), ":");  // busy while the test runs
  EXPECT_EQ(h.Wait(600), "13\r\n");
}

TEST(Indexer, ParameterDumpListsEveryParameterOnItsOwnLine) {
  SimLine sim("indexer 1 xmu\nparam 1 70=125 9=2500");
  Harness h = sim.harness();
  const std::string dump = h.Ask("L49 0\rL50 1\rH16\r", 2000);
  EXPECT_EQ(dump.substr(0, 3), "===");
  EXPECT_NE(dump.find("\r\nL9 = 2500\r\n"), std::string::npos);
  EXPECT_NE(dump.find("\r\nL26 = 2\r\n"), std::string::npos);
  EXPECT_NE(dump.find("\r\nL70 = 125\r\n"), std::string::npos);
  int lines = 0;
  std::size_t start = 3;
  for (std::size_t end; (end = dump.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = dump.substr(start, end - start);
    EXPECT_EQ(line[0], 'L') << line;
    EXPECT_LT(line.size(), 98u);  // the upload takes at most 98 characters per line
    ++lines;
  }
  EXPECT_EQ(start, dump.size());
  EXPECT_GE(lines, 50);
}

// The download of a program and its upload, command by command with the dialogues' waits.
TEST(Indexer, ProgramDownloadedIsUploadedUnchanged) {
  SimLine sim("indexer 1 xmu");
  Harness h = sim.harness();
  h.Ask("N001\n\r", 100);
  h.Ask("L48 0\n\r", 300);
  h.Ask("L26 2\n\r", 300);
  EXPECT_EQ(h.Ask("H12\n\r", 400), "=");
  h.Wait(300);
  const std::string lines[] = {"N001 G01 X100", ";comment", " ", "N002 G04 F500 ", "N003"};
  for (const std::string& line : lines) {
    EXPECT_EQ(h.Ask(line + "\r", 40), "=") << line;
    if (line.find('N') != std::string::npos) {
      const std::string head = "=" + line.substr(0, 5);
      EXPECT_EQ(h.Ask("H13\n\r", 55).substr(0, head.size()), head) << line;
    }
  }
  h.Ask("L26 0\n\r", 200);
  h.Ask("L48 20 N001\n\r", 200);

  EXPECT_EQ(h.Ask("L26 0\n\r", 100), "");
  EXPECT_EQ(h.Ask("N1 H13\n\r", 45), "N001 G01 X100\r\n");
  EXPECT_EQ(h.Ask("N2 H13\n\r", 45), "N002 G04 F500 \r\n");
  EXPECT_EQ(h.Ask("N3 H13\n\r", 45), "N003\r\n");
  EXPECT_EQ(h.Ask("N4 H13\n\r", 45), "N004\r\n");
  EXPECT_EQ(h.Ask("N400 H13\n\r", 45), "N400\r\n");
}

TEST(Indexer, EraseTakesItsTimeAndEmptiesTheProgram) {
  SimLine sim("indexer 1 xmu erase=250\nprogram 1 N001 G01 X5");
  Harness h = sim.harness();
  h.Send("H12\n\r");
  EXPECT_EQ(h.Wait(240), "");
  EXPECT_EQ(h.Wait(20), "=");
  auto& unit = dynamic_cast<Indexer&>(*sim.line().Find(1));
  EXPECT_TRUE(unit.Program().empty());
}

TEST(Indexer, ProgramLinesAreNumberedWithThreeDigits) {
  SimLine sim("indexer 1 xmu");
  auto& unit = dynamic_cast<Indexer&>(*sim.line().Find(1));
  EXPECT_TRUE(unit.StoreProgramLine("N5 X100"));
  EXPECT_FALSE(unit.StoreProgramLine("G01 X100"));
  EXPECT_FALSE(unit.StoreProgramLine("N1000 X1"));
  EXPECT_EQ(unit.Program().at(5), "N005 X100");
}

}  // namespace
}  // namespace kvel::sim::test
