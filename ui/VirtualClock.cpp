#include "VirtualClock.h"

#include <QCoreApplication>
#include <algorithm>
#include <utility>

namespace kvel {

VirtualClock::VirtualClock() = default;

VirtualClock::~VirtualClock() {
  if (&CurrentClock() == this) SetClock(nullptr);
}

void VirtualClock::Wait(int ms) {
  calls_.push_back(ms);
  Advance(ms);
}

int VirtualClock::WaitForActivity(int ms, const std::function<bool()>& woken) {
  const std::int64_t start = now_;
  const std::int64_t target = now_ + std::max(ms, 0);
  if (!woken()) {
    if (!scheduled_.empty() && scheduled_.begin()->first <= target) {
      RunEarliest();
    } else {
      now_ = std::max(now_, target);
    }
  }
  const int waited = static_cast<int>(now_ - start);
  calls_.push_back(waited);
  return waited;
}

void VirtualClock::ProcessMessages() {
  calls_.push_back(-1);
  if (processQtEvents_ && QCoreApplication::instance() != nullptr) {
    QCoreApplication::processEvents();
  }
  // By index and by copy: a hook may add hooks while it runs.
  for (std::size_t i = 0; i < hooks_.size(); ++i) {
    auto hook = hooks_[i];
    hook();
  }
}

void VirtualClock::RunEarliest() {
  auto entry = scheduled_.begin();
  now_ = std::max(now_, entry->first);
  // Taken out before it runs: the action may schedule or run others.
  auto action = std::move(entry->second);
  scheduled_.erase(entry);
  action();
}

void VirtualClock::ScheduleAt(std::int64_t atMs, std::function<void()> action) {
  scheduled_.emplace(atMs, std::move(action));
}

void VirtualClock::AddMessageHook(std::function<void()> hook) {
  hooks_.push_back(std::move(hook));
}

void VirtualClock::Advance(std::int64_t ms) {
  const std::int64_t target = now_ + std::max<std::int64_t>(ms, 0);
  // An action may schedule more actions or wait itself (a nested Advance); time never
  // goes back, and entries due at the same time run in the order they were scheduled.
  while (!scheduled_.empty() && scheduled_.begin()->first <= target) RunEarliest();
  now_ = std::max(now_, target);
}

}  // namespace kvel
