#include <QLabel>
#include <QProgressBar>

#include "Indexer.h"
#include "IndexerRig.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ScanIDX.h"

namespace {

const char* const kProblem =
    "There was a problem with the communication.\r\nYou may try to save the file, but a ggod "
    "ressult is not sure.";

class UploadTest : public IndexerRig {
 protected:
  void SetUp() override {
    IndexerRig::SetUp();
    SelectedUnit = 1;
    RunFlag = 1;  // as the main window sets it before an upload
  }
  // Stores program lines N001 ... N`count` ("N001 G01 X1" ...) in unit 1.
  void StoreProgram(int count) {
    peer_->WithLine([count](kvel::sim::Line& line) {
      auto* unit = static_cast<kvel::sim::Indexer*>(line.Find(1));
      for (int n = 1; n <= count; ++n) {
        char text[32];
        std::snprintf(text, sizeof text, "N%03d G01 X%d", n, n);
        unit->StoreProgramLine(text);
      }
      return 0;
    });
  }
  void StoreLine(const std::string& text) {
    peer_->WithLine([&text](kvel::sim::Line& line) {
      return static_cast<kvel::sim::Indexer*>(line.Find(1))->StoreProgramLine(text);
    });
  }
  static std::vector<std::string> ExpectedProgram(int count) {
    std::vector<std::string> lines;
    for (int n = 1; n <= count; ++n) {
      char text[32];
      std::snprintf(text, sizeof text, "N%03d G01 X%d", n, n);
      lines.push_back(text);
    }
    return lines;
  }
  static std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }
};

TEST_F(UploadTest, ParametersOfTheExampleAndTheirFile) {
  Build("indexer 1 xmu\nparam 1 26=0\nreply 1 H16 \"L26 = 2\\r\\nL70 = 1\\r\\n\"");
  std::string caption;
  clock_.ScheduleAt(30, [&caption] { caption = ScanForm->windowTitle().toStdString(); });
  RunFlag = 1;
  ReadLParameters(*this);
  EXPECT_EQ(LParamList, (std::vector<std::string>{"L26  2", "L70  1", ""}));
  EXPECT_EQ(LParamCount, 2);
  EXPECT_EQ(ReadFile("LPARAM.TXT"), "L26  2\r\nL70  1\r\n\r\n");
  EXPECT_EQ(caption, " Reading L Parameters");
  const std::vector<std::string> writes = Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0], "0 L49 0\\r");
  EXPECT_EQ(writes[1], "0 L50 1\\r");
  EXPECT_EQ(writes[2], "0 H16\\r");
  // The last line ends after 99 silent passes of 10 ms, then 25 ms.
  EXPECT_EQ(writes[3], std::to_string(clock_.NowMs()) + " L50 0\\r");
  EXPECT_GE(clock_.NowMs(), 20 + 990 + 25);
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_EQ(results_, std::vector<std::string>{"Saved LPARAM.TXT: 2 L parameters"});
  EXPECT_EQ(resultDetails_,
            std::vector<std::string>{"Saved " + Folder() + "/LPARAM.TXT: 2 L parameters"});
}

TEST_F(UploadTest, ALineWithoutLIsStoredButNotCounted) {
  Build("indexer 1 xmu\nparam 1 26=0\nreply 1 H16 \"=L1 = 0\\r\\nERR 4\\r\\n\"");
  ReadLParameters(*this);
  EXPECT_EQ(LParamList, (std::vector<std::string>{"L1  0", "ERR 4", ""}));
  EXPECT_EQ(LParamCount, 1);
}

TEST_F(UploadTest, EscMidLineKeepsThePartialLineAndStillEndsTheTransfer) {
  Build(
      "indexer 1 xmu\nparam 1 26=0\n"
      "reply 1 H16 \"L26 = 2\\r\\nL70 = 1\\r\\n\" pause-at=11 pause=3000");
  clock_.ScheduleAt(500, [] { PressEscInProgressWindow(); });
  ReadLParameters(*this);
  EXPECT_EQ(LParamList, (std::vector<std::string>{"L26  2", "L7"}));
  const std::vector<std::string> writes = Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[3], "525 L50 0\\r");  // the pass that ends at 500 sees the stop, then 25 ms
  EXPECT_EQ(RunFlag, 1);
}

TEST_F(UploadTest, ASilentUnitLeavesOneEmptyLine) {
  Build("indexer 1 xmu\nfault 1 silent");
  ReadLParameters(*this);
  EXPECT_EQ(LParamList, (std::vector<std::string>{""}));
  EXPECT_EQ(ReadFile("LPARAM.TXT"), "\r\n");
  EXPECT_EQ(Writes().back(), "1035 L50 0\\r");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(UploadTest, NoUnitSelectedOnlyShowsTheMessage) {
  Build("indexer 1 xmu");
  SelectedUnit = 100;
  LParamList = {"kept"};
  ReadLParameters(*this);
  ReadProgram(*this, false);
  ReadProgram(*this, true);
  EXPECT_EQ(noControl_, 3);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(LParamList, std::vector<std::string>{"kept"});
  EXPECT_TRUE(saveRequests_.empty());
  EXPECT_EQ(results_, (std::vector<std::string>{"L parameters not read: no control selected",
                                                "Program not read: no control selected",
                                                "Program not read: no control selected"}));
}

TEST_F(UploadTest, ParameterFileThatCannotBeWrittenIsReportedAndEndsTheTransfer) {
  Build("indexer 1 xmu\nparam 1 26=0");
  std::filesystem::create_directory("LPARAM.TXT");
  EXPECT_THROW(ReadLParameters(*this), std::runtime_error);
  EXPECT_EQ(ScanForm, nullptr);
  // The unit is taken out of parameter transfer all the same.
  ASSERT_EQ(Writes().size(), 4u);
  EXPECT_TRUE(Writes().back().ends_with("L50 0\\r")) << Writes().back();
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_TRUE(results_[0].ends_with(" L parameters read, LPARAM.TXT not written")) << results_[0];
}

TEST_F(UploadTest, TwelveLinesWithTheShortLineRules) {
  Build("indexer 1 mu");
  StoreProgram(12);
  StoreLine("N013    ");
  StoreLine("N014    ");
  saveAnswer_ = Folder() + "/up.PGM";
  ReadProgram(*this, false);

  const std::vector<std::string> writes = Writes();
  ASSERT_EQ(writes.size(), 401u);
  EXPECT_EQ(writes[0], "0 L26 0\\n\\r");
  EXPECT_EQ(writes[1], "100 N1 H13\\n\\r");
  EXPECT_EQ(writes[2], "145 N2 H13\\n\\r");  // 25 ms, then one 20 ms pass per line
  EXPECT_EQ(writes[400], std::to_string(100 + 399 * 45) + " N400 H13\\n\\r");
  for (std::size_t i = 1; i < writes.size(); ++i) {
    const std::string want =
        std::to_string(100 + (i - 1) * 45) + " N" + std::to_string(i) + " H13\\n\\r";
    if (writes[i] != want) {
      ADD_FAILURE() << "first late request: " << writes[i] << " (expected " << want
                    << "), before it: " << writes[i - 1];
      break;
    }
  }

  std::vector<std::string> expected = ExpectedProgram(12);
  expected.push_back("N013");  // one short line after a long one; the next is dropped
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(expected));
  EXPECT_EQ(saveRequests_, std::vector<std::string>{"TavorSerie Files (*.PGM)|*.PGM|PGM"});
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(results_, std::vector<std::string>{"Saved up.PGM: 13 lines"});
  EXPECT_EQ(resultDetails_, std::vector<std::string>{"Saved " + *saveAnswer_ + ": 13 lines"});
}

TEST_F(UploadTest, LineFourHundredIsTheLast) {
  Build("indexer 1 mu");
  StoreProgram(450);
  saveAnswer_ = Folder() + "/long.PGM";
  std::string bar;
  clock_.ScheduleAt(100 + 399 * 45 + 30, [&bar] {
    bar = std::to_string(ScanForm->ProgressBar1->value()) + " " +
          ScanForm->Label2->text().toStdString();
  });
  ReadProgram(*this, false);
  EXPECT_EQ(Writes().back(), std::to_string(100 + 399 * 45) + " N400 H13\\n\\r");
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(ExpectedProgram(400)));
  EXPECT_EQ(bar, "99 Reading line : 399");
}

TEST_F(UploadTest, EscDuringLineThirtyKeepsLinesOneToThirty) {
  Build("indexer 1 mu");
  StoreProgram(50);
  saveAnswer_ = Folder() + "/part.PGM";
  clock_.ScheduleAt(100 + 29 * 45 + 10, [] { PressEscInProgressWindow(); });
  ReadProgram(*this, false);
  EXPECT_EQ(Writes().back(), std::to_string(100 + 29 * 45) + " N30 H13\\n\\r");
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(ExpectedProgram(30)));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(results_,
            std::vector<std::string>{"Saved part.PGM: 30 lines; reading cancelled at line 30"});
}

TEST_F(UploadTest, AUnitThatStopsAnsweringAtLineEightOffersThePartialProgram) {
  // "L26 0" and lines 1 to 7 are answered, line 8 is not.
  Build("indexer 1 mu\nfault 1 silent-after=8");
  StoreProgram(20);
  saveAnswer_ = Folder() + "/cut.PGM";
  ReadProgram(*this, false);
  const std::vector<std::string> writes = Writes();
  EXPECT_EQ(writes.back(), std::to_string(100 + 7 * 45) + " N8 H13\\n\\r");
  EXPECT_EQ(clock_.NowMs(), 100 + 7 * 45 + 25 + 499 * 20);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, kProblem);
  EXPECT_EQ(boxes_[0].caption, "Communication Error");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Warning);
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(ExpectedProgram(7)));
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(results_, std::vector<std::string>{
                          "Saved cut.PGM: 7 lines; reading stopped at line 8: no answer"});
}

TEST_F(UploadTest, CancelledSaveWritesNothing) {
  Build("indexer 1 mu");
  StoreProgram(2);
  ReadProgram(*this, false);
  EXPECT_EQ(saveRequests_.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));
  EXPECT_EQ(results_, std::vector<std::string>{"Program read: 2 lines, not saved"});
}

TEST_F(UploadTest, ProgramWithParametersHoldsExactlyTheListedLines) {
  // Acknowledges on: the parameter upload's closing "L50 0" is answered with "=", which must
  // not end up in front of the first program line.
  Build("indexer 1 mu");
  StoreProgram(3);
  saveAnswer_ = Folder() + "/both.PGM";
  ReadProgram(*this, true);
  EXPECT_EQ(lParameterViews_, 1);
  ASSERT_GT(LParamList.size(), 20u);
  EXPECT_EQ(LParamList.front(), "L1  0");
  EXPECT_EQ(LParamList.back(), "");
  std::vector<std::string> expected = LParamList;
  for (const std::string& line : ExpectedProgram(3)) expected.push_back(line);
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(expected));
  EXPECT_EQ(ReadFile("LPARAM.TXT"), CrLf(LParamList));
  // The parameter upload says its own result first; the program's follows.
  ASSERT_EQ(results_.size(), 2u);
  EXPECT_EQ(results_[0].rfind("Saved LPARAM.TXT: ", 0), 0u);
  const std::size_t parameters = LParamList.size();
  EXPECT_EQ(results_[1], "Saved both.PGM: " + std::to_string(parameters + 3) + " lines (" +
                             std::to_string(parameters) + " parameter, 3 program)");
}

}  // namespace
