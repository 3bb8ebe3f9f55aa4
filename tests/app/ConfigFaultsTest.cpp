// Settings files and logs that cannot be read or written: said once, and the program goes on.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "KVEL_32.h"
#include "KVEL_Events.h"
#include "KVEL_Help.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/HelpViewer.h"
#include "ui/IniFile.h"

namespace {

class ConfigFaultsTest : public AppTest {
 protected:
  std::size_t BoxesWith(const std::string& part) const {
    return static_cast<std::size_t>(
        std::count_if(boxes_.begin(), boxes_.end(), [&part](const kvel::MessageBoxRequest& box) {
          return box.text.find(part) != std::string::npos;
        }));
  }
};

TEST_F(ConfigFaultsTest, AFolderInPlaceOfTheIniIsSaidOnceAndTheDefaultsWork) {
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(IniPathInFolder())));
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Cannot read the INI file '" + IniPathInFolder() + "'", 0), 0u)
      << boxes_[0].text;
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Warning);
  EXPECT_EQ(UnitType, 4);
  EXPECT_TRUE(line_->IsOpen());
  EXPECT_EQ(Caption(), " KVEL      QN4100I");
  form.MUXMU1->trigger();
  EXPECT_EQ(boxes_.size(), 1u);

  // The close cannot save, says so once, and still ends properly.
  form.close();
  EXPECT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(BoxesWith(IniPathInFolder()), 2u);
  EXPECT_FALSE(line_->IsOpen());
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("KVEL closing : ", 0), 0u);
}

struct LogFaultRow {
  const char* name;
  std::string logFile;  // relative names resolve in the test's folder
};

class TerminalLogFaultTest : public ConfigFaultsTest,
                             public ::testing::WithParamInterface<LogFaultRow> {};

TEST_P(TerminalLogFaultTest, FirstFailedWriteAfterSwitchingOnIsShownOnce) {
  TForm1& form = Start();
  UnitType = 5;
  LogFileName = GetParam().logFile;
  form.SpeedButton3->click();
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is ON");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Cannot write the terminal log file '" + LogFileName + "': ", 0),
            0u)
      << boxes_[0].text;
  form.DisplayText("more");
  form.FormKeyPress(form.ComTerminal1, 'x');
  EXPECT_EQ(boxes_.size(), 1u);

  // Switched off and on again, a log that still fails is said again, once.
  form.SpeedButton3->click();
  form.SpeedButton3->click();
  form.DisplayText("more");
  EXPECT_EQ(boxes_.size(), 2u);
  // error.log stays silent: only the terminal log speaks up.
  EXPECT_EQ(BoxesWith("error.log"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, TerminalLogFaultTest,
                         ::testing::Values(LogFaultRow{"AFolder", "."},
                                           LogFaultRow{"MissingFolder", "no/such/KVEL.LOG"},
                                           LogFaultRow{"FullDisk", "/dev/full"}),
                         [](const ::testing::TestParamInfo<LogFaultRow>& row) {
                           return std::string(row.param.name);
                         });

TEST_F(ConfigFaultsTest, AWorkingLogSaysNothing) {
  TForm1& form = Start();
  UnitType = 5;
  form.SpeedButton3->click();
  form.DisplayText("fine");
  form.SpeedButton3->click();
  EXPECT_TRUE(boxes_.empty());
}

// With no program for the file on the desktop, "View log file" shows it in a window of its own.
TEST_F(ConfigFaultsTest, ViewLogFileWithoutADesktopProgramShowsTheLogReadOnly) {
  TForm1& form = Start();
  const std::string log = Folder() + "/KVEL.LOG";
  std::ofstream(log, std::ios::binary) << "H23\r\n\xB5 step\r\n";
  std::vector<std::string> asked;
  SetDesktopOpener([&asked](const std::string& path) {
    asked.push_back(path);
    return false;
  });
  kvel::SetFileDialogHook([&log](const kvel::FileDialogRequest&) { return log; });
  form.Viewlogfile1Click();
  kvel::SetFileDialogHook({});
  SetDesktopOpener({});
  EXPECT_EQ(asked, std::vector<std::string>{log});
  auto* viewer = form.findChild<QWidget*>(QStringLiteral("textViewer"));
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  auto* text = viewer->findChild<QPlainTextEdit*>(QStringLiteral("textViewerText"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->isReadOnly());
  EXPECT_EQ(text->toPlainText(), QString::fromLatin1("H23\n\xB5 step\n"));
  QTest::keyClick(text, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_EQ(form.findChild<QWidget*>(QStringLiteral("textViewer")), nullptr);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigFaultsTest, AboutPageNamesTheVersionAndTheSettingsFileInUse) {
  Start();
  const std::string& about = kvel::HelpViewer::Instance().Pages().at(kAboutHelpContext).html;
  EXPECT_NE(about.find("Version " + std::string(KvelVersion())), std::string::npos) << about;
  EXPECT_NE(about.find(IniPathInFolder()), std::string::npos) << about;
  EXPECT_FALSE(ProgramIcon().availableSizes().empty());
}

// An INI beside the program that cannot be written is read, and seeds the user's own file.
TEST(IniLocationTest, AReadOnlyIniBesideTheProgramIsReadAndSeedsTheUsersFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ::unsetenv("KVEL_INI_DIR");
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string program = root.path().toStdString() + "/bin";
  std::filesystem::create_directories(program);
  std::ofstream(program + "/KVEL_32.INI", std::ios::binary) << "[S]\r\nk=installed\r\n";
  std::filesystem::permissions(
      program, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string config = root.path().toStdString() + "/config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const std::string resolved = ResolveIniPath(program);
  EXPECT_EQ(resolved, config + "/kvel/KVEL_32.INI");
  kvel::IniFile ini(resolved);
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "installed");
  ini.WriteString("S", "j", "mine");
  EXPECT_EQ(ReadFile(resolved), "[S]\r\nk=installed\r\nj=mine\r\n");
  kvel::IniFile::SetFallback(resolved, "");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
