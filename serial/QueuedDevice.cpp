#include "QueuedDevice.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kvel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

}  // namespace

Clock::time_point After(Clock::time_point from, std::uint64_t ms) {
  constexpr std::uint64_t kNoLimit = std::uint64_t{1} << 40;  // some 35 years
  if (ms >= kNoLimit) return Clock::time_point::max();
  return from + std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

void QueuedDevice::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wakeFd_.Get(), &one, sizeof one);
}

void QueuedDevice::DrainWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wakeFd_.Get(), &count, sizeof count);
}

void QueuedDevice::StopWaiters() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    ++waitGeneration_;
  }
  eventCv_.notify_all();
  dataCv_.notify_all();
}

void QueuedDevice::JoinReader() {
  if (!reader_.joinable()) return;
  Wake();
  reader_.join();
}

void QueuedDevice::CallNotice() {
  std::lock_guard noticeLock(noticeMutex_);
  if (notice_) notice_();
}

void QueuedDevice::TellLoss() {
  {
    std::lock_guard lock(mutex_);
    if (lost_ == 0 || lossTold_) return;
    lossTold_ = true;
  }
  CallNotice();
}

std::size_t QueuedDevice::QueueCapacity() const {
  return std::max<std::size_t>(inputSize_, kMinQueue);
}

bool QueuedDevice::QueueFull() const {
  return rx_.size() >= QueueCapacity();
}

std::size_t QueuedDevice::QueueRoom() const {
  return QueueCapacity() - std::min(QueueCapacity(), rx_.size());
}

std::size_t QueuedDevice::Full80() const {
  return (inputSize_ * 4 + 4) / 5;
}

void QueuedDevice::QueueByte(std::uint8_t byte, std::uint8_t eventChar) {
  if (QueueFull()) {
    errors_ |= kCeRxOver;
    return;
  }
  rx_.push_back(byte);
  std::uint32_t ev = kEvRxChar;
  if (byte == eventChar) ev |= kEvRxFlag;
  if (rx_.size() == Full80()) ev |= kEvRx80Full;
  events_ |= ev & mask_;
}

int QueuedDevice::WriteEnded(std::uint64_t abortGeneration) const {
  if (lost_ != 0) return lost_;
  if (writeAbortGeneration_ != abortGeneration) return ECANCELED;
  return 0;
}

bool QueuedDevice::TakeNoticeDue() {
  if (noticeLevel_ == 0 || noticed_ || rx_.size() < noticeLevel_) return false;
  noticed_ = true;
  return true;
}

void QueuedDevice::CheckNoticeRearm() {
  if (noticed_ && rx_.size() < noticeLevel_) noticed_ = false;
}

bool QueuedDevice::ResumesReader(bool wasFull) const {
  return wasFull && !QueueFull();
}

void QueuedDevice::SetInputNotice(std::size_t level, std::function<void()> notice) {
  std::lock_guard noticeLock(noticeMutex_);
  notice_ = std::move(notice);
  std::lock_guard lock(mutex_);
  noticeLevel_ = notice_ ? level : 0;
  noticed_ = false;
}

int QueuedDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  timeouts_ = timeouts;
  return 0;
}

int QueuedDevice::Read(std::uint8_t* data, std::size_t count, std::size_t* got) {
  *got = 0;
  std::unique_lock lock(mutex_);
  // What arrived before the device went is served first; the loss is told once the
  // queue is empty.
  if (lost_ != 0 && rx_.empty()) return lost_;
  const CommTimeouts t = timeouts_;
  const std::uint64_t abortGeneration = readAbortGeneration_;
  const bool wasFull = QueueFull();
  auto take = [&] {
    const std::size_t n = std::min(count - *got, rx_.size());
    if (n == 0) return;
    const auto end = rx_.begin() + static_cast<std::ptrdiff_t>(n);
    std::copy(rx_.begin(), end, data + *got);
    rx_.erase(rx_.begin(), end);
    *got += n;
  };
  auto finish = [&](int rc) {
    CheckNoticeRearm();
    const bool resume = ResumesReader(wasFull);
    lock.unlock();
    if (resume) Wake();
    return rc;
  };

  take();
  if (*got == count || lost_ != 0) return finish(0);
  // Interval all ones with no totals: what is queued, at once.
  if (t.readInterval == kMaxDword && t.readTotalMultiplier == 0 && t.readTotalConstant == 0)
    return finish(0);

  const auto start = Clock::now();
  Clock::time_point totalDeadline = Clock::time_point::max();
  bool anyByteReturns = false;
  if (t.readInterval == kMaxDword && t.readTotalMultiplier == kMaxDword &&
      t.readTotalConstant != 0 && t.readTotalConstant != kMaxDword) {
    // Wait up to the constant for a first byte, then return what is there.
    if (*got > 0) return finish(0);
    anyByteReturns = true;
    totalDeadline = After(start, t.readTotalConstant);
  } else if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.readTotalMultiplier) * count + t.readTotalConstant;
    totalDeadline = After(start, total);
  }
  const bool useInterval = t.readInterval != 0 && t.readInterval != kMaxDword;
  auto lastByte = start;
  for (;;) {
    if (lost_ != 0 && rx_.empty()) return finish(*got > 0 ? 0 : lost_);
    if (readAbortGeneration_ != abortGeneration || stop_) return finish(ECANCELED);
    Clock::time_point deadline = totalDeadline;
    if (useInterval && *got > 0) deadline = std::min(deadline, After(lastByte, t.readInterval));
    if (deadline == Clock::time_point::max()) {
      dataCv_.wait(lock);
    } else if (dataCv_.wait_until(lock, deadline) == std::cv_status::timeout && rx_.empty()) {
      return finish(0);
    }
    const std::size_t before = *got;
    take();
    if (*got > before) lastByte = Clock::now();
    if (*got == count || (anyByteReturns && *got > 0)) return finish(0);
  }
}

int QueuedDevice::ClearCommError(std::uint32_t* errors, ComStat* stat) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0 && rx_.empty()) return lost_;
  if (lost_ == 0) CollectErrors();
  *errors = errors_;
  errors_ = 0;
  stat->inQue = static_cast<std::uint32_t>(rx_.size());
  stat->outQue = OutputQueued();
  return 0;
}

int QueuedDevice::SetCommMask(std::uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    mask_ = mask;
    // Events not yet taken that the new mask still asks for stay: a listener bound while
    // the port is open would otherwise lose an error or a line change that had just come.
    // Bytes that came before the mask was set are announced all the same, so a reader
    // that waits for them is not left waiting for more.
    events_ = (events_ & mask & ~kEvRxChar) | (rx_.empty() ? 0 : kEvRxChar & mask);
    ++waitGeneration_;
    OnMaskSet();
  }
  eventCv_.notify_all();
  return 0;
}

int QueuedDevice::WaitCommEvent(std::uint32_t* events) {
  *events = 0;
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = waitGeneration_;
  eventCv_.wait(lock, [&] {
    return lost_ != 0 || stop_ || (events_ & mask_) != 0 || waitGeneration_ != generation;
  });
  if (waitGeneration_ != generation || stop_) return 0;
  // After a loss only what is still queued is worth telling.
  if (lost_ != 0 && rx_.empty()) return lost_;
  if ((events_ & mask_) != 0) {
    *events = events_ & mask_;
    events_ = 0;
    return 0;
  }
  return lost_;
}

void QueuedDevice::CancelWait() {
  {
    std::lock_guard lock(mutex_);
    ++waitGeneration_;
  }
  eventCv_.notify_all();
}

std::string QueuedDevice::FailureDetail() const {
  std::lock_guard lock(mutex_);
  return failureDetail_;
}

}  // namespace kvel
