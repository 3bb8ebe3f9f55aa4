#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "MemoryLine.h"

namespace kvel::test {

// A far end that follows a script: when the host has written the next expected bytes,
// the reply goes onto the line once `delayMs` of line time have passed.
class ScriptedPeer : public MemoryLine::Peer {
 public:
  void Expect(const std::string& hostBytes, const std::string& reply, std::int64_t delayMs = 0);

  void OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) override;
  void Pump(MemoryLine& line, std::int64_t nowMs) override;

  // Every expectation met and every reply sent.
  bool Done() const;
  // Host bytes that came before the expected ones, or after the script ended.
  std::string Unexpected() const;

 private:
  struct Step {
    std::string expect;
    std::string reply;
    std::int64_t delayMs;
  };
  struct Due {
    std::int64_t atMs;
    std::string reply;
  };
  mutable std::mutex mutex_;
  std::deque<Step> script_;
  std::vector<Due> due_;
  std::string pending_;
  std::string unexpected_;
};

}  // namespace kvel::test
