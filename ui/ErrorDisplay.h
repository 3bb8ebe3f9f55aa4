#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace kvel {

// The default error display: shows an exception's message in a message box with the
// caption "KVEL" and the error icon, and the program goes on.
void ShowException(const std::exception& error);

// Runs `action`; an exception that escapes it is shown by the default error display.
// For handlers that are called directly rather than through an event.
void Guarded(const std::function<void()>& action);

// The application object: an exception that escapes any event handler (menu, key,
// timer, dialog) is caught here and shown, at the innermost handler, so a nested
// loop beneath it goes on.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kvel
