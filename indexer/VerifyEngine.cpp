// The read-back compare: what the unit holds against the file it was given.
#include "VerifyEngine.h"

#include <cctype>
#include <map>
#include <optional>

#include "DownloadEngine.h"
#include "KVEL_Var.h"
#include "ui/Shutdown.h"

namespace {

// A line as the unit would keep it for comparing: letter case and blanks do not count.
std::string Normalised(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t') continue;
    out += static_cast<char>(std::toupper(u));
  }
  return out;
}

// The number after `letter` at the start of `text` (blanks before it allowed), and where the
// rest of the line begins; nothing when the line does not start so.
std::optional<int> LeadingNumber(const std::string& text, char letter, std::size_t* rest) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos || std::toupper(static_cast<unsigned char>(text[i])) != letter) {
    return std::nullopt;
  }
  ++i;
  const std::size_t digits = i;
  long value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
    value = value * 10 + (text[i] - '0');
    if (value > 9999) return std::nullopt;
    ++i;
  }
  if (i == digits) return std::nullopt;
  // The number is a word of its own: "N12X5" is not line 12 of anything the unit stores.
  if (i < text.size() && text[i] != ' ' && text[i] != '\t') return std::nullopt;
  *rest = i;
  return static_cast<int>(value);
}

struct Entry {
  int fileLine = 0;
  std::string text;  // as given
  std::string key;   // what is compared
};

// The lines of `lines` that start with `letter` and a number within [1, limit], by number.
std::map<int, Entry> ByNumber(const std::vector<std::string>& lines, char letter, int first,
                              int limit) {
  std::map<int, Entry> entries;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::size_t rest = 0;
    const std::optional<int> n = LeadingNumber(lines[i], letter, &rest);
    if (!n || *n < first || *n > limit) continue;
    entries[*n] = Entry{static_cast<int>(i + 1), lines[i], Normalised(lines[i].substr(rest))};
  }
  return entries;
}

CompareResult Compare(const std::map<int, Entry>& expected, const std::map<int, Entry>& actual) {
  CompareResult result;
  std::map<int, bool> numbers;
  for (const auto& [n, entry] : expected) numbers[n] = true;
  for (const auto& [n, entry] : actual) numbers[n] = true;
  for (const auto& [n, unused] : numbers) {
    ++result.compared;
    const auto e = expected.find(n);
    const auto a = actual.find(n);
    if (e != expected.end() && a != actual.end() && e->second.key == a->second.key) continue;
    LineDifference difference;
    difference.line = n;
    if (e != expected.end()) {
      difference.fileLine = e->second.fileLine;
      difference.expected = e->second.text;
    }
    if (a != actual.end()) difference.actual = a->second.text;
    result.differences.push_back(difference);
  }
  return result;
}

// The highest program line number a unit stores.
constexpr int kMaxStoredLine = 999;

}  // namespace

CompareResult CompareProgram(const std::vector<std::string>& fileLines,
                             const std::vector<std::string>& readBack) {
  std::vector<std::string> prepared;
  prepared.reserve(fileLines.size());
  for (const std::string& line : fileLines) prepared.push_back(PreparedProgramLine(line));
  // The upload reads lines 1 to 400 only: a line beyond it cannot be checked and counts as
  // differing (the unit's side is empty), so that a match is never claimed for it.
  return Compare(ByNumber(prepared, 'N', 1, kMaxStoredLine),
                 ByNumber(readBack, 'N', 1, kMaxStoredLine));
}

CompareResult CompareParameters(const std::vector<std::string>& fileLines,
                                const std::vector<std::string>& readBack) {
  // LPARAM.TXT holds the lines with "=" removed; a file written by hand may keep them.
  const auto withoutEquals = [](std::vector<std::string> lines) {
    for (std::string& line : lines) std::erase(line, '=');
    return lines;
  };
  return Compare(ByNumber(withoutEquals(fileLines), 'L', 0, 99),
                 ByNumber(withoutEquals(readBack), 'L', 0, 99));
}

VerifyResult VerifyProgram(TCustomComPort& port, TransferProgress& progress,
                           const std::vector<std::string>& fileLines) {
  VerifyResult result;
  result.upload = ProgramUpload(port, progress).Run();
  result.incomplete = result.upload.error || result.upload.stopped;
  result.compare = CompareProgram(fileLines, result.upload.lines);
  return result;
}

VerifyResult VerifyParameters(TCustomComPort& port, TransferProgress& progress,
                              const std::vector<std::string>& fileLines) {
  VerifyResult result;
  RunFlag = 1;
  LParameterUpload upload(port, progress);
  result.parameters = upload.Run();
  upload.Finish();
  result.incomplete = result.parameters.stopped;
  result.compare = CompareParameters(fileLines, result.parameters.lines);
  return result;
}

std::string VerifySummary(const VerifyResult& result, const std::string& what) {
  const CompareResult& compare = result.compare;
  const bool one = what == "lines";
  const auto counted = [&](std::size_t n) {
    const std::string unit = one ? (n == 1 ? "line" : "lines") : (n == 1 ? "parameter" : what);
    return std::to_string(n) + " " + unit;
  };
  std::string text = "Verify: ";
  if (compare.Matches()) {
    text += counted(compare.compared) + (compare.compared == 1 ? " matches" : " match");
  } else {
    const std::size_t n = compare.differences.size();
    text += counted(n) + (n == 1 ? " differs" : " differ") + ", first at " + (one ? "line " : "L") +
            std::to_string(compare.differences.front().line);
  }
  if (result.incomplete) text += "; read-back incomplete";
  return text;
}

std::vector<std::string> VerifyDetails(const VerifyResult& result) {
  std::vector<std::string> details;
  for (const LineDifference& d : result.compare.differences) {
    std::string text = std::to_string(d.line) + ": ";
    text += d.fileLine > 0 ? "file line " + std::to_string(d.fileLine) + " \"" + d.expected + "\""
                           : "not in the file";
    text += ", unit ";
    text += d.actual.empty() ? "has no such line" : "\"" + d.actual + "\"";
    details.push_back(text);
  }
  return details;
}
