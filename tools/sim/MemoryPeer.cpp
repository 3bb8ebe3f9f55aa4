#include "MemoryPeer.h"

namespace kvel::sim {

void MemoryPeer::OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) {
  line_.Receive(data, count, nowMs * 1000);
}

void MemoryPeer::Pump(kvel::MemoryLine& memoryLine, std::int64_t nowMs) {
  const Micros now = nowMs * 1000;
  if (line_.IsGone(now)) {
    if (!unplugged_) memoryLine.Unplug();
    unplugged_ = true;
    return;
  }
  const std::string due = line_.TakeDue(now);
  if (!due.empty()) memoryLine.Send(due);
}

}  // namespace kvel::sim
