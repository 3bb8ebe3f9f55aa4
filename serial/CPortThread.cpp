#include "CPortThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "CPort.h"

namespace kvel {
namespace {

struct Request {
  enum class State { kQueued, kTaken, kDone };
  std::function<void()> call;
  State state = State::kQueued;
  const std::atomic<bool>* abandon = nullptr;
  bool takenAfterStop = false;  // taken up by the thread that stops the worker
};

struct SyncQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Request>> queue;
  std::function<void()> wake;
};

SyncQueue& Queue() {
  static SyncQueue* queue = new SyncQueue;  // lives on for threads that end late
  return *queue;
}

void Wake() {
  std::function<void()> wake;
  {
    std::lock_guard lock(Queue().mutex);
    wake = Queue().wake;
  }
  if (wake) wake();
}

void NotifyAll() {
  std::lock_guard lock(Queue().mutex);
  Queue().changed.notify_all();
}

// Platform bit of each event, in the order of TComEvent.
constexpr std::uint32_t kEventBits[10] = {kEvRxChar, kEvTxEmpty, kEvRxFlag, kEvRing, kEvBreak,
                                          kEvCts,    kEvDsr,     kEvErr,    kEvRlsd, kEvRx80Full};

}  // namespace

void SetSynchronizeWakeup(std::function<void()> wake) {
  {
    std::lock_guard lock(Queue().mutex);
    Queue().wake = std::move(wake);
  }
  Wake();
}

bool HasSynchronizeWakeup() {
  std::lock_guard lock(Queue().mutex);
  return static_cast<bool>(Queue().wake);
}

bool CheckSynchronize() {
  SyncQueue& q = Queue();
  bool ran = false;
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard lock(q.mutex);
      if (q.queue.empty()) break;
      request = q.queue.front();
      q.queue.pop_front();
      request->state = Request::State::kTaken;
      request->takenAfterStop = request->abandon != nullptr && *request->abandon;
      q.changed.notify_all();
    }
    ran = true;
    auto done = [&] {
      std::lock_guard lock(q.mutex);
      request->state = Request::State::kDone;
      q.changed.notify_all();
      return !q.queue.empty();
    };
    try {
      request->call();
    } catch (...) {
      if (done()) Wake();
      throw;
    }
    done();
  }
  return ran;
}

bool Synchronize(std::function<void()> call, SyncWait wait, const std::atomic<bool>* abandon) {
  SyncQueue& q = Queue();
  auto request = std::make_shared<Request>();
  request->call = std::move(call);
  request->abandon = abandon;
  {
    std::lock_guard lock(q.mutex);
    q.queue.push_back(request);
    q.changed.notify_all();
  }
  Wake();
  std::unique_lock lock(q.mutex);
  const auto met = [&] {
    return wait == SyncWait::kUntilDone ? request->state == Request::State::kDone
                                        : request->state != Request::State::kQueued;
  };
  // A call that was already running when its worker was told to stop is the stopping
  // thread's own caller (a handler that closes the port): waiting for it would wait for
  // ourselves. A call taken up by the stopping thread afterwards is waited for.
  q.changed.wait(lock, [&] {
    return met() || (abandon != nullptr && *abandon && request->state == Request::State::kTaken &&
                     !request->takenAfterStop);
  });
  return met();
}

void PostToGuiThread(std::function<void()> call) {
  auto request = std::make_shared<Request>();
  request->call = std::move(call);
  {
    std::lock_guard lock(Queue().mutex);
    Queue().queue.push_back(std::move(request));
    Queue().changed.notify_all();
  }
  Wake();
}

std::uint32_t EventSetToMask(std::uint32_t eventSetBits) {
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < 10; ++i) {
    if ((eventSetBits & (1u << i)) != 0) mask |= kEventBits[i];
  }
  return mask;
}

std::uint32_t MaskToEventSet(std::uint32_t mask) {
  std::uint32_t set = 0;
  for (unsigned i = 0; i < 10; ++i) {
    if ((mask & kEventBits[i]) != 0) set |= 1u << i;
  }
  return set;
}

TComThread::TComThread(TCustomComPort& port, SerialDevice& device, std::uint32_t mask)
    : port_(port), device_(device), mask_(mask) {
  device_.SetCommMask(mask);
  thread_ = std::thread([this] { Execute(); });
}

void TComThread::SetWaitMask(std::uint32_t mask) {
  std::lock_guard lock(maskMutex_);
  if (mask == mask_ || ended_) return;
  mask_ = mask;
  // A wait in progress ends and begins again with the new mask.
  device_.SetCommMask(mask);
}

TComThread::~TComThread() {
  stop_ = true;
  device_.CancelWait();
  NotifyAll();
  SyncQueue& q = Queue();
  std::vector<std::exception_ptr> errors;
  for (;;) {
    try {
      CheckSynchronize();
    } catch (...) {
      errors.push_back(std::current_exception());
      continue;
    }
    std::unique_lock lock(q.mutex);
    if (finished_) break;
    q.changed.wait_for(lock, std::chrono::milliseconds(5),
                       [&] { return finished_ || !q.queue.empty(); });
    if (finished_) break;
    lock.unlock();
    // A stop that came between the thread's check and its wait is told again.
    device_.CancelWait();
  }
  thread_.join();
  // The close goes on; the errors are shown once the GUI thread is back in its loop.
  for (const std::exception_ptr& error : errors)
    PostToGuiThread([error] { std::rethrow_exception(error); });
}

void TComThread::Execute() {
  while (!stop_) {
    std::uint32_t mask = 0;
    const int rc = device_.WaitCommEvent(&mask);
    if (stop_) break;
    // The device has failed (gone): waiting on would find the same failure at once. The
    // thread ends; the owner learns of the loss from its own next call.
    if (rc != 0) break;
    if (mask == 0) continue;
    port_.DispatchEvents(TComEvents::FromBits(MaskToEventSet(mask)), stop_);
  }
  {
    std::lock_guard lock(maskMutex_);
    ended_ = true;
    device_.SetCommMask(0);
  }
  device_.Purge(kPurgeTxClear | kPurgeRxClear);
  {
    std::lock_guard lock(Queue().mutex);
    finished_ = true;
    Queue().changed.notify_all();
  }
}

}  // namespace kvel
