#include "ScriptedPeer.h"

namespace kvel::test {

void ScriptedPeer::Expect(const std::string& hostBytes, const std::string& reply,
                          std::int64_t delayMs) {
  std::lock_guard lock(mutex_);
  script_.push_back({hostBytes, reply, delayMs});
}

void ScriptedPeer::OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) {
  std::lock_guard lock(mutex_);
  pending_.append(reinterpret_cast<const char*>(data), count);
  while (!script_.empty()) {
    const Step& step = script_.front();
    const auto at = pending_.find(step.expect);
    if (at == std::string::npos) return;
    unexpected_ += pending_.substr(0, at);
    pending_.erase(0, at + step.expect.size());
    due_.push_back({nowMs + step.delayMs, step.reply});
    script_.pop_front();
  }
  unexpected_ += pending_;
  pending_.clear();
}

void ScriptedPeer::Pump(MemoryLine& line, std::int64_t nowMs) {
  std::vector<std::string> send;
  {
    std::lock_guard lock(mutex_);
    for (auto it = due_.begin(); it != due_.end();) {
      if (it->atMs <= nowMs) {
        send.push_back(it->reply);
        it = due_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const std::string& reply : send) line.Send(reply);
}

bool ScriptedPeer::Done() const {
  std::lock_guard lock(mutex_);
  return script_.empty() && due_.empty();
}

std::string ScriptedPeer::Unexpected() const {
  std::lock_guard lock(mutex_);
  return unexpected_;
}

}  // namespace kvel::test
