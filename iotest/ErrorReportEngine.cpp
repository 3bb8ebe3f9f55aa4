// The indexer error report: the three error registers read and decoded.
#include "ErrorReportEngine.h"

#include "KVEL_Text.h"
#include "serial/CPort.h"
#include "ui/Clock.h"

namespace {

// Position n (1-based) of `text` is "1"; a position beyond the end is not set.
bool FlagSet(const std::string& text, std::size_t n) {
  return n >= 1 && n <= text.size() && text[n - 1] == '1';
}

std::string WithoutEquals(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c != '=') out += c;
  }
  return out;
}

std::string PaddedRight(std::string text, std::size_t length) {
  if (text.size() < length) text.append(length - text.size(), '0');
  return text;
}

struct Flag {
  std::size_t position;
  const char* text;
};

// QN4100I: position 1 of H85 is the axis letter.
constexpr Flag kQnH85[] = {
    {2, " Drive not ready"},
    {3, " Index from Run Limit exceeded"},
    {4, " CW Software Limit exceeded"},
    {5, " CCW Software Limit exceeded"},
    {6, " CW Hardware Limit exceeded"},
    {7, " CCW Hardware Limit exceeded"},
    {8, " Program Errorr"},
    {9, " Closed Loop Error"},
    {10, " Hardware or Software Clear"},
};
constexpr Flag kQnH86[] = {
    {2, " Illegal G Code"},
    {3, " Illegal L Code"},
    {4, " Subroutine or loop Nesting Error"},
    {5, " F data out of range"},
    {6, " X or Y data out of range"},
    {7, " N data out of range"},
    {8, " Line requires F data"},
    {9, " Line requires X or Y data"},
    {10, " G code illegal in current cycle"},
    {11, " Switching axis while Jogging"},
    {12, " Attempted Index during a Jog cycle"},
    {13, " G code can not be executed from line 0"},
    {14, " No external data source"},
    {15, " Illegal comparision opposite direction"},
    {16, " X/Y sign required"},
    {17, " No Trigger from IFR/RMH cycle"},
};
constexpr Flag kXmuH85[] = {
    {2, " Index from Run Limit exceeded"}, {3, " CCW Software Limit exceeded"},
    {4, " CW Software Limit exceeded"},    {5, " CCW Software Limit exceeded"},
    {6, " CW Software Limit exceeded"},    {7, " CCW Hardware Limit exceeded"},
    {8, " CW Hardware Limit exceeded"},
};
constexpr Flag kXmuH86[] = {
    {1, " Illegal G Code"},
    {2, " Illegal L Code"},
    {3, " Subroutine or loop Nesting Error"},
    {4, " F data out of range"},
    {5, " X data out of range"},
    {6, " N data out of range"},
    {7, " Line requires F data"},
    {8, " Line requires X data"},
};

// The texts of the flags set in `reg`, in table order.
template <std::size_t N>
std::vector<std::string> SetFlags(const std::string& reg, const Flag (&flags)[N]) {
  std::vector<std::string> texts;
  for (const Flag& flag : flags) {
    if (FlagSet(reg, flag.position)) texts.emplace_back(flag.text);
  }
  return texts;
}

}  // namespace

ErrorReport RunXmuErrorReport(TCustomComPort& port, int unitType,
                              const std::function<std::string()>& queryUnitId,
                              const std::function<void(const std::string&)>& display) {
  ErrorReport report;
  report.unitType = unitType;
  if (unitType == 4) {
    report.id = queryUnitId();
    display("Reporting QN4100I - " + report.id + " error -\r\n");
  }
  if (unitType == 5) {
    report.id = queryUnitId();
    display("Reporting XMU " + report.id + " error -\r\n");
  }
  port.PurgeBuffers(true, true);
  std::string r85;
  std::string r86;
  std::string r87;
  port.SendText("H85\r");
  kvel::Wait(100);
  port.ReceiveText(r85, 40);
  port.SendText("H86\r");
  kvel::Wait(100);
  port.ReceiveText(r86, 40);
  port.SendText("H87\r");
  kvel::Wait(100);
  port.ReceiveText(r87, 20);
  r85 = WithoutEquals(FilterPrintable(r85));
  r86 = WithoutEquals(FilterPrintable(r86));
  r87 = WithoutEquals(FilterPrintable(r87));
  if (unitType == 4) {
    r85 = PaddedRight(r85, 10);
    r86 = PaddedRight(r86, 16);
    report.axis = r85.substr(0, 1);
    report.h85Flags = SetFlags(r85, kQnH85);
    report.h86Flags = SetFlags(r86, kQnH86);
  } else if (unitType == 5) {
    r85 = PaddedRight(r85, 8);
    r86 = PaddedRight(r86, 8);
    report.h85Flags = SetFlags(r85, kXmuH85);
    report.h86Flags = SetFlags(r86, kXmuH86);
  }
  report.h85 = r85;
  report.h86 = r86;
  report.h87 = r87;

  display("\r\n");
  display("H85 : " + r85 + "  ");
  if (unitType != 4 && unitType != 5) return report;
  if (unitType == 4) display(report.axis + " Axis : ");
  for (const std::string& text : report.h85Flags) display(text);
  display("\r\n");
  display("H86 : " + r86 + " ");
  for (const std::string& text : report.h86Flags) display(text);
  display("\r\n");
  display("H87 : " + r87 + "      ");
  display("Error at line number : " + r87 + "\r\n");
  return report;
}
