#include "KVEL_Var.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ui/Convert.h"
#include "ui/IniFile.h"
#include "ui/Registry.h"

namespace {

constexpr std::array<UnitTypeInfo, kUnitTypeCount> kUnitTypes{{
    {"RQMKQB11", "  KQB1 / RQM1", "PRG", false, false, false},
    {"RQMKQB21", "  KQB2 / RQM2", "PRG", false, false, false},
    {"HLVX1", "  HLVX", "SC", false, false, false},
    {"QN4100I1", "  QN4100I", "PGM", true, true, true},
    {"MUXMU1", "  MU / XMU Indexers", "PGM", true, true, true},
    {"GRV1", "  GRV", "DMC", true, false, true},
    {"ZorvDrive1", "  Zorvdrive", "DMC", true, false, true},
    {"Ostrav24Emulator1", "  Ostrav 24 Emulator", "   ", false, false, false},
}};

const std::string kDefaultEditor = " Choose editor";
const std::string kDefaultLogFile = "KVEL.LOG";

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string MacroKey(std::size_t n) {
  return "Alt" + std::to_string(n) + " Macro";
}
std::string MacroDefault(std::size_t n) {
  return "Alt" + std::to_string(n);
}

std::array<std::string, 10> DefaultMacros() {
  std::array<std::string, 10> macros;
  for (std::size_t n = 0; n < macros.size(); ++n) macros[n] = MacroDefault(n);
  return macros;
}

}  // namespace

int UnitType = 0;
std::string UnitCaption;
std::string ConfigSection;
std::string ProgramExt;
std::string IniPath;
std::string CaptionPrefix;

int ComPortNumber = 1;
int BaudValue = 9600;
std::array<std::string, 10> MacroText = DefaultMacros();
std::uint16_t RepeatDelay = 1000;
int EmulationIndex = 1;
std::string EditorPath = kDefaultEditor;
std::string LogFileName = kDefaultLogFile;

std::uint8_t RunFlag = 0;
// "None" from the start, so that a start whose unit type could not be read selects no indexer.
int SelectedUnit = 100;
std::string UnitIdText;
std::int32_t RxCount = 0;
std::vector<std::string> PortList;
std::vector<std::string> LParamList;
std::string SoftwareRev;
std::string ProgramFileName;

const UnitTypeInfo* FindUnitType(int type) {
  if (type < 1 || type > kUnitTypeCount) return nullptr;
  return &kUnitTypes[static_cast<std::size_t>(type - 1)];
}

void ResetProcessState() {
  UnitType = 0;
  UnitCaption.clear();
  ConfigSection.clear();
  ProgramExt.clear();
  IniPath.clear();
  CaptionPrefix.clear();
  ComPortNumber = 1;
  BaudValue = 9600;
  MacroText = DefaultMacros();
  RepeatDelay = 1000;
  EmulationIndex = 1;
  EditorPath = kDefaultEditor;
  LogFileName = kDefaultLogFile;
  RunFlag = 0;
  SelectedUnit = 100;
  UnitIdText.clear();
  RxCount = 0;
  PortList.clear();
  LParamList.clear();
  SoftwareRev.clear();
  ProgramFileName.clear();
}

std::string AppendToFile(const std::string& fileName, const std::string& text, bool appendLineEnd) {
  HeldAppendFile file;
  return file.Append(fileName, text, appendLineEnd, 0);
}

std::string HeldAppendFile::Append(const std::string& fileName, const std::string& text,
                                   bool appendLineEnd, std::int64_t nowMs) {
  if (fd_ >= 0) {
    struct stat held {};
    bool keep = name_ == fileName && ::fstat(fd_, &held) == 0 && held.st_nlink > 0;
    if (keep && nowMs - lookedMs_ >= kLookAgainMs) {
      struct stat named {};
      keep = ::stat(fileName.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
             named.st_ino == held.st_ino;
      lookedMs_ = nowMs;
    }
    if (!keep) Close();
  }
  if (fd_ < 0) {
    // O_APPEND puts every write at the current end, also when another process appends
    // meanwhile. O_NONBLOCK keeps a name that points at a FIFO or device from freezing the
    // window: without a reader such a file is simply skipped, like any that cannot be opened.
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd_ < 0) return std::strerror(errno);
    name_ = fileName;
    lookedMs_ = nowMs;
  }
  errno = 0;
  if (!WriteAll(fd_, text) || (appendLineEnd && !WriteAll(fd_, "\r\n"))) {
    const std::string why = errno != 0 ? std::strerror(errno) : "nothing was written";
    Close();
    return why;
  }
  return {};
}

void HeldAppendFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_.clear();
}

std::string LogFileProblem(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (::access(fileName.c_str(), W_OK) != 0) return std::strerror(errno);
    return {};
  }
  if (errno != ENOENT) return std::strerror(errno);
  // A new file: its folder must exist and take new files.
  const std::size_t slash = fileName.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : fileName.substr(0, slash);
  const auto inFolder = [&folder](int error) {
    return "the folder '" + folder + "': " + std::strerror(error);
  };
  if (::stat(folder.c_str(), &st) != 0) return inFolder(errno);
  if (!S_ISDIR(st.st_mode)) return inFolder(ENOTDIR);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return inFolder(errno);
  return {};
}

void DiagLog(const std::string& fileName, const std::string& text, bool appendLineEnd) {
  AppendToFile(fileName, text, appendLineEnd);
}

std::vector<BadConfigValue> ReadConfigValues(const kvel::IniFile& ini, const std::string& section) {
  // A value that is not an integer costs only itself: it takes its default, every other key
  // is read all the same, and a later save writes no other unit type's value over it.
  std::vector<BadConfigValue> bad;
  const auto integer = [&](const char* key, const char* defaultText) {
    const std::string text = ini.ReadString(section, key, defaultText);
    int value = 0;
    if (kvel::TryStrToInt(text, &value)) return value;
    bad.push_back({key, text, defaultText});
    return kvel::StrToInt(defaultText);
  };
  DiagLog(kErrorLogName, "INI file created", true);
  ComPortNumber = integer("COMPort", "1");
  DiagLog(kErrorLogName, "Comport read OK", true);
  BaudValue = integer("Baudrate", "9600");
  DiagLog(kErrorLogName, "Baudrate  read OK", true);
  DiagLog(kErrorLogName, "comport settings ", true);
  for (std::size_t n = 0; n < MacroText.size(); ++n) {
    MacroText[n] = ini.ReadString(section, MacroKey(n), MacroDefault(n));
  }
  DiagLog(kErrorLogName, "macro settings", true);
  // The delay is held in 16 bits: larger values keep their low 16 bits.
  RepeatDelay = static_cast<std::uint16_t>(integer("Repeat delay", "1000"));
  EmulationIndex = integer("Terminal Emulation", "1");
  EditorPath = ini.ReadString(section, "Editor", kDefaultEditor);
  LogFileName = ini.ReadString(section, "Terminal Log File", kDefaultLogFile);
  return bad;
}

std::string BadConfigMessage(const std::vector<BadConfigValue>& bad, const std::string& section,
                             const std::string& iniPath) {
  if (bad.empty()) return {};
  std::string text = "'" + bad.front().text + "' is not a valid integer value\n";
  for (const BadConfigValue& value : bad) {
    text += "\n\"" + value.key + "\" in section [" + section + "] of " + iniPath + ": '" +
            value.text + "' is replaced by the default " + value.defaultText + ".";
  }
  return text;
}

void WriteConfigValues(kvel::IniFile& ini, const std::string& section) {
  ini.WriteString(section, "COMPort", std::to_string(ComPortNumber));
  ini.WriteString(section, "Baudrate", std::to_string(BaudValue));
  for (std::size_t n = 0; n < MacroText.size(); ++n)
    ini.WriteString(section, MacroKey(n), MacroText[n]);
  ini.WriteString(section, "Repeat delay", std::to_string(static_cast<unsigned>(RepeatDelay)));
  ini.WriteString(section, "Terminal Emulation", std::to_string(EmulationIndex));
  ini.WriteString(section, "Editor", EditorPath);
  ini.WriteString(section, "Terminal Log File", LogFileName);
}

bool IsSystemFolder(const std::string& folder) {
  // Compared as the folder really is: /bin is /usr/bin on a merged system, and a link may
  // point into a system folder.
  char real[PATH_MAX];
  const std::string path = ::realpath(folder.c_str(), real) != nullptr ? real : folder;
  for (const char* system : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32",
                             "/etc", "/var", "/snap", "/boot"}) {
    const std::size_t n = std::strlen(system);
    if (path.compare(0, n, system) == 0 && (path.size() == n || path[n] == '/')) return true;
  }
  return false;
}

std::string ResolveIniPath(const std::string& exeFolder) {
  if (const char* dir = std::getenv("KVEL_INI_DIR"); dir != nullptr && *dir != '\0') {
    return JoinPath(dir, kIniFileName);
  }
  const std::string own = JoinPath(kvel::UserConfigFolder(), kIniFileName);
  // A program in a system folder never keeps its settings there (a run as root would leave a
  // file behind that the package manager does not know and that every user would start from).
  if (IsSystemFolder(exeFolder)) {
    kvel::IniFile::SetFallback(own, std::string());
    return own;
  }
  // A portable copy: a settings file that already lives beside the program is its own. The
  // file is replaced through a temporary file beside it, so the folder must be writable too.
  const std::string beside = JoinPath(exeFolder, kIniFileName);
  const bool besideExists = ::access(beside.c_str(), F_OK) == 0;
  if (besideExists && ::access(exeFolder.c_str(), W_OK) == 0 &&
      ::access(beside.c_str(), W_OK) == 0) {
    return beside;
  }
  // One that may be read but not written (a shared copy) is read until the user's own file
  // exists, and the first save starts the user's file from its content.
  const bool besideReadable = besideExists && ::access(beside.c_str(), R_OK) == 0;
  kvel::IniFile::SetFallback(own, besideReadable ? beside : std::string());
  return own;
}
