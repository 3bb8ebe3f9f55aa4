#include "ErrorDisplay.h"

#include <cstdio>
#include <stdexcept>

#include "AccessibleNames.h"
#include "Dialogs.h"

namespace kvel {
namespace {

// The display itself must not throw out of notify(): Qt cannot unwind through its
// event dispatch. Should showing fail, the message goes to standard error instead.
void ShowSafely(const std::exception& error) noexcept {
  try {
    ShowException(error);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "KVEL: %s (the error display failed: %s)\n", error.what(), failure.what());
  } catch (...) {
    std::fprintf(stderr, "KVEL: %s\n", error.what());
  }
}

void ShowCurrent() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowSafely(error);
  } catch (...) {
    ShowSafely(std::runtime_error("Unknown error"));
  }
}

// Platform settings the program's drawing is made for, in force before the platform loads.
int& WithPlatformDefaults(int& argc) {
  // Shared-memory images cost the X server's completion event, and so two wake-ups of the
  // program, for every paint, the caret's blink included. The terminal draws at most a frame
  // at a time, which the plain transfer carries as well. A choice in the environment stays.
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
  return argc;
}

}  // namespace

void ShowException(const std::exception& error) {
  ShowMessageBox(QApplication::activeWindow(), error.what(), "KVEL", MsgIcon::Error,
                 MsgButtons::Ok);
}

void Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    ShowCurrent();
  }
}

Application::Application(int& argc, char** argv) : QApplication(WithPlatformDefaults(argc), argv) {
  InstallAccessibilityPreparation(this);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrent();
  }
  return false;
}

}  // namespace kvel
