// The port's modem inputs and line errors in the status bar, and the commands that set its
// output lines.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

#include "KVELUnit1.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"

namespace {

QAction* AddLineItem(QMenu* menu, const char* name, const char* caption, bool checkable) {
  auto* action = new QAction(kvel::ToQt(caption), menu);
  action->setObjectName(kvel::ToQt(name));
  action->setCheckable(checkable);
  action->setProperty(kHelpContextProperty, 1400);
  menu->addAction(action);
  return action;
}

// " CTS --- DCD --": the name of each input that is on, dashes for one that is off.
std::string ModemText(TModemSignals signals) {
  const struct {
    TModemSignal signal;
    const char* name;
    const char* off;
  } lines[] = {
      {msCTS, "CTS", "---"}, {msDSR, "DSR", "---"}, {msRLSD, "DCD", "---"}, {msRing, "RI", "--"}};
  std::string text;
  for (const auto& line : lines)
    text += std::string(" ") + (signals.Contains(line.signal) ? line.name : line.off);
  return text;
}

std::string ModemHint(TModemSignals signals) {
  const auto state = [&](TModemSignal s) { return signals.Contains(s) ? "on" : "off"; };
  return std::string("Modem inputs: CTS ") + state(msCTS) + ", DSR " + state(msDSR) + ", DCD " +
         state(msRLSD) + ", RI " + state(msRing);
}

// Switches a modem line; the commands show the line's state afterwards, also when switching
// fails.
template <typename Toggle>
void ToggleModemLine(TForm1& form, Toggle toggle) {
  try {
    toggle();
  } catch (...) {
    form.UpdateLineCommands();
    throw;
  }
  form.UpdateLineCommands();
}

}  // namespace

void TForm1::CreateLineIndicators() {
  ModemPanel = new QLabel(StatusBar1);
  ModemPanel->setObjectName(QStringLiteral("StatusPanel3"));
  ModemPanel->setFixedWidth(96);
  ErrorPanel = new QLabel(StatusBar1);
  ErrorPanel->setObjectName(QStringLiteral("StatusPanel4"));
  // Empty until an error is counted; it then takes its room from the information panel.
  ErrorPanel->setMinimumWidth(0);
  ErrorPanel->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
  for (QLabel* panel : {ModemPanel, ErrorPanel}) {
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
  }
  StatusBar1->addWidget(ModemPanel);
  StatusBar1->addWidget(ErrorPanel, 1);

  Commands1->addSeparator();
  DTR1 = AddLineItem(Commands1, "DTR1", "DTR on", true);
  RTS1 = AddLineItem(Commands1, "RTS1", "RTS on", true);
  SendBreak1 = AddLineItem(Commands1, "SendBreak1", "Send break", false);
  const auto run = [this](void (TForm1::*handler)()) {
    return [this, handler] { kvel::Guarded([this, handler] { (this->*handler)(); }); };
  };
  connect(DTR1, &QAction::triggered, this, run(&TForm1::DTR1Click));
  connect(RTS1, &QAction::triggered, this, run(&TForm1::RTS1Click));
  connect(SendBreak1, &QAction::triggered, this, run(&TForm1::SendBreak1Click));
  connect(Commands1, &QMenu::aboutToShow, this, [this] { UpdateLineCommands(); });
  UpdateLineCommands();

  // The event thread waits while its batch is handled here (one batch at most waits), and
  // the device merges what happens meanwhile into the next one. The handlers only queue one
  // refresh of the panels, which reads the port as it is by then.
  ComPort1.OnCTSChange = [this](TCustomComPort&, bool) { ScheduleLineState(); };
  ComPort1.OnDSRChange = [this](TCustomComPort&, bool) { ScheduleLineState(); };
  ComPort1.OnRLSDChange = [this](TCustomComPort&, bool) { ScheduleLineState(); };
  ComPort1.OnRing = [this](TCustomComPort&) { ScheduleLineState(); };
  ComPort1.OnError = [this](TCustomComPort&, TComErrors) { ScheduleLineState(); };
}

void TForm1::ScheduleLineState() {
  if (lineStatePending_) return;
  lineStatePending_ = true;
  QTimer::singleShot(0, this, [this] {
    lineStatePending_ = false;
    ShowLineState();
  });
}

void TForm1::ShowLineState() {
  UpdateLineCommands();
  if (!ComPort1.Connected()) {
    ModemPanel->clear();
    ModemPanel->setToolTip({});
    // The errors of the last opening stay in view until the port opens again.
    return;
  }
  TModemSignals signals;
  kvel::LineCounters counts;
  bool counted = false;
  try {
    signals = ComPort1.ReadModemSignals();
    counts = ComPort1.LineErrorCounts(&counted);
  } catch (const EComPort&) {
    // A device that has gone: the receive loop reports it; the panels show no lines.
    ModemPanel->clear();
    ModemPanel->setToolTip({});
    return;
  }
  ModemPanel->setText(kvel::ToQt(ModemText(signals)));
  ModemPanel->setToolTip(kvel::ToQt(ModemHint(signals)));

  const std::uint32_t total = counts.Errors();
  if (total == 0) {
    ErrorPanel->clear();
    ErrorPanel->setToolTip({});
    return;
  }
  const struct {
    std::uint32_t count;
    const char* name;
  } kinds[] = {{counts.overrun, "Overrun"},
               {counts.frame, "Framing"},
               {counts.parity, "Parity"},
               {counts.bufferOverrun, "Buffer overrun"}};
  std::string text;
  std::string detail;
  int named = 0;
  for (const auto& kind : kinds) {
    if (kind.count == 0) continue;
    ++named;
    text = std::string(" ") + kind.name + " " + std::to_string(kind.count);
    detail +=
        std::string(detail.empty() ? "" : ", ") + kind.name + " " + std::to_string(kind.count);
  }
  if (named > 1) text = " Line errors " + std::to_string(total);
  ErrorPanel->setText(kvel::ToQt(text));
  ErrorPanel->setToolTip(kvel::ToQt(std::string("Line errors since the port was opened (") +
                                    (counted ? "counted by the driver" : "reported by the device") +
                                    "): " + detail +
                                    ". Received data has been lost or corrupted."));
}

void TForm1::UpdateLineCommands() {
  const bool open = ComPort1.Connected();
  const TComFlowControl& flow = ComPort1.FlowControl();
  // A line under handshake belongs to the driver; setting it by hand would fight it.
  DTR1->setEnabled(open && flow.ControlDTR() != dtrHandshake);
  RTS1->setEnabled(open && (flow.ControlRTS() == rtsDisable || flow.ControlRTS() == rtsEnable));
  SendBreak1->setEnabled(open);
  DTR1->setChecked(ComPort1.DTRState());
  RTS1->setChecked(ComPort1.RTSState());
}

void TForm1::DTR1Click() {
  ToggleModemLine(*this, [this] { ComPort1.SetDTR(!ComPort1.DTRState()); });
}

void TForm1::RTS1Click() {
  ToggleModemLine(*this, [this] { ComPort1.SetRTS(!ComPort1.RTSState()); });
}

void TForm1::SendBreak1Click() {
  ComPort1.SetBreak(true);
  kvel::Wait(kBreakMs);
  // The break ends whatever happened meanwhile: a port left in break talks to no one.
  if (ComPort1.Connected()) ComPort1.SetBreak(false);
}
