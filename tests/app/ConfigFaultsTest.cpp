// Settings files and logs that cannot be read or written: said once, and the program goes on.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMetaObject>
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
#include "ui/ErrorDisplay.h"
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

// At close a folder in place of the INI is a file that could not be written, said once.
TEST_F(ConfigFaultsTest, AtCloseAFolderInPlaceOfTheIniIsSaidAsAWriteFailure) {
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(IniPathInFolder())));
  TForm1& form = Start();
  boxes_.clear();
  form.close();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text,
            "Cannot write the INI file '" + IniPathInFolder() + "': Is a directory");
  EXPECT_FALSE(line_->IsOpen());
}

struct StartWarningRow {
  const char* name;
  bool iniIsFolder;  // warned while the window is created
  const char* ini;   // else this INI, warned while the window is shown
};

class StartWarningTest : public ConfigFaultsTest,
                         public ::testing::WithParamInterface<StartWarningRow> {};

// The operator reads a warning of the start for longer than Timer1's second: its tick must not
// start the receive poll inside the warning, before the port is open.
TEST_P(StartWarningTest, ATickWhileAStartWarningIsShownLeavesThePollForAfterTheShow) {
  if (GetParam().iniIsFolder) {
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(IniPathInFolder())));
  } else {
    WriteIni(GetParam().ini);
  }
  bool ticked = false;
  bool tickGiven = false;  // one tick, at the first box
  onBox_ = [&ticked, &tickGiven](const kvel::MessageBoxRequest&) {
    if (tickGiven) return;
    tickGiven = true;
    ticked = QMetaObject::invokeMethod(Form1->Timer1, "timeout");
  };
  form_ = std::make_unique<TForm1>();
  // Real ticks stay away from here on; the test gives its own.
  form_->Timer1->setInterval(3600 * 1000);
  form_->show();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  onBox_ = {};
  EXPECT_TRUE(ticked);
  ASSERT_EQ(boxes_.size(), 1u) << boxes_.back().text;
  EXPECT_TRUE(line_->IsOpen());
  EXPECT_EQ(Panel(0), " COM1 9600 8 None 1");
  // The tick was dropped, not taken: the timer still waits to start the poll, which reads.
  EXPECT_TRUE(form_->Timer1->isActive());
  std::string shown;
  form_->DisplayTap = [&shown](const std::string& text) { shown += text; };
  line_->Send("reply");
  QMetaObject::invokeMethod(form_->Timer1, "timeout");
  EXPECT_EQ(shown, "reply");
  EXPECT_EQ(boxes_.size(), 1u) << boxes_.back().text;
  EXPECT_FALSE(form_->Timer1->isActive());
}

INSTANTIATE_TEST_SUITE_P(Warnings, StartWarningTest,
                         ::testing::Values(StartWarningRow{"UnreadableIni", true, ""},
                                           StartWarningRow{"BadValue", false,
                                                           "[QN4100I]\r\nRepeat delay=soon\r\n"}),
                         [](const ::testing::TestParamInfo<StartWarningRow>& row) {
                           return std::string(row.param.name);
                         });

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    ::setenv(name, value.c_str(), 1);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { ::unsetenv(name_); }

 private:
  const char* name_;
};

enum class OpenFault { Busy, Missing, NoPermission };

class PortOpenFaultTest : public ConfigFaultsTest, public ::testing::WithParamInterface<OpenFault> {
 protected:
  // Makes COM1 fail to open as GetParam() says.
  void Prepare() {
    switch (GetParam()) {
      case OpenFault::Busy:
        ASSERT_EQ(line_->Open(&other_), 0);  // another program holds the line
        return;
      case OpenFault::Missing:
        kvel::UnregisterMemoryLine("COM1");
        env_ = std::make_unique<ScopedEnv>("KVEL_COM1", Folder() + "/ttyGONE0");
        return;
      case OpenFault::NoPermission: {
        if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
        kvel::UnregisterMemoryLine("COM1");
        const std::string device = Folder() + "/ttyLOCKED0";
        std::ofstream(device) << "";
        std::filesystem::permissions(device, std::filesystem::perms::none);
        env_ = std::make_unique<ScopedEnv>("KVEL_COM1", device);
        return;
      }
    }
  }
  std::unique_ptr<kvel::SerialDevice> other_;
  std::unique_ptr<ScopedEnv> env_;
};

// One clear error: the failed open is said once, and neither the poll on the closed port nor
// the close at Exit adds a box over it.
TEST_P(PortOpenFaultTest, AFailedOpenIsSaidOnceAndThePollAndExitAddNothing) {
  Prepare();
  if (IsSkipped()) return;
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to open com port (win error code: ", 0), 0u)
      << boxes_[0].text;
  EXPECT_FALSE(form.ComPort1.Connected());

  endPolls_ = false;
  clock_.ScheduleAt(clock_.NowMs() + 450, [] { RunFlag = 0; });
  kvel::Guarded([&form] { form.Timer1Timer(); });
  EXPECT_EQ(boxes_.size(), 1u) << boxes_.back().text;

  form.Exit1->trigger();
  ASSERT_EQ(boxes_.size(), 2u) << boxes_.back().text;
  EXPECT_EQ(boxes_[1].text, "You want really stop this program ?");
  EXPECT_TRUE(form.isHidden());
  EXPECT_NE(IniText().find("Control Type =4"), std::string::npos) << IniText();
  EXPECT_EQ(LogLines().rbegin()[1].rfind("KVEL closing : ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, PortOpenFaultTest,
                         ::testing::Values(OpenFault::Busy, OpenFault::Missing,
                                           OpenFault::NoPermission),
                         [](const ::testing::TestParamInfo<OpenFault>& row) {
                           switch (row.param) {
                             case OpenFault::Busy:
                               return std::string("Busy");
                             case OpenFault::Missing:
                               return std::string("Missing");
                             case OpenFault::NoPermission:
                               break;
                           }
                           return std::string("NoPermission");
                         });

// The poll that found the port closed takes it up once the operator has it opened, here by
// picking the unit type again after the other program let the line go.
TEST_F(ConfigFaultsTest, ThePollTakesThePortUpOnceItOpens) {
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  std::string shown;
  form.DisplayTap = [&shown](const std::string& text) { shown += text; };
  endPolls_ = false;
  const std::int64_t start = clock_.NowMs();
  clock_.ScheduleAt(start + 150, [&other] { other.reset(); });
  clock_.ScheduleAt(start + 250, [&form] { form.QN4100I1->trigger(); });
  clock_.ScheduleAt(start + 350, [this] { line_->Send("H23 answer"); });
  clock_.ScheduleAt(start + 600, [] { RunFlag = 0; });
  kvel::Guarded([&form] { form.Timer1Timer(); });
  EXPECT_EQ(boxes_.size(), 1u) << boxes_.back().text;
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(shown, "H23 answer");
  EXPECT_GE(clock_.NowMs(), start + 600);
}

struct LogFaultRow {
  const char* name;
  std::string logFile;  // relative names resolve in the test's folder
  const char* reason;
};

class TerminalLogFaultTest : public ConfigFaultsTest,
                             public ::testing::WithParamInterface<LogFaultRow> {};

// A log that cannot be written is never shown as on: each attempt to switch it on says why,
// once, and leaves it off.
TEST_P(TerminalLogFaultTest, ALogThatCannotBeWrittenStaysOffAndEachAttemptSaysWhy) {
  TForm1& form = Start();
  UnitType = 5;
  LogFileName = GetParam().logFile;
  form.SpeedButton3->click();
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");
  EXPECT_FALSE(form.LogOn);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Cannot write the terminal log file '" + LogFileName +
                                     "': " + GetParam().reason + "\n",
                                 0),
            0u)
      << boxes_[0].text;
  form.DisplayText("more");
  form.FormKeyPress(form.ComTerminal1, 'x');
  EXPECT_EQ(boxes_.size(), 1u);

  form.SpeedButton3->click();
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");
  form.DisplayText("more");
  EXPECT_EQ(boxes_.size(), 2u);
  // error.log stays silent: only the terminal log speaks up.
  EXPECT_EQ(BoxesWith("error.log"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TerminalLogFaultTest,
    ::testing::Values(LogFaultRow{"AFolder", ".", "Is a directory"},
                      LogFaultRow{"MissingFolder", "no/such/KVEL.LOG", "No such file or directory"},
                      LogFaultRow{"FullDisk", "/dev/full", "No space left on device"}),
    [](const ::testing::TestParamInfo<LogFaultRow>& row) { return std::string(row.param.name); });

// A log that stops taking bytes while it is on is switched off, and said once.
TEST_F(ConfigFaultsTest, ALogThatFailsWhileOnIsSwitchedOffAndSaidOnce) {
  TForm1& form = Start();
  UnitType = 5;
  std::filesystem::create_directory(Folder() + "/logs");
  LogFileName = "logs/KVEL.LOG";
  form.SpeedButton3->click();
  ASSERT_EQ(form.SpeedButton3->text().toStdString(), "Log is ON");
  std::filesystem::remove_all(Folder() + "/logs");
  form.DisplayText("lost");
  EXPECT_FALSE(form.LogOn);
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(
      boxes_[0].text.rfind(
          "Cannot write the terminal log file 'logs/KVEL.LOG': No such file or directory\n", 0),
      0u)
      << boxes_[0].text;
  form.DisplayText("more");
  form.FormKeyPress(form.ComTerminal1, 'x');
  EXPECT_EQ(boxes_.size(), 1u);
}

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
