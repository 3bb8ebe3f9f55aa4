#include "Shutdown.h"

#include <atomic>

namespace kvel {
namespace {
std::atomic<bool> g_requested{false};
}  // namespace

bool ShutdownRequested() {
  return g_requested.load(std::memory_order_relaxed);
}

void RequestShutdown() {
  g_requested.store(true, std::memory_order_relaxed);
}

void ClearShutdownRequest() {
  g_requested.store(false, std::memory_order_relaxed);
}

}  // namespace kvel
