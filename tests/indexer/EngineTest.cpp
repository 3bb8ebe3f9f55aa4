// The transfer engines on their own: no window, the simulator on the line, virtual time.
#include <algorithm>

#include "DownloadEngine.h"
#include "Indexer.h"
#include "IndexerRig.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ScanEngine.h"
#include "ScanIDX.h"
#include "UploadEngine.h"
#include "VerifyEngine.h"

namespace engine_test {

// Records what an engine reports and stops it after a number of steps when asked.
class Recorder : public ScanProgress {
 public:
  void Begin(const std::string& caption, const std::string&, const std::string&) override {
    captions.push_back(caption);
  }
  void Progress(int current, int, int, const std::string& text) override {
    ++steps;
    lastCurrent = current;
    texts.push_back(text);
  }
  void UnitFound(const FoundUnit& unit) override { found.push_back(unit.entry); }
  bool Cancelled() override { return stopAfter >= 0 && steps >= stopAfter; }
  void Warn(const std::string& text, const std::string&) override { warnings.push_back(text); }
  void End() override { ++ends; }

  std::vector<std::string> captions, texts, found, warnings;
  int steps = 0;
  int lastCurrent = 0;
  int stopAfter = -1;
  int ends = 0;
};

class EngineTest : public IndexerRig {
 protected:
  kvel::sim::Indexer& Unit(int address) {
    return *peer_->WithLine([address](kvel::sim::Line& line) {
      return static_cast<kvel::sim::Indexer*>(line.Find(address));
    });
  }
  DownloadResult Download(const std::vector<std::string>& lines) {
    return ProgramDownload(port_, recorder_).Run(lines);
  }
  Recorder recorder_;
};

const std::vector<std::string> kProgram{"N001 G01 X100",     "; set up",     "L26 1", "",
                                        "N2 g04 f500 ;wait", "N003 G25 N001"};

TEST_F(EngineTest, ScanWithoutAWindowListsSelectsAndReports) {
  Build("indexer 3 mu\nindexer 7 xmu");
  const ScanResult result = IndexerScan(port_, recorder_).Run();
  EXPECT_EQ(ScanForm, nullptr);  // no window was made
  ASSERT_EQ(result.units.size(), 2u);
  EXPECT_EQ(result.units[0].address, 3);
  EXPECT_EQ(result.units[1].address, 7);
  EXPECT_EQ(recorder_.found,
            (std::vector<std::string>{result.units[0].entry, result.units[1].entry}));
  EXPECT_EQ(result.selected, 7);
  EXPECT_EQ(SelectedUnit, 7);
  EXPECT_FALSE(result.stopped);
  EXPECT_EQ(result.lastAddress, 99);
  EXPECT_EQ(recorder_.steps, 99);
  EXPECT_EQ(recorder_.ends, 1);
  const std::vector<std::string> writes = Writes();
  EXPECT_EQ(writes.front(), "0 <1? ");
  EXPECT_EQ(writes.back().substr(writes.back().find(' ') + 1), "<7 ");
}

TEST_F(EngineTest, ScanStopsWhenTheUserCancels) {
  Build("indexer 30 mu");
  recorder_.stopAfter = 10;
  const ScanResult result = IndexerScan(port_, recorder_).Run();
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.lastAddress, 10);
  EXPECT_TRUE(result.units.empty());
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "<10? ");
}

TEST_F(EngineTest, DownloadThenVerifyMatchesWithTheUpload) {
  Build("indexer 1 mu");
  const DownloadResult sent = Download(kProgram);
  EXPECT_TRUE(sent.completed);
  EXPECT_EQ(sent.acknowledged, kProgram.size());
  EXPECT_EQ(sent.sent, (std::vector<std::string>{"N001 G01 X100", "; set up", " ", " ",
                                                 "N2 g04 f500 ", "N003 G25 N001"}));
  // The engine leaves the beeps to its user: the closing commands are the last bytes.
  const std::vector<std::string> download = WritesFrom("N001\\n\\r");
  EXPECT_EQ(download.back().substr(download.back().find(' ') + 1), "L48 20 N001\\n\\r");

  const std::size_t before = Writes().size();
  const VerifyResult verify = VerifyProgram(port_, recorder_, kProgram);
  EXPECT_TRUE(verify.compare.Matches()) << VerifyDetails(verify).front();
  EXPECT_EQ(verify.compare.compared, 3u);
  EXPECT_FALSE(verify.incomplete);
  EXPECT_EQ(VerifySummary(verify), "Verify: 3 lines match");
  // The read-back is the upload's exchange: L26 0, then N1 H13 to N400 H13.
  const std::vector<std::string> writes = Writes();
  ASSERT_EQ(writes.size(), before + 401);
  const auto bytes = [&](std::size_t i) { return writes[i].substr(writes[i].find(' ') + 1); };
  EXPECT_EQ(bytes(before), "L26 0\\n\\r");
  EXPECT_EQ(bytes(before + 1), "N1 H13\\n\\r");
  EXPECT_EQ(bytes(before + 400), "N400 H13\\n\\r");
  EXPECT_EQ(RunFlag, 1);
}

TEST_F(EngineTest, VerifyNamesEveryLineTheUnitHoldsDifferently) {
  Build("indexer 1 mu");
  Download(kProgram);
  Unit(1).StoreProgramLine("N002 G04 F600");
  Unit(1).StoreProgramLine("N009 G01 X1");
  RunFlag = 1;
  const VerifyResult verify = VerifyProgram(port_, recorder_, kProgram);
  ASSERT_EQ(verify.compare.differences.size(), 2u);
  const LineDifference& changed = verify.compare.differences[0];
  EXPECT_EQ(changed.line, 2);
  EXPECT_EQ(changed.fileLine, 5);
  EXPECT_EQ(changed.expected, "N2 g04 f500 ");
  EXPECT_EQ(changed.actual, "N002 G04 F600");
  const LineDifference& extra = verify.compare.differences[1];
  EXPECT_EQ(extra.line, 9);
  EXPECT_EQ(extra.fileLine, 0);
  EXPECT_EQ(extra.actual, "N009 G01 X1");
  EXPECT_EQ(VerifySummary(verify), "Verify: 2 lines differ, first at line 2");
  EXPECT_EQ(VerifyDetails(verify),
            (std::vector<std::string>{"2: file line 5 \"N2 g04 f500 \", unit \"N002 G04 F600\"",
                                      "9: not in the file, unit \"N009 G01 X1\""}));
}

TEST_F(EngineTest, CancelMidDownloadStillSendsTheClosingCommands) {
  Build("indexer 1 mu");
  // Each line reports a step (and a numbered line a second one): stop in the third line.
  recorder_.stopAfter = 3;
  ProgramDownload download(port_, recorder_);
  const DownloadResult result = download.Run(kProgram);
  EXPECT_FALSE(result.completed);
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.timedOut);
  EXPECT_LT(result.sent.size(), kProgram.size());
  EXPECT_FALSE(download.CommunicationProblem());
  const std::vector<std::string> writes = WritesFrom("N001\\n\\r");
  ASSERT_GE(writes.size(), 2u);
  const auto bytes = [&](std::size_t i) { return writes[i].substr(writes[i].find(' ') + 1); };
  EXPECT_EQ(bytes(writes.size() - 2), "L26 0\\n\\r");
  EXPECT_EQ(bytes(writes.size() - 1), "L48 20 N001\\n\\r");
  EXPECT_EQ(
      DownloadSummary(result, "MU-1.PGM", result.cancelled),
      "Program MU-1.PGM cancelled, " + std::to_string(result.acknowledged) + " of 6 lines sent");
}

TEST_F(EngineTest, ProgramWithParametersWithoutAWindow) {
  Build("indexer 1 mu\nparam 1 26=0\nprogram 1 N001 G01 X5");
  ParameterUploadResult parameters;
  const ProgramUploadResult result = ReadProgramWithParameters(port_, recorder_, &parameters);
  EXPECT_EQ(result.leadingLines, parameters.lines.size());
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), "N001 G01 X5");
  EXPECT_EQ(result.ProgramLines(), 1u);
  EXPECT_EQ(recorder_.captions,
            (std::vector<std::string>{" Reading L Parameters", " Reading program"}));
  // The parameter upload is closed before the program is asked for.
  const std::vector<std::string> writes = WritesFrom("L50 0\\r");
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[1].substr(writes[1].find(' ') + 1), "L26 0\\n\\r");
  EXPECT_EQ(UploadSummary(result, true), LinesText(result.lines.size()) + " (" +
                                             std::to_string(result.leadingLines) +
                                             " parameter, 1 program)");
}

TEST_F(EngineTest, ParametersVerifyAgainstTheirFile) {
  Build("indexer 1 xmu\nparam 1 26=0\nreply 1 H16 \"L26 = 2\\r\\nL70 = 1\\r\\n\"");
  RunFlag = 1;
  const VerifyResult same = VerifyParameters(port_, recorder_, {"L26  2", "l70 1", ""});
  EXPECT_TRUE(same.compare.Matches());
  EXPECT_EQ(VerifySummary(same, "parameters"), "Verify: 2 parameters match");
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "L50 0\\r");
  RunFlag = 1;
  const VerifyResult other = VerifyParameters(port_, recorder_, {"L26  2", "L70  5", "L41  3"});
  ASSERT_EQ(other.compare.differences.size(), 2u);
  EXPECT_EQ(other.compare.differences[0].line, 41);
  EXPECT_EQ(other.compare.differences[0].actual, "");
  EXPECT_EQ(other.compare.differences[1].line, 70);
  EXPECT_EQ(other.compare.differences[1].actual, "L70  1");
  EXPECT_EQ(VerifySummary(other, "parameters"), "Verify: 2 parameters differ, first at L41");
}

TEST(CompareProgramTest, WhatTheUnitNormalisesIsNotADifference) {
  // Letter case, blanks, the line number's zeros, a cut comment and lines that are no program
  // lines (comments, parameters, blanks) do not count.
  const CompareResult same =
      CompareProgram({"n1  g01 x100 ; go", "; note", "L70 1", "", "N0002 G04 F500"},
                     {"N001 G01 X100", "N002 G04 F500"});
  EXPECT_TRUE(same.Matches());
  EXPECT_EQ(same.compared, 2u);

  // A digit is a difference; a line only in the file is one as well; the last of two equal
  // numbers is the one the unit keeps.
  const CompareResult other =
      CompareProgram({"N001 G01 X100", "N002 G04", "N001 G01 X101"}, {"N001 G01 X100"});
  ASSERT_EQ(other.differences.size(), 2u);
  EXPECT_EQ(other.differences[0].line, 1);
  EXPECT_EQ(other.differences[0].fileLine, 3);
  EXPECT_EQ(other.differences[1].line, 2);
  EXPECT_EQ(other.differences[1].actual, "");
  // "N12X5" is not line 12 of anything; an empty file against an empty unit matches.
  EXPECT_TRUE(CompareProgram({"N12X5"}, {}).Matches());
  EXPECT_TRUE(CompareProgram({}, {}).Matches());
}

}  // namespace engine_test
