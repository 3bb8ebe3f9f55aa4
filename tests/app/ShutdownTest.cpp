#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "AppTestSupport.h"
#include "Config.h"
#include "KVEL_Shutdown.h"
#include "KVEL_Var.h"
#include "MemoryPeer.h"
#include "Transcript.h"
#include "indexer/PCtoIDX.h"
#include "ui/Clock.h"
#include "ui/Dialogs.h"
#include "ui/Shutdown.h"

namespace {

// The end of the program asked for from wherever it stands: a termination signal, or the main
// window's close while a dialogue runs. The dialogue beneath stops first; the window closes
// through its normal close path once the stack has unwound.
class ShutdownTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    endPolls_ = false;
  }
  void TearDown() override {
    kvel::ClearShutdownRequest();
    AppTest::TearDown();
  }
  bool ClosedThroughTheNormalPath() const {
    const std::vector<std::string> lines = LogLines();
    return !lines.empty() && lines.back() == " " && lines.size() >= 2 &&
           lines[lines.size() - 2].rfind("KVEL closing : ", 0) == 0;
  }
  bool WaitClosed() {
    return QTest::qWaitFor([this] { return !form_->isVisible(); }, 5000);
  }
};

TEST_F(ShutdownTest, ABoxWaitingForTheUserIsClosedAndNoFurtherBoxIsShown) {
  TForm1& form = Start();
  kvel::SetMessageBoxHook({});
  QTimer::singleShot(30, &form, [&form] { form.EndProgram(); });
  // A real box, as the program shows it: it waits until the end closes it with its escape
  // button.
  const kvel::MsgResult first = kvel::ShowMessageBox(
      &form, "Really?", "KVEL", kvel::MsgIcon::Question, kvel::MsgButtons::OkCancel);
  EXPECT_EQ(first, kvel::MsgResult::Cancel);
  EXPECT_EQ(RunFlag, 0);
  // Nobody answers any more: a later box does not wait.
  EXPECT_EQ(kvel::ShowMessageBox(&form, "Again?", "KVEL", kvel::MsgIcon::Question,
                                 kvel::MsgButtons::YesNo),
            kvel::MsgResult::No);
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(ClosedThroughTheNormalPath());
  EXPECT_TRUE(IniExists());
  EXPECT_FALSE(form.ComPort1.Connected());
}

TEST_F(ShutdownTest, CloseDuringADialogueStopsItFirstAndClosesAfterIt) {
  TForm1& form = Start();
  ASSERT_TRUE(form.ComPort1.Connected());
  // A dialogue as the transfers run one: the window disabled, a loop that serves the window's
  // messages and goes on while RunFlag is 1, and its closing command after the loop.
  form.setEnabled(false);
  RunFlag = 1;
  int steps = 0;
  bool portOpenAtItsEnd = false;
  bool visibleAtItsEnd = false;
  while (RunFlag == 1 && steps < 10000) {
    kvel::ProcessMessages();
    if (++steps == 3) form.close();
  }
  portOpenAtItsEnd = form.ComPort1.Connected();
  visibleAtItsEnd = form.isVisible();
  form.ComPort1.SendText("L26 0\r");
  form.setEnabled(true);

  EXPECT_LT(steps, 10000) << "the close did not stop the dialogue";
  EXPECT_TRUE(portOpenAtItsEnd);
  EXPECT_TRUE(visibleAtItsEnd);
  EXPECT_TRUE(kvel::ShutdownRequested());
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(ClosedThroughTheNormalPath());
  EXPECT_FALSE(form.ComPort1.Connected());
}

TEST_F(ShutdownTest, AModalWindowIsAskedOnceAsEscWouldAndTheWindowClosesAfterIt) {
  TForm1& form = Start();
  int rejects = 0;
  QDialog dialog(&form);
  QObject::connect(&dialog, &QDialog::rejected, [&rejects] { ++rejects; });
  QTimer::singleShot(30, &form, [&form] { form.close(); });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_EQ(rejects, 1);
  // The caller of the dialog returns to the receive poll, which does not start again.
  form.PollReceive();
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(ClosedThroughTheNormalPath());
  EXPECT_EQ(rejects, 1);
}

TEST_F(ShutdownTest, AWindowThatDoesNotReturnIsNotWaitedForPastTheGraceTime) {
  TForm1& form = Start();
  int status = -1;
  form.OnForcedExit = [&status](int code) { status = code; };
  form.EndProgram();
  // A loop that ignores every stop request: only the forced end gets the program out.
  const std::int64_t started = kvel::SystemClock().NowMs();
  while (status < 0 && kvel::SystemClock().NowMs() - started < 20000) kvel::ProcessMessages();
  EXPECT_EQ(status, kForcedExitStatus);
  EXPECT_TRUE(ClosedThroughTheNormalPath());
  EXPECT_TRUE(IniExists());
  EXPECT_FALSE(form.ComPort1.Connected());
}

// A signal in the middle of a download: the download stops as its Cancel does, the unit gets
// the closing commands (it is not left in download mode), and then the program closes.
TEST_F(ShutdownTest, ASignalDuringADownloadSendsItsClosingCommandsBeforeTheEnd) {
  kvel::sim::SimConfig config;
  config.ApplyText("indexer 1 mu", "test");
  kvel::sim::MemoryPeer peer(*config.lines.front().line);
  line_->SetPeer(&peer);
  TForm1& form = Start();
  SelectedUnit = 1;
  std::string program;
  for (int n = 1; n <= 40; ++n) {
    program += "N" + std::string(n < 10 ? "00" : "0") + std::to_string(n) + " G01 X" +
               std::to_string(n) + "\r\n";
  }
  std::ofstream("MU-1.PGM", std::ios::binary) << program;
  const auto written = [&peer] {
    return peer.WithLine([](kvel::sim::Line& line) {
      return kvel::sim::Transcript::Visible(
          line.transcript().Bytes(kvel::sim::Transcript::Direction::Received));
    });
  };
  bool signalled = false;
  clock_.AddMessageHook([&] {
    if (!signalled && written().find("N005 G01") != std::string::npos) {
      signalled = true;
      form.EndProgram();
    }
  });
  QTimer::singleShot(0, &form, [] {
    if (auto* dialog = qobject_cast<TToIDX_Form*>(QApplication::activeModalWidget())) {
      dialog->Button1Click();
    }
  });
  form.KVEL1->trigger();
  line_->SetPeer(nullptr);
  ASSERT_TRUE(signalled);
  const std::string sent = written();
  EXPECT_EQ(sent.find("N010 G01"), std::string::npos) << sent;
  const std::string closing = "L26 0\\n\\rL48 20 N001\\n\\r";
  ASSERT_GE(sent.size(), closing.size());
  EXPECT_EQ(sent.substr(sent.size() - closing.size()), closing) << sent;
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(ClosedThroughTheNormalPath());
  EXPECT_FALSE(form.ComPort1.Connected());
}

TEST_F(ShutdownTest, AnOrdinaryCloseIsNotHeldBack) {
  TForm1& form = Start();
  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(kvel::ShutdownRequested());
  EXPECT_TRUE(ClosedThroughTheNormalPath());
}

}  // namespace
