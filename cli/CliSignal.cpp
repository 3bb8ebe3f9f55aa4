#include "CliSignal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

namespace kvel::cli {

namespace {

// Lock-free, so the handler may set it.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signalNumber) {
  gStopSignal.store(signalNumber, std::memory_order_relaxed);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The first signal stops the job in order; a second one takes the default way out.
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader of standard output that went away must not end the program before the
  // closing commands of a download are out: writes then fail instead.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

bool StopRequested() {
  return gStopSignal.load(std::memory_order_relaxed) != 0;
}

int StopSignal() {
  return gStopSignal.load(std::memory_order_relaxed);
}

void ClearStopRequest() {
  gStopSignal.store(0, std::memory_order_relaxed);
}

void NoteStop(int signalNumber) {
  OnStopSignal(signalNumber);
}

void CliClock::Wait(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000L};
  // A signal cuts the sleep short; the rest is slept all the same.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::int64_t CliClock::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace kvel::cli
