// The main window's receiving side and views: the poll, the terminal log, the screen
// commands, the L-parameter grid and the units list.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>
#include <cstdint>
#include <sstream>

#include "KVELUnit1.h"
#include "KVEL_Events.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "serial/PortKeeper.h"
#include "terminal/CPortCtl.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/Dialogs.h"
#include "ui/Shutdown.h"

namespace {

constexpr int kGridRowCount = 17;
// The round period for a device that has to be looked at (see PollReceive).
constexpr int kPollPeriodMs = 100;
// The wait between two rounds while a fast device of that kind streams.
constexpr int kStreamWaitMs = 10;
// From the first byte's notice to the round that reads it: long enough for the rest of a
// short reply (a few characters at 9600 baud) to arrive, short against what the eye sees.
constexpr int kPollGatherMs = 4;
// The gathering while a device streams: the terminal's frame, so that each round is drawn
// at once and once.
constexpr int kStreamGatherMs = TForm1::kTerminalFrameMs;
// Bytes that come this soon after a round that read some belong to a stream.
constexpr int kStreamGapMs = 16;
// The longest sleep of the poll on a device that tells of its input, or on a closed port.
// Nothing needs it: such a device tells of its loss as it tells of its input, and the
// port's keeper and every window event end the wait. It is a safety net only, so long that
// an idle window does not wake for it.
constexpr int kPollIdleMs = 30000;

}  // namespace

void TForm1::DisplayText(const std::string& text) {
  ComTerminal1->PutText(text);
  if (LogOn) LogWrite(text, false);
  if (DisplayTap) DisplayTap(text);
  if (ComTerminal1->isVisible()) ComTerminal1->setFocus();
}

void TForm1::PollReceive() {
  // The program is ending: a dialogue that returns does not start the poll again.
  if (kvel::ShutdownRequested()) return;
  RunFlag = 1;
  if (pollType_ != nullptr) {
    // A poll already runs beneath the handler that asks for one: it goes on for the current
    // unit type. A second poll nested inside it would stay on the stack until the program
    // stops, and repeated starts would pile up until the stack overflows.
    *pollType_ = UnitType;
    return;
  }
  int ownType = UnitType;
  pollType_ = &ownType;
  // The poll sleeps until there is something to do. A device that tells of its input wakes
  // it as soon as a byte arrives; the round then follows a moment later, so that a reply
  // that comes in pieces is read and shown at once. Window events end the wait too, so that
  // a handler that stops the poll or changes the unit type takes effect at once.
  //
  // A device that fills its queue only when it is looked at is read every period instead.
  // With it, a device that sends faster than one round a period can show is not kept
  // waiting: after a round that read a backlog the next round follows as soon as the
  // window's messages have been served, and for one period after a backlog the waits are
  // short, so that the end of a burst is not left waiting for a full period.
  WaitWaker* const waker = pollWaker_.get();
  std::int64_t lastBacklogMs = kvel::NowMs() - kPollPeriodMs;
  ComPort1.SetInputNotice(1, [waker] { waker->Wake(); });
  struct Running {
    int*& slot;
    TComPort& port;
    ~Running() {
      port.SetInputNotice(0, {});
      slot = nullptr;
    }
  } running{pollType_, ComPort1};
  std::string received;
  while (RunFlag == 1 && UnitType == ownType) {
    // A closed port (its opening failed and has been reported) has nothing to read: the
    // poll waits for it rather than failing a second time over the first error, and reads
    // again as soon as another port or unit type has opened it.
    RxCount = ReadPort(received);
    if (RxCount > 0) {
      if (HexMode) {
        DisplayText(HexDisplayText(received));
      } else if (!ComTerminal1->isHidden()) {
        DisplayText(received);
      }
    }
    const std::int64_t now = kvel::NowMs();
    if (static_cast<std::size_t>(RxCount) >= kPollBacklogBytes) {
      lastBacklogMs = now;
    } else if (!ComPort1.Connected()) {
      // Nothing to read until the port opens again. Whoever opens it does that in a window
      // event, which ends the wait; a port that waits for its device is looked for when its
      // keeper's next look is due, in the round that follows.
      const bool waiting = portKeeper_->Waiting();
      const std::int64_t look = portKeeper_->MsToNextLook(kvel::NowMs());
      WaitForActivity(
          waiting ? static_cast<int>(std::min<std::int64_t>(look, kPollIdleMs)) + 1 : kPollIdleMs,
          *waker);
    } else if (ComPort1.TellsOfInput()) {
      // Bytes that came between the count and the read are still queued, and the notice
      // comes again only once a read has emptied the queue: they are read without a wait
      // for it.
      const std::int64_t quietFrom = kvel::NowMs();
      const bool arrived = ComPort1.PendingInput() > 0 || WaitForActivity(kPollIdleMs, *waker);
      // Bytes that follow soon after a round that read some are a stream: its rounds gather
      // a frame's worth, so that the window reads, logs and draws once a frame and not once
      // every few milliseconds. After a quiet spell the short gathering keeps replies quick.
      const bool stream = RxCount > 0 && kvel::NowMs() - quietFrom < kStreamGapMs;
      if (arrived) WaitServingEvents(stream ? kStreamGatherMs : kPollGatherMs);
    } else {
      WaitServingEvents(now - lastBacklogMs < kPollPeriodMs ? kStreamWaitMs : kPollPeriodMs, waker);
    }
    kvel::ProcessMessages();
  }
}

void TForm1::HEXMode1Click() {
  HexMode = !HexMode;
  HEXMode1->setChecked(HexMode);
}

void TForm1::SpeedButton3Click() {
  const std::string stamp = kvel::DateTimeStamp();
  if (!LogOn) {
    // The log goes on only when it takes its first line: the button never reads "Log is ON"
    // for a log that receives nothing.
    logFailureShown_ = false;
    if (const std::string failure = AppendToFile(LogFileName, " ", true); !failure.empty()) {
      ShowLogFailure(failure, "The log stays off.");
      return;
    }
    LogOn = true;
    SpeedButton3->setText(QStringLiteral("Log is ON"));
    LogWrite("Log ON : " + stamp, true);
  } else {
    LogWrite(" ", true);
    SetLogOff();
    LogWrite("Log OFF: " + stamp, true);
  }
  LogWrite(" ", true);
  if (!LogOn) logFile_.Close();
}

void TForm1::SetLogOff() {
  LogOn = false;
  SpeedButton3->setText(QStringLiteral("Log is OFF"));
}

void TForm1::ShowLogFailure(const std::string& reason, const std::string& consequence) {
  kvel::ShowMessageBox(
      this,
      "Cannot write the terminal log file '" + LogFileName + "': " + reason + "\n" + consequence,
      "KVEL", kvel::MsgIcon::Warning);
}

void TForm1::LogWrite(const std::string& text, bool appendLineEnd) {
  const std::string failure = logFile_.Append(LogFileName, text, appendLineEnd, kvel::NowMs());
  if (failure.empty()) return;
  // Off before the box is shown: handlers that run meanwhile log nothing more.
  SetLogOff();
  if (logFailureShown_) return;
  logFailureShown_ = true;
  ShowLogFailure(failure, "The log is switched off; the terminal goes on.");
}

void TForm1::Viewlogfile1Click() {
  const std::optional<std::string> path = kvel::RunFileDialog(
      this, kvel::FileDialogRequest{false, LogFileName, "Logfiles (*.LOG)|*.LOG", "LOG"});
  if (path) OpenWithDesktop(*path, this);
}

void TForm1::Copy1Click() {
  std::ostringstream screen;
  ComTerminal1->WriteScreenText(screen);
  const std::string text = screen.str();
  std::string lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines += text.substr(start, end - start) + "\r\n";
    start = end + 2;
  }
  QApplication::clipboard()->setText(kvel::ToQt(lines));
}

void TForm1::SetGridCell(int k, const std::string& text) {
  const int row = k % kGridRowCount;
  const int column = k / kGridRowCount;
  QTableWidgetItem* item = StringGrid1->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    StringGrid1->setItem(row, column, item);
  }
  item->setText(kvel::ToQt(text));
}

void TForm1::StringGrid1Click(int row, int column) {
  const QTableWidgetItem* item = StringGrid1->item(row, column);
  const std::string cell = item != nullptr ? kvel::FromQt(item->text()) : std::string();
  const std::string key = cell.size() > 3 ? cell.substr(0, 3) : "99";
  const int number = kvel::StrToInt(key.substr(1, 2));
  if (key == "99") {
    Label2->setText(QStringLiteral(" "));
  } else if (LParamName) {
    Label2->setText(kvel::ToQt(key + " : " + LParamName(number)));
  } else {
    Label2->setText(kvel::ToQt(key));
  }
}

void TForm1::ComboBox2Change() {
  const std::string entry = kvel::FromQt(ComboBox2->currentText());
  const std::string address = UnitAddressOf(entry);
  ComTerminal1->PutText("\n\r" + address);
  ComPort1.SendText(address + "? ");
  ComPort1.SendText("\n\r");
  Panels[2]->setText(kvel::ToQt(" Unit :" + UnitIdOf(entry)));
  if (ComTerminal1->isVisible()) ComTerminal1->setFocus();
}

void TForm1::ShowNoControlSelected() {
  kvel::ShowMessageBox(this, "There is no control selected.\r\nUse Alt+S to select a control.",
                       " No control selected", kvel::MsgIcon::Error);
}
