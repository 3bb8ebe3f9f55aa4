#include "Indexer.h"

#include <cstdio>

#include "Text.h"

namespace kvel::sim {

namespace {

// Parameters a unit holds from the factory, with plausible values.
constexpr std::pair<int, int> kFactoryParams[] = {
    {1, 0},    {2, 0},     {3, 0},     {4, 0},    {5, 0},      {6, 0},    {7, 10},  {8, 0},
    {9, 1000}, {10, 5000}, {11, 5000}, {12, 200}, {13, 1},     {14, 500}, {16, 0},  {17, 0},
    {18, 0},   {19, 0},    {20, 0},    {21, 0},   {22, 9600},  {23, 8},   {25, 0},  {26, 2},
    {41, 0},   {43, 0},    {44, 0},    {45, 0},   {47, 1},     {48, 20},  {49, 0},  {50, 0},
    {51, 0},   {52, 0},    {53, 0},    {54, 0},   {55, 0},     {56, 0},   {57, 10}, {58, 0},
    {59, 0},   {66, 0},    {67, 0},    {70, 1},   {71, 10000}, {72, 0},   {73, 0},  {87, 100},
    {90, 0},   {91, 1},    {93, 5},    {94, 0},   {95, 1},     {96, 3},   {97, 50}, {98, 0},
};

// "N" followed by digits: a program line number.
bool LineNumberToken(const std::string& token, int* number) {
  if (token.size() < 2 || (token[0] != 'N' && token[0] != 'n')) return false;
  long long v = 0;
  for (std::size_t i = 1; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
  }
  if (!ParseInt(std::string_view(token).substr(1), &v)) return false;
  *number = static_cast<int>(v);
  return true;
}

// A command letter followed by digits ("H23", "z95").
bool CommandToken(const std::string& token, char* letter, long long* number) {
  if (token.size() < 2) return false;
  const char l = Upper(token.substr(0, 1))[0];
  if (l < 'A' || l > 'Z') return false;
  for (std::size_t i = 1; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
  }
  if (!ParseInt(std::string_view(token).substr(1), number)) return false;
  *letter = l;
  return true;
}

bool ArgumentToken(const std::string& token) {
  long long v = 0;
  return ParseInt(token, &v);
}

std::string Bits(std::uint32_t value, int count) {
  std::string s;
  for (int i = count - 1; i >= 0; --i) s += ((value >> i) & 1u) ? '1' : '0';
  return s;
}

}  // namespace

Indexer::Indexer(int address, IndexerSetup setup) : Controller(address), setup_(std::move(setup)) {
  for (const auto& [n, v] : kFactoryParams) params_[static_cast<std::size_t>(n)] = v;
  params_[21] = address;
}

namespace {

// What a unit of each type calls itself.
struct TypeTexts {
  const char* name;
  const char* id;
  const char* revision;
};

TypeTexts TextsOf(IndexerType type) {
  switch (type) {
    case IndexerType::MU:
      return {"MU", "I MU VORTAN V1.7", "MU firmware rev 1.7 03/1996"};
    case IndexerType::XMU:
      return {"XMU", "E XMU VORTAN V2.1", "XMU firmware rev 2.14 11/1998"};
    case IndexerType::QN4100I:
      return {"QN4100I", "P QN4100I VORTAN V3.0", "QN4100I firmware rev 3.02 06/1999"};
  }
  return {"?", "", ""};
}

}  // namespace

const char* Indexer::TypeName(IndexerType type) {
  return TextsOf(type).name;
}

std::string Indexer::DefaultId(IndexerType type) {
  return TextsOf(type).id;
}

std::string Indexer::DefaultRevision(IndexerType type) {
  return TextsOf(type).revision;
}

std::optional<int> Indexer::Param(int n) const {
  if (n < 0 || n > 99) return std::nullopt;
  return params_[static_cast<std::size_t>(n)];
}

void Indexer::SetParam(int n, int value) {
  if (n >= 0 && n <= 99) params_[static_cast<std::size_t>(n)] = value;
}

void Indexer::ClearParam(int n) {
  if (n >= 0 && n <= 99) params_[static_cast<std::size_t>(n)].reset();
}

std::string Indexer::ParamLine(int n) const {
  const int v = Param(n).value_or(0);
  char text[48];
  // The step resolution is always listed with three digits (001, 010, 125).
  if (n == 70) {
    std::snprintf(text, sizeof text, "L%d = %03d", n, v);
  } else {
    std::snprintf(text, sizeof text, "L%d = %d", n, v);
  }
  return text;
}

bool Indexer::StoreProgramLine(const std::string& text) {
  const std::string trimmed = Trim(text);
  std::size_t end = 0;
  while (end < trimmed.size() && trimmed[end] != ' ' && trimmed[end] != '\t') ++end;
  int n = 0;
  if (!LineNumberToken(trimmed.substr(0, end), &n) || n < 1 || n > kMaxLineNumber) return false;
  char head[8];
  std::snprintf(head, sizeof head, "N%03d", n);
  // Trailing blanks are part of what was sent and are listed back.
  program_[n] = head + text.substr(text.find_first_not_of(" \t") + end);
  currentLine_ = n;
  return true;
}

std::string Indexer::ListLine(int n) const {
  auto it = program_.find(n);
  if (it != program_.end()) return it->second;
  char head[8];
  std::snprintf(head, sizeof head, "N%03d", n);
  return head;
}

std::string Indexer::InputText() const {
  if (!setup_.inputReply.empty()) return setup_.inputReply;
  if (setup_.type == IndexerType::QN4100I) {
    return Bits(setup_.inputs >> 8, 8) + " " + Bits(setup_.inputs, 8);
  }
  return Bits(setup_.inputs, 8);
}

std::string Indexer::Register(int h) const {
  const bool qn = setup_.type == IndexerType::QN4100I;
  switch (h) {
    case 85:
      return !setup_.h85.empty() ? setup_.h85 : qn ? "X000000000" : "00000000";
    case 86:
      return !setup_.h86.empty() ? setup_.h86 : qn ? "0000000000000000" : "00000000";
    default:
      return !setup_.h87.empty() ? setup_.h87 : "0";
  }
}

std::string Indexer::ParameterDump() const {
  const int first = Param(49).value_or(0);
  std::string dump;
  if (first > 0 && first <= 99) return ParamLine(first) + "\r\n";
  for (int n = 0; n <= 99; ++n) {
    if (params_[static_cast<std::size_t>(n)]) dump += ParamLine(n) + "\r\n";
  }
  return dump;
}

bool Indexer::FallenSilent() {
  ++requests_;
  return silentInDownload_ || (setup_.silentAfter >= 0 && requests_ > setup_.silentAfter);
}

std::string Indexer::ProbeReply(Micros atUs) {
  if (FallenSilent()) return {};
  if (IsBusy(atUs) || setup_.probe == ProbeStyle::Busy) return ":";
  if (setup_.probe == ProbeStyle::Numbered) {
    return std::to_string(setup_.probeNumber >= 0 ? setup_.probeNumber : Address()) + "\r\n";
  }
  return "=";
}

bool Indexer::ExecuteCommands(const std::vector<std::string>& tokens, Micros atUs,
                              std::string* data, Micros* extraUs, bool* ackSuppressed,
                              Reply* later) {
  std::size_t i = 0;
  while (i < tokens.size()) {
    char letter = 0;
    long long number = 0;
    if (!CommandToken(tokens[i], &letter, &number)) return false;
    ++i;
    std::vector<long long> args;
    while (i < tokens.size() && ArgumentToken(tokens[i])) {
      long long v = 0;
      ParseInt(tokens[i++], &v);
      args.push_back(v);
    }
    const int n = static_cast<int>(number);
    switch (letter) {
      case 'L':
        if (number > 99) return false;
        if (!args.empty()) {
          SetParam(n, static_cast<int>(args[0]));
        } else {
          *data += ParamLine(n) + "\r\n";
        }
        break;
      case 'H':
        if (n == 12) {
          program_.clear();
          currentLine_ = 1;
          linesSinceErase_ = 0;
          busyUntilUs_ = atUs + setup_.eraseUs;
          *extraUs += setup_.eraseUs;
          if (faults_.noAckH12) *ackSuppressed = true;
        } else if (n == 13) {
          *data += ListLine(currentLine_) + "\r\n";
        } else if (n == 16) {
          if (Param(50).value_or(0) != 0) *data += ParameterDump();
        } else if (n == 21) {
          *data += InputText() + "\r\n";
        } else if (n == 23) {
          *data += (setup_.id.empty() ? DefaultId(setup_.type) : setup_.id) + "\r\n";
        } else if (n >= 85 && n <= 87) {
          *data += Register(n) + "\r\n";
        }
        break;
      case 'Z':
        if (n == 90) {
          strobe_ = args.empty() ? 0 : static_cast<int>(args[0]);
        } else if (n >= 91 && n <= 97) {
          const std::uint32_t bit = 1u << (97 - n);
          if (!args.empty() && args[0] != 0) {
            outputs_ |= bit;
          } else {
            outputs_ &= ~bit;
          }
        } else if (n == 79) {
          busyUntilUs_ = atUs + setup_.autoTestUs;
          const std::string result = setup_.autoTestReply.empty()
                                         ? std::to_string(setup_.autoTestResult)
                                         : setup_.autoTestReply;
          later->push_back({setup_.autoTestUs, result + "\r\n"});
        }
        break;
      case 'G':
        // G47 X<bits>: set the eight outputs, the rightmost character is output 1.
        if (n == 47 && i < tokens.size() && Upper(tokens[i]).starts_with("X")) {
          const std::string bits = tokens[i++].substr(1);
          std::uint32_t value = 0;
          for (char c : bits) value = (value << 1) | (c == '1' ? 1u : 0u);
          outputs_ = value & 0xFFu;
        }
        break;
      case 'N':
        if (n > kMaxLineNumber) return false;
        currentLine_ = n;
        break;
      default:
        break;  // motion and other commands are taken without effect here
    }
  }
  return true;
}

Reply Indexer::Execute(const std::string& command, Micros atUs) {
  static const Reply kRefused = {{0, "?\r\n"}};
  // A unit that fell silent during a download comes back only with the next erase (which
  // it does not acknowledge either).
  if (silentInDownload_ && Upper(Trim(command)) == "H12") silentInDownload_ = false;
  if (FallenSilent()) return {};
  if (!command.empty() && command[0] == 27) {
    if (Upper(Trim(command.substr(1))) == "REV") {
      return {
          {0, (setup_.revision.empty() ? DefaultRevision(setup_.type) : setup_.revision) + "\r\n"}};
    }
    return kRefused;
  }
  std::string data;
  Micros extraUs = 0;
  bool ackSuppressed = false;
  Reply later;
  const std::vector<std::string> tokens = SplitBlanks(command);
  int lineNumber = 0;
  if (tokens.empty() || command[0] == ';') {
    // A blank line or a comment of a program is taken and acknowledged.
  } else if (LineNumberToken(tokens[0], &lineNumber)) {
    if (lineNumber > kMaxLineNumber) return kRefused;
    if (tokens.size() == 1) {
      currentLine_ = lineNumber;
    } else if (tokens.size() == 2 && Upper(tokens[1]) == "H13") {
      currentLine_ = lineNumber;
      data = ListLine(lineNumber) + "\r\n";
    } else if (lineNumber == 0) {
      // Line 0 is executed at once instead of being stored.
      std::vector<std::string> rest(tokens.begin() + 1, tokens.end());
      if (!ExecuteCommands(rest, atUs, &data, &extraUs, &ackSuppressed, &later)) return kRefused;
    } else {
      if (faults_.silentAfterLine >= 0 && linesSinceErase_ >= faults_.silentAfterLine) {
        silentInDownload_ = true;
        return {};
      }
      const auto altered = faults_.storedAs.find(lineNumber);
      StoreProgramLine(altered != faults_.storedAs.end() ? altered->second : command);
      ++linesSinceErase_;
      if (faults_.noAckAfterLine >= 0 && linesSinceErase_ > faults_.noAckAfterLine) {
        ackSuppressed = true;
      }
    }
  } else if (!ExecuteCommands(tokens, atUs, &data, &extraUs, &ackSuppressed, &later)) {
    return kRefused;
  }

  // With L26 (command acknowledge) set, every reply starts with the acknowledge character.
  const bool ack = Param(26).value_or(0) != 0 && !ackSuppressed;
  Reply reply;
  if (data.empty()) {
    if (ack) reply.push_back({extraUs + faults_.ackDelayUs, FaultBusy(atUs) ? ":" : "="});
  } else {
    reply.push_back({extraUs, (ack ? "=" : "") + data});
  }
  for (Chunk& c : later) reply.push_back(std::move(c));
  return reply;
}

}  // namespace kvel::sim
