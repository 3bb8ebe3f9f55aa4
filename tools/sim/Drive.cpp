#include "Drive.h"

#include <cmath>
#include <cstdio>

#include "Text.h"

namespace kvel::sim {

namespace {

constexpr int kErrNoOutput = 8;
constexpr int kErrNoInput = 9;

std::string Line(std::string text) {
  return text + "\r\n";
}

// The drive's number formats: BCD at least eight characters (0000.000, -123.000), the
// encoder with six decimals, the analog input with five, both with a sign.
std::string BcdText(long long value) {
  char text[64];
  std::snprintf(text, sizeof text, "%08.3f", static_cast<double>(value));
  return text;
}
std::string EncoderText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%+.6f", value);
  return text;
}
std::string AnalogText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%+.5f", value);
  return text;
}

// NAME, NAME(n), NAME=v, NAME(n)=v; blanks are not significant.
struct Parsed {
  std::string name;
  bool hasIndex = false;
  long long index = 0;
  bool hasValue = false;
  std::string value;
};

bool Parse(const std::string& command, Parsed* p) {
  std::string s;
  for (char c : command) {
    if (c != ' ' && c != '\t') s += c;
  }
  s = Upper(s);
  std::size_t i = 0;
  while (i < s.size() && s[i] >= 'A' && s[i] <= 'Z') ++i;
  p->name = s.substr(0, i);
  if (p->name.empty()) return false;
  if (i < s.size() && s[i] == '(') {
    const std::size_t close = s.find(')', i);
    if (close == std::string::npos || !ParseInt(s.substr(i + 1, close - i - 1), &p->index)) {
      return false;
    }
    p->hasIndex = true;
    i = close + 1;
  }
  if (i < s.size() && s[i] == '=') {
    p->hasValue = true;
    p->value = s.substr(i + 1);
    i = s.size();
  }
  return i == s.size();
}

}  // namespace

Drive::Drive(DriveSetup setup) : Controller(0), setup_(setup) {}

const char* Drive::TypeName(DriveType type) {
  return type == DriveType::GRV ? "GRV" : "ZorvDrive";
}

Reply Drive::Execute(const std::string& command, Micros /*atUs*/) {
  static const Reply kRefused = {{0, "?\r\n"}};
  ++requests_;
  if (setup_.silentAfter >= 0 && requests_ > setup_.silentAfter) return {};
  if (Trim(command).empty()) return {};
  Parsed p;
  if (!Parse(command, &p)) return kRefused;
  long long value = 0;
  const bool numeric = p.hasValue && ParseInt(p.value, &value);
  if (p.hasValue && !numeric) return kRefused;

  if (p.name == "IN" && p.hasIndex && !p.hasValue) {
    if (p.index < 1 || p.index > InputCount()) {
      setup_.error = kErrNoInput;
      return kRefused;
    }
    return {{0, Line(((setup_.inputs >> (p.index - 1)) & 1u) ? "1" : "0")}};
  }
  if (p.name == "OUT" && p.hasIndex) {
    if (p.index < 1 || p.index > OutputCount()) {
      setup_.error = kErrNoOutput;
      return kRefused;
    }
    const std::uint32_t bit = 1u << (p.index - 1);
    if (!p.hasValue) return {{0, Line((setup_.outputs & bit) ? "1" : "0")}};
    setup_.outputs = value != 0 ? (setup_.outputs | bit) : (setup_.outputs & ~bit);
    return {};
  }
  if (p.hasIndex) return kRefused;
  if (p.name == "BCD" && !p.hasValue) {
    return {{0, Line(setup_.bcdReply.empty() ? BcdText(setup_.bcd) : setup_.bcdReply)}};
  }
  if (p.name == "EP" && !p.hasValue) return {{0, Line(EncoderText(setup_.encoder))}};
  if (p.name == "AN" && !p.hasValue) {
    return {{0, Line(setup_.analogReply.empty() ? AnalogText(setup_.analog) : setup_.analogReply)}};
  }
  if (p.name == "ERR" && !p.hasValue) {
    return {
        {0, Line(setup_.errorReply.empty() ? std::to_string(setup_.error) : setup_.errorReply)}};
  }
  if (p.name == "LEDTEST" && !p.hasValue) {
    ++ledTests_;
    return {};
  }
  if (p.hasValue && (p.name == "SERVOOUT" || p.name == "TORQUE" || p.name == "WNDGS")) {
    const int v = static_cast<int>(value);
    if (p.name == "SERVOOUT") servoOut_ = v;
    if (p.name == "TORQUE") torque_ = v;
    if (p.name == "WNDGS") windings_ = v;
    return {};
  }
  return kRefused;
}

}  // namespace kvel::sim
