#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kvel {

// Line settings as one record, with the field meanings and flag bits of the
// classic DCB, so the port component fills it exactly as it always has and each
// backend maps it onto its own device.
struct Dcb {
  std::uint32_t baudRate = 9600;
  std::uint32_t flags = 0x0001;  // kDcb* bits below
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  std::uint8_t errorChar = 0;
  std::uint8_t eofChar = 0;
  std::uint8_t evtChar = 0;
};

inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParity = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrControlMask = 0x0030;  // 0x00 off, 0x10 on, 0x20 handshake
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNull = 0x0800;
inline constexpr std::uint32_t kDcbRtsControlMask =
    0x3000;  // 0x0000 off, 0x1000 on, 0x2000 handshake, 0x3000 toggle

// The five timeouts, in milliseconds, unsigned as the platform takes them.
struct CommTimeouts {
  std::uint32_t readInterval = 0xFFFFFFFFu;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 100;
  std::uint32_t writeTotalConstant = 1000;
};

// Queue counts returned with the line-error word.
struct ComStat {
  std::uint32_t inQue = 0;
  std::uint32_t outQue = 0;
};

// Purge flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

// Modem-status bits.
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;

// Line-error bits.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

// Line-event bits (event mask).
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;

// What the driver has counted on the line since the device was opened (or since the driver
// started counting): characters it could not take in time, characters with a bad frame or
// parity, breaks, characters lost for want of room in its buffer, and modem-line changes.
struct LineCounters {
  std::uint32_t overrun = 0;
  std::uint32_t frame = 0;
  std::uint32_t parity = 0;
  std::uint32_t brk = 0;
  std::uint32_t bufferOverrun = 0;
  std::uint32_t cts = 0;
  std::uint32_t dsr = 0;
  std::uint32_t ring = 0;
  std::uint32_t dcd = 0;
  std::uint32_t Errors() const { return overrun + frame + parity + bufferOverrun; }
};

// An open serial device. The port component is its only user; every call returns
// 0 on success or the platform error code (an errno value) on failure.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual int SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) = 0;
  virtual int SetCommState(const Dcb& dcb) = 0;
  virtual int SetCommTimeouts(const CommTimeouts& timeouts) = 0;
  // Writes within the write timeouts; `written` is what went out before success or expiry.
  virtual int Write(const std::uint8_t* data, std::size_t count, std::size_t* written) = 0;
  // Reads within the read timeouts (with the defaults: what is queued, possibly nothing).
  virtual int Read(std::uint8_t* data, std::size_t count, std::size_t* got) = 0;
  virtual int Purge(std::uint32_t flags) = 0;
  // Returns and clears the line-error word (kCe* bits), and the queue counts.
  virtual int ClearCommError(std::uint32_t* errors, ComStat* stat) = 0;
  virtual int GetModemStatus(std::uint32_t* status) = 0;
  virtual int SetCommMask(std::uint32_t mask) = 0;
  // Blocks until an event of the mask has happened (kEv* bits in `events`), or until
  // CancelWait() (from another thread) or SetCommMask(0) ends the wait with events 0.
  virtual int WaitCommEvent(std::uint32_t* events) = 0;
  virtual void CancelWait() = 0;
  // Raise or drop the DTR and RTS outputs, and start or end a break (the output held at
  // space). ENOTSUP: the device has no such line (a plain socket port, a pseudo-terminal),
  // with the reason in FailureDetail.
  virtual int SetDtr(bool on) = 0;
  virtual int SetRts(bool on) = 0;
  virtual int SetBreak(bool on) = 0;
  // The driver's line counters; ENOTSUP where the driver keeps none.
  virtual int GetLineCounters(LineCounters* counters) = 0;
  // Why the last failed call failed, in words for the user, or empty.
  virtual std::string FailureDetail() const { return {}; }
  // Calls `notice` from the device's own thread when its receive queue reaches `level`
  // bytes, once, until a read or purge takes the queue below the level again; and once when
  // the device goes away, so that a reader who sleeps until the notice comes hears of that
  // too. `notice` must not call back into the device. Level 0 or an empty notice removes it; once
  // this returns, a notice it replaced is not running and is never called again. Devices that fill
  // their queue only when the program looks at it have nothing to tell and ignore this.
  virtual void SetInputNotice(std::size_t level, std::function<void()> notice) {
    (void)level;
    (void)notice;
  }
  // Whether SetInputNotice is kept: a reader that relies on the notice may sleep until it
  // comes; with a device that does not tell, it has to look for itself from time to time.
  virtual bool TellsOfInput() const { return false; }
};

}  // namespace kvel
