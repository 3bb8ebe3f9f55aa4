#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include "TestFiles.h"

namespace {

// Closes both ends of a pseudo-terminal that stands in for COM1.
struct Pty {
  Pty() {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  int master = -1;
  int slave = -1;
  std::string path;
};

// Stops the process it holds (the first instance) at the end of the test.
struct Running {
  QProcess process;
  ~Running() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
};

bool WaitFor(const std::function<bool()>& condition, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QThread::msleep(50);
  }
  return true;
}

TEST(TwoProcessTest, SecondStartRaisesTheFirstAndLeavesNoFiles) {
  int argc = 1;
  char name[] = "kvel_app_process_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString home = root.filePath(QStringLiteral("home"));
  const QString first = root.filePath(QStringLiteral("first"));
  const QString second = root.filePath(QStringLiteral("second"));
  const QString temp = root.filePath(QStringLiteral("tmp"));
  for (const QString& dir : {home, first, second, temp}) {
    std::filesystem::create_directories(dir.toStdString());
  }
  Pty pty;
  ASSERT_FALSE(pty.path.empty());

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  env.insert(QStringLiteral("TMPDIR"), temp);
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("KVEL_AUTO_DIALOGS"), QStringLiteral("1"));
  env.insert(QStringLiteral("KVEL_INSTANCE_KEY"),
             QStringLiteral("kvel-test-%1").arg(QCoreApplication::applicationPid()));
  env.insert(QStringLiteral("KVEL_COM1"), QString::fromStdString(pty.path));

  Running firstRun;
  QProcessEnvironment firstEnv = env;
  firstEnv.insert(QStringLiteral("KVEL_INI_DIR"), first);
  firstRun.process.setProcessEnvironment(firstEnv);
  firstRun.process.setWorkingDirectory(first);
  firstRun.process.start(QStringLiteral(KVEL_BINARY), {});
  ASSERT_TRUE(firstRun.process.waitForStarted(10000));
  const std::string firstLog = first.toStdString() + "/error.log";
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(firstLog).find("form create end") != std::string::npos; }, 30000))
      << firstRun.process.readAllStandardError().toStdString();

  QProcess secondRun;
  QProcessEnvironment secondEnv = env;
  secondEnv.insert(QStringLiteral("KVEL_INI_DIR"), second);
  secondRun.setProcessEnvironment(secondEnv);
  secondRun.setWorkingDirectory(second);
  secondRun.start(QStringLiteral(KVEL_BINARY), {});
  ASSERT_TRUE(secondRun.waitForFinished(30000));
  EXPECT_EQ(secondRun.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(secondRun.exitCode(), 0);
  const std::string said = secondRun.readAllStandardError().toStdString();
  EXPECT_NE(said.find("mesaage: SetForeGroundWindow(hw);"), std::string::npos) << said;

  EXPECT_TRUE(std::filesystem::is_empty(second.toStdString()));
  EXPECT_FALSE(std::filesystem::exists(home.toStdString() + "/.config/kvel"));
  EXPECT_EQ(firstRun.process.state(), QProcess::Running);
  EXPECT_FALSE(std::filesystem::exists(first.toStdString() + "/KVEL_32.INI"));
}

}  // namespace

// Started without a display, the program says so in one line and ends with status 1 (Qt alone
// would abort); an answer to --help or --version that cannot be written is a failure.
TEST(ProgramAnswers, NoDisplayAndUnwritableOutputAreFailures) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string said = root.filePath(QStringLiteral("said")).toStdString();
  const std::string noDisplay = "cd " + root.path().toStdString() +
                                " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "KVEL_INSTANCE_KEY=kvel-nodisplay-test " KVEL_BINARY " 2>" +
                                said;
  const int status = std::system(noDisplay.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string text = ReadFile(said);
  EXPECT_EQ(text.rfind("kvel: no display", 0), 0U) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  std::filesystem::remove(said);
  EXPECT_TRUE(std::filesystem::is_empty(root.path().toStdString()));
  for (const char* option : {"--version", "--help"}) {
    const std::string full = std::string(KVEL_BINARY) + " " + option + " >/dev/full";
    const int answer = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(answer) && WEXITSTATUS(answer) != 0) << option;
  }
}

namespace {

struct SignalRow {
  const char* name;
  int signal;
};

class SignalShutdownTest : public ::testing::TestWithParam<SignalRow> {};

// A termination signal ends the program the way its close box does: settings saved, the
// port and its lock file released, error.log closed. --version and --help meanwhile answer
// without a display, without the running instance and without touching a file.
TEST_P(SignalShutdownTest, EndsThroughTheNormalClose) {
  int argc = 1;
  char name[] = "kvel_app_process_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString home = root.filePath(QStringLiteral("home"));
  const QString work = root.filePath(QStringLiteral("work"));
  const QString quiet = root.filePath(QStringLiteral("quiet"));
  for (const QString& dir : {home, work, quiet})
    std::filesystem::create_directories(dir.toStdString());
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  const std::string lockFile =
      "/var/lock/LCK.." + std::filesystem::path(pty.path).filename().string();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  env.insert(QStringLiteral("KVEL_INSTANCE_KEY"),
             QStringLiteral("kvel-signal-%1").arg(QCoreApplication::applicationPid()));
  env.insert(QStringLiteral("KVEL_COM1"), QString::fromStdString(pty.path));
  env.insert(QStringLiteral("KVEL_INI_DIR"), work);
  QProcessEnvironment withDisplay = env;
  withDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  withDisplay.insert(QStringLiteral("KVEL_AUTO_DIALOGS"), QStringLiteral("1"));

  Running run;
  run.process.setProcessEnvironment(withDisplay);
  run.process.setWorkingDirectory(work);
  run.process.start(QStringLiteral(KVEL_BINARY), {});
  ASSERT_TRUE(run.process.waitForStarted(10000));
  const std::string log = work.toStdString() + "/error.log";
  ASSERT_TRUE(
      WaitFor([&] { return ReadFile(log).find("form show end") != std::string::npos; }, 30000))
      << run.process.readAllStandardError().toStdString();
  const bool locked = std::filesystem::exists(lockFile);

  QProcessEnvironment noDisplay = env;
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    noDisplay.remove(QString::fromLatin1(variable));
  }
  for (const char* argument : {"--version", "--help"}) {
    QProcess answer;
    answer.setProcessEnvironment(noDisplay);
    answer.setWorkingDirectory(quiet);
    answer.start(QStringLiteral(KVEL_BINARY), {QString::fromLatin1(argument)});
    ASSERT_TRUE(answer.waitForFinished(30000));
    EXPECT_EQ(answer.exitCode(), 0) << argument;
    const std::string said = answer.readAllStandardOutput().toStdString();
    if (std::string(argument) == "--version") {
      EXPECT_EQ(said, "kvel " KVEL_VERSION_TEXT "\n");
    } else {
      EXPECT_NE(said.find("KVEL_COM<n>"), std::string::npos) << said;
      EXPECT_NE(said.find("KVEL_INI_DIR"), std::string::npos) << said;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(quiet.toStdString()));
  ASSERT_EQ(run.process.state(), QProcess::Running);

  // The signal arrives while the receive poll runs (it starts a second after the show), so
  // the close begins inside its nested loop, as it does in use.
  QThread::msleep(1500);
  ASSERT_EQ(::kill(static_cast<pid_t>(run.process.processId()), GetParam().signal), 0);
  ASSERT_TRUE(run.process.waitForFinished(30000));
  EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.process.exitCode(), 0);
  EXPECT_TRUE(locked) << lockFile;
  EXPECT_FALSE(std::filesystem::exists(lockFile)) << lockFile;
  const std::string ini = ReadFile(work.toStdString() + "/KVEL_32.INI");
  EXPECT_NE(ini.find("[MainSection]\r\nControl Type =4\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[QN4100I]\r\nCOMPort=1\r\n"), std::string::npos) << ini;
  const std::string text = ReadFile(log);
  const std::size_t closing = text.rfind("KVEL closing : ");
  ASSERT_NE(closing, std::string::npos) << text;
  EXPECT_EQ(text.substr(text.find("\r\n", closing)), "\r\n \r\n");
}

// A box that waits for the user (here: the port named for COM1 does not exist) does not keep
// the program alive: the signal closes it, no further box is waited for, and the program ends
// through its normal close.
TEST_P(SignalShutdownTest, EndsWhileAMessageBoxWaits) {
  int argc = 1;
  char name[] = "kvel_app_process_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString home = root.filePath(QStringLiteral("home"));
  const QString work = root.filePath(QStringLiteral("work"));
  for (const QString& dir : {home, work}) std::filesystem::create_directories(dir.toStdString());

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  env.insert(QStringLiteral("KVEL_INSTANCE_KEY"),
             QStringLiteral("kvel-box-%1").arg(QCoreApplication::applicationPid()));
  env.insert(QStringLiteral("KVEL_COM1"), root.filePath(QStringLiteral("no-such-tty")));
  env.insert(QStringLiteral("KVEL_INI_DIR"), work);
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.remove(QStringLiteral("KVEL_AUTO_DIALOGS"));

  Running run;
  run.process.setProcessEnvironment(env);
  run.process.setWorkingDirectory(work);
  run.process.start(QStringLiteral(KVEL_BINARY), {});
  ASSERT_TRUE(run.process.waitForStarted(10000));
  const std::string log = work.toStdString() + "/error.log";
  ASSERT_TRUE(
      WaitFor([&] { return ReadFile(log).find("form show start") != std::string::npos; }, 30000));
  // The box about the port is up by now and waits; the program does not end on its own.
  QThread::msleep(1500);
  ASSERT_EQ(run.process.state(), QProcess::Running);
  ASSERT_EQ(::kill(static_cast<pid_t>(run.process.processId()), GetParam().signal), 0);
  ASSERT_TRUE(run.process.waitForFinished(30000));
  EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.process.exitCode(), 0);
  EXPECT_NE(ReadFile(work.toStdString() + "/KVEL_32.INI").find("[MainSection]"), std::string::npos);
  const std::string text = ReadFile(log);
  const std::size_t closing = text.rfind("KVEL closing : ");
  ASSERT_NE(closing, std::string::npos) << text;
  EXPECT_EQ(text.substr(text.find("\r\n", closing)), "\r\n \r\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalShutdownTest,
                         ::testing::Values(SignalRow{"Term", SIGTERM}, SignalRow{"Int", SIGINT},
                                           SignalRow{"Hup", SIGHUP}),
                         [](const ::testing::TestParamInfo<SignalRow>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
