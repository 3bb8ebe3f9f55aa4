// The uploads: the L parameters and the program, read line by line.
#include "UploadEngine.h"

#include <algorithm>

#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "OnExit.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Shutdown.h"

namespace {

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

}  // namespace

// Character wait: one byte per 10 ms pass until a carriage return, a stop or 99 silent passes.
// Returns the filtered text; clears RunFlag when the reading has to end with this line.
std::string LParameterUpload::ReadParameterLine() {
  std::string text;
  for (int pass = 1;; ++pass) {
    kvel::Wait(10);
    std::string byte;
    port_.ReceiveText(byte, 1);
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

ParameterUploadResult LParameterUpload::Run() {
  result_ = ParameterUploadResult{};
  port_.SendText("L49 0\r");
  port_.SendText("L50 1\r");
  port_.SendText("H16\r");
  OnExit cleanUp([this] { port_.PurgeBuffers(true, true); });
  progress_.Begin(" Reading L Parameters", "50", "Reading.");
  // The unit sends its parameters one line after the other and then falls silent; the
  // silence after the last line ends the reading.
  while (RunFlag != 0 && !kvel::ShutdownRequested()) {
    kvel::Wait(20);
    kvel::EngineIdle(progress_);
    // A stop seen here ends the reading after the partial line the character wait returns.
    if (RunFlag == 0 || kvel::ShutdownRequested()) result_.stopped = true;
    std::string text = ReadParameterLine();
    progress_.Progress(result_.count, 50, 2 * result_.count,
                       "Reading Parameter : " + std::to_string(result_.count));
    std::erase(text, '=');
    result_.lines.push_back(text);
    if (text.find('L') != std::string::npos) ++result_.count;
  }
  kvel::Wait(25);
  cleanUp.Dismiss();
  port_.PurgeBuffers(true, true);
  progress_.End();
  return result_;
}

void LParameterUpload::Finish() {
  port_.SendText("L50 0\r");
}

ProgramUploadResult ProgramUpload::Run(std::vector<std::string> leading, int owed) {
  result_ = ProgramUploadResult{};
  result_.leadingLines = leading.size();
  result_.lines = std::move(leading);
  RunFlag = 1;
  int shortLines = 0;
  // The upload's own "L26 0" may be acknowledged late as well.
  ++owed;
  OnExit cleanUp([this] { port_.PurgeBuffers(true, true); });
  progress_.Begin(" Reading program", "400", "Reading line : 0");
  progress_.Note("");
  port_.SendText("L26 0\n\r");
  kvel::Wait(100);
  // What the unit still had to say before the first line request (the acknowledge of the
  // parameter upload's last command) is not part of its program.
  RxCount = port_.PendingInput();
  std::string stale;
  port_.ReceiveText(stale, RxCount);
  owed = std::max<int>(0, owed - static_cast<int>(std::count(stale.begin(), stale.end(), '=')));

  for (int n = 1; n <= kMaxProgramLines; ++n) {
    result_.lastLine = n;
    port_.SendText("N" + std::to_string(n) + " H13\n\r");
    kvel::Wait(25);
    kvel::EngineIdle(progress_);
    // The program is ending: the line in progress is not waited for.
    if (kvel::ShutdownRequested()) {
      result_.stopped = true;
      break;
    }
    std::string text;
    if (!ReadProgramLine(port_, &text)) {
      result_.error = true;
      RunFlag = 0;
    }
    DropOwedAcknowledges(&text, &owed);
    if (text.size() > 5) {
      const std::string line = TrimTrailingSpaces(text);
      shortLines = line.size() < 5 ? shortLines + 1 : 0;
      // After a long line one short line is kept; a run of short lines is the end.
      if (shortLines < 2) result_.lines.push_back(line);
    }
    progress_.Progress(n, kMaxProgramLines, n / 4, "Reading line : " + std::to_string(n));
    if (RunFlag == 0) {
      result_.stopped = !result_.error && n < kMaxProgramLines;
      break;
    }
  }
  if (result_.error) {
    progress_.Warn(
        "There was a problem with the communication.\r\nYou may try to save the file, but "
        "a ggod ressult is not sure.",
        "Communication Error");
  }
  cleanUp.Dismiss();
  port_.PurgeBuffers(true, true);
  progress_.End();
  return result_;
}

std::string UploadCounts(const ProgramUploadResult& result, bool withParameters) {
  std::string counts = LinesText(result.lines.size());
  if (withParameters) {
    counts += " (" + std::to_string(result.leadingLines) + " parameter, " +
              std::to_string(result.ProgramLines()) + " program)";
  }
  return counts;
}

std::string UploadEnding(const ProgramUploadResult& result) {
  if (result.stopped) return "; reading cancelled at line " + std::to_string(result.lastLine);
  if (result.error) {
    return "; reading stopped at line " + std::to_string(result.lastLine) + ": no answer";
  }
  return {};
}

std::string UploadSummary(const ProgramUploadResult& result, bool withParameters) {
  return UploadCounts(result, withParameters) + UploadEnding(result);
}

ProgramUploadResult ReadProgramWithParameters(TCustomComPort& port, TransferProgress& progress,
                                              ParameterUploadResult* parameters) {
  RunFlag = 1;
  LParameterUpload upload(port, progress);
  ParameterUploadResult read = upload.Run();
  upload.Finish();
  if (!kvel::ShutdownRequested()) RunFlag = 1;
  if (parameters != nullptr) *parameters = read;
  if (kvel::ShutdownRequested()) {
    ProgramUploadResult none;
    none.lines = read.lines;
    none.leadingLines = read.lines.size();
    none.stopped = true;
    return none;
  }
  // "L50 0" that ended the parameter upload may still be acknowledged.
  return ProgramUpload(port, progress).Run(read.lines, 1);
}
