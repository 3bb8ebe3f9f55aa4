#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kvel {

// Turns SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl+C) into a call on the GUI thread, so
// that the program ends through its normal close path. The signal handler only writes the
// signal's number into a pipe; a socket notifier reads it in the event loop and calls the
// handler, once. One instance at a time; the previous signal actions return at its end.
class SignalCloser {
 public:
  explicit SignalCloser(std::function<void(int signal)> onSignal);
  ~SignalCloser();
  SignalCloser(const SignalCloser&) = delete;
  SignalCloser& operator=(const SignalCloser&) = delete;

 private:
  void Drain();

  std::function<void(int)> onSignal_;
  bool called_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kvel
