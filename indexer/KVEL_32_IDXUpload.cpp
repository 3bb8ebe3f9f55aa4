// The uploads: L parameters into LParamList and LPARAM.TXT, the program into a file.
#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Dialogs.h"
#include "ui/Shutdown.h"

namespace {

constexpr int kMaxProgramLines = 400;

// Character wait: one byte per 10 ms pass until a carriage return, a stop or 99 silent passes.
// Returns the filtered text; clears RunFlag when the reading has to end with this line.
std::string ReadParameterLine(TCustomComPort& port) {
  std::string text;
  for (int pass = 1;; ++pass) {
    kvel::Wait(10);
    std::string byte;
    port.ReceiveText(byte, 1);
    text += byte;
    const bool lineEnd = text.find('\r') != std::string::npos;
    text = FilterPrintable(text);
    if (lineEnd) return text;
    if (RunFlag == 0 || kvel::ShutdownRequested() || pass >= 99) {
      RunFlag = 0;
      return text;
    }
  }
}

// Line wait: everything pending every 20 ms until a carriage return, at most 499 passes.
// Returns false when no line end came.
bool ReadProgramLine(TCustomComPort& port, std::string* text) {
  text->clear();
  for (int pass = 0; pass < 499; ++pass) {
    kvel::Wait(20);
    RxCount = port.PendingInput();
    std::string part;
    port.ReceiveText(part, RxCount);
    *text += part;
    const bool lineEnd = part.find('\r') != std::string::npos;
    *text = FilterPrintable(*text);
    if (lineEnd) return true;
  }
  return false;
}

// Removes from the front of a line reply the acknowledges ("=") that the unit still owed for
// the upload's own commands, at most `*owed` of them. The unit answers in order, so an
// acknowledge that comes late arrives in front of the next reply; a listed program line
// itself starts with its line number.
void DropOwedAcknowledges(std::string* text, int* owed) {
  while (*owed > 0 && !text->empty() && text->front() == '=') {
    text->erase(0, 1);
    --*owed;
  }
}

// Says in the status bar how an upload ended: `say` builds the text for a file name.
template <typename Say>
void ShowResult(IndexerHost& host, const std::string& path, Say say) {
  host.ShowTransferResult(say(FileNameOf(path)), say(path));
}

}  // namespace

void ReadLParameters(IndexerHost& host) {
  if (SelectedUnit == 100) {
    host.ShowNoControlSelected();
    host.ShowTransferResult("L parameters not read: no control selected",
                            "L parameters not read: no control selected");
    return;
  }
  TCustomComPort& port = host.Port();
  LParamList.clear();
  LParamCount = 0;
  port.SendText("L49 0\r");
  port.SendText("L50 1\r");
  port.SendText("H16\r");
  {
    ProgressWindow progress(host);
    OnExit cleanUp([&] { port.PurgeBuffers(true, true); });
    progress->SetCaption(" Reading L Parameters");
    progress->SetLabel(progress->Label3, "50");
    progress->SetLabel(progress->Label2, "Reading.");
    progress->show();
    // The unit sends its parameters one line after the other and then falls silent; the
    // silence after the last line ends the reading.
    while (RunFlag != 0 && !kvel::ShutdownRequested()) {
      kvel::Wait(20);
      kvel::ProcessMessages();
      std::string text = ReadParameterLine(port);
      progress->SetLabel(progress->Label2, "Reading Parameter : " + std::to_string(LParamCount));
      progress->SetPosition(2 * LParamCount);
      std::erase(text, '=');
      LParamList.push_back(text);
      if (text.find('L') != std::string::npos) ++LParamCount;
    }
    kvel::Wait(25);
    cleanUp.Dismiss();
    port.PurgeBuffers(true, true);
  }
  const std::string read = std::to_string(LParamCount) + " L parameters";
  try {
    SaveLines(kLParamFileName, LParamList);
  } catch (const std::exception&) {
    ShowResult(host, AbsolutePath(kLParamFileName),
               [&](const std::string& file) { return read + " read, " + file + " not written"; });
    throw;
  }
  ShowResult(host, AbsolutePath(kLParamFileName),
             [&](const std::string& file) { return "Saved " + file + ": " + read; });
  port.SendText("L50 0\r");
  // A program that is ending keeps the stop, so that an upload around this one ends too.
  if (!kvel::ShutdownRequested()) RunFlag = 1;
}

void ReadProgram(IndexerHost& host, bool withParameters) {
  if (SelectedUnit == 100) {
    host.ShowNoControlSelected();
    host.ShowTransferResult("Program not read: no control selected",
                            "Program not read: no control selected");
    return;
  }
  TCustomComPort& port = host.Port();
  RunFlag = 1;
  bool error = false;
  std::vector<std::string> lines;
  int shortLines = 0;
  OnExit resetFlag([] {
    if (!kvel::ShutdownRequested()) RunFlag = 1;
  });
  // Acknowledges the unit may still send for the upload's own commands: "L50 0" that ends
  // the parameter upload, and "L26 0" below.
  int owed = 1;
  if (withParameters) {
    host.ReadLParametersView();
    lines = LParamList;
    ++owed;
  }
  std::size_t parameterLines = lines.size();
  int lastLine = 0;      // the last line number requested
  bool stopped = false;  // Esc, Cancel or the end of the program ended the reading early
  if (!kvel::ShutdownRequested()) {
    ProgressWindow progress(host);
    OnExit cleanUp([&] { port.PurgeBuffers(true, true); });
    progress->SetCaption(" Reading program");
    progress->SetLabel(progress->Label2, "Reading line : 0");
    progress->SetLabel(progress->Label3, "400");
    progress->SetLabel(progress->Label4, "");
    progress->show();
    port.SendText("L26 0\n\r");
    kvel::Wait(100);
    // What the unit still had to say before the first line request (the acknowledge of the
    // parameter upload's last command) is not part of its program.
    RxCount = port.PendingInput();
    std::string stale;
    port.ReceiveText(stale, RxCount);
    owed = std::max<int>(0, owed - static_cast<int>(std::count(stale.begin(), stale.end(), '=')));

    for (int n = 1; n <= kMaxProgramLines; ++n) {
      lastLine = n;
      port.SendText("N" + std::to_string(n) + " H13\n\r");
      kvel::Wait(25);
      kvel::ProcessMessages();
      // The program is ending: the line in progress is not waited for.
      if (kvel::ShutdownRequested()) {
        stopped = true;
        break;
      }
      std::string text;
      if (!ReadProgramLine(port, &text)) {
        error = true;
        RunFlag = 0;
      }
      DropOwedAcknowledges(&text, &owed);
      if (text.size() > 5) {
        const std::string line = TrimTrailingSpaces(text);
        shortLines = line.size() < 5 ? shortLines + 1 : 0;
        // After a long line one short line is kept; a run of short lines is the end.
        if (shortLines < 2) lines.push_back(line);
      }
      progress->SetLabel(progress->Label2, "Reading line : " + std::to_string(n));
      progress->SetPosition(n / 4);
      if (RunFlag == 0) {
        stopped = !error && n < kMaxProgramLines;
        break;
      }
    }
    if (error) {
      progress->ShowMessage(
          "There was a problem with the communication.\r\nYou may try to save the file, but "
          "a ggod ressult is not sure.",
          "Communication Error", kvel::MsgIcon::Warning);
    }
    cleanUp.Dismiss();
    port.PurgeBuffers(true, true);
  }
  const std::optional<std::string> path =
      host.RunSaveDialog("TavorSerie Files (*.PGM)|*.PGM", "PGM");
  std::string counts = LinesText(lines.size());
  if (withParameters) {
    counts += " (" + std::to_string(parameterLines) + " parameter, " +
              std::to_string(lines.size() - parameterLines) + " program)";
  }
  std::string how;
  if (error) how = "; reading stopped at line " + std::to_string(lastLine) + ": no answer";
  if (stopped) how = "; reading cancelled at line " + std::to_string(lastLine);
  if (!path) {
    const std::string text = "Program read: " + counts + ", not saved" + how;
    host.ShowTransferResult(text, text);
    return;
  }
  try {
    SaveLines(*path, lines);
  } catch (const std::exception&) {
    ShowResult(host, *path, [&](const std::string& file) {
      return "Program not saved: " + file + " not written";
    });
    throw;
  }
  ShowResult(host, *path,
             [&](const std::string& file) { return "Saved " + file + ": " + counts + how; });
}
