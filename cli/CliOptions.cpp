#include "CliOptions.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kvel::cli {

namespace {

struct CommandRow {
  const char* name;
  int arguments;  // how many the command takes
  bool unit;      // needs --unit
  const char* argumentName;
};

constexpr std::array<CommandRow, 10> kCommands{{
    {"ports", 0, false, ""},
    {"scan", 0, false, ""},
    {"identify", 0, true, ""},
    {"send", 1, true, "TEXT"},
    {"download", 1, true, "FILE"},
    {"upload-program", 1, true, "FILE"},
    {"upload-params", 1, true, "FILE"},
    {"upload-all", 1, true, "FILE"},
    {"compare-params", 1, true, "FILE"},
    {"error-report", 0, true, ""},
}};

const CommandRow* FindCommand(const std::string& name) {
  for (const CommandRow& row : kCommands) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// A whole decimal number from `lo` to `hi`, nothing else.
bool Number(const std::string& text, int lo, int hi, int* value) {
  int v = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, v);
  if (text.empty() || error != std::errc() || at != end || v < lo || v > hi) return false;
  *value = v;
  return true;
}

}  // namespace

const std::vector<int>& KnownBaudRates() {
  static const std::vector<int> rates{110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rates;
}

bool NeedsUnit(const std::string& command) {
  const CommandRow* row = FindCommand(command);
  return row != nullptr && row->unit;
}

ParseResult ParseArguments(const std::vector<std::string>& arguments) {
  ParseResult result;
  Options& o = result.options;
  std::vector<std::string> words;
  const auto fail = [&result](const std::string& why) {
    result.error = why;
    return result;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string inlineValue;
    bool hasInline = false;
    if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasInline = true;
    }
    std::string missing;
    const auto value = [&](std::string* out) {
      if (hasInline) {
        *out = inlineValue;
        return true;
      }
      if (i + 1 >= arguments.size()) {
        missing = arg + " needs a value";
        return false;
      }
      *out = arguments[++i];
      return true;
    };
    const auto flag = [&](bool* out) {
      if (hasInline) {
        missing = arg + " takes no value";
        return false;
      }
      *out = true;
      return true;
    };
    std::string text;
    if (arg == "--port" || arg == "-p") {
      if (!value(&o.port)) return fail(missing);
      if (o.port.empty()) return fail("--port needs a COM name or a device");
    } else if (arg == "--baud" || arg == "-b") {
      if (!value(&text)) return fail(missing);
      const auto& rates = KnownBaudRates();
      if (!Number(text, 1, 4'000'000, &o.baud) ||
          std::find(rates.begin(), rates.end(), o.baud) == rates.end()) {
        return fail("--baud: '" + text + "' is not a baud rate the port knows");
      }
    } else if (arg == "--unit" || arg == "-u") {
      if (!value(&text)) return fail(missing);
      if (!Number(text, 1, 99, &o.unit)) {
        return fail("--unit: '" + text + "' is not an address from 1 to 99");
      }
    } else if (arg == "--type") {
      if (!value(&text)) return fail(missing);
      if (!Number(text, 1, 8, &o.unitType)) {
        return fail("--type: '" + text + "' is not a unit type from 1 to 8");
      }
    } else if (arg == "--json") {
      if (!flag(&o.json)) return fail(missing);
    } else if (arg == "--quiet" || arg == "-q") {
      if (!flag(&o.quiet)) return fail(missing);
    } else if (arg == "--verify") {
      if (!flag(&o.verify)) return fail(missing);
    } else if (arg == "--help" || arg == "-h") {
      if (!flag(&o.help)) return fail(missing);
    } else if (arg == "--version") {
      if (!flag(&o.version)) return fail(missing);
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (o.help || o.version) return result;
  if (words.empty()) return fail("no command given");
  o.command = words.front();
  o.arguments.assign(words.begin() + 1, words.end());
  const CommandRow* row = FindCommand(o.command);
  if (row == nullptr) return fail("unknown command '" + o.command + "'");
  if (static_cast<int>(o.arguments.size()) != row->arguments) {
    if (row->arguments == 0) return fail(o.command + " takes no arguments");
    return fail(o.command + " needs one " + row->argumentName +
                (o.arguments.empty() ? "" : ", and only one"));
  }
  if (row->arguments == 1 && o.arguments.front().empty()) {
    return fail(o.command + ": the " + row->argumentName + " is empty");
  }
  if (o.verify && o.command != "download") return fail("--verify belongs to download");
  if (row->unit && o.unit == 0) {
    return fail(o.command + " talks to one unit: say which with --unit N (see the scan)");
  }
  return result;
}

std::string UsageText() {
  return R"(Usage: kvel-cli [--port COMn|DEVICE] [--baud N] [--unit N] [--json] [--quiet] COMMAND [ARGS]
Batch work with indexers on a serial line, as the KVEL window does it.

Commands:
  ports                       the ports the program knows: COM name, device, USB product
                              and serial number
  scan                        addresses 1 to 99; one line per unit found: address, then
                              its identification text
  identify                    the unit query of --unit
  send TEXT                   TEXT + CR to --unit, prints the reply
  download FILE [--verify]    the program download (--verify reads it back and compares)
  upload-program FILE         the program upload
  upload-params FILE          the L-parameter upload (the LPARAM.TXT form)
  upload-all FILE             Prog + Par (a file that downloads again)
  compare-params FILE         reads the L parameters and compares them with FILE
  error-report                the decoded XMU error report

Options:
  -p, --port COMn|DEVICE      the port: a COM name of the port map, a device path or a
                              network port (socket://HOST:PORT, rfc2217://HOST:PORT);
                              default: the port of the stored settings
  -b, --baud N                the baud rate; default: the stored settings'
  -u, --unit N                selects unit N (1..99) on the line before the command
      --type N                the unit type (4 QN4100I, 5 MU / XMU, ...); default: the stored one
      --json                  one JSON object per result on standard output
  -q, --quiet                 no progress on standard error
  -h, --help                  this help
      --version               the version

Exit status: 0 done, 1 usage, 2 port or communication failure (no answer, unit busy,
device gone, Ctrl+C), 3 verify or compare mismatch, 4 file error.
)";
}

}  // namespace kvel::cli
