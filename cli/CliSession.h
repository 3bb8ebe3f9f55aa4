#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "CliOptions.h"

class TCustomComPort;

namespace kvel::cli {

// A failure that ends the command: its exit status and the line that says what and where.
class CliFailure : public std::runtime_error {
 public:
  CliFailure(Status status, const std::string& text) : std::runtime_error(text), status_(status) {}
  Status GetStatus() const { return status_; }

 private:
  Status status_;
};

// The port, baud rate and unit type a command runs with: the command line's, else those the
// window's stored settings hold (the same KVEL_32.INI, section of the stored unit type).
struct LineSettings {
  std::string port;
  int baud = 0;
  int unitType = 4;
  std::string iniPath;  // where the stored settings were looked for
};

// Fills in what the options leave open from the settings file at `iniPath`. Raises a usage
// failure when neither names a port or a baud rate, or a stored value is not a number.
LineSettings ResolveLineSettings(const Options& options, const std::string& iniPath);
// Where the window keeps its settings, as seen from this program.
std::string DefaultIniPath();

// The open port of a command, closed (and released) when the session ends.
class Session {
 public:
  // Opens the port; a port that does not open is a communication failure naming it.
  explicit Session(const LineSettings& settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  TCustomComPort& Port() { return *port_; }
  const LineSettings& Settings() const { return settings_; }

  // "COM1 (/dev/ttyUSB0)", or the device or network port as given.
  const std::string& Where() const { return where_; }
  // With the unit: "COM1 (/dev/ttyUSB0), unit 3".
  std::string WhereUnit(int unit) const;

  // Selects `unit` on the line ("<3 ") and makes it the selected unit of the transfers.
  void SelectUnit(int unit);

  // The failure a port error stands for, with the port named.
  CliFailure PortFailure(const std::exception& error, int unit = 0) const;

 private:
  LineSettings settings_;
  std::unique_ptr<TCustomComPort> port_;
  std::string where_;
};

}  // namespace kvel::cli
