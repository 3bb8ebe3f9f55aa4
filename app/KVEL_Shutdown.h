#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

// Ends the program from wherever it stands: a termination signal, or the main window closed
// while a dialogue or a test window runs. Every running loop is asked to stop as its Cancel
// does (RunFlag 0, the shutdown request), the menus and modal windows above the main window
// are closed, and once the stack has unwound to the main loop the main window is closed
// through its normal close path (settings, port, lock file, closing line). A window that does
// not return within the grace time is not waited for: the close steps run where the program
// stands, and the process ends.
class ProgramCloser : public QObject {
 public:
  // `closeMainWindow` is the normal close; `forceEnd` runs the close steps and ends the process.
  ProgramCloser(QWidget& mainWindow, std::function<void()> forceEnd);

  // Starts the end (a second request changes nothing). Returns at once; the steps run from
  // the event loop, also from the nested loops of a running dialogue.
  void Request();
  bool Requested() const { return requested_; }

  // True when nothing of the program is running beneath the caller: no modal window, no
  // nested event loop, no message step of a dialogue, and the main window enabled.
  bool MayCloseNow() const;

  static constexpr int kStepMs = 20;
  // Modal windows still up after this are hidden; after the grace time the process ends.
  static constexpr int kHideAfterMs = 1000;
  static constexpr int kGraceMs = 1600;

 private:
  void Step();

  QWidget& mainWindow_;
  std::function<void()> forceEnd_;
  QTimer timer_;
  std::int64_t startedMs_ = 0;
  bool requested_ = false;
  bool forced_ = false;
  std::vector<QPointer<QWidget>> rejected_;
};
