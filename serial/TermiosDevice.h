#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceLock.h"
#include "QueuedDevice.h"
#include "TermiosSettings.h"

namespace kvel {

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
// a pause could wait for. A byte after a quiet spell is read as soon as it comes. While the
// device streams (bytes came during the last pause too) the pause is longer, so that a
// line-rate stream costs fewer wake-ups; the first pause after a quiet spell stays short,
// so that a reply is whole when the program's poll reads it.
int ReadGatherMs(std::size_t got, bool throttled, bool streaming = false);

// A serial device behind a Linux tty, with the behaviour of a classic serial driver:
// a reader thread drains the tty into a receive queue of its own as bytes arrive,
// decodes marked errors and breaks, and records line events and modem-line changes.
class TermiosDevice final : public QueuedDevice {
 public:
  // Opens `path` exclusively (UUCP lock file and flock); returns 0 or an errno value
  // (EBUSY when the device is in use). `lockNote`, when given, receives what the lock
  // passed over (a stale lock file it could not remove), for the hint of a failure.
  // `marksOnPseudoTerminal`: the tty marks errors (and doubles FF) on a pseudo-terminal too,
  // which receives no errors and goes without the marks otherwise; for tests of the decoding.
  static int Open(const std::string& path, std::unique_ptr<SerialDevice>* device,
                  std::string* lockNote = nullptr, std::unique_ptr<ModemLines> lines = nullptr,
                  bool marksOnPseudoTerminal = false);
  ~TermiosDevice() override;

  int SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) override;
  int SetCommState(const Dcb& dcb) override;
  int Write(const std::uint8_t* data, std::size_t count, std::size_t* written) override;
  int Purge(std::uint32_t flags) override;
  int GetModemStatus(std::uint32_t* status) override;
  int SetCommMask(std::uint32_t mask) override;
  int SetDtr(bool on) override;
  int SetRts(bool on) override;
  int SetBreak(bool on) override;
  int GetLineCounters(LineCounters* counters) override;

 private:
  TermiosDevice() = default;
  void ReaderLoop();
  void ModemWaitLoop();
  void StopModemWaiter();
  int SetOutput(int bit, bool on);
  void CollectErrors() override;                                        // mutex held
  std::uint32_t OutputQueued() const override;                          // mutex held
  void OnMaskSet() override;                                            // mutex held
  void Deliver(const std::uint8_t* data, std::size_t count);            // mutex held
  void Queue(std::uint8_t byte, bool filterable);                       // mutex held
  std::size_t QueuePlain(const std::uint8_t* data, std::size_t count);  // mutex held
  void LetOutputDrain(std::uint32_t rate);
  int DiscardHeldOutput(std::uint32_t rate);
  void MarkLost(int code);
  void PollLines();             // mutex held
  void PollCounters();          // mutex held
  bool NeedsTick() const;       // mutex held
  bool InputThrottled() const;  // mutex held
  bool ModemLine(int bit, bool* on);

  UniqueFd fd_;
  bool exclusive_ = false;  // TIOCEXCL set by this open
  DeviceLock lock_;
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
  int markState_ = 0;
  LineSettingsPlan plan_;
  bool planSet_ = false;
  bool modemUnsupported_ = false;
  std::uint32_t lastModem_ = 0;
  bool countersUnsupported_ = false;
  bool countersValid_ = false;
  std::uint32_t lastCounters_[6] = {};
  bool txPending_ = false;
  bool pseudoTerminal_ = false;  // no line: the kernel keeps no character frame
  // The tty marks errors and breaks in what it hands over (FF 00 c, FF 00 00, FF doubled).
  // A pseudo-terminal receives neither, and goes without the marks.
  bool marksErrors_ = true;
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
