#pragma once

#include <cstdint>
#include <functional>

namespace kvel {

// The one place through which the program waits and lets the GUI handle pending
// window messages. Tests install a VirtualClock so that dialogues with fixed waits
// run in milliseconds and deterministically.
class Clock {
 public:
  virtual ~Clock() = default;
  // A plain sleep of the calling (GUI) thread: nothing repaints or reacts meanwhile.
  virtual void Wait(int ms) = 0;
  // Waits at most `ms` for something to happen. A clock that plays out what happens
  // meanwhile (a test clock) ends the wait once any of it has happened or once `woken`
  // holds; this one simply waits the whole time. Returns the milliseconds waited.
  virtual int WaitForActivity(int ms, const std::function<bool()>& woken) {
    (void)woken;
    Wait(ms);
    return ms;
  }
  // Runs the handlers of all pending window messages, nested inside the caller.
  virtual void ProcessMessages() = 0;
  // Monotonic milliseconds since an arbitrary origin.
  virtual std::int64_t NowMs() = 0;
};

// The clock in force; the real clock unless a test has installed another.
Clock& CurrentClock();
// Installs `clock` (not owned); nullptr restores the real clock.
void SetClock(Clock* clock);
// The real clock: sleeps the thread, pumps the Qt event loop, reads the steady clock.
Clock& SystemClock();

inline void Wait(int ms) {
  CurrentClock().Wait(ms);
}
// How many message steps run at this moment, one nested in the other (GUI thread only): 0 when
// no handler of the program is waiting on a message step further down the stack.
int MessageStepDepth();
namespace detail {
struct MessageStep {
  MessageStep();
  ~MessageStep();
  MessageStep(const MessageStep&) = delete;
  MessageStep& operator=(const MessageStep&) = delete;
};
}  // namespace detail
inline void ProcessMessages() {
  const detail::MessageStep step;
  CurrentClock().ProcessMessages();
}
inline std::int64_t NowMs() {
  return CurrentClock().NowMs();
}

}  // namespace kvel
