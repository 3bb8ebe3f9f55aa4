#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "TransferProgress.h"
#include "UploadEngine.h"

class TCustomComPort;

// One line in which what the unit holds differs from what the file says.
struct LineDifference {
  int line = 0;          // the program line number (N) or the L number
  int fileLine = 0;      // the line of the file it comes from, 1-based; 0: not in the file
  std::string expected;  // the text as the file gives it (after the download's changes)
  std::string actual;    // the text the unit gave back; empty: the unit has no such line
};

struct CompareResult {
  std::size_t compared = 0;  // lines (program lines or parameters) looked at
  std::vector<LineDifference> differences;
  bool Matches() const { return differences.empty(); }
};

// How the comparison and the read-back it rests on ended.
struct VerifyResult {
  CompareResult compare;
  ProgramUploadResult upload;        // program verify: what was read back
  ParameterUploadResult parameters;  // parameter verify: what was read back
  bool incomplete = false;           // the read-back stopped early (cancel or time-out)
};

// The program lines a download of `fileLines` leaves in the unit, by line number: the
// prepared lines that start with a line number N1..N999 (the last of equal numbers wins).
// Other lines (blanks, comments, parameters) are not kept as program lines.
CompareResult CompareProgram(const std::vector<std::string>& fileLines,
                             const std::vector<std::string>& readBack);
// The parameters of an LPARAM.TXT-form file ("L26  2", one a line) against those read back.
CompareResult CompareParameters(const std::vector<std::string>& fileLines,
                                const std::vector<std::string>& readBack);

// Reads the selected unit's program back (the upload exchange) and compares it with the
// program file's lines.
VerifyResult VerifyProgram(TCustomComPort& port, TransferProgress& progress,
                           const std::vector<std::string>& fileLines);
// Reads the unit's L parameters (with the closing L50 0) and compares them with the file's.
VerifyResult VerifyParameters(TCustomComPort& port, TransferProgress& progress,
                              const std::vector<std::string>& fileLines);

// "Verify: 57 lines match", "Verify: 3 lines differ, first at line 12"; the parameter form
// says "parameters" (`what`); an early end adds "; read-back incomplete".
std::string VerifySummary(const VerifyResult& result, const std::string& what = "lines");
// Every difference on a line of its own: "N012: file \"N012 G01 X10\", unit \"N012 G01 X20\"".
std::vector<std::string> VerifyDetails(const VerifyResult& result);
