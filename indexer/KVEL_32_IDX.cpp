#include "KVEL_32_IDX.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "serial/CPort.h"
#include "ui/Clock.h"

namespace {

// The unit query and the revision query differ only in the command and in the "=" cut.
std::string FixedWaitQuery(TCustomComPort& port, const std::string& command) {
  kvel::Wait(100);
  port.PurgeBuffers(true, true);
  port.SendText(command);
  // The unit answers within this time; nothing is read before it has passed.
  kvel::Wait(500);
  RxCount = port.PendingInput();
  std::string reply;
  port.ReceiveText(reply, RxCount);
  return FilterPrintable(reply);
}

struct TypeRow {
  char letter;
  const char* text;
  const char* prefix;
};

constexpr std::array<TypeRow, 6> kTypes{{
    {'0', "Old blue label Indexer", "MU-"},
    {'I', "New red label Indexer", "MU-"},
    {'E', "New enhanched Indexer", "XMU-"},
    {'P', "QN4100 serie Indexer", "MU-"},
    {'S', "QN4100 serie Indexer", "MU-"},
    {'D', "Direct Drive System", "MU-"},
}};

bool KnownStepResolution(int value) {
  return value == 1 || value == 2 || value == 5 || value == 10 || value == 125;
}

struct NameRow {
  int number;
  const char* description;
};

constexpr NameRow kNames[] = {
    {1, "RS232 Message # 1"},
    {2, "RS232 Message # 2"},
    {3, "RS232 Message # 3"},
    {4, "RS232 Message # 4"},
    {5, "RS232 Message # 5"},
    {6, "Program Execution Format"},
    {7, "Strobe delay"},
    {8, "Mechanical Home Direction"},
    {9, "Jog Speed for X, Y Axis"},
    {10, "Deceleration"},
    {11, "Acceleration (+Decel MU/XMU)"},
    {12, "Low Speed for X, Y Axis"},
    {13, "Step Increment for X,Y axes"},
    {14, "Home Speed"},
    {16, "Index from Run Travel Limit"},
    {17, "Offset from Mechanical Home"},
    {18, "Clockwise travel Limit"},
    {19, "Counterclockwise travel Limit"},
    {20, "Powerup Configuration"},
    {21, "Device Identification Number"},
    {22, "Baud Rate"},
    {23, "Character Length"},
    {25, "RS232 Parity"},
    {26, "Command Acknowledge"},
    {41, "Autostart Line Number"},
    {43, "Delay between Index and Backlash"},
    {44, "Delay After Motion"},
    {45, "Limit Switch Enable"},
    {47, "Program Repeat Count"},
    {48, "Program Line Count Designator"},
    {49, "Parameter Transfer Designator"},
    {50, "Parameter Transfer Count"},
    {51, "Input/Output Mode select"},
    {52, "Buffer Warning Characters"},
    {53, "Following Error Characters"},
    {54, "Unable to Correct Characters"},
    {55, "Line Done Characters"},
    {56, "Program Done Characters"},
    {57, "Strobe 0, Strobe 1 Delay"},
    {58, "Input Configuration"},
    {59, "Output Configuration"},
    {66, "Backlash Compensation"},
    {67, "Autoreverse"},
    {70, "Step Resolution"},
    {71, "Ramp Freqency Limit"},
    {72, "Ramp Profile Select"},
    {73, "Deviation Frequency"},
    {87, "Following Error"},
    {90, "Pos. ver Enable / Disable"},
    {91, "(BCD) Scale factor"},
    {93, "In position Bandwith"},
    {94, "Invert Encoder Direction"},
    {95, "Encoder Scale Factor"},
    {96, "Number of Pos Corrections"},
    {97, "Delay between Corrections"},
    {98, "Delay between %H codes"},
    {99, ""},
};

constexpr std::size_t kNameWidth = 32;

}  // namespace

int LParamCount = 0;

std::string QueryUnitId(TCustomComPort& port) {
  std::string reply = FixedWaitQuery(port, "H23\r");
  if (const std::size_t at = reply.find('='); at != std::string::npos) reply.erase(at, 1);
  return reply;
}

std::string QueryRevision(TCustomComPort& port) {
  return FixedWaitQuery(port, "\033REV\r");
}

int StepResolutionOf(const std::string& reply) {
  int result = 0;
  if (reply.find("L70") == std::string::npos) return result;
  // Later matches win: "0010" holds both "001" and "010" and means 10.
  for (const auto& [text, value] : {std::pair{"001", 1}, std::pair{"002", 2}, std::pair{"005", 5},
                                    std::pair{"010", 10}, std::pair{"125", 125}}) {
    if (reply.find(text) != std::string::npos) result = value;
  }
  return result;
}

int QueryStepResolution(TCustomComPort& port) {
  port.SendText("L49 70\r");
  port.SendText("L50 1\r");
  port.SendText("H16\r");
  kvel::Wait(200);
  std::string reply;
  port.ReceiveText(reply, 50);
  const int result = StepResolutionOf(FilterPrintable(reply));
  port.SendText("L49 0\r");
  port.SendText("L50 0\r");
  kvel::Wait(200);
  return result;
}

IndexerIdentity IdentifyIndexer(TCustomComPort& port, const std::string& reply) {
  IndexerIdentity identity;
  SoftwareRev = reply.substr(0, 20);
  identity.stepResolution =
      SoftwareRev.find("VORTAN") != std::string::npos ? 1 : QueryStepResolution(port);
  if (UnitType != 4 && UnitType != 5) {
    identity.outcome = IdentifyOutcome::NotApplicable;
    return identity;
  }
  if (!KnownStepResolution(identity.stepResolution)) {
    identity.outcome = IdentifyOutcome::StepResolutionUnknown;
    return identity;
  }
  identity.outcome = IdentifyOutcome::TypeLetterUnknown;
  if (SoftwareRev.empty()) return identity;
  for (const TypeRow& row : kTypes) {
    if (row.letter == SoftwareRev[0]) {
      identity.outcome = IdentifyOutcome::Recognised;
      identity.typeText = row.text;
      identity.familyPrefix = row.prefix;
    }
  }
  return identity;
}

std::string LParamName(int n) {
  for (const NameRow& row : kNames) {
    if (row.number == n) {
      std::string text = row.description;
      text.resize(kNameWidth, ' ');
      return text;
    }
  }
  return " ????????? unknown L function   ";
}

void SaveLines(const std::string& path, const std::vector<std::string>& lines) {
  // The new text goes into a file beside the old one, in the same folder, and replaces it
  // only once every byte is written and the file is closed; on any failure the old file
  // stays as it was and the partial one is removed.
  const auto fail = [&path](int error) {
    throw std::runtime_error("Cannot create file \"" + path +
                             "\". The file could not be saved: " + std::strerror(error));
  };
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) fail(EISDIR);
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";

  std::string temporary = folder + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) fail(errno);
  bool closed = false;
  const auto abandon = [&](int error) {
    if (!closed) ::close(fd);
    ::unlink(temporary.c_str());
    fail(error);
  };
  // The file gets the permissions of the one it replaces, or those a new file would get.
  struct stat old {};
  mode_t mode = 0;
  if (::stat(path.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) abandon(EISDIR);
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) abandon(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      abandon(errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) abandon(errno);
  closed = true;
  if (::close(fd) != 0) abandon(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) abandon(errno);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

std::string LinesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}
