#pragma once

#include <mutex>

#include "Line.h"
#include "MemoryLine.h"

namespace kvel::sim {

// Puts a simulated line at the far end of an in-memory line, in the line's (virtual) time.
// The port may pump from its event thread as well as from the caller's, hence the lock.
class MemoryPeer : public kvel::MemoryLine::Peer {
 public:
  explicit MemoryPeer(Line& line) : line_(line) {}

  void OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) override;
  void Pump(kvel::MemoryLine& memoryLine, std::int64_t nowMs) override;

  // Runs `f` with the line while no transfer is in progress (for assertions).
  template <typename F>
  auto WithLine(F&& f) {
    std::lock_guard lock(mutex_);
    return f(line_);
  }

 private:
  // Held from taking the due bytes until the memory line has them: two threads that pump at
  // once must hand their pieces over in the order they took them, or the host would read a
  // later piece before an earlier one.
  std::mutex handOverMutex_;
  std::mutex mutex_;
  Line& line_;
  bool unplugged_ = false;
};

}  // namespace kvel::sim
