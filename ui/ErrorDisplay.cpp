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

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
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
