#include "KVEL_Var.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "ui/Convert.h"
#include "ui/IniFile.h"

namespace {

class DiagLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  std::string Path(const char* name) const { return dir_.path().toStdString() + "/" + name; }
  QTemporaryDir dir_;
};

TEST_F(DiagLogTest, AppendsRawBytesWithOptionalLineEnd) {
  const std::string path = Path("x.log");
  DiagLog(path, "", false);
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadFile(path), "");
  DiagLog(path, "A\033\xff", false);
  DiagLog(path, std::string("B\0C", 3), true);
  DiagLog(path, "", true);
  EXPECT_EQ(ReadFile(path), std::string("A\033\xff"
                                        "B\0C\r\n\r\n",
                                        10));
}

TEST_F(DiagLogTest, NeverTruncatesAnExistingFile) {
  const std::string path = Path("old.log");
  std::ofstream(path, std::ios::binary) << "kept\r\n";
  DiagLog(path, "new", true);
  EXPECT_EQ(ReadFile(path), "kept\r\nnew\r\n");
}

TEST_F(DiagLogTest, FailureIsSilent) {
  EXPECT_NO_THROW(DiagLog(Path("missing/folder/x.log"), "text", true));
  EXPECT_NO_THROW(DiagLog(dir_.path().toStdString(), "text", true));  // a folder
  EXPECT_FALSE(std::filesystem::exists(Path("missing")));
}

TEST_F(DiagLogTest, AFifoWithoutReaderIsSkippedInsteadOfBlocking) {
  const std::string path = Path("fifo.log");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  // Without the non-blocking open this call never returns.
  DiagLog(path, "text", true);
  SUCCEED();
}

// The terminal log's file is kept open between writes, yet its lines go where the name
// points: a deleted file is made anew at the next write, a renamed one (a log rotated) keeps
// the lines until the name is looked at again a second later, another name is another file,
// and a failed write lets the file go and says why.
TEST_F(DiagLogTest, AHeldLogFileFollowsItsName) {
  const std::string path = Path("held.log");
  HeldAppendFile log;
  EXPECT_EQ(log.Append(path, "one", true, 0), "");
  EXPECT_EQ(log.Append(path, "two", false, 10), "");
  EXPECT_EQ(ReadFile(path), "one\r\ntwo");

  std::filesystem::remove(path);
  EXPECT_EQ(log.Append(path, "after the delete", true, 20), "");
  EXPECT_EQ(ReadFile(path), "after the delete\r\n");

  const std::string rotated = Path("held.log.1");
  std::filesystem::rename(path, rotated);
  EXPECT_EQ(log.Append(path, "still the old", true, 30), "");
  EXPECT_EQ(log.Append(path, "the new", true, 30 + HeldAppendFile::kLookAgainMs), "");
  EXPECT_EQ(ReadFile(rotated), "after the delete\r\nstill the old\r\n");
  EXPECT_EQ(ReadFile(path), "the new\r\n");

  const std::string other = Path("other.log");
  EXPECT_EQ(log.Append(other, "elsewhere", false, 40 + HeldAppendFile::kLookAgainMs), "");
  EXPECT_EQ(ReadFile(other), "elsewhere");
  EXPECT_EQ(ReadFile(path), "the new\r\n");

  EXPECT_EQ(log.Append(Path("missing/x.log"), "text", true, 50), std::strerror(ENOENT));
  EXPECT_FALSE(log.IsOpen());
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(log.Append("/dev/full", "text", true, 60), std::strerror(ENOSPC));
    EXPECT_FALSE(log.IsOpen());
  }
}

TEST_F(DiagLogTest, RelativeNameResolvesAgainstCurrentFolder) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path().toStdString());
  DiagLog("rel.log", "here", false);
  std::filesystem::current_path(previous);
  EXPECT_EQ(ReadFile(Path("rel.log")), "here");
}

class ConfigValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path().toStdString());
    ResetProcessState();
  }
  void TearDown() override { std::filesystem::current_path(previous_); }
  std::string IniPath() const { return dir_.path().toStdString() + "/KVEL_32.INI"; }
  QTemporaryDir dir_;
  std::filesystem::path previous_;
};

TEST_F(ConfigValuesTest, WrittenValuesReadBackThroughTheSameKeys) {
  ComPortNumber = 3;
  BaudValue = 38400;
  for (std::size_t n = 0; n < MacroText.size(); ++n) MacroText[n] = "M" + std::to_string(n) + "CR";
  RepeatDelay = 65535;
  EmulationIndex = 2;
  EditorPath = "/usr/bin/vi";
  LogFileName = " spaced name.LOG";
  kvel::IniFile ini(IniPath());
  WriteConfigValues(ini, "GRV");

  const std::string text = ReadFile(IniPath());
  EXPECT_NE(text.find("Repeat delay=65535"), std::string::npos);
  EXPECT_NE(text.find("Alt9 Macro=M9CR"), std::string::npos);
  // Keys in the order they are written.
  EXPECT_LT(text.find("COMPort="), text.find("Baudrate="));
  EXPECT_LT(text.find("Alt9 Macro="), text.find("Repeat delay="));
  EXPECT_LT(text.find("Editor="), text.find("Terminal Log File="));

  ResetProcessState();
  ReadConfigValues(ini, "GRV");
  EXPECT_EQ(ComPortNumber, 3);
  EXPECT_EQ(BaudValue, 38400);
  EXPECT_EQ(MacroText[0], "M0CR");
  EXPECT_EQ(MacroText[9], "M9CR");
  EXPECT_EQ(RepeatDelay, 65535);
  EXPECT_EQ(EmulationIndex, 2);
  EXPECT_EQ(EditorPath, "/usr/bin/vi");
  EXPECT_EQ(LogFileName, " spaced name.LOG");
}

TEST_F(ConfigValuesTest, RepeatDelayKeepsItsLow16Bits) {
  std::ofstream(IniPath()) << "[X]\nRepeat delay=65537\n";
  ReadConfigValues(kvel::IniFile(IniPath()), "X");
  EXPECT_EQ(RepeatDelay, 1);
}

TEST(ResolveIniPathTest, EnvironmentFolderWins) {
  ::setenv("KVEL_INI_DIR", "/some/where/", 1);
  EXPECT_EQ(ResolveIniPath("/tmp"), "/some/where/KVEL_32.INI");
  ::unsetenv("KVEL_INI_DIR");
}

// A program outside the system folders with its own settings file beside it (a portable
// copy) keeps using it; without one, the settings go to the user's folder.
TEST(ResolveIniPathTest, OnlyAPortableCopyBesideTheProgramIsUsed) {
  ::unsetenv("KVEL_INI_DIR");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string config = dir.path().toStdString() + "/config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const std::string program = dir.path().toStdString() + "/bin";
  std::filesystem::create_directories(program);
  EXPECT_EQ(ResolveIniPath(program), config + "/kvel/KVEL_32.INI");
  std::ofstream(program + "/KVEL_32.INI") << "[MainSection]\n";
  EXPECT_EQ(ResolveIniPath(program), program + "/KVEL_32.INI");
  kvel::IniFile::SetFallback(config + "/kvel/KVEL_32.INI", "");
  ::unsetenv("XDG_CONFIG_HOME");
}

// Installed programs never keep settings beside themselves, whoever runs them: a root run of
// /usr/bin/kvel writes the user's (root's) own file, and nothing is left for the package
// manager to miss.
TEST(ResolveIniPathTest, SystemFoldersAreNeverTheSettingsFolder) {
  for (const char* folder : {"/usr/bin", "/usr/local/bin", "/opt/kvel/bin", "/bin", "/usr"}) {
    EXPECT_TRUE(IsSystemFolder(folder)) << folder;
  }
  for (const char* folder : {"/home/user/kvel", "/tmp/kvel", "/usrx/bin", "/optional"}) {
    EXPECT_FALSE(IsSystemFolder(folder)) << folder;
  }
  ::unsetenv("KVEL_INI_DIR");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string config = dir.path().toStdString() + "/config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(ResolveIniPath("/usr/bin"), config + "/kvel/KVEL_32.INI");
  // A link from a user's folder into a system folder is a system folder.
  const std::string link = dir.path().toStdString() + "/link";
  std::filesystem::create_directory_symlink("/usr/bin", link);
  EXPECT_TRUE(IsSystemFolder(link));
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST(ResolveIniPathTest, UnwritableExecutableFolderFallsBackToUserFolder) {
  ::unsetenv("KVEL_INI_DIR");
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const std::string config = home.path().toStdString() + "/config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  // A folder that does not exist cannot be written, for root too.
  const std::string resolved = ResolveIniPath(home.path().toStdString() + "/no/such/folder");
  EXPECT_EQ(resolved.rfind(config, 0), 0u) << resolved;
  EXPECT_EQ(std::filesystem::path(resolved).filename(), "KVEL_32.INI");
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST(UnitTypeTableTest, SectionsAreTheCaptionsWithoutBlanks) {
  const char* const sections[] = {"KQB1/RQM1",      "KQB2/RQM2", "HLVX",      "QN4100I",
                                  "MU/XMUIndexers", "GRV",       "Zorvdrive", "Ostrav24Emulator"};
  for (int type = 1; type <= kUnitTypeCount; ++type) {
    const UnitTypeInfo* info = FindUnitType(type);
    ASSERT_NE(info, nullptr);
    std::string section;
    for (const char* c = info->caption; *c != '\0'; ++c) {
      if (*c != ' ') section += *c;
    }
    EXPECT_EQ(section, sections[type - 1]);
    EXPECT_EQ(std::string(info->caption).rfind("  ", 0), 0u);
    EXPECT_LE(std::string(info->caption).size(), 20u);
  }
  EXPECT_EQ(FindUnitType(0), nullptr);
  EXPECT_EQ(FindUnitType(9), nullptr);
}

}  // namespace
