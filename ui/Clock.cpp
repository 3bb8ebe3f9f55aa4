#include "Clock.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>

namespace kvel {
namespace {

// Real time on the GUI thread: a wait blocks it, a message step nests the event loop.
class RealClock final : public Clock {
 public:
  void Wait(int ms) override {
    if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
  }
  void ProcessMessages() override {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
  }
  std::int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
};

// Atomic because port event threads may read the time while a test swaps clocks.
std::atomic<Clock*> installed{nullptr};

int messageStepDepth = 0;

}  // namespace

int MessageStepDepth() {
  return messageStepDepth;
}

detail::MessageStep::MessageStep() {
  ++messageStepDepth;
}

detail::MessageStep::~MessageStep() {
  --messageStepDepth;
}

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

Clock& CurrentClock() {
  Clock* clock = installed.load();
  return clock != nullptr ? *clock : SystemClock();
}

void SetClock(Clock* clock) {
  installed.store(clock);
}

}  // namespace kvel
