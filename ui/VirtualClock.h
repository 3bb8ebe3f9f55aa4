#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "Clock.h"

namespace kvel {

// A clock for tests: Wait advances virtual time at once and runs what is scheduled
// up to the new time; ProcessMessages runs the hooks a test installed (for example
// "press Cancel at 500 ms") and, when a Qt application exists, its pending events.
class VirtualClock : public Clock {
 public:
  VirtualClock();
  ~VirtualClock() override;  // uninstalls itself if it is the clock in force

  void Wait(int ms) override;
  // Advances until the first scheduled action has run (which stands for anything that
  // happens meanwhile: a message, a byte arriving) or `woken` holds, at most `ms`; recorded
  // in Calls() as the milliseconds it took.
  int WaitForActivity(int ms, const std::function<bool()>& woken) override;
  void ProcessMessages() override;
  std::int64_t NowMs() override { return now_; }

  // Runs `action` once virtual time reaches `atMs` (during a Wait or Advance).
  void ScheduleAt(std::int64_t atMs, std::function<void()> action);
  // Runs `hook` at every ProcessMessages call, after the Qt events.
  void AddMessageHook(std::function<void()> hook);
  // Moves time forward as a Wait would.
  void Advance(std::int64_t ms);
  // Whether ProcessMessages also runs QCoreApplication::processEvents (default true).
  void SetProcessQtEvents(bool on) { processQtEvents_ = on; }

  // Every Wait and ProcessMessages call in order, for transcript assertions:
  // a Wait is recorded as its milliseconds, ProcessMessages as -1.
  const std::vector<int>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

 private:
  // Runs the earliest scheduled action, the time moved on to it.
  void RunEarliest();
  std::int64_t now_ = 0;
  std::multimap<std::int64_t, std::function<void()>> scheduled_;
  std::vector<std::function<void()>> hooks_;
  std::vector<int> calls_;
  bool processQtEvents_ = true;
};

}  // namespace kvel
