#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QEventLoop;
class QObject;
class QWidget;

// How the main window waits between two reads of the port, and how it hands a file to the
// desktop: the two places where it meets the platform outside the ui layer.

class WaitWaker;

// Waits `ms` milliseconds for the receive poll. With the real clock the window's events are
// served while waiting, so typed keys go out and echo at once and the window repaints, and
// a `waker` can end the wait early; with a test clock this is a plain kvel::Wait.
void WaitServingEvents(int ms, WaitWaker* waker = nullptr);

// Waits at most `ms` milliseconds for anything to happen, serving the window's events
// meanwhile: ends when `waker` is woken (true is returned, and the wake is used up), or as
// soon as window events (a key, a timer tick, a repaint) have been served, or at the end of
// the time. With a test clock, its WaitForActivity stands for the wait.
bool WaitForActivity(int ms, WaitWaker& waker);

// Ends a WaitServingEvents early. Wake() may be called from any thread: the wait running on
// the GUI thread, or else the next one there, ends at once. Lives on the GUI thread; nobody
// may call Wake() once its destruction has begun.
class WaitWaker {
 public:
  WaitWaker();
  ~WaitWaker();
  WaitWaker(const WaitWaker&) = delete;
  WaitWaker& operator=(const WaitWaker&) = delete;
  void Wake();

 private:
  friend void WaitServingEvents(int ms, WaitWaker* waker);
  friend bool WaitForActivity(int ms, WaitWaker& waker);
  std::unique_ptr<QObject> context_;  // queued wake-ups are delivered to it, and die with it
  QEventLoop* loop_ = nullptr;        // the wait in progress
  // Set by Wake() on the waking thread itself, so that a wait can see it without the GUI
  // thread's events (a test clock runs none while it waits); used up by the wait it ends.
  std::atomic<bool> woken_{false};
};

// Asks the desktop to open `path` with the program registered for its type. When it has
// none (or there is no desktop), the file is shown read-only in a window of the program's
// own, over `owner`. While a hook is set (tests), it receives the path instead.
void OpenWithDesktop(const std::string& path, QWidget* owner = nullptr);
void SetOpenFileHook(std::function<void(const std::string&)> hook);
// Stands in for the desktop's answer (tests): true when a program took the file.
void SetDesktopOpener(std::function<bool(const std::string&)> opener);
