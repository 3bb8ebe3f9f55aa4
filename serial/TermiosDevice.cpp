#include "TermiosDevice.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "Termios2.h"

namespace kvel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 10;
// Output that has not moved for this long is held off by the far end.
constexpr int kStallMs = 100;
// Rates a driver may round to; further off, the line would not talk to the far end.
constexpr double kRateTolerance = 0.03;
// UART types of the 8250 family (PORT_8250 .. PORT_16550A_FSL64): a whole divisor of
// the base clock.
constexpr int kLast8250Type = 30;

bool Unsupported(int code) {
  return code == ENOTTY || code == EINVAL;
}

// The kernel's "no such ioctl" before it reaches the program as ENOTTY.
constexpr int kNoIoctlCommand = 515;
constexpr int kModemMask = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;

// The signal that ends a thread's wait in TIOCMIWAIT: a handler that does nothing,
// installed without SA_RESTART, so the interrupted ioctl returns EINTR.
int WakeSignal() {
  static const int signal = SIGRTMIN + 5;
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
  });
  return signal;
}

class TtyModemLines final : public ModemLines {
 public:
  TtyModemLines() { WakeSignal(); }
  int Get(int fd, int* bits) override { return ioctl(fd, TIOCMGET, bits) == 0 ? 0 : errno; }
  int WaitChange(int fd, int mask) override { return ioctl(fd, TIOCMIWAIT, mask) == 0 ? 0 : errno; }
  void Interrupt(std::thread& waiter) override {
    pthread_kill(waiter.native_handle(), WakeSignal());
  }
};

}  // namespace

int ReadGatherMs(std::size_t got, bool throttled, bool streaming) {
  // A read this large means the tty fills faster than a pause could wait for: at the pause
  // below that is over 6 Mbaud, or a pseudo-terminal whose writer is held back.
  constexpr std::size_t kFillingBytes = 2048;
  // Short against the poll's own gathering for a reply, so that a reply still reaches the
  // window in one round; at 921600 baud some 280 bytes, far below what the tty holds.
  constexpr int kGatherMs = 3;
  // Within a stream: short against the window's frame, and at 921600 baud some 920 bytes,
  // still below what the tty holds (4 KiB, some 44 ms at that rate).
  constexpr int kStreamGatherMs = 10;
  if (got == 0 || throttled || got >= kFillingBytes) return 0;
  return streaming ? kStreamGatherMs : kGatherMs;
}

std::unique_ptr<ModemLines> SystemModemLines() {
  return std::make_unique<TtyModemLines>();
}

bool ModemWaitRefused(int code) {
  return code == ENOTTY || code == EINVAL || code == kNoIoctlCommand || code == ENOSYS;
}

int TermiosDevice::Open(const std::string& path, std::unique_ptr<SerialDevice>* device,
                        std::string* lockNote, std::unique_ptr<ModemLines> lines,
                        bool marksOnPseudoTerminal) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return errno;
  const std::string real = resolved;
  std::free(resolved);

  std::unique_ptr<TermiosDevice> dev(new TermiosDevice());
  dev->lines_ = lines ? std::move(lines) : SystemModemLines();
  if (const int rc = dev->lock_.Acquire(real); rc != 0) return rc;
  if (lockNote != nullptr) *lockNote = dev->lock_.IgnoredStale();
  dev->fd_.Reset(open(real.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!dev->fd_.Valid()) return errno;
  const int fd = dev->fd_.Get();
  // flock binds root as well; a holder elsewhere (or a second open here) means "in use".
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
  // Against programs that neither lock nor flock; does not stop root. The flag belongs
  // to the tty, not to this descriptor, so the close must clear it again.
  dev->exclusive_ = ioctl(fd, TIOCEXCL) == 0;
  if (isatty(fd) == 0) return ENOTTY;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    const unsigned kind = major(st.st_rdev);
    // Unix98 pseudo-terminal slaves, and the old BSD ones.
    dev->pseudoTerminal_ = (kind >= 136 && kind <= 143) || kind == 3;
  }

  // Raw at once, keeping the driver's rate and frame until the settings are applied, so
  // nothing is echoed or line-edited meanwhile.
  TermiosSettings t;
  if (const int rc = GetTermios2(fd, &t); rc != 0) return rc;
  dev->marksErrors_ = !dev->pseudoTerminal_ || marksOnPseudoTerminal;
  t.iflag = dev->marksErrors_ ? PARMRK : 0;
  t.oflag = 0;
  t.lflag = 0;
  t.cflag |= CREAD | CLOCAL;
  t.cc[VMIN] = 1;
  t.cc[VTIME] = 0;
  if (const int rc = SetTermios2(fd, t); rc != 0) return rc;
  // What waits in the driver came before this open, under other settings; the queue
  // starts empty, as the program's own queue does.
  if (tcflush(fd, TCIFLUSH) != 0) return errno;

  dev->wakeFd_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!dev->wakeFd_.Valid()) return errno;
  TermiosDevice* raw = dev.get();
  dev->reader_ = std::thread([raw] { raw->ReaderLoop(); });
  dev->modemWaiter_ = std::thread([raw] { raw->ModemWaitLoop(); });
  *device = std::move(dev);
  return 0;
}

TermiosDevice::~TermiosDevice() {
  StopWaiters();
  StopModemWaiter();
  JoinReader();
  // A break left on would hold the far end's line at space after the program has gone.
  if (breakOn_) ioctl(fd_.Get(), TIOCCBRK);
  if (exclusive_) ioctl(fd_.Get(), TIOCNXCL);
  // Whatever is still held off must not keep the close waiting.
  if (!pseudoTerminal_) tcflush(fd_.Get(), TCOFLUSH);
}

void TermiosDevice::MarkLost(int code) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ == 0) {
      lost_ = code;
      // A device that has gone is no longer this program's: one plugged in under the same
      // name belongs to whoever opens it. The next open of the port takes the lock again.
      if (code == EIO || code == ENXIO || code == ENODEV) lock_.Release();
    }
  }
  dataCv_.notify_all();
  eventCv_.notify_all();
  TellLoss();
}

void TermiosDevice::ModemWaitLoop() {
  while (!modemWaiterStop_) {
    const int rc = lines_->WaitChange(fd_.Get(), kModemMask);
    if (modemWaiterStop_) break;
    if (rc == EINTR) continue;
    // A change, a refusal (the reader polls from now on) or a device that has gone (the
    // reader finds that itself): the reader looks at the lines in any case.
    if (rc != 0) {
      {
        std::lock_guard lock(mutex_);
        if (ModemWaitRefused(rc)) modemWaitRefused_ = true;
      }
      Wake();
      break;
    }
    Wake();
  }
  std::lock_guard lock(mutex_);
  modemWaiterDone_ = true;
  modemWaiterCv_.notify_all();
}

void TermiosDevice::StopModemWaiter() {
  if (!modemWaiter_.joinable()) return;
  modemWaiterStop_ = true;
  std::unique_lock lock(mutex_);
  while (!modemWaiterDone_) {
    // Told again until it has ended: an interrupt just before the wait began is lost.
    lines_->Interrupt(modemWaiter_);
    modemWaiterCv_.wait_for(lock, std::chrono::milliseconds(2));
  }
  lock.unlock();
  modemWaiter_.join();
}

bool TermiosDevice::NeedsTick() const {
  constexpr std::uint32_t kLineEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing | kEvErr | kEvBreak;
  // Where the driver wakes the waiter on every modem-line change, the lines need no polling;
  // the error counters move with received bytes, which wake the reader anyway.
  const bool linesWatched = !modemWaitRefused_ && !modemWaiterDone_ && !modemUnsupported_;
  return txPending_ || ((mask_ & kLineEvents) != 0 &&
                        !(modemUnsupported_ && countersUnsupported_) && !linesWatched);
}

bool TermiosDevice::InputThrottled() const {
  // A full queue stops the reading and leaves the bytes with the kernel: a pseudo-terminal
  // then holds its writer back, a handshake holds the far end off, and only a UART without
  // handshake overflows (where the driver counts it). Dropping here would lose bytes that
  // could have been kept.
  return QueueFull();
}

void TermiosDevice::ReaderLoop() {
  std::vector<std::uint8_t> buffer(kReadSize);
  bool streaming = false;  // bytes came during the last pause
  for (;;) {
    bool throttled = false;
    int timeout = -1;
    {
      std::lock_guard lock(mutex_);
      if (stop_ || lost_ != 0) return;
      throttled = InputThrottled();
      if (NeedsTick()) timeout = kTickMs;
    }
    pollfd fds[2] = {{wakeFd_.Get(), POLLIN, 0}, {fd_.Get(), POLLIN, 0}};
    const int r = poll(fds, throttled ? 1 : 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      MarkLost(errno);
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) DrainWake();
    if (!throttled && fds[1].revents != 0) {
      // Everything the tty holds is taken before anyone is told: one wake-up of the
      // waiters for what came together, however many reads it took.
      std::size_t got = 0;
      bool tell = false;
      bool eventDue = false;
      int failure = 0;
      for (;;) {
        // The read happens under the read lock, so a purge falls wholly before it (and the
        // bytes read here arrived after the purge) or wholly after it (and removes them).
        // The queue's own lock is not held across the call: a read of a tty can sleep in
        // the kernel, and the program's queue counts and reads must not wait for that.
        std::unique_lock readLock(readMutex_);
        std::size_t room = 0;
        {
          // Never read more than the queue can take, so nothing read is dropped. Only this
          // thread adds to the queue, so the room cannot shrink before the bytes go in.
          std::lock_guard lock(mutex_);
          room = std::min(buffer.size(), QueueRoom());
        }
        if (room == 0) break;
        const ssize_t n = read(fd_.Get(), buffer.data(), room);
        const int error = errno;
        if (n > 0) {
          std::lock_guard lock(mutex_);
          Deliver(buffer.data(), static_cast<std::size_t>(n));
          got += static_cast<std::size_t>(n);
          throttled = InputThrottled();
          tell = TakeNoticeDue() || tell;
          eventDue = EventDue();
          readLock.unlock();
          if (throttled || got >= kReadSize) break;
          // A tty hands out at most its line buffer per read: read on until it has no more
          // (EAGAIN). Asking it first (FIONREAD) would take the tty's settings lock for
          // writing, which waits for the kernel's delivery of the next piece at every read.
          continue;
        }
        readLock.unlock();
        if (n == 0) {  // hung up: the far end or the adapter has gone
          failure = EIO;
          break;
        }
        if (error == EINTR) continue;
        if (error != EAGAIN) failure = error;
        break;
      }
      if (got > 0) {
        dataCv_.notify_all();
        if (eventDue) eventCv_.notify_all();
        if (tell) CallNotice();
      }
      if (failure == 0 && got == 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        failure = EIO;
      if (failure != 0) {
        MarkLost(failure);
        return;
      }
      // A device that keeps sending (a byte at a time, as many UARTs hand them over, or in
      // the pieces of a line-rate stream) would cost a wake-up of this thread and of every
      // waiter per piece. What follows a read gathers in the tty for a moment instead and
      // is taken in one read; a stop, a purge or a write's wake still ends the pause at once.
      const int pause = ReadGatherMs(got, throttled, streaming);
      streaming = false;
      if (pause > 0) {
        pollfd wake{wakeFd_.Get(), POLLIN, 0};
        if (poll(&wake, 1, pause) > 0) DrainWake();
        int waiting = 0;
        streaming = ioctl(fd_.Get(), FIONREAD, &waiting) == 0 && waiting > 0;
      }
    }
    bool eventDue = false;
    {
      std::lock_guard lock(mutex_);
      PollLines();
      eventDue = EventDue();
    }
    if (eventDue) eventCv_.notify_all();
  }
}

void TermiosDevice::Queue(std::uint8_t byte, bool filterable) {
  if (filterable && plan_.discardNull && byte == 0) return;
  QueueByte(byte, plan_.eventChar);
}

// Plain bytes (no mark, no NUL to drop) go into the queue as one block.
std::size_t TermiosDevice::QueuePlain(const std::uint8_t* data, std::size_t count) {
  std::size_t plain = count;
  const void* mark = marksErrors_ ? std::memchr(data, 0xFF, count) : nullptr;
  if (mark != nullptr)
    plain = static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - data);
  if (plan_.discardNull) {
    if (const void* nul = std::memchr(data, 0, plain); nul != nullptr)
      plain = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data);
  }
  plain = std::min(plain, QueueRoom());
  if (plain == 0) return 0;
  const std::size_t before = rx_.size();
  rx_.insert(rx_.end(), data, data + plain);
  std::uint32_t ev = kEvRxChar;
  if (std::memchr(data, plan_.eventChar, plain) != nullptr) ev |= kEvRxFlag;
  if (before < Full80() && rx_.size() >= Full80()) ev |= kEvRx80Full;
  events_ |= ev & mask_;
  return plain;
}

void TermiosDevice::Deliver(const std::uint8_t* data, std::size_t count) {
  std::size_t i = 0;
  while (i < count) {
    if (markState_ == 0) {
      const std::size_t taken = QueuePlain(data + i, count - i);
      i += taken;
      if (i == count) break;
      if (taken > 0) continue;
    }
    const std::uint8_t c = data[i++];
    switch (markState_) {
      case 0:
        if (c == 0xFF && marksErrors_) {
          markState_ = 1;
        } else {
          Queue(c, true);
        }
        break;
      case 1:
        if (c == 0xFF) {
          Queue(c, true);
          markState_ = 0;
        } else if (c == 0) {
          markState_ = 2;
        } else {
          Queue(0xFF, true);
          Queue(c, true);
          markState_ = 0;
        }
        break;
      default:
        markState_ = 0;
        if (c == 0) {  // break: the UART reads a NUL, delivered even when NULs are dropped
          errors_ |= kCeBreak;
          events_ |= kEvBreak & mask_;
          Queue(0, false);
        } else {
          // Parity or framing error, told apart by the counters where the driver has them.
          if (countersUnsupported_) errors_ |= kCeRxParity;
          events_ |= kEvErr & mask_;
          Queue(plan_.replaceErrors ? plan_.errorChar : c, !plan_.replaceErrors);
        }
        break;
    }
  }
}

bool TermiosDevice::ModemLine(int bit, bool* on) {
  int status = 0;
  if (lines_->Get(fd_.Get(), &status) != 0) return false;
  *on = (status & bit) != 0;
  return true;
}

void TermiosDevice::PollCounters() {
  if (countersUnsupported_) return;
  serial_icounter_struct ic{};
  if (ioctl(fd_.Get(), TIOCGICOUNT, &ic) != 0) {
    if (Unsupported(errno)) countersUnsupported_ = true;
    return;
  }
  const std::uint32_t now[6] = {
      static_cast<std::uint32_t>(ic.frame),       static_cast<std::uint32_t>(ic.overrun),
      static_cast<std::uint32_t>(ic.parity),      static_cast<std::uint32_t>(ic.brk),
      static_cast<std::uint32_t>(ic.buf_overrun), static_cast<std::uint32_t>(ic.rng)};
  if (countersValid_) {
    const std::uint32_t bits[6] = {kCeFrame, kCeOverrun, kCeRxParity, kCeBreak, kCeRxOver, 0};
    for (int i = 0; i < 5; ++i) {
      if (now[i] != lastCounters_[i]) errors_ |= bits[i];
    }
    if (now[0] != lastCounters_[0] || now[1] != lastCounters_[1] || now[2] != lastCounters_[2])
      events_ |= kEvErr & mask_;
    if (now[3] != lastCounters_[3]) events_ |= kEvBreak & mask_;
    if (now[5] != lastCounters_[5]) events_ |= kEvRing & mask_;
  }
  std::copy(std::begin(now), std::end(now), lastCounters_);
  countersValid_ = true;
}

void TermiosDevice::PollLines() {
  if (lost_ != 0) return;
  if (txPending_) {
    int queued = 0;
    if (ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0 || queued == 0) {
      txPending_ = false;
      events_ |= kEvTxEmpty & mask_;
    }
  }
  if ((mask_ & (kEvErr | kEvBreak | kEvRing)) != 0) PollCounters();
  if ((mask_ & (kEvCts | kEvDsr | kEvRlsd | kEvRing)) != 0 && !modemUnsupported_) {
    int status = 0;
    if (const int rc = lines_->Get(fd_.Get(), &status); rc != 0) {
      if (Unsupported(rc)) modemUnsupported_ = true;
      return;
    }
    const auto now = static_cast<std::uint32_t>(status);
    const std::uint32_t changed = now ^ lastModem_;
    if ((changed & TIOCM_CTS) != 0) events_ |= kEvCts & mask_;
    if ((changed & TIOCM_DSR) != 0) events_ |= kEvDsr & mask_;
    if ((changed & TIOCM_CAR) != 0) events_ |= kEvRlsd & mask_;
    if ((changed & now & TIOCM_RNG) != 0) events_ |= kEvRing & mask_;
    lastModem_ = now;
  }
}

int TermiosDevice::SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  if (inputSize > INT32_MAX || outputSize > INT32_MAX) return EINVAL;
  inputSize_ = inputSize;
  return 0;
}

int TermiosDevice::SetCommState(const Dcb& dcb) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    failureDetail_.clear();
  }
  LineSettingsPlan plan;
  if (const int rc = PlanLineSettings(dcb, &plan, marksErrors_); rc != 0) return rc;
  const int fd = fd_.Get();
  TermiosSettings before;
  if (const int rc = GetTermios2(fd, &before); rc != 0) return rc;
  if (const int rc = SetTermios2(fd, plan.termios); rc != 0) return rc;
  TermiosSettings after;
  if (const int rc = GetTermios2(fd, &after); rc != 0) return rc;
  // Drivers of the 8250 family report the rate asked for, not the one their divisor
  // gives (31250 on a 115200 base runs at 28800).
  std::uint32_t actual = after.speed;
  serial_struct serial{};
  if (!pseudoTerminal_ && ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type >= PORT_8250 &&
      serial.type <= kLast8250Type && serial.baud_base > 0) {
    actual = UartRate(static_cast<std::uint32_t>(serial.baud_base), after.speed);
  }
  std::string refused;
  const double rate = static_cast<double>(dcb.baudRate);
  if (std::abs(static_cast<double>(actual) - rate) > rate * kRateTolerance) {
    refused = "the device cannot run at " + std::to_string(dcb.baudRate) +
              " baud (it would run at " + std::to_string(actual) + ")";
  } else if (!pseudoTerminal_ && !FrameKept(plan.termios.cflag, after.cflag)) {
    refused = "the device cannot use " + std::to_string(dcb.byteSize) + " data bits with this " +
              "parity and these stop bits";
  }
  if (!refused.empty()) {
    SetTermios2(fd, before);
    std::lock_guard lock(mutex_);
    failureDetail_ = refused;
    return EINVAL;
  }
  // DTR and RTS levels; a pty has no modem lines and refuses these.
  int dtr = TIOCM_DTR;
  if (ioctl(fd, plan.dtr == LineLevel::kOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && !Unsupported(errno))
    return errno;
  int rts = TIOCM_RTS;
  if (ioctl(fd, plan.rts == LineLevel::kOn ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !Unsupported(errno))
    return errno;
  std::lock_guard lock(mutex_);
  plan_ = plan;
  planSet_ = true;
  return 0;
}

std::uint32_t UartRate(std::uint32_t baudBase, std::uint32_t requested) {
  if (requested == 0) return 0;
  const std::uint64_t divisor =
      std::max<std::uint64_t>((std::uint64_t{baudBase} + requested / 2) / requested, 1);
  return static_cast<std::uint32_t>(baudBase / divisor);
}

bool FrameKept(std::uint32_t requestedCflag, std::uint32_t actualCflag) {
  constexpr std::uint32_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  return (requestedCflag & kFrame) == (actualCflag & kFrame);
}

int TermiosDevice::Write(const std::uint8_t* data, std::size_t count, std::size_t* written) {
  *written = 0;
  CommTimeouts timeouts;
  LineSettingsPlan plan;
  std::uint64_t abortGeneration = 0;
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    timeouts = timeouts_;
    plan = plan_;
    abortGeneration = writeAbortGeneration_;
  }
  const std::uint64_t budget = static_cast<std::uint64_t>(timeouts.writeTotalMultiplier) * count +
                               timeouts.writeTotalConstant;
  const bool bounded = timeouts.writeTotalMultiplier != 0 || timeouts.writeTotalConstant != 0;
  const auto deadline = After(Clock::now(), bounded ? budget : 0);
  const int fd = fd_.Get();
  int rtsBit = TIOCM_RTS;
  if (plan.rtsToggle) ioctl(fd, TIOCMBIS, &rtsBit);

  int result = 0;
  std::size_t done = 0;
  while (done < count) {
    {
      std::lock_guard lock(mutex_);
      result = WriteEnded(abortGeneration);
      if (result != 0) break;
    }
    int waitMs = 50;
    if (bounded) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;  // expired: complete with what went out
      waitMs = static_cast<int>(std::min<long long>(left, 50));
    }
    bool dsrOn = true;
    if (plan.dsrGatesOutput && ModemLine(TIOCM_DSR, &dsrOn) && !dsrOn) {
      usleep(static_cast<useconds_t>(std::min(waitMs, kTickMs)) * 1000u);
      continue;
    }
    const ssize_t n = ::write(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      result = errno;
      if (result == EIO || result == ENXIO || result == ENODEV) MarkLost(result);
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, waitMs);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLOUT) == 0) {
      result = EIO;
      MarkLost(EIO);
      break;
    }
  }
  if (plan.rtsToggle) {
    // RTS drops once the bytes are out, but no later than the write's own time is up:
    // tcdrain alone waits without end while the far end holds the output off.
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && (!bounded || Clock::now() < deadline))
      usleep(1000);
    if (queued == 0) tcdrain(fd);  // only the UART's FIFO is left: bounded by the driver
    ioctl(fd, TIOCMBIC, &rtsBit);
  }
  *written = done;
  if (done > 0) {
    {
      std::lock_guard lock(mutex_);
      txPending_ = true;
    }
    Wake();
  }
  return result;
}

int TermiosDevice::Purge(std::uint32_t flags) {
  std::unique_lock lock(mutex_);
  if (lost_ != 0) return lost_;
  const bool wasThrottled = InputThrottled();
  if ((flags & kPurgeRxAbort) != 0) ++readAbortGeneration_;
  if ((flags & kPurgeTxAbort) != 0) ++writeAbortGeneration_;
  if ((flags & (kPurgeTxAbort | kPurgeTxClear)) != 0) {
    const std::uint32_t rate = planSet_ ? plan_.termios.speed : 0;
    lock.unlock();
    if (const int rc = DiscardHeldOutput(rate); rc != 0) return rc;
    lock.lock();
  }
  if ((flags & kPurgeRxClear) != 0) {
    // Wholly before or wholly after a read of the reader thread (see ReaderLoop).
    lock.unlock();
    std::lock_guard readLock(readMutex_);
    lock.lock();
    if (tcflush(fd_.Get(), TCIFLUSH) != 0) return errno;
    rx_.clear();
    markState_ = 0;
    CheckNoticeRearm();
  }
  const bool resume = wasThrottled && !InputThrottled();
  lock.unlock();
  dataCv_.notify_all();
  if (resume) Wake();
  return 0;
}

// A write completes here once the driver has the bytes, where a classic serial driver
// completes it once they are on the line: what still moves belongs to completed writes
// and is let out; only what the far end holds off (XOFF, CTS low) is discarded, so that a
// close cannot wait for it (the tty's closing wait, 30 s). A pseudo-terminal holds nothing
// back (its writes are refused while stopped), and flushing it could drop bytes still on
// their way to the far end.
int TermiosDevice::DiscardHeldOutput(std::uint32_t rate) {
  if (pseudoTerminal_) return 0;
  LetOutputDrain(rate);
  if (tcflush(fd_.Get(), TCOFLUSH) != 0) return errno;
  return 0;
}

void TermiosDevice::LetOutputDrain(std::uint32_t rate) {
  int queued = 0;
  if (ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0 || queued <= 0) return;
  // Twice the time the bytes take at 12 bits each, and never longer than a stall.
  const double msPerByte = rate > 0 ? 12000.0 / rate : 10.0;
  const auto start = Clock::now();
  const auto limit = After(start, static_cast<std::uint64_t>(2.0 * msPerByte * queued) + kStallMs);
  auto lastProgress = start;
  int last = queued;
  while (queued > 0 && Clock::now() < limit) {
    usleep(2000);
    if (ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) return;
    const auto now = Clock::now();
    if (queued < last) {
      last = queued;
      lastProgress = now;
    } else if (now - lastProgress > std::chrono::milliseconds(kStallMs)) {
      return;  // held off
    }
  }
}

void TermiosDevice::CollectErrors() {
  PollCounters();
}

std::uint32_t TermiosDevice::OutputQueued() const {
  int queued = 0;
  return ioctl(fd_.Get(), TIOCOUTQ, &queued) == 0 ? static_cast<std::uint32_t>(queued) : 0;
}

int TermiosDevice::GetModemStatus(std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
  }
  *status = 0;
  int bits = 0;
  if (const int rc = lines_->Get(fd_.Get(), &bits); rc != 0) return Unsupported(rc) ? 0 : rc;
  if ((bits & TIOCM_CTS) != 0) *status |= kMsCtsOn;
  if ((bits & TIOCM_DSR) != 0) *status |= kMsDsrOn;
  if ((bits & TIOCM_RNG) != 0) *status |= kMsRingOn;
  if ((bits & TIOCM_CAR) != 0) *status |= kMsRlsdOn;
  return 0;
}

void TermiosDevice::OnMaskSet() {
  // Changes are told against the lines and counters as they are now.
  int status = 0;
  if (lines_->Get(fd_.Get(), &status) == 0) lastModem_ = static_cast<std::uint32_t>(status);
  countersValid_ = false;
  PollCounters();
}

int TermiosDevice::SetCommMask(std::uint32_t mask) {
  const int rc = QueuedDevice::SetCommMask(mask);
  // Whether the reader polls the lines depends on the mask.
  if (rc == 0) Wake();
  return rc;
}

int TermiosDevice::SetOutput(int bit, bool on) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    failureDetail_.clear();
  }
  if (ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
  const int rc = errno;
  if (!Unsupported(rc)) return rc;
  std::lock_guard lock(mutex_);
  failureDetail_ = pseudoTerminal_ ? "a pseudo-terminal has no modem lines"
                                   : "the driver of this device cannot set its modem lines";
  return ENOTSUP;
}

int TermiosDevice::SetDtr(bool on) {
  return SetOutput(TIOCM_DTR, on);
}

int TermiosDevice::SetRts(bool on) {
  return SetOutput(TIOCM_RTS, on);
}

int TermiosDevice::SetBreak(bool on) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  failureDetail_.clear();
  // A pseudo-terminal takes the request and sends nothing: saying so beats a silent no-op.
  if (pseudoTerminal_) {
    failureDetail_ = "a pseudo-terminal cannot send a break";
    return ENOTSUP;
  }
  if (ioctl(fd_.Get(), on ? TIOCSBRK : TIOCCBRK) != 0) {
    const int rc = errno;
    if (!Unsupported(rc)) return rc;
    failureDetail_ = "the driver of this device cannot send a break";
    return ENOTSUP;
  }
  breakOn_ = on;
  return 0;
}

int TermiosDevice::GetLineCounters(LineCounters* counters) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
  }
  serial_icounter_struct ic{};
  if (ioctl(fd_.Get(), TIOCGICOUNT, &ic) != 0) return Unsupported(errno) ? ENOTSUP : errno;
  counters->overrun = static_cast<std::uint32_t>(ic.overrun);
  counters->frame = static_cast<std::uint32_t>(ic.frame);
  counters->parity = static_cast<std::uint32_t>(ic.parity);
  counters->brk = static_cast<std::uint32_t>(ic.brk);
  counters->bufferOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
  counters->cts = static_cast<std::uint32_t>(ic.cts);
  counters->dsr = static_cast<std::uint32_t>(ic.dsr);
  counters->ring = static_cast<std::uint32_t>(ic.rng);
  counters->dcd = static_cast<std::uint32_t>(ic.dcd);
  return 0;
}

std::string PermissionHint(const std::string& devicePath) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return " - no permission on " + devicePath;
  const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  // Joining a group helps only when that group may read and write, and joining root is
  // no advice to give.
  if (!groupMayUse || st.st_gid == 0) {
    return " - no permission on " + devicePath + ": its mode " + mode +
           " lets no group of users read and write it; let a group use it with a udev rule "
           "(for example GROUP=\"dialout\", MODE=\"0660\") and join that group";
  }
  std::string name = std::to_string(st.st_gid);
  bool listed = false;
  if (const struct group* g = getgrgid(st.st_gid); g != nullptr) {
    name = g->gr_name;
    const char* user = std::getenv("USER");
    for (char** member = g->gr_mem; user != nullptr && *member != nullptr; ++member) {
      if (std::string(*member) == user) listed = true;
    }
  }
  if (listed) {
    return " - no permission on " + devicePath + "; you were added to the group " + name +
           " after logging in: log out and in again";
  }
  return " - no permission on " + devicePath + "; add yourself to the group " + name +
         " (sudo usermod -aG " + name + " $USER) and log in again";
}

std::string OpenFailureHint(int code, const std::string& devicePath) {
  switch (code) {
    case EACCES:
    case EPERM:
      return PermissionHint(devicePath);
    case ENOENT:
      return " - " + devicePath + " does not exist (adapter unplugged?)";
    case ENOTTY:
      return " - " + devicePath + " is not a serial device";
    case EISDIR:
      return " - " + devicePath + " is a folder, not a serial device";
    case ENXIO:
    case ENODEV:
    case EIO:
      return " - " + devicePath + " has no device behind it (adapter unplugged?)";
    default:
      return {};
  }
}

}  // namespace kvel
