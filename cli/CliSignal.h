#pragma once

#include <cstdint>
#include <functional>

#include "ui/Clock.h"

namespace kvel::cli {

// Ctrl+C (SIGINT) and SIGTERM stop the command as the window's Cancel does: the handler only
// sets a flag, which the running job reads at its message points. A second signal ends the
// program at once (the handler is reset after the first).
void InstallStopSignals();
// Whether a stop signal has come (and which: 0 when none).
bool StopRequested();
int StopSignal();
// For tests: forgets a stop.
void ClearStopRequest();
// For tests: a stop as the handler would note it.
void NoteStop(int signalNumber);

// The command line's clock: plain sleeps of the whole length, also when a signal arrives in
// the middle, and no window messages to handle.
class CliClock final : public Clock {
 public:
  void Wait(int ms) override;
  void ProcessMessages() override {}
  std::int64_t NowMs() override;
};

}  // namespace kvel::cli
