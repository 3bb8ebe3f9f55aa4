#pragma once

#include "Line.h"
#include "serial/MemoryLine.h"

namespace kvel::sim {

// Puts a simulated line at the far end of an in-memory line, in the line's (virtual) time.
class MemoryPeer : public kvel::MemoryLine::Peer {
 public:
  explicit MemoryPeer(Line& line) : line_(line) {}

  void OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) override;
  void Pump(kvel::MemoryLine& memoryLine, std::int64_t nowMs) override;

 private:
  Line& line_;
  bool unplugged_ = false;
};

}  // namespace kvel::sim
