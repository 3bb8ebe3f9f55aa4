#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "TransferProgress.h"

class TCustomComPort;

// Why a program file cannot be sent.
struct FileProblem {
  bool missing = false;  // the file does not exist
  std::string text;      // the message for the user ("The specified File ... was not found.")
};

// Reads a whole program file without blocking on a pipe or a device; nothing when it was
// read, else why not.
std::optional<FileProblem> ReadProgramFile(const std::string& path, std::string* bytes);
// The lines of a program file: ended by CR LF, LF or CR; a last line end adds no line.
std::vector<std::string> LoadProgramLines(const std::string& bytes);
// A program line as the download sends it (without its carriage return): an empty line and
// a line that sets L26 become one blank, a comment after the first column is cut off.
std::string PreparedProgramLine(std::string line);

struct DownloadResult {
  std::size_t lines = 0;           // lines of the program
  std::size_t acknowledged = 0;    // program lines the unit confirmed
  bool eraseAcknowledged = false;  // the unit confirmed H12 (the old program is gone)
  bool completed = false;          // every line went out and was confirmed
  bool cancelled = false;          // Cancel (RunFlag cleared by the user) or the program's end
  bool timedOut = false;           // the unit stopped answering
  int lastAckPasses = 0;           // passes of the acknowledge wait that ran last
  std::vector<std::string> sent;   // the prepared lines that went out, in order
  std::string lastLineReply;       // the unit's current line after the last numbered line
};

// The program download: clears the unit's program (N001, L48 0, L26 2, H12), sends each line
// and waits for its "=", reads the current line back after numbered lines, and always ends
// with the closing commands (L26 0, L48 20 N001). RunFlag is set to 1 at the start and
// cleared by a stop or time-out. Port errors are raised; Result() then holds the counts so
// far, and SendClosingCommands() can still be tried.
class ProgramDownload {
 public:
  ProgramDownload(TCustomComPort& port, TransferProgress& progress)
      : port_(port), progress_(progress) {}

  DownloadResult Run(const std::vector<std::string>& lines);
  const DownloadResult& Result() const { return result_; }
  // "L26 0" and "L48 20 N001", each with its wait: the unit leaves download mode.
  void SendClosingCommands();

  // Whether the unit may have been left with a broken program and the user should be told
  // (a stop after a long acknowledge wait: a communication problem, not a Cancel).
  bool CommunicationProblem() const { return !result_.completed && result_.lastAckPasses >= 50; }

 private:
  bool Stopped();
  bool SendLine(const std::string& text);
  std::string ReadCurrentLine(int* passes);
  void Step(const std::string& text);

  TCustomComPort& port_;
  TransferProgress& progress_;
  DownloadResult result_;
  std::string stepText_;
};

// The status-bar text of a download of the file named `file` (a name or a whole path):
// "Program MU-1.PGM sent: 57 lines", "... cancelled, 3 of 57 lines sent", and so on;
// `failure` is the text of an error that ended it.
std::string DownloadSummary(const DownloadResult& result, const std::string& file, bool cancelled,
                            const std::string& failure = {});
