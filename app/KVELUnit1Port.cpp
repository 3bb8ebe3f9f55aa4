// The main window's serial port across the loss of its device: the state in status panel 0,
// the wait for the device to come back and the reopening.
#include <QApplication>
#include <QLabel>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "serial/ComError.h"
#include "serial/PortKeeper.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"
#include "ui/Shutdown.h"

void TForm1::ShowPortState() {
  std::string text;
  if (ComPort1.Connected()) {
    text = PortSettingsText();
  } else {
    std::string state = portKeeper_->Text();
    // Closed by the program itself (at Exit, around the port setup).
    if (state.empty()) state = ComPort1.Port() + " closed";
    text = " " + state;
    if (keysNotSentNoted_ && portKeeper_->Waiting()) text += "; typed keys are not sent";
  }
  if (text == portPanelText_ && kvel::FromQt(Panels[0]->text()) == text) return;
  portPanelText_ = text;
  QLabel* panel = Panels[0];
  const QString shown = kvel::ToQt(text);
  panel->setText(shown);
  panel->setToolTip(ComPort1.Connected() ? QString() : shown);
  // The panel grows with a state's longer text as far as the bar allows (see StatusPanel);
  // the whole text stays in the tool tip.
}

std::int32_t TForm1::ReadPort(std::string& received) {
  received.clear();
  ServePort();
  if (!ComPort1.Connected()) return 0;
  try {
    const std::int32_t pending = ComPort1.PendingInput();
    ComPort1.ReceiveText(received, pending);
    return pending;
  } catch (const EComPort& error) {
    // Whatever came before the loss has been read by now: the device serves it first.
    if (!kvel::IsDeviceGone(error.SystemError())) throw;
    received.clear();
    PortLost();
    return 0;
  }
}

void TForm1::PortLost() {
  portKeeper_->Lost(kvel::NowMs());
  // A device that is away is not opened again at Exit only to report it.
  failedPort_ = ComPort1.Port();
  keysNotSentNoted_ = false;
  SyncPortWatch();
  ShowPortState();
}

void TForm1::ServePort() {
  if (!portKeeper_->Waiting()) return;
  const bool reopened = portKeeper_->Serve(kvel::NowMs());
  if (reopened || ComPort1.Connected()) {
    failedPort_.clear();
    keysNotSentNoted_ = false;
  }
  SyncPortWatch();
  ShowPortState();
  if (reopened) RestartPollAfterReturn();
}

void TForm1::SyncPortWatch() {
  const int fd = portKeeper_->WatchFd();
  if (portNotifier_ != nullptr && portNotifier_->socket() != fd) {
    // Its watch is closed; this may run inside the notifier's own signal.
    portNotifier_->setEnabled(false);
    portNotifier_->deleteLater();
    portNotifier_ = nullptr;
  }
  if (portNotifier_ == nullptr && fd >= 0) {
    portNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(portNotifier_, &QSocketNotifier::activated, this,
            [this] { kvel::Guarded([this] { ServePort(); }); });
  }
  if (portTimer_ == nullptr) {
    portTimer_ = new QTimer(this);
    portTimer_->setObjectName(QStringLiteral("PortTimer"));
    portTimer_->setInterval(static_cast<int>(kvel::PortKeeper::kLookMs));
    connect(portTimer_, &QTimer::timeout, this, [this] { kvel::Guarded([this] { ServePort(); }); });
  }
  // Ticks only while the port waits: the receive poll serves it too, but it may not run.
  if (portKeeper_->Waiting()) {
    if (!portTimer_->isActive()) portTimer_->start();
  } else {
    portTimer_->stop();
  }
}

void TForm1::RestartPollAfterReturn() {
  // The poll reads again on its own when it runs; one that ended (or never ran past a dialogue
  // that stopped it) is started again once nothing runs beneath.
  if (pollType_ != nullptr || !pollStarted_) return;
  QTimer::singleShot(0, this, [this] {
    if (pollType_ != nullptr || kvel::ShutdownRequested() || kvel::MessageStepDepth() > 0 ||
        QApplication::activeModalWidget() != nullptr || !isEnabled() || !ComPort1.Connected())
      return;
    kvel::Guarded([this] { PollReceive(); });
  });
}

bool TForm1::SendTypedKeys(const std::string& text) {
  if (portKeeper_->Waiting()) {
    NoteKeysNotSent();
    return false;
  }
  try {
    ComPort1.SendText(text);
  } catch (const EComPort& error) {
    if (!kvel::IsDeviceGone(error.SystemError())) throw;
    PortLost();
    NoteKeysNotSent();
    return false;
  }
  return true;
}

void TForm1::NoteKeysNotSent() {
  if (keysNotSentNoted_) return;
  keysNotSentNoted_ = true;
  ShowPortState();
}
