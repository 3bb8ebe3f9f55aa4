// The main window's side of the indexer transfers: the real window against the simulator on
// COM1, in virtual time.
#include <QAction>

#include "AppTestSupport.h"
#include "Config.h"
#include "KVEL_Var.h"
#include "MemoryPeer.h"
#include "indexer/ScanIDX.h"

namespace {

class MainWindowSideTest : public AppTest {
 protected:
  TForm1& StartWith(const std::string& statements) {
    config_.ApplyText(statements, "test");
    peer_ = std::make_unique<kvel::sim::MemoryPeer>(*config_.lines.front().line);
    line_->SetPeer(peer_.get());
    TForm1& form = Start();
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

  kvel::sim::SimConfig config_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
};

TEST_F(MainWindowSideTest, TheWindowStaysDisabledThroughTheWholeProgramWithParameters) {
  TForm1& form = StartWith("indexer 3 mu\nprogram 3 N001 G01 X100\nprogram 3 N002 G04 F500");
  SelectedUnit = 3;
  kvel::SetFileDialogHook(
      [](const kvel::FileDialogRequest&) { return std::optional<std::string>(); });
  // Whenever the upload lets messages through, with its progress window up or not.
  int steps = 0;
  int enabledSteps = 0;
  clock_.AddMessageHook([&] {
    ++steps;
    if (form.isEnabled()) ++enabledSteps;
  });
  form.ProgPar1->trigger();
  EXPECT_GT(steps, 100);
  EXPECT_EQ(enabledSteps, 0);
  EXPECT_TRUE(form.isEnabled());
}

TEST_F(MainWindowSideTest, TheNoControlMessageEndsItsLineWithCrLf) {
  TForm1& form = StartWith("indexer 3 mu");
  form.ShowNoControlSelected();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "There is no control selected.\r\nUse Alt+S to select a control.");
  EXPECT_EQ(boxes_[0].caption, " No control selected");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Error);
}

}  // namespace
