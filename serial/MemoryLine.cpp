#include "MemoryLine.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace kvel {

struct MemoryLine::State {
  mutable std::mutex mutex;
  std::condition_variable cv;
  TimeSource now;
  MemoryLine* owner = nullptr;
  Peer* peer = nullptr;
  std::deque<std::uint8_t> queue;
  std::string received;
  std::uint32_t modem = 0;
  std::uint32_t errors = 0;
  std::uint32_t mask = 0;
  std::uint32_t events = 0;
  std::uint64_t waitGeneration = 0;
  bool unplugged = false;
  std::uint64_t plugging = 0;  // counts the returns after an unplug
  bool open = false;
  Dcb dcb;
  CommTimeouts timeouts;
  std::uint32_t inputSize = 4096;
  // The open handle's input notice (see SerialDevice::SetInputNotice). It is called under
  // noticeMutex, never under mutex, so that replacing it waits for a call in progress.
  std::mutex noticeMutex;
  std::function<void()> notice;
  std::size_t noticeLevel = 0;
  bool noticed = false;
  bool dtr = false;
  bool rts = false;
  bool brk = false;
  std::vector<MemoryLine::LineAction> actions;
  LineCounters counters;
  bool countersAvailable = true;

  int Act(MemoryLine::LineAction::Kind kind, bool on, bool* level) {
    if (unplugged) return EIO;
    *level = on;
    actions.push_back({kind, on, now()});
    return 0;
  }

  void Raise(std::uint32_t ev) {
    events |= ev & mask;
    if ((events & mask) != 0) cv.notify_all();
  }
  // mutex held: whether the queue has just reached the notice level.
  bool TakeNoticeDue() {
    if (noticeLevel == 0 || noticed || queue.size() < noticeLevel) return false;
    noticed = true;
    return true;
  }
  // mutex held: a read or purge that takes the queue below the level arms the notice again.
  void CheckNoticeRearm() {
    if (noticed && queue.size() < noticeLevel) noticed = false;
  }
  void Notify() {
    std::lock_guard noticeLock(noticeMutex);
    if (notice) notice();
  }
};

namespace {

// One field of the line's state, read under the state's lock.
template <typename T>
T ReadLocked(MemoryLine::State& state, T MemoryLine::State::*field) {
  std::lock_guard lock(state.mutex);
  return state.*field;
}

// The host's handle on a memory line.
class MemoryDevice final : public SerialDevice {
 public:
  explicit MemoryDevice(std::shared_ptr<MemoryLine::State> state)
      : s_(std::move(state)), plugging_(s_->plugging) {}
  ~MemoryDevice() override {
    SetInputNotice(0, {});
    std::lock_guard lock(s_->mutex);
    // A handle of the device from before a return does not close the one plugged in since.
    if (s_->plugging != plugging_) return;
    s_->open = false;
    s_->brk = false;  // closing ends a break the program left on
    s_->queue.clear();
    ++s_->waitGeneration;
    s_->cv.notify_all();
  }

  int SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    if (inputSize > 0x7FFFFFFFu || outputSize > 0x7FFFFFFFu) return EINVAL;
    s_->inputSize = inputSize;
    return 0;
  }
  int SetCommState(const Dcb& dcb) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    s_->dcb = dcb;
    // The levels the settings give, as a driver sets them with the line settings.
    s_->dtr = (dcb.flags & kDcbDtrControlMask) == 0x0010;
    s_->rts = (dcb.flags & kDcbRtsControlMask) == 0x1000;
    return 0;
  }
  int SetCommTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    s_->timeouts = timeouts;
    return 0;
  }
  int Write(const std::uint8_t* data, std::size_t count, std::size_t* written) override {
    *written = 0;
    MemoryLine::Peer* peer = nullptr;
    std::int64_t now = 0;
    {
      std::lock_guard lock(s_->mutex);
      if (Gone()) return EIO;
      s_->received.append(reinterpret_cast<const char*>(data), count);
      s_->Raise(kEvTxEmpty);
      peer = s_->peer;
      now = s_->now();
    }
    *written = count;
    if (peer != nullptr) peer->OnHostBytes(data, count, now);
    return 0;
  }
  // The far end never makes the host wait: time is the time source's, and reads
  // return what is queued by now.
  int Read(std::uint8_t* data, std::size_t count, std::size_t* got) override {
    *got = 0;
    Pump();
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    while (*got < count && !s_->queue.empty()) {
      data[(*got)++] = s_->queue.front();
      s_->queue.pop_front();
    }
    s_->CheckNoticeRearm();
    return 0;
  }
  int Purge(std::uint32_t flags) override {
    // What the far end has sent by now is in the driver's queue and goes with it, as on a
    // real line; without this, bytes due before the purge would turn up after it.
    if ((flags & kPurgeRxClear) != 0) Pump();
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    if ((flags & kPurgeRxClear) != 0) s_->queue.clear();
    s_->CheckNoticeRearm();
    return 0;
  }
  int ClearCommError(std::uint32_t* errors, ComStat* stat) override {
    Pump();
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    *errors = s_->errors;
    s_->errors = 0;
    stat->inQue = static_cast<std::uint32_t>(s_->queue.size());
    stat->outQue = 0;
    return 0;
  }
  int GetModemStatus(std::uint32_t* status) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    *status = s_->modem;
    return 0;
  }
  int SetCommMask(std::uint32_t mask) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    s_->mask = mask;
    s_->events = (s_->events & mask & ~kEvRxChar) | (s_->queue.empty() ? 0 : kEvRxChar & mask);
    ++s_->waitGeneration;
    s_->cv.notify_all();
    return 0;
  }
  int WaitCommEvent(std::uint32_t* events) override {
    *events = 0;
    std::unique_lock lock(s_->mutex);
    const std::uint64_t generation = s_->waitGeneration;
    s_->cv.wait(lock, [&] {
      return Gone() || (s_->events & s_->mask) != 0 || s_->waitGeneration != generation;
    });
    if (s_->waitGeneration != generation) return 0;
    if (Gone()) return EIO;  // the queue went with the device: nothing to tell
    if ((s_->events & s_->mask) != 0) {
      *events = s_->events & s_->mask;
      s_->events = 0;
      return 0;
    }
    return EIO;
  }
  void CancelWait() override {
    std::lock_guard lock(s_->mutex);
    ++s_->waitGeneration;
    s_->cv.notify_all();
  }
  void SetInputNotice(std::size_t level, std::function<void()> notice) override {
    std::lock_guard noticeLock(s_->noticeMutex);
    s_->notice = std::move(notice);
    std::lock_guard lock(s_->mutex);
    s_->noticeLevel = s_->notice ? level : 0;
    s_->noticed = false;
  }
  // Bytes that a far end hands over only when the program looks (a peer's Pump) come with
  // no notice ahead of the look: such a line has nothing to tell.
  bool TellsOfInput() const override {
    std::lock_guard lock(s_->mutex);
    return s_->peer == nullptr;
  }
  int SetDtr(bool on) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    return s_->Act(MemoryLine::LineAction::kDtr, on, &s_->dtr);
  }
  int SetRts(bool on) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    return s_->Act(MemoryLine::LineAction::kRts, on, &s_->rts);
  }
  int SetBreak(bool on) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    return s_->Act(MemoryLine::LineAction::kBreak, on, &s_->brk);
  }
  int GetLineCounters(LineCounters* counters) override {
    std::lock_guard lock(s_->mutex);
    if (Gone()) return EIO;
    if (!s_->countersAvailable) return ENOTSUP;
    *counters = s_->counters;
    return 0;
  }

 private:
  // The far end delivers what is due; outside the lock, as it calls Send.
  void Pump() {
    MemoryLine::Peer* peer = nullptr;
    MemoryLine* line = nullptr;
    std::int64_t now = 0;
    {
      std::lock_guard lock(s_->mutex);
      if (Gone()) return;
      peer = s_->peer;
      line = s_->owner;
      now = s_->now();
    }
    if (peer != nullptr && line != nullptr) peer->Pump(*line, now);
  }

  bool Gone() const { return s_->unplugged || s_->plugging != plugging_; }  // mutex held

  std::shared_ptr<MemoryLine::State> s_;
  const std::uint64_t plugging_;
};

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

MemoryLine::MemoryLine(TimeSource now) : state_(std::make_shared<State>()) {
  state_->now = now ? std::move(now) : TimeSource(SteadyMs);
  state_->owner = this;
}

MemoryLine::~MemoryLine() {
  std::lock_guard lock(state_->mutex);
  state_->owner = nullptr;
  state_->peer = nullptr;
}

void MemoryLine::Send(const std::string& bytes) {
  if (Deliver(bytes)) state_->Notify();
}

bool MemoryLine::Deliver(const std::string& bytes) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (!s.open || s.unplugged) return false;
  const bool discardNull = (s.dcb.flags & kDcbNull) != 0;
  const std::size_t full80 = (static_cast<std::size_t>(s.inputSize) * 4 + 4) / 5;
  for (const char ch : bytes) {
    const auto c = static_cast<std::uint8_t>(ch);
    if (discardNull && c == 0) continue;
    if (s.queue.size() >= s.inputSize) {
      s.errors |= kCeRxOver;
      continue;
    }
    s.queue.push_back(c);
    std::uint32_t ev = kEvRxChar;
    if (c == s.dcb.evtChar) ev |= kEvRxFlag;
    if (s.queue.size() == full80) ev |= kEvRx80Full;
    s.Raise(ev);
  }
  return s.peer == nullptr && s.TakeNoticeDue();
}

std::string MemoryLine::TakeReceived() {
  std::lock_guard lock(state_->mutex);
  return std::exchange(state_->received, {});
}

void MemoryLine::SetPeer(Peer* peer) {
  std::lock_guard lock(state_->mutex);
  state_->peer = peer;
}

void MemoryLine::SetModemStatus(std::uint32_t kMsBits) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  const std::uint32_t changed = s.modem ^ kMsBits;
  s.modem = kMsBits;
  std::uint32_t ev = 0;
  if ((changed & kMsCtsOn) != 0) ev |= kEvCts;
  if ((changed & kMsDsrOn) != 0) ev |= kEvDsr;
  if ((changed & kMsRlsdOn) != 0) ev |= kEvRlsd;
  if ((changed & kMsBits & kMsRingOn) != 0) ev |= kEvRing;
  if (s.open) s.Raise(ev);
}

void MemoryLine::RaiseLineErrors(std::uint32_t kCeBits) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (!s.open) return;
  s.errors |= kCeBits;
  std::uint32_t ev = 0;
  if ((kCeBits & (kCeFrame | kCeOverrun | kCeRxParity)) != 0) ev |= kEvErr;
  if ((kCeBits & kCeBreak) != 0) ev |= kEvBreak;
  s.Raise(ev);
}

void MemoryLine::CountLineErrors(const LineCounters& counts) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.counters.overrun += counts.overrun;
  s.counters.frame += counts.frame;
  s.counters.parity += counts.parity;
  s.counters.brk += counts.brk;
  s.counters.bufferOverrun += counts.bufferOverrun;
  if (!s.open) return;
  std::uint32_t bits = 0;
  if (counts.overrun != 0) bits |= kCeOverrun;
  if (counts.frame != 0) bits |= kCeFrame;
  if (counts.parity != 0) bits |= kCeRxParity;
  if (counts.bufferOverrun != 0) bits |= kCeRxOver;
  if (counts.brk != 0) bits |= kCeBreak;
  s.errors |= bits;
  std::uint32_t ev = 0;
  if ((bits & (kCeFrame | kCeOverrun | kCeRxParity | kCeRxOver)) != 0) ev |= kEvErr;
  if ((bits & kCeBreak) != 0) ev |= kEvBreak;
  s.Raise(ev);
}

void MemoryLine::SetCountersAvailable(bool available) {
  std::lock_guard lock(state_->mutex);
  state_->countersAvailable = available;
}

std::vector<MemoryLine::LineAction> MemoryLine::TakeLineActions() {
  std::lock_guard lock(state_->mutex);
  return std::exchange(state_->actions, {});
}

bool MemoryLine::Dtr() const {
  return ReadLocked(*state_, &State::dtr);
}

bool MemoryLine::Rts() const {
  return ReadLocked(*state_, &State::rts);
}

bool MemoryLine::InBreak() const {
  return ReadLocked(*state_, &State::brk);
}

void MemoryLine::Unplug() {
  bool wasPlugged = false;
  {
    std::lock_guard lock(state_->mutex);
    wasPlugged = !state_->unplugged;
    state_->unplugged = true;
    state_->queue.clear();
    state_->cv.notify_all();
  }
  if (!wasPlugged) return;
  // An open handle tells its reader that the device has gone, as a tty's does.
  std::lock_guard noticeLock(state_->noticeMutex);
  if (state_->notice) state_->notice();
}

void MemoryLine::Replug() {
  std::lock_guard lock(state_->mutex);
  if (!state_->unplugged) return;
  state_->unplugged = false;
  ++state_->plugging;
  // The handle from before is dead; the device is free for a new open.
  state_->open = false;
  state_->queue.clear();
  state_->errors = 0;
  state_->cv.notify_all();
}

bool MemoryLine::IsOpen() const {
  return ReadLocked(*state_, &State::open);
}

Dcb MemoryLine::LastDcb() const {
  return ReadLocked(*state_, &State::dcb);
}

CommTimeouts MemoryLine::LastTimeouts() const {
  return ReadLocked(*state_, &State::timeouts);
}

std::uint32_t MemoryLine::InputSize() const {
  return ReadLocked(*state_, &State::inputSize);
}

std::uint32_t MemoryLine::PendingInput() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<std::uint32_t>(state_->queue.size());
}

std::int64_t MemoryLine::Now() const {
  std::lock_guard lock(state_->mutex);
  return state_->now();
}

int MemoryLine::Open(std::unique_ptr<SerialDevice>* device) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (s.unplugged) return ENOENT;
  if (s.open) return EBUSY;
  s.open = true;
  s.queue.clear();
  s.errors = 0;
  s.mask = 0;
  s.events = 0;
  *device = std::make_unique<MemoryDevice>(state_);
  return 0;
}

namespace {

std::string RegistryKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<MemoryLine>> lines;
};

Registry& Lines() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterMemoryLine(const std::string& portName, std::shared_ptr<MemoryLine> line) {
  std::lock_guard lock(Lines().mutex);
  Lines().lines[RegistryKey(portName)] = std::move(line);
}

void UnregisterMemoryLine(const std::string& portName) {
  std::lock_guard lock(Lines().mutex);
  Lines().lines.erase(RegistryKey(portName));
}

std::shared_ptr<MemoryLine> FindMemoryLine(const std::string& portName) {
  std::lock_guard lock(Lines().mutex);
  const auto it = Lines().lines.find(RegistryKey(portName));
  return it == Lines().lines.end() ? nullptr : it->second;
}

std::vector<std::string> MemoryLineNames() {
  std::lock_guard lock(Lines().mutex);
  std::vector<std::string> names;
  for (const auto& [name, line] : Lines().lines) names.push_back(name);
  return names;
}

}  // namespace kvel
