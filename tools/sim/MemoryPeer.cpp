#include "MemoryPeer.h"

namespace kvel::sim {

void MemoryPeer::OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) {
  std::lock_guard lock(mutex_);
  line_.Receive(data, count, nowMs * 1000);
}

void MemoryPeer::Pump(kvel::MemoryLine& memoryLine, std::int64_t nowMs) {
  std::lock_guard handOver(handOverMutex_);
  std::string due;
  bool unplug = false;
  {
    std::lock_guard lock(mutex_);
    const Micros now = nowMs * 1000;
    if (line_.IsGone(now)) {
      unplug = !unplugged_;
      unplugged_ = true;
    } else {
      due = line_.TakeDue(now);
    }
  }
  // Outside the line's lock: the memory line takes its own.
  if (unplug) memoryLine.Unplug();
  if (!due.empty()) memoryLine.Send(due);
}

}  // namespace kvel::sim
