#pragma once

#include <string>
#include <vector>

namespace kvel::cli {

// How kvel-cli ends: the shell sees these numbers.
enum class Status {
  kDone = 0,
  kUsage = 1,
  kCommunication = 2,  // the port, no answer, a busy unit, a device that went away, Ctrl+C
  kMismatch = 3,       // a verify or compare found differences
  kFile = 4,           // a file that is missing, unreadable or not writable
};

inline int ExitCode(Status status) {
  return static_cast<int>(status);
}

// What the command line asks for.
struct Options {
  std::string port;  // a COM name or a device; empty: the stored settings' port
  int baud = 0;      // 0: the stored settings' baud rate
  int unit = 0;      // the unit's address 1..99; 0: none given
  int unitType = 0;  // the unit type 1..8; 0: the stored one
  bool json = false;
  bool quiet = false;
  bool verify = false;  // download --verify
  bool help = false;
  bool version = false;
  std::string command;
  std::vector<std::string> arguments;  // the command's own (FILE, TEXT)
};

struct ParseResult {
  Options options;
  std::string error;  // why the command line cannot be run; empty when it can
};

// Reads the arguments after the program name. Options may stand before or after the
// command; "--" ends them, so a TEXT for send may begin with a minus.
ParseResult ParseArguments(const std::vector<std::string>& arguments);

// The commands that talk to one unit and so need --unit.
bool NeedsUnit(const std::string& command);

// The usage summary printed by --help (and after a usage error, its first line).
std::string UsageText();

// The baud rates the port accepts, as numbers.
const std::vector<int>& KnownBaudRates();

}  // namespace kvel::cli
