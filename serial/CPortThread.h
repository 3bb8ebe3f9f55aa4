#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "SerialDevice.h"

class TCustomComPort;

namespace kvel {

// Calls from worker threads to the GUI thread. A worker queues a call and waits; the GUI
// thread runs queued calls in CheckSynchronize, which its event loop calls when the
// wake-up hook (set by the GUI layer) asks it to.

// Installs the hook that asks the GUI thread's event loop, from any thread, to call
// CheckSynchronize soon.
void SetSynchronizeWakeup(std::function<void()> wake);
bool HasSynchronizeWakeup();

// Runs the queued calls on the calling (GUI) thread; true when any ran. An exception of a
// call propagates to the caller, for the default error display, once the call counts as
// done; the calls after it wait for the next wake-up.
bool CheckSynchronize();

enum class SyncWait {
  kUntilDone,   // the call has run (a synchronised call)
  kUntilTaken,  // the GUI thread has taken the call up (a message sent to a window that
                // replies at once)
};

// Queues `call` for the GUI thread and waits as `wait` says. Once `abandon` is set the
// wait ends early: a call still queued stays for the GUI thread, which serves it while it
// stops the worker; a call already running goes on without the worker. Returns whether
// the wait was met.
bool Synchronize(std::function<void()> call, SyncWait wait, const std::atomic<bool>* abandon);

// Queues `call` for the GUI thread without waiting.
void PostToGuiThread(std::function<void()> call);

// The line-event thread of an open port: waits for the events of its mask and hands each
// batch to the port's dispatch.
class TComThread {
 public:
  TComThread(TCustomComPort& port, SerialDevice& device, std::uint32_t mask);
  // Stops the thread and waits for its end; meanwhile the calling (GUI) thread runs the
  // calls the thread has queued for it, so a batch waiting for it cannot deadlock.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  const std::atomic<bool>& StopEvent() const { return stop_; }
  // Waits for the events of `mask` from now on (any thread); nothing happens when it is the
  // mask in force. Bytes already queued are announced when the new mask takes them in.
  void SetWaitMask(std::uint32_t mask);

 private:
  void Execute();

  TCustomComPort& port_;
  SerialDevice& device_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::mutex maskMutex_;
  std::uint32_t mask_ = 0;  // maskMutex_
  bool ended_ = false;      // maskMutex_: the wait is over for good
  std::thread thread_;
};

std::uint32_t EventSetToMask(std::uint32_t eventSetBits);
std::uint32_t MaskToEventSet(std::uint32_t mask);

}  // namespace kvel
