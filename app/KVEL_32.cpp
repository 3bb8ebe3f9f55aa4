#include "KVEL_32.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "KVELUnit1.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

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

}  // namespace

void ShowOtherInstanceMessage(kvel::SingleInstance::Outcome outcome) {
  const char* text = outcome == kvel::SingleInstance::Outcome::OtherRestored
                         ? "ShowWindow(hw,SW_Restore);"
                         : "SetForeGroundWindow(hw);";
  kvel::ShowMessageBox(nullptr, text, "mesaage", kvel::MsgIcon::Information);
}

int KVEL_32(int argc, char** argv) {
  kvel::Application application(argc, argv);
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
  form.show();
  return QApplication::exec();
}
