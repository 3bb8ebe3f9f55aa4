// The modem-input and line-error panels and the DTR, RTS and break commands of the main
// window, over the in-memory line COM1.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "AppTestSupport.h"

namespace {

using Action = kvel::MemoryLine::LineAction;

// Serves the window's events (the port's batches among them) until `condition` holds.
template <typename Condition>
bool ServeLinesUntil(Condition condition) {
  QElapsedTimer bound;
  bound.start();
  while (!condition()) {
    if (bound.elapsed() > 5000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

std::string PanelText(const QLabel* label) {
  return label->text().toStdString();
}

TEST_F(AppTest, LineCommandsStartFromThePortSettingsAndDriveTheLine) {
  TForm1& form = Start();
  ASSERT_TRUE(form.ComPort1.Connected());
  // What opening the "Commands" menu does.
  Q_EMIT form.Commands1->aboutToShow();
  EXPECT_EQ(form.DTR1->text().toStdString(), "DTR on");
  EXPECT_EQ(form.RTS1->text().toStdString(), "RTS on");
  EXPECT_EQ(form.SendBreak1->text().toStdString(), "Send break");
  EXPECT_TRUE(form.Commands1->actions().contains(form.SendBreak1));
  for (QAction* item : {form.DTR1, form.RTS1, form.SendBreak1}) EXPECT_TRUE(item->isEnabled());
  // Both lines start off, as the port's flow control holds them.
  EXPECT_FALSE(form.DTR1->isChecked());
  EXPECT_FALSE(form.RTS1->isChecked());
  line_->TakeLineActions();

  form.DTR1->trigger();
  form.RTS1->trigger();
  EXPECT_TRUE(line_->Dtr());
  EXPECT_TRUE(line_->Rts());
  EXPECT_TRUE(form.DTR1->isChecked());
  EXPECT_TRUE(form.RTS1->isChecked());
  form.DTR1->trigger();
  EXPECT_FALSE(line_->Dtr());
  EXPECT_FALSE(form.DTR1->isChecked());

  form.SendBreak1->trigger();
  std::vector<Action> actions = line_->TakeLineActions();
  ASSERT_EQ(actions.size(), 5u);
  EXPECT_EQ(actions[3].kind, Action::kBreak);
  EXPECT_TRUE(actions[3].on);
  EXPECT_EQ(actions[4].kind, Action::kBreak);
  EXPECT_FALSE(actions[4].on);
  EXPECT_EQ(actions[4].atMs - actions[3].atMs, TForm1::kBreakMs);
  EXPECT_FALSE(line_->InBreak());

  // A line the driver handshakes is not the user's to set.
  form.ComPort1.FlowControl().SetControlRTS(rtsHandshake);
  form.UpdateLineCommands();
  EXPECT_FALSE(form.RTS1->isEnabled());
  EXPECT_TRUE(form.DTR1->isEnabled());
  form.ComPort1.FlowControl().SetControlRTS(rtsDisable);

  // Closed: nothing to set, and nothing claims to be.
  form.ComPort1.ClosePort();
  form.UpdateLineCommands();
  for (QAction* item : {form.DTR1, form.RTS1, form.SendBreak1}) EXPECT_FALSE(item->isEnabled());
  EXPECT_FALSE(form.DTR1->isChecked());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(AppTest, ModemInputsAndLineErrorsShowInTheirPanels) {
  TForm1& form = Start();
  ASSERT_TRUE(form.ComPort1.Connected());
  EXPECT_TRUE(form.StatusBar1->isAncestorOf(form.ModemPanel));
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ModemPanel) == " --- --- --- --"; }));
  EXPECT_EQ(PanelText(form.ErrorPanel), "");

  line_->SetModemStatus(kvel::kMsCtsOn | kvel::kMsRlsdOn);
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ModemPanel) == " CTS --- DCD --"; }))
      << PanelText(form.ModemPanel);
  EXPECT_EQ(form.ModemPanel->toolTip().toStdString(),
            "Modem inputs: CTS on, DSR off, DCD on, RI off");
  line_->SetModemStatus(kvel::kMsDsrOn | kvel::kMsRingOn);
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ModemPanel) == " --- DSR --- RI"; }))
      << PanelText(form.ModemPanel);

  // Errors show as soon as the driver counts one, with the count.
  kvel::LineCounters counts;
  counts.overrun = 2;
  line_->CountLineErrors(counts);
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ErrorPanel) == " Overrun 2"; }))
      << PanelText(form.ErrorPanel);
  counts = {};
  counts.frame = 1;
  line_->CountLineErrors(counts);
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ErrorPanel) == " Line errors 3"; }))
      << PanelText(form.ErrorPanel);
  EXPECT_NE(form.ErrorPanel->toolTip().toStdString().find("Overrun 2, Framing 1"),
            std::string::npos)
      << form.ErrorPanel->toolTip().toStdString();

  // A device without counters: each error reading counts, also one the receive loop took.
  form.ComPort1.ClosePort();
  line_->SetCountersAvailable(false);
  form.ComPort1.OpenPort();
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ErrorPanel).empty(); }));
  line_->RaiseLineErrors(kvel::kCeRxParity);
  form.ComPort1.PendingInput();
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ErrorPanel) == " Parity 1"; }))
      << PanelText(form.ErrorPanel);

  // Closed: no lines to show; the errors of that opening stay in view.
  form.ComPort1.ClosePort();
  ASSERT_TRUE(ServeLinesUntil([&] { return PanelText(form.ModemPanel).empty(); }));
  EXPECT_EQ(PanelText(form.ErrorPanel), " Parity 1");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
