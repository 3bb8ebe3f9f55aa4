#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "Indexer.h"
#include "IndexerRig.h"
#include "KVEL_Var.h"
#include "PCtoIDX.h"

namespace {

const char* const kThreeLines = "N001 G01\r\n; comment\r\nL26 1\r\n";
const char* const kCommMessage =
    "There was a communication problem when\r\n the program was send to the control.";

class DownloadTest : public IndexerRig {
 protected:
  // Opens the dialog on a unit that proposes MU-1.PGM, writes `program` there and sends it.
  std::unique_ptr<TToIDX_Form> Send(const std::string& statements, const std::string& program) {
    Build("indexer 1 mu\n" + statements);
    auto form = std::make_unique<TToIDX_Form>(*this);
    WriteFile("MU-1.PGM", program);
    EXPECT_EQ(form->Edit1->text().toStdString(), "MU-1.PGM");
    form->Button1Click();
    return form;
  }
  std::vector<std::string> Download() { return WritesFrom("N001\\n\\r"); }
};

const std::vector<std::string> kOpening{"0 N001\\n\\r", "100 L48 0\\n\\r", "400 L26 2\\n\\r",
                                        "700 H12\\n\\r"};

std::vector<std::string> Opening(std::vector<std::string> rest) {
  std::vector<std::string> all = kOpening;
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

TEST_F(DownloadTest, ThreeLineExample) {
  const auto form = Send("", kThreeLines);
  EXPECT_EQ(Download(), Opening({"1410 N001 G01\\r", "1450 H13\\n\\r", "1505 ; comment\\r",
                                 "1545  \\r", "1585 L26 0\\n\\r", "1785 L48 20 N001\\n\\r"}));
  EXPECT_EQ(form->Edit1->text().toStdString(), "Line: N001 ");
  EXPECT_EQ(form->Label3->text().toStdString(), "Suggested file name :  MU-1.PGM");
  EXPECT_EQ(beeps_, 3);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(clock_.NowMs(), 600 + 1985 + 3000);
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(ProgramFileName, "MU-1.PGM");
  const auto* program = peer_->WithLine([](kvel::sim::Line& line) {
    return &static_cast<kvel::sim::Indexer*>(line.Find(1))->Program();
  });
  EXPECT_EQ(program->at(1), "N001 G01");
}

TEST_F(DownloadTest, CommentAfterABlankIsCutAndParametersAreShown) {
  const auto form = Send("", "N005 X100 ;move\r\nL12 300\r\n");
  const std::vector<std::string> writes = Download();
  EXPECT_NE(std::find(writes.begin(), writes.end(), "1410 N005 X100 \\r"), writes.end());
  EXPECT_EQ(writes.at(6), "1505 L12 300\\r");
  EXPECT_EQ(form->Edit1->text().toStdString(), "Parameter : L12 ");
  EXPECT_EQ(beeps_, 3);
}

TEST_F(DownloadTest, ALineNeverAcknowledgedStopsAfterTwoHundredPasses) {
  const auto form = Send("fault 1 no-ack-after-line=0", kThreeLines);
  EXPECT_EQ(Download(), Opening({"1410 N001 G01\\r", "5430 H13\\n\\r", "5485 L26 0\\n\\r",
                                 "5685 L48 20 N001\\n\\r"}));
  EXPECT_EQ(form->LastAckPasses(), 200);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, kCommMessage);
  EXPECT_EQ(boxes_[0].caption, "Communication error");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Warning);
  EXPECT_EQ(beeps_, 0);
}

TEST_F(DownloadTest, AnEraseNeverAcknowledgedSendsNoLine) {
  const auto form = Send("fault 1 no-ack-h12", kThreeLines);
  EXPECT_EQ(Download(), Opening({"6410 L26 0\\n\\r", "6610 L48 20 N001\\n\\r"}));
  EXPECT_EQ(form->LastAckPasses(), 501);
  EXPECT_EQ(form->Edit1->text().toStdString(), "Removing old program...." + std::string(501, '.'));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, kCommMessage);
}

TEST_F(DownloadTest, AnAcknowledgeAfterOneHundredFiftyPassesIsAccepted) {
  const auto form = Send("reply 1 \"N001 G01\" \"=\" pause-at=0 pause=2990", kThreeLines);
  const std::vector<std::string> writes = Download();
  EXPECT_EQ(writes.at(5), "4430 H13\\n\\r");
  EXPECT_EQ(writes.back(), "4765 L48 20 N001\\n\\r");
  EXPECT_EQ(beeps_, 3);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DownloadTest, CancelHalfASecondIntoALineWaitEndsWithoutAMessage) {
  clock_.ScheduleAt(600 + 1410 + 500, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TToIDX_Form*>(w)) form->Button3->click();
    }
  });
  const auto form = Send("fault 1 no-ack-after-line=0", kThreeLines);
  EXPECT_EQ(Download(), Opening({"1410 N001 G01\\r", "1910 H13\\n\\r", "1965 L26 0\\n\\r",
                                 "2165 L48 20 N001\\n\\r"}));
  EXPECT_EQ(form->LastAckPasses(), 24);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(beeps_, 0);
  EXPECT_EQ(RunFlag, 0);
}

TEST_F(DownloadTest, AMissingFileIsReportedWithoutTraffic) {
  Build("indexer 1 mu");
  TToIDX_Form form(*this);
  form.Edit1->setText(QStringLiteral("nope.PGM"));
  const std::size_t before = Writes().size();
  form.Button1Click();
  EXPECT_EQ(Writes().size(), before);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "The specified File nope.PGM was not found.");
  EXPECT_EQ(boxes_[0].caption, "Error");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Error);
}

struct OpeningRow {
  const char* name;
  int unitType;
  const char* ext;
  const char* statements;
  bool sendEnabled;
  const char* edit;
  const char* label1;
  const char* label2;
  const char* label4;
};

class DownloadOpening : public IndexerRig, public ::testing::WithParamInterface<OpeningRow> {};

TEST_P(DownloadOpening, ProposesAFileForTheUnit) {
  const OpeningRow& row = GetParam();
  UnitType = row.unitType;
  ProgramExt = row.ext;
  Build(row.statements);
  const TToIDX_Form form(*this);
  EXPECT_EQ(form.Button1->isEnabled(), row.sendEnabled);
  EXPECT_EQ(form.Edit1->text().toStdString(), row.edit);
  EXPECT_EQ(form.Label1->text().toStdString(), row.label1);
  EXPECT_EQ(form.Label2->text().toStdString(), row.label2);
  EXPECT_EQ(form.Label4->text().toStdString(), row.label4);
  EXPECT_EQ(form.windowTitle().toStdString(), " PC to Indexer");
}

INSTANTIATE_TEST_SUITE_P(
    Units, DownloadOpening,
    ::testing::Values(
        OpeningRow{"BrandWordRedLabel", 4, "PGM", "indexer 1 mu id=\"I MU VORTAN V1.7\"", true,
                   "MU-1.PGM", "Unit ID : 100", "Software rev : I MU VORTAN V1.7",
                   "New red label Indexer"},
        OpeningRow{"NoL70Reply", 5, "PGM", "indexer 1 xmu id=\"E XMU 2\"\nreply 1 H16 \"\"", false,
                   "Choose a file", "Unit ID : 100", "Software rev : E XMU 2", "Unit Type "},
        OpeningRow{"SilentUnit", 5, "PGM", "indexer 1 xmu\nfault 1 silent", false, "Choose a file",
                   "Unit ID : 100", "Software rev : ", "Unit Type "},
        OpeningRow{"UnknownLetter", 5, "PGM", "indexer 1 xmu id=\"Q VORTAN\"", true, ".PGM",
                   "Unit ID : 100", "Software rev : Q VORTAN", "Unit Type "},
        OpeningRow{"OtherUnitType", 3, "SC", "indexer 1 xmu", true, ".SC",
                   "Unit ID : ", "Software Rev :", "Unit Type "}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DownloadTest, RevisionLabelIsCutToThirtyFiveCharacters) {
  SelectedUnit = 7;
  Build("indexer 1 xmu id=\"E XMU VORTAN V2.1 0123456789\"");
  const TToIDX_Form form(*this);
  EXPECT_EQ(form.Label2->text().toStdString(), "Software rev : E XMU VORTAN V2.1 01");
  EXPECT_EQ(form.Label1->text().toStdString(), "Unit ID : 7");
}

TEST_F(DownloadTest, DialogClosedWithEscSetsRunFlag) {
  Build("indexer 1 mu");
  RunFlag = 0;
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TToIDX_Form*>(w); form != nullptr && form->isVisible()) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(form, &esc);
      }
    }
  });
  SendProgramDialog(*this);
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(Writes().size(), 1u);  // the unit query only
}

// ---- what the status bar says after a download ----

struct ResultRow {
  const char* name;
  const char* statements;
  int cancelAtMs;  // 0: no cancel
  const char* result;
};

class DownloadResult : public DownloadTest, public ::testing::WithParamInterface<ResultRow> {};

TEST_P(DownloadResult, EveryEndOfTheSendIsSaidWithTheFileAndTheLines) {
  const ResultRow& row = GetParam();
  if (row.cancelAtMs > 0) {
    clock_.ScheduleAt(row.cancelAtMs, [] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<TToIDX_Form*>(w)) form->Button3->click();
      }
    });
  }
  const auto form = Send(row.statements, "N001 G01\r\nN002 G04 F500\r\nN003 G25 N001\r\n");
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0], row.result);
  // The hint names the file by its whole path.
  std::string detail = row.result;
  detail.replace(detail.find("MU-1.PGM"), 8, Folder() + "/MU-1.PGM");
  EXPECT_EQ(resultDetails_[0], detail);
  EXPECT_TRUE(form->ResultShown());
  // The file goes to the recent programs once it has been read, whatever the end.
  EXPECT_EQ(sentFiles_, std::vector<std::string>{Folder() + "/MU-1.PGM"});
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DownloadResult,
    ::testing::Values(ResultRow{"AllSent", "", 0, "Program MU-1.PGM sent: 3 lines"},
                      ResultRow{
                          "UnitStopsAnswering", "fault 1 no-ack-after-line=1", 0,
                          "Program MU-1.PGM stopped, 1 of 3 lines sent: the unit did not answer"},
                      ResultRow{"EraseNeverConfirmed", "fault 1 no-ack-h12", 0,
                                "Program MU-1.PGM not sent: the unit did not confirm the erase"},
                      ResultRow{"Cancelled", "fault 1 no-ack-after-line=0", 600 + 1410 + 500,
                                "Program MU-1.PGM cancelled, 0 of 3 lines sent"}),
    [](const ::testing::TestParamInfo<ResultRow>& row) { return std::string(row.param.name); });

TEST_F(DownloadTest, AMissingFileAndAPortErrorAreSaidToo) {
  Build("indexer 1 mu");
  {
    TToIDX_Form form(*this);
    form.Edit1->setText(QStringLiteral("nope.PGM"));
    form.Button1Click();
  }
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0], "Program not sent: nope.PGM was not found");
  EXPECT_EQ(resultDetails_[0], "Program not sent: " + Folder() + "/nope.PGM was not found");
  EXPECT_TRUE(sentFiles_.empty());

  TToIDX_Form form(*this);
  WriteFile("MU-1.PGM", kThreeLines);
  port_.ClosePort();
  EXPECT_ANY_THROW(form.Button1Click());
  ASSERT_EQ(results_.size(), 2u);
  EXPECT_EQ(results_[1].rfind("Program MU-1.PGM stopped, 0 of 3 lines sent: ", 0), 0u)
      << results_[1];
}

TEST_F(DownloadTest, ADialogClosedWithoutSendingSaysNothingWasSent) {
  Build("indexer 1 mu");
  WriteFile("other.PGM", kThreeLines);
  std::string offered;
  QTimer::singleShot(0, [&offered] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TToIDX_Form*>(w); form != nullptr && form->isVisible()) {
        offered = form->Edit1->text().toStdString();
        form->Button3->click();
      }
    }
  });
  SendProgramDialog(*this, Folder() + "/other.PGM");
  // A program picked from the recent list or dropped is offered instead of the proposal.
  EXPECT_EQ(offered, Folder() + "/other.PGM");
  EXPECT_EQ(results_, std::vector<std::string>{"Send Program closed: nothing sent"});
  for (const std::string& write : Writes()) EXPECT_EQ(write.find("N001"), std::string::npos);
}

// ---- the first proposal ----

TEST_F(DownloadTest, AProposalKeptInTheProgramFolderIsShownWithItsPath) {
  Build("indexer 1 mu");
  const std::string programs = Folder() + "/programs";
  std::filesystem::create_directory(programs);
  WriteFile(programs + "/MU-1.PGM", kThreeLines);
  kvel::RememberFileDialogFolder(
      kvel::FileDialogRequest{false, {}, "Program files (*.pgm)|*.PGM", {}},
      programs + "/chosen.PGM");
  TToIDX_Form form(*this);
  EXPECT_EQ(form.Edit1->text().toStdString(), programs + "/MU-1.PGM");
  EXPECT_EQ(ProgramFileName, "MU-1.PGM");  // what is kept between openings is unchanged
  form.Button1Click();
  EXPECT_EQ(results_, std::vector<std::string>{"Program MU-1.PGM sent: 3 lines"});
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DownloadTest, AProposalThatIsNowhereAsksForTheFileInsteadOfFailing) {
  Build("indexer 1 mu");
  TToIDX_Form form(*this);
  form.show();
  ASSERT_EQ(form.Edit1->text().toStdString(), "MU-1.PGM");
  std::vector<kvel::FileDialogRequest> asked;
  std::optional<std::string> answer;
  kvel::SetFileDialogHook([&](const kvel::FileDialogRequest& request) {
    asked.push_back(request);
    return answer;
  });
  // Cancelled chooser: nothing is sent, no message, the dialog stays.
  const std::size_t identified = Writes().size();
  form.Button1Click();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_FALSE(asked[0].save);
  EXPECT_EQ(asked[0].fileName, "MU-1.PGM");
  EXPECT_EQ(asked[0].filter, "Program files (*.pgm)|*.PGM");
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(Writes().size(), identified);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(results_.empty());

  // A chosen file is sent.
  WriteFile("elsewhere.PGM", kThreeLines);
  answer = Folder() + "/elsewhere.PGM";
  form.Button1Click();
  kvel::SetFileDialogHook({});
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ProgramFileName, Folder() + "/elsewhere.PGM");
  EXPECT_EQ(results_, std::vector<std::string>{"Program elsewhere.PGM sent: 3 lines"});
}

}  // namespace
