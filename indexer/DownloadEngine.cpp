// The program download: the file's lines, the erase, the line-by-line send and its end.
#include "DownloadEngine.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Shutdown.h"

namespace {

// A program line goes out in pieces of at most this many bytes: each piece is taken by the
// device quickly, and between pieces the program's messages are handled, so that a long line
// neither freezes the program nor outlasts a Cancel.
constexpr std::size_t kLinePiece = 64;

// The H13 reply (the unit's current line) ends with a carriage return; a slow unit is given
// this many 20 ms passes to finish it before the download stops as a communication problem.
constexpr int kReplyEndPasses = 200;

}  // namespace

std::optional<FileProblem> ReadProgramFile(const std::string& path, std::string* bytes) {
  // The file is opened without blocking, so that a named pipe or a device chosen by mistake
  // cannot hang the program, and only a regular file is read.
  const std::string head = "The specified File " + path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return FileProblem{true, head + " was not found."};
    return FileProblem{false, head + " could not be opened: " + std::strerror(error)};
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return FileProblem{false, head + " could not be read: " + std::strerror(errno)};
  }
  if (S_ISDIR(info.st_mode)) return FileProblem{false, head + " is a folder, not a file."};
  if (!S_ISREG(info.st_mode)) {
    return FileProblem{false, head + " is not a regular file (a pipe or a device)."};
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileProblem{false, head + " could not be read: " + std::strerror(errno)};
    }
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
  return std::nullopt;
}

std::vector<std::string> LoadProgramLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
    if (bytes[end] == '\r' && start < bytes.size() && bytes[start] == '\n') ++start;
  }
  return lines;
}

std::string PreparedProgramLine(std::string line) {
  // L26 (acknowledge) is set by the download's own commands only.
  if (line.empty() || line.find("L26") != std::string::npos) line = " ";
  if (const std::size_t semicolon = line.find(';');
      semicolon != std::string::npos && semicolon >= 1) {
    line.resize(semicolon);
  }
  return line;
}

// The download stops when Cancel (or a time-out) cleared RunFlag or the program is ending.
bool ProgramDownload::Stopped() {
  if (kvel::ShutdownRequested()) RunFlag = 0;
  return RunFlag == 0;
}

void ProgramDownload::Step(const std::string& text) {
  stepText_ = text;
  const int total = static_cast<int>(result_.lines);
  const int current = static_cast<int>(result_.sent.size());
  progress_.Progress(current, total, total > 0 ? current * 99 / total : 0, text);
}

void ProgramDownload::SendClosingCommands() {
  port_.SendText("L26 0\n\r");
  kvel::Wait(200);
  port_.SendText("L48 20 N001\n\r");
  kvel::Wait(200);
}

bool ProgramDownload::SendLine(const std::string& text) {
  if (text.size() <= kLinePiece) {
    port_.SendText(text);
    return true;
  }
  for (std::size_t at = 0; at < text.size(); at += kLinePiece) {
    if (at > 0) {
      kvel::EngineIdle(progress_);
      if (Stopped()) {
        // What is still queued for the device goes, so that the closing commands follow at
        // once instead of behind the rest of a long line.
        port_.PurgeBuffers(false, true);
        return false;
      }
    }
    port_.SendText(text.substr(at, kLinePiece));
  }
  return true;
}

std::string ProgramDownload::ReadCurrentLine(int* passes) {
  std::string r;
  port_.ReceiveText(r, 35);
  *passes = 0;
  // The reply is read to its end, so that nothing of it is taken for the next line's
  // acknowledge; a unit that answers within the wait is read in the one read above.
  while (r.find('\r') == std::string::npos && RunFlag == 1) {
    std::string more;
    port_.ReceiveText(more, port_.PendingInput());
    r += more;
    if (r.find('\r') != std::string::npos) break;
    kvel::EngineIdle(progress_);
    if (Stopped()) break;
    kvel::Wait(20);
    if (++*passes >= kReplyEndPasses) {
      RunFlag = 0;
      result_.timedOut = true;
    }
  }
  return r;
}

DownloadResult ProgramDownload::Run(const std::vector<std::string>& lines) {
  result_ = DownloadResult{};
  result_.lines = lines.size();
  Step("Removing old program....");
  RunFlag = 1;

  port_.SendText("N001\n\r");
  kvel::Wait(100);
  port_.SendText("L48 0\n\r");
  kvel::Wait(300);
  port_.SendText("L26 2\n\r");
  kvel::Wait(300);
  port_.PurgeBuffers(true, true);
  // Erasing the old program takes the unit a while before it acknowledges.
  port_.SendText("H12\n\r");
  kvel::Wait(400);
  int passes = 0;
  for (;;) {
    kvel::EngineIdle(progress_);
    Stopped();
    kvel::Wait(10);
    ++passes;
    Step(stepText_ + ".");
    if (passes > 500) {
      RunFlag = 0;
      result_.timedOut = true;
    }
    std::string r;
    port_.ReceiveText(r, 5);
    const bool acknowledged = FilterPrintable(r).find('=') != std::string::npos;
    result_.eraseAcknowledged = result_.eraseAcknowledged || acknowledged;
    if (acknowledged || Stopped()) break;
  }
  result_.lastAckPasses = passes;
  kvel::Wait(300);

  for (const std::string& fileLine : lines) {
    if (Stopped() || RunFlag != 1) break;
    const std::string line = PreparedProgramLine(fileLine);
    if (!SendLine(line + "\r")) break;
    result_.sent.push_back(line);
    kvel::Wait(20);
    passes = 0;
    for (;;) {
      kvel::EngineIdle(progress_);
      Stopped();
      kvel::Wait(20);
      ++passes;
      if (passes >= 200) {
        RunFlag = 0;
        result_.timedOut = true;
      }
      std::string r;
      port_.ReceiveText(r, 5);
      const bool acknowledged = r.find('=') != std::string::npos;
      if (acknowledged) ++result_.acknowledged;
      if (acknowledged || Stopped()) break;
    }
    result_.lastAckPasses = passes;
    if (line.find('N') != std::string::npos) {
      port_.SendText("H13\n\r");
      kvel::Wait(55);
      int replyPasses = 0;
      std::string r = FilterPrintable(ReadCurrentLine(&replyPasses));
      // A reply that never ended within its wait counts as the wait that failed.
      if (replyPasses > 0) result_.lastAckPasses = replyPasses;
      if (const std::size_t at = r.find('='); at != std::string::npos) r.erase(at, 1);
      result_.lastLineReply = r;
      Step("Line: " + r.substr(0, 5));
    }
    if (line.find('L') != std::string::npos) Step("Parameter : " + line.substr(0, 4));
  }

  SendClosingCommands();
  result_.completed = RunFlag == 1 && !kvel::ShutdownRequested();
  result_.cancelled = !result_.completed && !result_.timedOut;
  progress_.End();
  return result_;
}

std::string DownloadSummary(const DownloadResult& result, const std::string& file, bool cancelled,
                            const std::string& failure) {
  const std::string program = "Program " + file;
  const std::string sent =
      std::to_string(result.acknowledged) + " of " + LinesText(result.lines) + " sent";
  if (!failure.empty()) return program + " stopped, " + sent + ": " + failure;
  if (result.completed) return program + " sent: " + LinesText(result.lines);
  if (cancelled || kvel::ShutdownRequested()) return program + " cancelled, " + sent;
  if (!result.eraseAcknowledged) return program + " not sent: the unit did not confirm the erase";
  return program + " stopped, " + sent + ": the unit did not answer";
}
