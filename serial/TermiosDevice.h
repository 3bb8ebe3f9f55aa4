#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceLock.h"
#include "SerialDevice.h"
#include "TermiosSettings.h"

namespace kvel {

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

// How a device reads its modem inputs and waits for them to change: the tty's TIOCMGET and
// TIOCMIWAIT, or a stand-in for tests (a pseudo-terminal has no modem lines).
class ModemLines {
 public:
  virtual ~ModemLines() = default;
  // The TIOCM_* bits of the lines now; 0 or an errno value.
  virtual int Get(int fd, int* bits) = 0;
  // Blocks until one of the lines in `mask` changes: 0 then, EINTR when interrupted, another
  // errno value when the driver refuses (ENOTTY, EINVAL) or the device has gone.
  virtual int WaitChange(int fd, int mask) = 0;
  // Makes a WaitChange in progress on `waiter` return EINTR soon; may be called again and
  // again until it has (a call just before the wait begins is lost).
  virtual void Interrupt(std::thread& waiter) = 0;
};

// The tty's own: the interrupt is a signal of the program's without SA_RESTART to the
// waiting thread, as neither a close nor a restartable signal ends TIOCMIWAIT.
std::unique_ptr<ModemLines> SystemModemLines();

// Whether a wait for modem-line changes was refused by the driver (and the lines must be
// polled instead).
bool ModemWaitRefused(int code);

// How long the reader lets the tty gather after a read that took `got` bytes before it looks
// again: nothing after an empty read, with a full queue, or while the tty fills faster than
// a pause could wait for. A byte after a quiet spell is read as soon as it comes.
int ReadGatherMs(std::size_t got, bool throttled);

// A serial device behind a Linux tty, with the behaviour of a classic serial driver:
// a reader thread drains the tty into a receive queue of its own as bytes arrive,
// decodes marked errors and breaks, and records line events and modem-line changes.
class TermiosDevice final : public SerialDevice {
 public:
  // Opens `path` exclusively (UUCP lock file and flock); returns 0 or an errno value
  // (EBUSY when the device is in use). `lockNote`, when given, receives what the lock
  // passed over (a stale lock file it could not remove), for the hint of a failure.
  static int Open(const std::string& path, std::unique_ptr<SerialDevice>* device,
                  std::string* lockNote = nullptr, std::unique_ptr<ModemLines> lines = nullptr);
  ~TermiosDevice() override;

  int SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) override;
  int SetCommState(const Dcb& dcb) override;
  int SetCommTimeouts(const CommTimeouts& timeouts) override;
  int Write(const std::uint8_t* data, std::size_t count, std::size_t* written) override;
  int Read(std::uint8_t* data, std::size_t count, std::size_t* got) override;
  int Purge(std::uint32_t flags) override;
  int ClearCommError(std::uint32_t* errors, ComStat* stat) override;
  int GetModemStatus(std::uint32_t* status) override;
  int SetCommMask(std::uint32_t mask) override;
  int WaitCommEvent(std::uint32_t* events) override;
  void CancelWait() override;
  std::string FailureDetail() const override;
  void SetInputNotice(std::size_t level, std::function<void()> notice) override;
  bool TellsOfInput() const override { return true; }
  int SetDtr(bool on) override;
  int SetRts(bool on) override;
  int SetBreak(bool on) override;
  int GetLineCounters(LineCounters* counters) override;

  // The receive queue never holds less than this, whatever SetupComm asks: a program
  // that reads every 100 ms takes 160 MB/s before the device is held back. The queue
  // only takes memory for what it holds.
  static constexpr std::size_t kMinQueue = 16 * 1024 * 1024;
  // The most the reader takes from the driver in one read.
  static constexpr std::size_t kReadSize = 64 * 1024;

 private:
  TermiosDevice() = default;
  void ReaderLoop();
  void ModemWaitLoop();
  void StopModemWaiter();
  int SetOutput(int bit, bool on);
  void Wake();
  bool TakeNoticeDue();                                                 // mutex held
  void CheckNoticeRearm();                                              // mutex held
  void Deliver(const std::uint8_t* data, std::size_t count);            // mutex held
  void Queue(std::uint8_t byte, bool filterable);                       // mutex held
  std::size_t QueuePlain(const std::uint8_t* data, std::size_t count);  // mutex held
  std::size_t Full80() const;                                           // mutex held
  void LetOutputDrain(std::uint32_t rate);
  int DiscardHeldOutput(std::uint32_t rate);
  void MarkLost(int code);
  void PollLines();                   // mutex held
  void PollCounters();                // mutex held
  bool NeedsTick() const;             // mutex held
  bool InputThrottled() const;        // mutex held
  std::size_t QueueCapacity() const;  // mutex held
  bool ModemLine(int bit, bool* on);

  UniqueFd fd_;
  bool exclusive_ = false;  // TIOCEXCL set by this open
  UniqueFd wakeFd_;
  DeviceLock lock_;
  std::thread reader_;
  std::unique_ptr<ModemLines> lines_;
  // Waits for modem-line changes where the driver can; the reader then polls no lines.
  std::thread modemWaiter_;
  std::atomic<bool> modemWaiterStop_{false};
  bool modemWaiterDone_ = false;  // mutex_
  std::condition_variable modemWaiterCv_;
  bool modemWaitRefused_ = false;  // mutex_
  bool breakOn_ = false;           // mutex_

  // Held by the reader across its read of the tty, and by a purge of the input: taken
  // before `mutex_` when both are held.
  std::mutex readMutex_;
  // Taken before `mutex_` when both are held; the reader calls the notice under this one
  // only, so replacing the notice waits for a call in progress.
  std::mutex noticeMutex_;
  std::function<void()> notice_;  // noticeMutex_
  mutable std::mutex mutex_;
  std::size_t noticeLevel_ = 0;  // 0: no notice
  bool noticed_ = false;         // told at this level; re-armed when the queue falls below
  std::condition_variable dataCv_;
  std::condition_variable eventCv_;
  bool stop_ = false;
  int lost_ = 0;
  std::deque<std::uint8_t> rx_;
  std::size_t inputSize_ = 4096;
  std::uint64_t readAbortGeneration_ = 0;
  std::uint64_t writeAbortGeneration_ = 0;
  int markState_ = 0;
  std::uint32_t errors_ = 0;
  std::uint32_t mask_ = 0;
  std::uint32_t events_ = 0;
  std::uint64_t waitGeneration_ = 0;
  LineSettingsPlan plan_;
  bool planSet_ = false;
  CommTimeouts timeouts_;
  bool modemUnsupported_ = false;
  std::uint32_t lastModem_ = 0;
  bool countersUnsupported_ = false;
  bool countersValid_ = false;
  std::uint32_t lastCounters_[6] = {};
  bool txPending_ = false;
  bool pseudoTerminal_ = false;  // no line: the kernel keeps no character frame
  std::string failureDetail_;
};

// Why a device could not be opened for lack of permission, and what the user can do.
std::string PermissionHint(const std::string& devicePath);
// What an open of `devicePath` that failed with `code` means to the user (" - ..."), or empty.
std::string OpenFailureHint(int code, const std::string& devicePath);

// The rate an 8250-family UART really runs at for a requested rate: its base clock
// divided by the nearest whole divisor.
std::uint32_t UartRate(std::uint32_t baudBase, std::uint32_t requested);
// Whether the driver kept the character frame (data bits, parity, stop bits) asked for.
bool FrameKept(std::uint32_t requestedCflag, std::uint32_t actualCflag);

}  // namespace kvel
