// Text forms of the port settings, and the list of the machine's serial ports.
#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "CPort.h"
#include "ComError.h"
#include "MemoryLine.h"
#include "PortMap.h"

namespace {

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

template <typename E, std::size_t N>
std::string ToText(const std::array<const char*, N>& texts, E value) {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? texts[i] : "";
}

// Letter case ignored, no trimming; the first equal entry wins.
template <typename E, std::size_t N>
E FromText(const std::array<const char*, N>& texts, const std::string& text, E fallback) {
  const std::string wanted = Upper(text);
  for (std::size_t i = 0; i < N; ++i) {
    if (Upper(texts[i]) == wanted) return static_cast<E>(i);
  }
  return fallback;
}

constexpr std::array<const char*, 16> kBaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<std::int32_t, 16> kBaudRates = {0,     110,    300,    600,   1200,  2400,
                                                     4800,  9600,   14400,  19200, 38400, 56000,
                                                     57600, 115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDtrTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRtsTexts = {"Disable", "Enable", "Handshake", "Toggle"};

bool LessNoCase(const std::string& a, const std::string& b) {
  return Upper(a) < Upper(b);
}

}  // namespace

std::string BaudRateText(TBaudRate value) {
  return ToText(kBaudTexts, value);
}
TBaudRate TextToBaudRate(const std::string& text) {
  return FromText(kBaudTexts, text, br9600);
}
std::int32_t BaudRateValue(TBaudRate value) {
  const auto i = static_cast<std::size_t>(value);
  return i < kBaudRates.size() ? kBaudRates[i] : 0;
}
std::string StopBitsText(TStopBits value) {
  return ToText(kStopTexts, value);
}
TStopBits TextToStopBits(const std::string& text) {
  return FromText(kStopTexts, text, sbOneStopBit);
}
std::string DataBitsText(TDataBits value) {
  return ToText(kDataTexts, value);
}
TDataBits TextToDataBits(const std::string& text) {
  return FromText(kDataTexts, text, dbEight);
}
std::string ParityText(TParityBits value) {
  return ToText(kParityTexts, value);
}
TParityBits TextToParity(const std::string& text) {
  return FromText(kParityTexts, text, prNone);
}
std::string FlowControlText(TFlowControl value) {
  return ToText(kFlowTexts, value);
}
TFlowControl TextToFlowControl(const std::string& text) {
  return FromText(kFlowTexts, text, fcCustom);
}
std::string DTRText(TDTRFlowControl value) {
  return ToText(kDtrTexts, value);
}
TDTRFlowControl TextToDTR(const std::string& text) {
  return FromText(kDtrTexts, text, dtrDisable);
}
std::string RTSText(TRTSFlowControl value) {
  return ToText(kRtsTexts, value);
}
TRTSFlowControl TextToRTS(const std::string& text) {
  return FromText(kRtsTexts, text, rtsDisable);
}

void kvel::ListSerialPortsFrom(const PortMapSources& sources, std::vector<std::string>& list) {
  std::vector<PortMapEntry> entries;
  if (const int rc = ReadPortMap(sources, &entries); rc != 0) RaiseComError(23, rc);
  std::vector<std::string> names = MemoryLineNames();
  for (const PortMapEntry& e : entries) {
    if (std::find(names.begin(), names.end(), e.name) == names.end()) names.push_back(e.name);
  }
  std::sort(names.begin(), names.end(), LessNoCase);
  list = std::move(names);
}

void ListSerialPorts(std::vector<std::string>& list) {
  kvel::ListSerialPortsFrom(kvel::PortMapSources::System(), list);
}
