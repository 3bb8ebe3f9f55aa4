#include "CliSession.h"

#include <unistd.h>

#include <climits>
#include <string>

#include "KVEL_Var.h"
#include "serial/CPort.h"
#include "serial/ComError.h"
#include "serial/PortMap.h"
#include "ui/Convert.h"
#include "ui/IniFile.h"

namespace kvel::cli {

namespace {

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string text(path, static_cast<std::size_t>(n));
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : text.substr(0, slash);
}

std::string SectionOf(int unitType) {
  std::string section;
  if (const UnitTypeInfo* info = FindUnitType(unitType)) {
    for (const char* c = info->caption; *c != '\0'; ++c) {
      if (*c != ' ') section += *c;
    }
  }
  return section;
}

int StoredInteger(const IniFile& ini, const std::string& section, const std::string& key,
                  const std::string& text) {
  int value = 0;
  if (!TryStrToInt(text, &value)) {
    throw CliFailure(Status::kUsage, ini.Path() + ": [" + section + "] " + key + "='" + text +
                                         "' is not a valid integer value");
  }
  return value;
}

}  // namespace

std::string DefaultIniPath() {
  return ResolveIniPath(ExecutableFolder());
}

LineSettings ResolveLineSettings(const Options& options, const std::string& iniPath) {
  LineSettings settings;
  settings.iniPath = iniPath;
  const IniFile ini(iniPath);
  if (options.unitType != 0) {
    settings.unitType = options.unitType;
  } else {
    const std::string stored = ini.ReadString(kMainSection, kControlTypeKey, "");
    if (!stored.empty()) {
      settings.unitType = StoredInteger(ini, kMainSection, kControlTypeKey, stored);
    }
  }
  const std::string section = SectionOf(settings.unitType);
  const std::string where = " (" + iniPath + (section.empty() ? "" : ", [" + section + "]") + ")";
  settings.port = options.port;
  if (settings.port.empty()) {
    const std::string stored = section.empty() ? "" : ini.ReadString(section, "COMPort", "");
    if (stored.empty()) {
      throw CliFailure(
          Status::kUsage,
          "no port: give --port COMn or a device; the stored settings name none" + where);
    }
    settings.port = "COM" + std::to_string(StoredInteger(ini, section, "COMPort", stored));
  }
  settings.baud = options.baud;
  if (settings.baud == 0) {
    const std::string stored = section.empty() ? "" : ini.ReadString(section, "Baudrate", "");
    if (stored.empty()) {
      throw CliFailure(Status::kUsage,
                       "no baud rate: give --baud N; the stored settings name none" + where);
    }
    settings.baud = StoredInteger(ini, section, "Baudrate", stored);
  }
  return settings;
}

Session::Session(const LineSettings& settings)
    : settings_(settings), port_(std::make_unique<TComPort>()) {
  UnitType = settings.unitType;
  where_ = settings.port;
  if (ComNumber(settings.port) > 0) {
    const PortDeviceDetails details = DescribePortDetails(PortMapSources::System(), settings.port);
    where_ += " (" + (details.device.empty() ? details.note : details.device) + ")";
  }
  try {
    port_->SetPort(settings.port);
    port_->SetBaudRate(TextToBaudRate(std::to_string(settings.baud)));
    port_->OpenPort();
  } catch (const std::exception& error) {
    throw PortFailure(error);
  }
}

Session::~Session() {
  try {
    port_->ClosePort();
  } catch (...) {
    // The device may have gone; the descriptor is released all the same.
  }
}

std::string Session::WhereUnit(int unit) const {
  return unit > 0 ? where_ + ", unit " + std::to_string(unit) : where_;
}

void Session::SelectUnit(int unit) {
  port_->SendText("<" + std::to_string(unit) + " ");
  SelectedUnit = unit;
}

CliFailure Session::PortFailure(const std::exception& error, int unit) const {
  std::string text = error.what();
  if (const auto* port = dynamic_cast<const EComPort*>(&error);
      port != nullptr && IsDeviceGone(port->SystemError())) {
    text = "the device is gone (" + text + ")";
  }
  return CliFailure(Status::kCommunication, WhereUnit(unit) + ": " + text);
}

}  // namespace kvel::cli
