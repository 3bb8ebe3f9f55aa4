#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace kvel {

// Callbacks that run when their owner is destroyed, so that objects keeping a pointer to
// it (a setting selector bound to a port) drop that pointer in time. Each holder has at
// most one notice, found by its address.
class DestroyNotices {
 public:
  DestroyNotices() = default;
  DestroyNotices(const DestroyNotices&) = delete;
  DestroyNotices& operator=(const DestroyNotices&) = delete;
  ~DestroyNotices() {
    // A notice may remove others; the list is taken first.
    auto notices = std::move(notices_);
    notices_.clear();
    for (auto& entry : notices) entry.second();
  }

  void Add(const void* holder, std::function<void()> notice) {
    Remove(holder);
    notices_.emplace_back(holder, std::move(notice));
  }
  void Remove(const void* holder) {
    std::erase_if(notices_, [holder](const auto& entry) { return entry.first == holder; });
  }

 private:
  std::vector<std::pair<const void*, std::function<void()>>> notices_;
};

}  // namespace kvel
