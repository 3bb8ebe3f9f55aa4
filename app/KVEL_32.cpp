#include "KVEL_32.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include <QIcon>

#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "ui/Dialogs.h"
#include "ui/DisplayCheck.h"
#include "ui/ErrorDisplay.h"
#include "ui/SignalCloser.h"

namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// For unattended runs (KVEL_AUTO_DIALOGS=1): message boxes are written to standard error and
// answered with their first button; file dialogs are cancelled.
void InstallAutomaticDialogs() {
  kvel::SetMessageBoxHook([](const kvel::MessageBoxRequest& request) {
    std::cerr << request.caption << ": " << request.text << std::endl;
    return request.buttons == kvel::MsgButtons::Ok || request.buttons == kvel::MsgButtons::OkCancel
               ? kvel::MsgResult::Ok
               : kvel::MsgResult::Yes;
  });
  kvel::SetFileDialogHook(
      [](const kvel::FileDialogRequest&) { return std::optional<std::string>(); });
}

constexpr const char* kUsage =
    "Usage: kvel [--help | --version]\n"
    "\n"
    "KVEL is a terminal and service tool for programmable motion controllers (step-motor\n"
    "indexers, servo drives, motion controls) on an RS-232 line. Only one KVEL runs at a\n"
    "time; a later start brings the running one to the front.\n"
    "\n"
    "Serial ports are named COM1, COM2, ... in the program. COM<n> is the device named by\n"
    "  KVEL_COM<n>             environment variable, e.g. KVEL_COM1=/dev/ttyUSB0\n"
    "  ~/.config/kvel/ports.map  lines like COM3=/dev/serial/by-id/...\n"
    "or else the n-th serial device present (ttyS ports first, then USB and ACM adapters).\n"
    "\n"
    "Files:\n"
    "  KVEL_32.INI   the settings of each unit type, in ~/.config/kvel/ (a writable copy\n"
    "                next to a program outside the system folders is used instead);\n"
    "                KVEL_INI_DIR names another folder\n"
    "  error.log, the terminal log (KVEL.LOG), LPARAM.TXT\n"
    "                written in the current folder\n"
    "\n"
    "  --help        show this text and end\n"
    "  --version     show the version and end\n";

// The arguments that answer at once, before any window, display or file: true when one did.
bool AnswerArguments(int argc, char** argv, int& exitCode) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--version") {
      std::cout << "kvel " << KvelVersion() << '\n' << std::flush;
      exitCode = std::cout ? 0 : 1;
      return true;
    }
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      std::cout.flush();
      exitCode = std::cout ? 0 : 1;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* KvelVersion() {
  return KVEL_VERSION;
}

void SetPlatformDefaults() {
  // Shared-memory images cost the X server's completion event, and so two wake-ups of the
  // program, for every paint, the caret's blink included. The terminal draws at most a frame
  // at a time, which the plain transfer carries as well.
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
}

QIcon ProgramIcon() {
  // The images are linked in from a static library: registered here, where they are used.
  Q_INIT_RESOURCE(kvel);
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/kvel/kvel-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

void ShowOtherInstanceMessage(kvel::SingleInstance::Outcome outcome) {
  const char* text = outcome == kvel::SingleInstance::Outcome::OtherRestored
                         ? "ShowWindow(hw,SW_Restore);"
                         : "SetForeGroundWindow(hw);";
  kvel::ShowMessageBox(nullptr, text, "mesaage", kvel::MsgIcon::Information);
}

int KVEL_32(int argc, char** argv) {
  if (int exitCode = 0; AnswerArguments(argc, argv, exitCode)) return exitCode;
  if (const std::string missing = kvel::MissingDisplay(argc, argv); !missing.empty()) {
    std::cerr << "kvel: " << missing << std::endl;
    return 1;
  }
  SetPlatformDefaults();
  kvel::Application application(argc, argv);
  QCoreApplication::setApplicationVersion(QString::fromLatin1(KvelVersion()));
  QGuiApplication::setDesktopFileName(QStringLiteral(KVEL_APP_ID));
  QApplication::setWindowIcon(ProgramIcon());
  if (EnvOr("KVEL_AUTO_DIALOGS", "") == "1") InstallAutomaticDialogs();

  // Nothing may touch a file before this check: a second start leaves no trace.
  kvel::SingleInstance instance(EnvOr("KVEL_INSTANCE_KEY", "KVEL"));
  kvel::SingleInstance::Outcome outcome = kvel::SingleInstance::Outcome::First;
  try {
    outcome = instance.Acquire();
  } catch (const std::exception& error) {
    kvel::ShowException(error);
    return 1;
  }
  if (outcome != kvel::SingleInstance::Outcome::First) {
    ShowOtherInstanceMessage(outcome);
    return 0;
  }

  QCoreApplication::setApplicationName(QStringLiteral("KVEL"));
  TForm1 form;
  instance.SetRaiseHandler([&form] { return form.RaiseForOtherStart(); });
  // A termination signal ends the program as its close box does, also while a dialogue runs or a
  // message box waits: the dialogue stops as its Cancel does, and no box is shown any more.
  const kvel::SignalCloser closer([&form](int) { form.EndProgram(); });
  form.show();
  return QApplication::exec();
}
