#pragma once

#include <string>
#include <vector>

#include "TransferProgress.h"

class TCustomComPort;

struct ParameterUploadResult {
  std::vector<std::string> lines;  // the reply lines, filtered, "=" removed; the last as it was
  int count = 0;                   // lines with an "L"
  bool stopped = false;            // Cancel, Esc or the program's end ended the reading
};

// The L-parameter upload: asks the unit for its parameters (L49 0, L50 1, H16) and reads the
// lines until the line falls silent; the port is purged whatever ends it. Finish() sends the
// closing "L50 0" (after the caller saved the lines). Port errors are raised; Result() then
// holds the lines read so far.
class LParameterUpload {
 public:
  LParameterUpload(TCustomComPort& port, TransferProgress& progress)
      : port_(port), progress_(progress) {}

  ParameterUploadResult Run();
  const ParameterUploadResult& Result() const { return result_; }
  void Finish();

 private:
  std::string ReadParameterLine();

  TCustomComPort& port_;
  TransferProgress& progress_;
  ParameterUploadResult result_;
};

struct ProgramUploadResult {
  std::vector<std::string> lines;  // the leading lines given, then the program lines
  std::size_t leadingLines = 0;    // how many of them came before the program (parameters)
  bool error = false;              // a line reply never ended: the reading stopped there
  bool stopped = false;            // Esc, Cancel or the program's end ended the reading early
  int lastLine = 0;                // the last line number requested
  std::size_t ProgramLines() const { return lines.size() - leadingLines; }
};

// The program upload: requests lines 1 to 400 ("N<n> H13") and keeps the replies that hold a
// program line; RunFlag is set to 1 at the start and cleared by a stop or time-out. The
// communication message goes to TransferProgress::Warn. Port errors are raised.
class ProgramUpload {
 public:
  static constexpr int kMaxProgramLines = 400;

  ProgramUpload(TCustomComPort& port, TransferProgress& progress)
      : port_(port), progress_(progress) {}

  // `leading` (the parameter lines of "Prog + Par") goes first into the result; `owed` is
  // the number of acknowledges the unit may still send for commands before this upload
  // (1 for "L50 0" of a parameter upload just ended, besides the upload's own "L26 0").
  ProgramUploadResult Run(std::vector<std::string> leading = {}, int owed = 0);
  const ProgramUploadResult& Result() const { return result_; }

 private:
  TCustomComPort& port_;
  TransferProgress& progress_;
  ProgramUploadResult result_;
};

// "57 lines" or, with parameters, "61 lines (4 parameter, 57 program)", followed by how the
// reading ended when it ended early ("; reading cancelled at line 30").
std::string UploadSummary(const ProgramUploadResult& result, bool withParameters);
// The two parts of it: the counts, and how the reading ended (empty when it ran to its end).
std::string UploadCounts(const ProgramUploadResult& result, bool withParameters);
std::string UploadEnding(const ProgramUploadResult& result);

// "Prog + Par" without a window: the parameters (with their closing L50 0), then the program.
// `parameters` receives the parameter upload's result.
ProgramUploadResult ReadProgramWithParameters(TCustomComPort& port, TransferProgress& progress,
                                              ParameterUploadResult* parameters = nullptr);
