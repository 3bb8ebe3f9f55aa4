#pragma once

namespace kvel {

// The program-wide "we are ending" state. A termination signal (or a close of the main window
// that has to wait for a running dialogue) sets it; from then on every running loop takes it
// as Cancel, and message boxes are not shown: their text goes to standard error and they
// answer with their escape button at once, so no box can keep the program alive.
bool ShutdownRequested();
void RequestShutdown();
// Only for tests that request a shutdown and then go on.
void ClearShutdownRequest();

}  // namespace kvel
