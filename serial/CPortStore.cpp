// Storing and loading a port's settings, group by group, in an INI section or a registry key.
#include <cctype>
#include <charconv>
#include <functional>
#include <string>

#include "CPort.h"

namespace {

// One way of writing the keys (INI section or registry key).
struct Writer {
  std::function<void(const std::string&, const std::string&)> text;
  std::function<void(const std::string&, int)> integer;
};

// One way of reading them; the second argument is the current value, which an INI file
// returns for a missing key.
struct Reader {
  std::function<std::string(const std::string&, const std::string&)> text;
  std::function<int(const std::string&, int)> integer;
};

bool ParseInteger(const std::string& text, long long* value) {
  const char* first = text.data();
  const char* last = first + text.size();
  bool negative = false;
  if (first != last && (*first == '+' || *first == '-')) negative = *first++ == '-';
  int base = 10;
  if (first != last && *first == '$') {
    base = 16;
    ++first;
  } else if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    base = 16;
    first += 2;
  }
  if (first == last) return false;
  unsigned long long magnitude = 0;
  const auto [end, error] = std::from_chars(first, last, magnitude, base);
  if (error != std::errc() || end != last || magnitude > 0xFFFFFFFFull) return false;
  *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

}  // namespace

std::string YesNoText(bool value) {
  return value ? "Yes" : "No";
}

bool TextToBool(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "YES";
}

std::string CharText(std::uint8_t value) {
  if (value >= 33 && value <= 127) return std::string(1, static_cast<char>(value));
  return "#" + std::to_string(value);
}

std::uint8_t TextToChar(const std::string& text) {
  if (text.empty()) return 0;
  if (text.size() > 1 && text[0] == '#') {
    long long value = 0;
    if (!ParseInteger(text.substr(1), &value)) return 0;
    return static_cast<std::uint8_t>(static_cast<unsigned long long>(value) & 0xFFu);
  }
  return static_cast<std::uint8_t>(text[0]);
}

namespace {

void StoreSettings(TCustomComPort& port, const Writer& w) {
  const TStoredProps groups = port.StoredGroups();
  if (groups.Contains(sgBasic)) {
    w.text("Port", port.Port());
    w.text("BaudRate", BaudRateText(port.BaudRate()));
    if (port.BaudRate() == brCustom) w.integer("CustomBaudRate", port.CustomBaudRate());
    w.text("StopBits", StopBitsText(port.StopBits()));
    w.text("DataBits", DataBitsText(port.DataBits()));
    w.text("Parity", ParityText(port.Parity().Bits()));
    w.text("FlowControl", FlowControlText(port.FlowControl().FlowControl()));
  }
  if (groups.Contains(sgOthers)) {
    w.text("EventChar", CharText(port.EventChar()));
    w.text("DiscardNull", YesNoText(port.DiscardNull()));
  }
  if (groups.Contains(sgParity)) {
    w.text("Parity.Check", YesNoText(port.Parity().Check()));
    w.text("Parity.Replace", YesNoText(port.Parity().Replace()));
    w.text("Parity.ReplaceChar", CharText(port.Parity().ReplaceChar()));
  }
  if (groups.Contains(sgBuffer)) {
    w.integer("Buffer.OutputSize", port.Buffer().OutputSize());
    w.integer("Buffer.InputSize", port.Buffer().InputSize());
  }
  if (groups.Contains(sgTimeouts)) {
    const TComTimeouts& t = port.Timeouts();
    w.integer("Timeouts.ReadInterval", t.ReadInterval());
    w.integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    w.integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    w.integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    w.integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (groups.Contains(sgFlowControl)) {
    const TComFlowControl& f = port.FlowControl();
    w.text("FlowControl.ControlRTS", RTSText(f.ControlRTS()));
    w.text("FlowControl.ControlDTR", DTRText(f.ControlDTR()));
    w.text("FlowControl.DSRSensitivity", YesNoText(f.DSRSensitivity()));
    w.text("FlowControl.OutCTSFlow", YesNoText(f.OutCTSFlow()));
    w.text("FlowControl.OutDSRFlow", YesNoText(f.OutDSRFlow()));
    w.text("FlowControl.TxContinueOnXoff", YesNoText(f.TxContinueOnXoff()));
    w.text("FlowControl.XonXoffIn", YesNoText(f.XonXoffIn()));
    w.text("FlowControl.XonXoffOut", YesNoText(f.XonXoffOut()));
    w.text("FlowControl.XoffChar", CharText(f.XoffChar()));
    w.text("FlowControl.XonChar", CharText(f.XonChar()));
  }
}

void LoadSettings(TCustomComPort& port, const Reader& r) {
  const TStoredProps groups = port.StoredGroups();
  if (groups.Contains(sgBasic)) {
    port.SetPort(r.text("Port", port.Port()));
    port.SetBaudRate(TextToBaudRate(r.text("BaudRate", BaudRateText(port.BaudRate()))));
    if (port.BaudRate() == brCustom) port.SetCustomBaudRate(r.integer("CustomBaudRate", 9600));
    port.SetStopBits(TextToStopBits(r.text("StopBits", StopBitsText(port.StopBits()))));
    port.SetDataBits(TextToDataBits(r.text("DataBits", DataBitsText(port.DataBits()))));
    port.Parity().SetBits(TextToParity(r.text("Parity", ParityText(port.Parity().Bits()))));
    port.FlowControl().SetFlowControl(TextToFlowControl(
        r.text("FlowControl", FlowControlText(port.FlowControl().FlowControl()))));
  }
  if (groups.Contains(sgOthers)) {
    port.SetEventChar(TextToChar(r.text("EventChar", CharText(port.EventChar()))));
    port.SetDiscardNull(TextToBool(r.text("DiscardNull", YesNoText(port.DiscardNull()))));
  }
  if (groups.Contains(sgParity)) {
    TComParity& p = port.Parity();
    p.SetCheck(TextToBool(r.text("Parity.Check", YesNoText(p.Check()))));
    p.SetReplace(TextToBool(r.text("Parity.Replace", YesNoText(p.Replace()))));
    p.SetReplaceChar(TextToChar(r.text("Parity.ReplaceChar", CharText(p.ReplaceChar()))));
  }
  if (groups.Contains(sgBuffer)) {
    TComBuffer& b = port.Buffer();
    b.SetOutputSize(r.integer("Buffer.OutputSize", b.OutputSize()));
    b.SetInputSize(r.integer("Buffer.InputSize", b.InputSize()));
  }
  if (groups.Contains(sgTimeouts)) {
    TComTimeouts& t = port.Timeouts();
    t.SetReadInterval(r.integer("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(r.integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(r.integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(r.integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(r.integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (groups.Contains(sgFlowControl)) {
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(TextToRTS(r.text("FlowControl.ControlRTS", RTSText(f.ControlRTS()))));
    f.SetControlDTR(TextToDTR(r.text("FlowControl.ControlDTR", DTRText(f.ControlDTR()))));
    f.SetDSRSensitivity(
        TextToBool(r.text("FlowControl.DSRSensitivity", YesNoText(f.DSRSensitivity()))));
    f.SetOutCTSFlow(TextToBool(r.text("FlowControl.OutCTSFlow", YesNoText(f.OutCTSFlow()))));
    f.SetOutDSRFlow(TextToBool(r.text("FlowControl.OutDSRFlow", YesNoText(f.OutDSRFlow()))));
    f.SetTxContinueOnXoff(
        TextToBool(r.text("FlowControl.TxContinueOnXoff", YesNoText(f.TxContinueOnXoff()))));
    f.SetXonXoffIn(TextToBool(r.text("FlowControl.XonXoffIn", YesNoText(f.XonXoffIn()))));
    f.SetXonXoffOut(TextToBool(r.text("FlowControl.XonXoffOut", YesNoText(f.XonXoffOut()))));
    f.SetXoffChar(TextToChar(r.text("FlowControl.XoffChar", CharText(f.XoffChar()))));
    f.SetXonChar(TextToChar(r.text("FlowControl.XonChar", CharText(f.XonChar()))));
  }
}

}  // namespace

namespace {

// The section of an INI file is the component's name; without one the settings would go
// to a section named by nothing, where no load finds them.
const std::string& SectionOf(const TCustomComPort& port, int errorNumber) {
  if (port.Name().empty())
    throw EComPort(errorNumber, " - the port has no name, the INI section of its settings");
  return port.Name();
}

// An integer key. A value that is not an integer takes the default, as a missing key
// does, so one spoilt entry does not end the load halfway. The conversion is the INI
// file's own; its failure is told from the file's by reading the same key as text.
int ReadIniInteger(kvel::IniStore& ini, const std::string& section, const std::string& key,
                   int defaultValue) {
  try {
    return ini.ReadInteger(section, key, defaultValue);
  } catch (...) {
    ini.ReadString(section, key, {});  // the file's own failure propagates from here
    return defaultValue;
  }
}

}  // namespace

void TCustomComPort::StoreToIniFile(kvel::IniStore& ini) {
  const std::string section = SectionOf(*this, 16);
  StoreSettings(
      *this, {[&](const std::string& key, const std::string& value) {
                ini.WriteString(section, key, value);
              },
              [&](const std::string& key, int value) { ini.WriteInteger(section, key, value); }});
}

void TCustomComPort::StoreToRegistry(kvel::RegistryStore& registry) {
  StoreSettings(
      *this,
      {[&](const std::string& key, const std::string& value) { registry.WriteString(key, value); },
       [&](const std::string& key, int value) { registry.WriteInteger(key, value); }});
}

void TCustomComPort::LoadFromIniFile(kvel::IniStore& ini) {
  const std::string section = SectionOf(*this, 17);
  LoadSettings(*this, {[&](const std::string& key, const std::string& current) {
                         return ini.ReadString(section, key, current);
                       },
                       [&](const std::string& key, int current) {
                         return ReadIniInteger(ini, section, key, current);
                       }});
}

// No defaults in the registry: a missing string reads empty and takes the conversion's
// fallback; a missing integer raises the store's error and ends the load there.
void TCustomComPort::LoadFromRegistry(kvel::RegistryStore& registry) {
  LoadSettings(
      *this, {[&](const std::string& key, const std::string&) { return registry.ReadString(key); },
              [&](const std::string& key, int) { return registry.ReadInteger(key); }});
}
