#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kvel {
class IniFile;
}

// The process-wide state of the shell: the selected unit type, the configuration values of
// that type, and the flags and lists that the main window and the dialogues share.

// One row of the unit-type table: how the window looks and behaves for a unit type.
struct UnitTypeInfo {
  const char* menuItem;  // object name of its "Unit Select" item
  const char* caption;   // UnitCaption
  const char* programExt;
  bool ioTest;      // "I / O Test" enabled
  bool parameters;  // "Parameters" enabled
  bool keysSent;    // typed keys go to the port
};

inline constexpr int kUnitTypeCount = 8;
// The row of unit type 1 ... 8; nullptr for any other value.
const UnitTypeInfo* FindUnitType(int type);

inline constexpr const char* kErrorLogName = "error.log";
inline constexpr const char* kIniFileName = "KVEL_32.INI";
inline constexpr const char* kMainSection = "MainSection";
inline constexpr const char* kControlTypeKey = "Control Type ";

// Selected unit type (0 = none) and what follows from it.
extern int UnitType;
extern std::string UnitCaption;
extern std::string ConfigSection;
extern std::string ProgramExt;
extern std::string IniPath;
extern std::string CaptionPrefix;

// Configuration values of the current unit type.
extern int ComPortNumber;
extern int BaudValue;
extern std::array<std::string, 10> MacroText;
extern std::uint16_t RepeatDelay;
extern int EmulationIndex;
extern std::string EditorPath;
extern std::string LogFileName;

// Shared between the receive poll and the dialogues.
extern std::uint8_t RunFlag;
extern int SelectedUnit;  // 1 ... 99, 100 = none
extern std::string UnitIdText;
extern std::int32_t RxCount;
extern std::vector<std::string> PortList;
extern std::vector<std::string> LParamList;
// The first 20 characters of the unit-query reply read when the download dialog opened.
extern std::string SoftwareRev;
// The program file of the download dialog, kept between its openings.
extern std::string ProgramFileName;

// Puts every value above back to its state at program start (tests create the window often).
void ResetProcessState();

// Appends `text` (and CR LF when asked) to `fileName`, opening and closing the file on every
// call. Never reports a failure: a file that cannot be opened receives nothing.
void DiagLog(const std::string& fileName, const std::string& text, bool appendLineEnd);
// The same write, saying why it failed (empty when it worked): for the terminal log, whose
// failures the operator must hear of.
std::string AppendToFile(const std::string& fileName, const std::string& text, bool appendLineEnd);

// A file appended to as by AppendToFile but kept open between the writes: the terminal log
// is written every round while a device streams, and opening the file for each write cost
// more than the write. So that the lines still go where the name points, the file is let go
// and opened anew by name when it has been deleted (looked at on every write), when it has
// been renamed or replaced (looked at once a second by `nowMs`), after a failed write, and
// whenever another name is asked for.
class HeldAppendFile {
 public:
  static constexpr std::int64_t kLookAgainMs = 1000;
  HeldAppendFile() = default;
  ~HeldAppendFile() { Close(); }
  HeldAppendFile(const HeldAppendFile&) = delete;
  HeldAppendFile& operator=(const HeldAppendFile&) = delete;

  std::string Append(const std::string& fileName, const std::string& text, bool appendLineEnd,
                     std::int64_t nowMs);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string name_;
  std::int64_t lookedMs_ = 0;
};

// Why `fileName` could not be appended to, found without creating or changing anything
// (the file need not exist, its folder must); empty when it could be.
std::string LogFileProblem(const std::string& fileName);

// A configuration value whose text is not an integer.
struct BadConfigValue {
  std::string key;
  std::string text;
  std::string defaultText;  // what is used instead
};

// Loads the configuration values from `section`, logging each step to "error.log". A value
// that is not an integer takes its default and is returned; all other keys are read.
std::vector<BadConfigValue> ReadConfigValues(const kvel::IniFile& ini, const std::string& section);
// The conversion message for the first bad value, then where each one is and what replaces it.
std::string BadConfigMessage(const std::vector<BadConfigValue>& bad, const std::string& section,
                             const std::string& iniPath);
// Stores the configuration values into `section`, key by key.
void WriteConfigValues(kvel::IniFile& ini, const std::string& section);

// Where "KVEL_32.INI" lives: $KVEL_INI_DIR when set; else next to the executable when a
// writable file already lives there (a portable copy) and the folder is not a system folder;
// else in the user's configuration folder ($XDG_CONFIG_HOME/kvel, for root too), which a
// readable file next to an executable outside the system folders seeds (IniFile::SetFallback).
std::string ResolveIniPath(const std::string& exeFolder);
// /usr, /opt, /bin, /etc, /var and the like, and everything below them (links resolved).
bool IsSystemFolder(const std::string& folder);
