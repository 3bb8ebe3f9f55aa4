#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <fstream>

#include "AppTestSupport.h"
#include "Config.h"
#include "KVEL_Var.h"
#include "MemoryPeer.h"
#include "Transcript.h"
#include "indexer/PCtoIDX.h"
#include "indexer/ScanIDX.h"
#include "terminal/CPortCtl.h"
#include "ui/StatusPanel.h"

namespace {

// The main window's indexer commands against the simulator on COM1, in virtual time.
class IndexerCommandsTest : public AppTest {
 protected:
  TForm1& StartWith(const std::string& statements) {
    config_.ApplyText(statements, "test");
    peer_ = std::make_unique<kvel::sim::MemoryPeer>(*config_.lines.front().line);
    line_->SetPeer(peer_.get());
    TForm1& form = Start();
    // Polls started by a command run one round; a running scan or upload is not stopped.
    endPolls_ = false;
    clock_.AddMessageHook([] {
      if (ScanForm == nullptr) RunFlag = 0;
    });
    return form;
  }
  void TearDown() override {
    line_->SetPeer(nullptr);
    kvel::SetFileDialogHook({});
    AppTest::TearDown();
  }
  std::string Written() {
    return peer_->WithLine([](kvel::sim::Line& line) {
      return kvel::sim::Transcript::Visible(
          line.transcript().Bytes(kvel::sim::Transcript::Direction::Received));
    });
  }
  std::string Cell(int row, int column) const {
    const QTableWidgetItem* item = form_->StringGrid1->item(row, column);
    return item != nullptr ? item->text().toStdString() : std::string("<none>");
  }

  kvel::sim::SimConfig config_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
};

TEST_F(IndexerCommandsTest, H23ButtonShowsTheUnitInTheStatusBar) {
  TForm1& form = StartWith("indexer 1 xmu");
  form.SpeedButton5->click();
  EXPECT_EQ(Panel(2), " Unit : E XMU VORTAN V2.1");
  EXPECT_EQ(Written(), "H23\\r");
}

TEST_F(IndexerCommandsTest, ScanStopsAutoRepeatAndFillsTheUnitsList) {
  TForm1& form = StartWith("indexer 4 mu\nindexer 9 xmu");
  form.Timer1->start();
  form.Scanforindexer1->trigger();
  EXPECT_FALSE(form.Timer1->isActive());
  ASSERT_EQ(form.ComboBox2->count(), 2);
  EXPECT_EQ(form.ComboBox2->itemText(0).toStdString(), "# 4 = I MU VORTAN V1.7");
  EXPECT_EQ(form.ComboBox2->currentText().toStdString(), "# 9 = E XMU VORTAN V2.1");
  EXPECT_EQ(Panel(2), " Unit : E XMU VORTAN V2.1");
  EXPECT_EQ(SelectedUnit, 9);
  EXPECT_TRUE(form.isEnabled());
  EXPECT_NE(Written().find("<99? <9 "), std::string::npos);

  // A second scan starts with an empty list.
  peer_->WithLine([](kvel::sim::Line& line) {
    line.Find(4)->faults().silent = true;
    line.Find(9)->faults().silent = true;
    return 0;
  });
  form.Scanforindexer1Click();
  EXPECT_EQ(form.ComboBox2->count(), 0);
  EXPECT_EQ(Panel(2), " Unit : none ");
  EXPECT_EQ(SelectedUnit, 100);
}

TEST_F(IndexerCommandsTest, ParametersFillTheGridColumnByColumnWithAHeading) {
  std::string statements = "indexer 2 mu\nreply 2 H16 \"";
  for (int n = 0; n < 60; ++n)
    statements += "L" + std::to_string(n) + " = " + std::to_string(n) + "\\r\\n";
  statements += "\"";
  TForm1& form = StartWith(statements);
  SelectedUnit = 2;
  form.SetGridCell(50, "old");
  form.ReadLParameters1->trigger();
  EXPECT_EQ(form.Label1->text().toStdString(), "L Parameters I MU VORTAN V1.7");
  EXPECT_EQ(LParamList.size(), 61u);
  EXPECT_EQ(Cell(0, 0), "L0  0");
  EXPECT_EQ(Cell(16, 0), "L16  16");
  EXPECT_EQ(Cell(0, 1), "L17  17");
  EXPECT_EQ(Cell(16, 2), "L50  50");  // only 51 entries are visible
  EXPECT_TRUE(form.isEnabled());
  EXPECT_FALSE(form.ParamView);  // the view is not switched

  form.StringGrid1Click(14, 2);  // "L48  48"
  EXPECT_EQ(form.Label2->text().toStdString(), "L48 : Program Line Count Designator   ");
  EXPECT_EQ(ReadFile(Folder() + "/LPARAM.TXT").substr(0, 14), "L0  0\r\nL1  1\r\n");
}

TEST_F(IndexerCommandsTest, ParametersBlankTheGridEvenWithoutAUnit) {
  TForm1& form = StartWith("indexer 2 mu");
  form.SetGridCell(50, "old");
  form.ReadLParameters1Click();
  EXPECT_EQ(Cell(16, 2), " ");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, " No control selected");
  EXPECT_EQ(Written(), "H23\\r");  // the heading's unit query only
  EXPECT_TRUE(form.isEnabled());
}

TEST_F(IndexerCommandsTest, ProgramWithParametersSavesParametersThenTheListedLines) {
  TForm1& form = StartWith(
      "indexer 3 mu\nprogram 3 N001 G01 X100\nprogram 3 N002 G04 F500\nprogram 3 N003 G25 N001");
  SelectedUnit = 3;
  std::vector<kvel::FileDialogRequest> asked;
  const std::string path = Folder() + "/saved.PGM";
  kvel::SetFileDialogHook([&](const kvel::FileDialogRequest& request) {
    asked.push_back(request);
    return std::optional<std::string>(path);
  });
  form.ProgPar1->trigger();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].save);
  EXPECT_EQ(asked[0].filter, "TavorSerie Files (*.PGM)|*.PGM");
  EXPECT_EQ(asked[0].defaultExt, "PGM");
  std::string expected;
  for (const std::string& line : LParamList) expected += line + "\r\n";
  expected += "N001 G01 X100\r\nN002 G04 F500\r\nN003 G25 N001\r\n";
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_TRUE(form.isEnabled());
  EXPECT_TRUE(boxes_.empty());

  // The status bar says what was saved, the whole path in the hint.
  const std::string count = std::to_string(LParamList.size() + 3);
  const std::string parameters = std::to_string(LParamList.size());
  EXPECT_EQ(Panel(2),
            " Saved saved.PGM: " + count + " lines (" + parameters + " parameter, 3 program)");
  EXPECT_EQ(qobject_cast<kvel::StatusPanel*>(form.Panels[2])->Hint().toStdString(),
            "Saved " + path + ": " + count + " lines (" + parameters + " parameter, 3 program)");

  // "Program" alone saves only the program lines.
  form.IDXtpoPC1->trigger();
  EXPECT_EQ(ReadFile(path), "N001 G01 X100\r\nN002 G04 F500\r\nN003 G25 N001\r\n");
  EXPECT_EQ(Panel(2), " Saved saved.PGM: 3 lines");
}

TEST_F(IndexerCommandsTest, TheScanEndsTheAutoRepeatText) {
  TForm1& form = StartWith("indexer 4 mu");
  UnitType = 5;
  form.AddToHistory("H23");
  form.Autorepeat1Click();
  EXPECT_EQ(Panel(2).rfind(" Auto repeat: H23 every ", 0), 0u) << Panel(2);
  form.Scanforindexer1->trigger();
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_EQ(Panel(2), " Unit : I MU VORTAN V1.7");
}

TEST_F(IndexerCommandsTest, SendProgramOpensTheDownloadDialog) {
  TForm1& form = StartWith("indexer 1 mu");
  std::string caption;
  QTimer::singleShot(0, [&caption] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<TToIDX_Form*>(w); dialog != nullptr && dialog->isVisible()) {
        caption = dialog->windowTitle().toStdString();
        dialog->reject();
      }
    }
  });
  RunFlag = 0;
  form.KVEL1->trigger();
  EXPECT_EQ(caption, " PC to Indexer");
  EXPECT_EQ(RunFlag, 1);
  EXPECT_EQ(ProgramFileName, "MU-1.PGM");
}

TEST_F(IndexerCommandsTest, VerifyProgramComparesTheChosenFileWithTheUnit) {
  TForm1& form = StartWith("indexer 3 mu\nprogram 3 N001 G01 X100\nprogram 3 N002 G04 F500");
  SelectedUnit = 3;
  EXPECT_EQ(form.VerifyProgram1->text().toStdString(), "Verify program...");
  EXPECT_TRUE(form.IDXtpoPC->actions().contains(form.VerifyProgram1));
  const std::string same = Folder() + "/same.PGM";
  const std::string other = Folder() + "/other.PGM";
  std::ofstream(same, std::ios::binary) << "n1 g01 x100\r\n; comment\r\nN002 G04 F500\r\n";
  std::ofstream(other, std::ios::binary) << "N001 G01 X100\r\nN002 G04 F600\r\n";
  std::vector<kvel::FileDialogRequest> asked;
  std::string answer = same;
  kvel::SetFileDialogHook([&](const kvel::FileDialogRequest& request) {
    asked.push_back(request);
    return std::optional<std::string>(answer);
  });
  form.VerifyProgram1->trigger();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_FALSE(asked[0].save);
  EXPECT_EQ(asked[0].filter, "TavorSerie Files (*.PGM)|*.PGM");
  EXPECT_EQ(Panel(2), " Verify: 2 lines match");
  EXPECT_TRUE(form.isEnabled());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_EQ(RunFlag, 1);

  answer = other;
  form.VerifyProgram1->trigger();
  EXPECT_EQ(Panel(2), " Verify: 1 line differs, first at line 2");
  const std::string hint = qobject_cast<kvel::StatusPanel*>(form.Panels[2])->Hint().toStdString();
  EXPECT_NE(hint.find(other), std::string::npos) << hint;
  EXPECT_NE(hint.find("2: file line 2 \"N002 G04 F600\", unit \"N002 G04 F500\""),
            std::string::npos)
      << hint;
  // Nothing was written to the unit's program by the compare.
  EXPECT_EQ(Written().find("H12"), std::string::npos);
}

TEST_F(IndexerCommandsTest, VerifyWithoutAFileOrAUnitSaysWhy) {
  TForm1& form = StartWith("indexer 3 mu");
  SelectedUnit = 3;
  kvel::SetFileDialogHook([](const kvel::FileDialogRequest&) { return std::nullopt; });
  form.VerifyProgram1->trigger();
  EXPECT_EQ(Panel(2), " Verify not run: no program file chosen");
  SelectedUnit = 100;
  form.VerifyProgram1->trigger();
  EXPECT_EQ(Panel(2), " Verify not run: no control selected");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, " No control selected");
}

}  // namespace
