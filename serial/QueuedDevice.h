#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "SerialDevice.h"

namespace kvel {

// `ms` milliseconds after `from`. Products with an all-ones timeout field reach beyond
// what the clock can count; they mean no limit.
std::chrono::steady_clock::time_point After(std::chrono::steady_clock::time_point from,
                                            std::uint64_t ms);

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// What every device with a reader thread of its own shares, as a classic serial driver
// behaves: the receive queue the reader fills, reads over it with the five timeouts, the
// line-event word and its wait, the input notice, and the wake-up that ends the reader's
// poll. The device under it (a tty, a socket) is the subclass's.
class QueuedDevice : public SerialDevice {
 public:
  int SetCommTimeouts(const CommTimeouts& timeouts) override;
  int Read(std::uint8_t* data, std::size_t count, std::size_t* got) override;
  int ClearCommError(std::uint32_t* errors, ComStat* stat) override;
  int SetCommMask(std::uint32_t mask) override;
  int WaitCommEvent(std::uint32_t* events) override;
  void CancelWait() override;
  std::string FailureDetail() const override;
  void SetInputNotice(std::size_t level, std::function<void()> notice) override;
  bool TellsOfInput() const override { return true; }

  // The receive queue never holds less than this, whatever SetupComm asks: a program
  // that reads every 100 ms takes 160 MB/s before the device is held back. The queue
  // only takes memory for what it holds.
  static constexpr std::size_t kMinQueue = 16 * 1024 * 1024;
  // The most the reader takes from the device in one read.
  static constexpr std::size_t kReadSize = 64 * 1024;

 protected:
  QueuedDevice() = default;

  // The reader's poll includes the wake descriptor: a stop, a purge or a write ends it.
  void Wake();
  void DrainWake();
  // Ends every wait and tells the reader to stop; JoinReader then waits for it.
  void StopWaiters();
  void JoinReader();
  // Calls the input notice (not under the queue's lock).
  void CallNotice();
  // Whether an event the mask asks for waits (mutex held). The event waiter is woken only
  // then: a wake for every read would cost it a switch per read to find nothing.
  bool EventDue() const { return (events_ & mask_) != 0; }
  // Once the device has gone: calls the notice once, so that a reader who sleeps until it
  // comes hears of the loss at once and not at its next look (not under the queue's lock).
  void TellLoss();

  std::size_t QueueCapacity() const;  // mutex held
  bool QueueFull() const;             // mutex held
  std::size_t QueueRoom() const;      // mutex held
  std::size_t Full80() const;         // mutex held
  // One received byte into the queue, with the events it raises; an overflow is told as
  // such.
  void QueueByte(std::uint8_t byte, std::uint8_t eventChar);  // mutex held
  // Why a write that began at `abortGeneration` must end now: the device has gone, or a
  // purge aborted it (ECANCELED); 0 to go on.
  int WriteEnded(std::uint64_t abortGeneration) const;  // mutex held
  bool TakeNoticeDue();                                 // mutex held
  void CheckNoticeRearm();                              // mutex held

  // Whether a read that took bytes must wake a reader held back by a full queue; `wasFull`
  // is whether the queue was full when the read began.
  virtual bool ResumesReader(bool wasFull) const;  // mutex held
  // Errors the device has counted since it was last asked, into errors_.
  virtual void CollectErrors() {}  // mutex held
  // Bytes written that have not left yet.
  virtual std::uint32_t OutputQueued() const = 0;  // mutex held
  // What a new event mask needs of the device beyond the event word.
  virtual void OnMaskSet() {}  // mutex held

  UniqueFd wakeFd_;
  std::thread reader_;
  // Taken before `mutex_` when both are held; the reader calls the notice under this one
  // only, so replacing the notice waits for a call in progress.
  std::mutex noticeMutex_;
  std::function<void()> notice_;  // noticeMutex_

  mutable std::mutex mutex_;
  std::condition_variable dataCv_;
  std::condition_variable eventCv_;
  bool stop_ = false;
  int lost_ = 0;
  bool lossTold_ = false;
  std::string failureDetail_;
  std::deque<std::uint8_t> rx_;
  std::size_t inputSize_ = 4096;
  std::uint32_t errors_ = 0;     // kCe* bits since ClearCommError last took them
  std::size_t noticeLevel_ = 0;  // 0: no notice
  bool noticed_ = false;         // told at this level; re-armed when the queue falls below
  CommTimeouts timeouts_;
  // A purge's abort moves these on: the reads and writes begun before it end.
  std::uint64_t readAbortGeneration_ = 0;
  std::uint64_t writeAbortGeneration_ = 0;
  std::uint32_t mask_ = 0;
  std::uint32_t events_ = 0;
  std::uint64_t waitGeneration_ = 0;  // moved on to end the event waits begun before
};

}  // namespace kvel
