#include "NetworkDevice.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <utility>

namespace kvel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxSub = 512;  // longer subnegotiations are cut (a signature text)

// Telnet.
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// COM port option commands (the server answers with the command + 100).
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6;
constexpr std::uint8_t kNotifyModemState = 7;
constexpr std::uint8_t kSetLineStateMask = 10;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool AcceptedForUs(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool AcceptedForHim(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead;
}

// "3", "2.5": a time for a message.
std::string SecondsText(int ms) {
  std::string s = std::to_string(ms / 1000);
  if (ms % 1000 != 0) s += "." + std::to_string(ms % 1000 / 100);
  return s;
}

struct Resolved {
  int rc = 0;
  std::string reason;
  std::vector<sockaddr_storage> addresses;
  std::vector<socklen_t> lengths;
};

// The name look-up, in a thread of its own so that a resolver that does not answer cannot
// hold the open beyond its time.
std::future<Resolved> Resolve(const std::string& host, const std::string& port) {
  auto task = std::make_shared<std::packaged_task<Resolved()>>([host, port] {
    Resolved r;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
      r.rc = rc;
      r.reason = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
      return r;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
      sockaddr_storage s{};
      std::memcpy(&s, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof s));
      r.addresses.push_back(s);
      r.lengths.push_back(a->ai_addrlen);
    }
    freeaddrinfo(list);
    return r;
  });
  std::future<Resolved> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  return result;
}

std::vector<std::uint8_t> Subnegotiation(std::uint8_t command,
                                         const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> out{kIac, kSb, kComPort, command};
  for (const std::uint8_t b : value) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

const char* ParityName(std::uint32_t v) {
  switch (v) {
    case 1:
      return "none";
    case 2:
      return "odd";
    case 3:
      return "even";
    case 4:
      return "mark";
    case 5:
      return "space";
    default:
      return "unknown";
  }
}

}  // namespace

std::string NetworkAddress::Text() const {
  return std::string(kind == Kind::kRfc2217 ? "rfc2217://" : "socket://") + host + ":" + port;
}

bool IsNetworkPortName(const std::string& name) {
  const std::string lower = Lower(name.substr(0, 10));
  return lower.rfind("rfc2217://", 0) == 0 || lower.rfind("socket://", 0) == 0;
}

bool ParseNetworkPortName(const std::string& name, NetworkAddress* address, std::string* problem) {
  const std::string lower = Lower(name);
  std::string rest;
  if (lower.rfind("rfc2217://", 0) == 0) {
    address->kind = NetworkAddress::Kind::kRfc2217;
    rest = name.substr(10);
  } else if (lower.rfind("socket://", 0) == 0) {
    address->kind = NetworkAddress::Kind::kRaw;
    rest = name.substr(9);
  } else {
    *problem = name + " is not a network port (rfc2217://HOST:PORT or socket://HOST:PORT)";
    return false;
  }
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host;
  std::string port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      *problem = name + " has no port number (HOST:PORT)";
      return false;
    }
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
  } else {
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) {
      *problem = name + " has no port number (HOST:PORT)";
      return false;
    }
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  long number = 0;
  bool digits = !port.empty() && port.size() <= 5;
  for (const char c : port) {
    if (c < '0' || c > '9') digits = false;
    if (digits) number = number * 10 + (c - '0');
  }
  if (host.empty()) {
    *problem = name + " names no host";
    return false;
  }
  if (!digits || number < 1 || number > 65535) {
    *problem = name + ": the port number must be 1 to 65535";
    return false;
  }
  address->host = host;
  address->port = std::to_string(number);
  return true;
}

NetworkDevice::NetworkDevice(NetworkAddress address, NetworkTimeouts timeouts)
    : address_(std::move(address)), limits_(timeouts) {}

int ConnectNetworkAddress(const NetworkAddress& address, int connectMs, int* socket,
                          std::string* detail) {
  *socket = -1;
  const std::string where = address.host + ":" + address.port;
  const auto deadline = After(Clock::now(), static_cast<std::uint64_t>(connectMs));
  const std::string seconds = SecondsText(connectMs);

  std::future<Resolved> lookup = Resolve(address.host, address.port);
  if (lookup.wait_until(deadline) != std::future_status::ready) {
    *detail = "no answer from the name service for " + address.host + " within " + seconds + " s";
    return ETIMEDOUT;
  }
  const Resolved resolved = lookup.get();
  if (resolved.rc != 0 || resolved.addresses.empty()) {
    *detail = "host " + address.host + " not found (" + resolved.reason + ")";
    return EHOSTUNREACH;
  }

  int lastError = ETIMEDOUT;
  for (std::size_t i = 0; i < resolved.addresses.size() && *socket < 0; ++i) {
    const auto* sa = reinterpret_cast<const sockaddr*>(&resolved.addresses[i]);
    const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    int rc = connect(fd, sa, resolved.lengths[i]) == 0 ? 0 : errno;
    if (rc == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int r = 0;
      do {
        r = poll(&p, 1, MsLeft(deadline));
      } while (r < 0 && errno == EINTR);
      if (r == 0) {
        rc = ETIMEDOUT;
      } else {
        socklen_t len = sizeof rc;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &rc, &len) != 0) rc = errno;
      }
    }
    if (rc != 0) {
      close(fd);
      lastError = rc;
      if (rc == ETIMEDOUT) break;
      continue;
    }
    *socket = fd;
  }
  if (*socket >= 0) return 0;
  if (lastError == ECONNREFUSED) {
    *detail = where + " refused the connection (no server listens on that port)";
  } else if (lastError == ETIMEDOUT) {
    *detail = "no answer from " + where + " within " + seconds + " s";
  } else {
    *detail = "cannot connect to " + where + " (" + std::strerror(lastError) + ")";
  }
  return lastError;
}

int NetworkDevice::Open(const std::string& name, std::unique_ptr<SerialDevice>* device,
                        std::string* detail, const NetworkTimeouts& timeouts, int connected) {
  NetworkAddress address;
  if (!ParseNetworkPortName(name, &address, detail)) {
    if (connected >= 0) close(connected);
    return EINVAL;
  }
  const std::string where = address.host + ":" + address.port;
  std::unique_ptr<NetworkDevice> dev(new NetworkDevice(address, timeouts));
  if (connected >= 0) {
    dev->socket_ = connected;
  } else if (const int rc =
                 ConnectNetworkAddress(address, timeouts.connectMs, &dev->socket_, detail);
             rc != 0) {
    return rc;
  }
  const int one = 1;
  setsockopt(dev->socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(dev->socket_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  dev->wakeFd_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!dev->wakeFd_.Valid()) {
    *detail = std::string("eventfd: ") + std::strerror(errno);
    return errno;
  }

  if (address.kind == NetworkAddress::Kind::kRfc2217) {
    {
      std::lock_guard lock(dev->mutex_);
      for (const std::uint8_t opt : {kBinary, kSuppressGoAhead, kComPort}) {
        dev->options_[opt].usAsked = true;
        dev->control_.insert(dev->control_.end(), {kIac, kWill, opt});
      }
      for (const std::uint8_t opt : {kBinary, kSuppressGoAhead}) {
        dev->options_[opt].himAsked = true;
        dev->control_.insert(dev->control_.end(), {kIac, kDo, opt});
      }
    }
    dev->FlushControl();
  }
  NetworkDevice* raw = dev.get();
  dev->reader_ = std::thread([raw] { raw->ReaderLoop(); });

  if (address.kind == NetworkAddress::Kind::kRfc2217) {
    std::unique_lock lock(dev->mutex_);
    const auto until = After(Clock::now(), static_cast<std::uint64_t>(timeouts.negotiateMs));
    dev->replyCv_.wait_until(lock, until, [&] {
      return dev->lost_ != 0 || dev->options_[kComPort].us || dev->comPortRefused_;
    });
    if (dev->lost_ != 0) {
      *detail = dev->failureDetail_;
      return dev->lost_;
    }
    if (!dev->options_[kComPort].us) {
      const std::string secs = SecondsText(timeouts.negotiateMs);
      *detail = where + " does not speak RFC 2217 (" +
                (dev->comPortRefused_ ? std::string("it refused the COM port option")
                                      : "no answer to the COM port option within " + secs + " s") +
                "); for a raw TCP server name it socket://" + where;
      return EPROTONOSUPPORT;
    }
    lock.unlock();
    // Line errors and breaks come as line-state notices; the server sends none without
    // a mask.
    std::uint64_t unused = 0;
    dev->SendSetting(kSetLineStateMask, {16 | 8 | 4 | 2}, &unused, kKeyCount);
  }
  *device = std::move(dev);
  return 0;
}

NetworkDevice::~NetworkDevice() {
  StopWaiters();
  replyCv_.notify_all();
  JoinReader();
  if (socket_ >= 0) close(socket_);
}

void NetworkDevice::LostLocked(const std::string& why) {
  if (lost_ == 0) {
    lost_ = EIO;  // the same as an adapter that has gone
    failureDetail_ = why;
  }
}

void NetworkDevice::MarkLost(const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    LostLocked(why);
  }
  dataCv_.notify_all();
  eventCv_.notify_all();
  replyCv_.notify_all();
  TellLoss();
}

// The reader looks at the queue before each poll: a read that makes room while it leaves
// the socket alone must tell it.
bool NetworkDevice::ResumesReader(bool wasFull) const {
  (void)wasFull;
  return throttled_ && !QueueFull();
}

std::uint32_t NetworkDevice::OutputQueued() const {
  int queued = 0;
  return ioctl(socket_, TIOCOUTQ, &queued) == 0 ? static_cast<std::uint32_t>(queued) : 0;
}

void NetworkDevice::ReaderLoop() {
  std::vector<std::uint8_t> buffer(kReadSize);
  const std::string where = address_.host + ":" + address_.port;
  for (;;) {
    bool throttled = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_ || lost_ != 0) return;
      throttled = QueueFull();
      throttled_ = throttled;
    }
    pollfd fds[2] = {{wakeFd_.Get(), POLLIN, 0}, {socket_, POLLIN, 0}};
    const int r = poll(fds, throttled ? 1 : 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      MarkLost("the connection to " + where + " failed (" + std::strerror(errno) + ")");
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) DrainWake();
    if (throttled || fds[1].revents == 0) continue;
    std::size_t room = 0;
    {
      std::lock_guard lock(mutex_);
      room = std::min(buffer.size(), QueueRoom());
    }
    if (room == 0) continue;
    const ssize_t n = recv(socket_, buffer.data(), room, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      MarkLost(n == 0 ? "the server " + where + " closed the connection"
                      : "the connection to " + where + " was lost (" + std::strerror(errno) + ")");
      return;
    }
    bool tell = false;
    bool eventDue = false;
    {
      std::lock_guard lock(mutex_);
      Parse(buffer.data(), static_cast<std::size_t>(n));
      tell = TakeNoticeDue();
      eventDue = EventDue();
    }
    dataCv_.notify_all();
    if (eventDue) eventCv_.notify_all();
    replyCv_.notify_all();
    FlushControl();
    if (tell) CallNotice();
  }
}

void NetworkDevice::QueueData(std::uint8_t byte) {
  if (dropInput_) return;  // came before the server purged its buffer
  if ((dcb_.flags & kDcbNull) != 0 && byte == 0) return;
  QueueByte(byte, dcb_.evtChar);
}

void NetworkDevice::Parse(const std::uint8_t* data, std::size_t count) {
  if (address_.kind == NetworkAddress::Kind::kRaw) {
    for (std::size_t i = 0; i < count; ++i) QueueData(data[i]);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = data[i];
    switch (parse_) {
      case ParseState::kData:
        if (c == kIac) {
          parse_ = ParseState::kIac;
        } else {
          QueueData(c);
        }
        break;
      case ParseState::kIac:
        if (c == kIac) {
          QueueData(c);
          parse_ = ParseState::kData;
        } else if (c >= kWill && c <= kDont) {
          verb_ = c;
          parse_ = ParseState::kOption;
        } else if (c == kSb) {
          sub_.clear();
          parse_ = ParseState::kSub;
        } else {
          parse_ = ParseState::kData;  // NOP, GA, AYT and the like: nothing to do here
        }
        break;
      case ParseState::kOption:
        OnCommand(verb_, c);
        parse_ = ParseState::kData;
        break;
      case ParseState::kSub:
        if (c == kIac) {
          parse_ = ParseState::kSubIac;
        } else if (sub_.size() < kMaxSub) {
          sub_.push_back(c);
        }
        break;
      case ParseState::kSubIac:
        if (c == kSe) {
          OnSubnegotiation();
          parse_ = ParseState::kData;
        } else {
          if (c == kIac && sub_.size() < kMaxSub) sub_.push_back(c);
          parse_ = ParseState::kSub;
        }
        break;
    }
  }
}

void NetworkDevice::Reply3(std::uint8_t verb, std::uint8_t option) {
  control_.insert(control_.end(), {kIac, verb, option});
}

// One side of an option (ours or the server's) asked to be on: agreed where we take the
// option, with an answer unless it answers our own request; refused once otherwise.
void NetworkDevice::AgreeOn(OptionSide side, bool accepted, std::uint8_t yes, std::uint8_t no,
                            std::uint8_t option) {
  if (accepted) {
    if (!side.on && !side.asked) Reply3(yes, option);
    side.on = true;
    side.asked = false;
  } else if (!side.refused) {
    Reply3(no, option);
    side.refused = true;
  }
}

// One side of an option told to be off: acknowledged unless it answers our own request.
void NetworkDevice::AgreeOff(OptionSide side, std::uint8_t no, std::uint8_t option) {
  if (side.on && !side.asked) Reply3(no, option);
  side.on = false;
  side.asked = false;
}

void NetworkDevice::OnCommand(std::uint8_t verb, std::uint8_t option) {
  Option& o = options_[option];
  const OptionSide us{o.us, o.usAsked, o.refusedDo};
  const OptionSide him{o.him, o.himAsked, o.refusedWill};
  switch (verb) {
    case kDo:
      AgreeOn(us, AcceptedForUs(option), kWill, kWont, option);
      break;
    case kDont:
      if (option == kComPort && (o.us || o.usAsked)) comPortRefused_ = true;
      AgreeOff(us, kWont, option);
      break;
    case kWill:
      AgreeOn(him, AcceptedForHim(option), kDo, kDont, option);
      break;
    case kWont:
      AgreeOff(him, kDont, option);
      break;
    default:
      break;
  }
}

void NetworkDevice::OnSubnegotiation() {
  if (sub_.size() < 2 || sub_[0] != kComPort || sub_[1] < kServerOffset) return;
  const std::uint8_t command = static_cast<std::uint8_t>(sub_[1] - kServerOffset);
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < sub_.size() && i < 6; ++i) value = (value << 8) | sub_[i];
  int key = -1;
  switch (command) {
    case kSetBaudRate:
      key = kBaud;
      break;
    case kSetDataSize:
      key = kDataSize;
      break;
    case kSetParity:
      key = kParity;
      break;
    case kSetStopSize:
      key = kStopSize;
      break;
    case kSetControl:
      if (value <= 3) {
        key = kFlow;
      } else if (value >= 7 && value <= 9) {
        key = kDtr;
      } else if (value >= 10 && value <= 12) {
        key = kRts;
      }
      break;
    case kPurgeData:
      key = kPurge;
      dropInput_ = false;
      break;
    case kNotifyLineState: {
      std::uint32_t errors = 0;
      if ((value & 16) != 0) errors |= kCeBreak;
      if ((value & 8) != 0) errors |= kCeFrame;
      if ((value & 4) != 0) errors |= kCeRxParity;
      if ((value & 2) != 0) errors |= kCeOverrun;
      errors_ |= errors;
      if ((errors & kCeBreak) != 0) ++counters_.brk;
      if ((errors & kCeFrame) != 0) ++counters_.frame;
      if ((errors & kCeRxParity) != 0) ++counters_.parity;
      if ((errors & kCeOverrun) != 0) ++counters_.overrun;
      if ((errors & kCeBreak) != 0) events_ |= kEvBreak & mask_;
      if ((errors & ~kCeBreak) != 0) events_ |= kEvErr & mask_;
      break;
    }
    case kNotifyModemState: {
      const std::uint32_t now = value & 0xF0;  // DCD, RI, DSR, CTS: the kMs* bits
      const std::uint32_t changed = (now ^ modem_) | (value & 0x0F) << 4;
      std::uint32_t ev = 0;
      if ((changed & kMsCtsOn) != 0) ev |= kEvCts;
      if ((changed & kMsDsrOn) != 0) ev |= kEvDsr;
      if ((changed & kMsRlsdOn) != 0) ev |= kEvRlsd;
      if (((now & kMsRingOn) != 0 && (modem_ & kMsRingOn) == 0) || (value & 4) != 0) ev |= kEvRing;
      modem_ = now;
      events_ |= ev & mask_;
      break;
    }
    default:
      break;
  }
  if (key >= 0 && key < kKeyCount) {
    replies_[key].generation = ++sent_;
    replies_[key].value = value;
  }
}

int NetworkDevice::SendRaw(const std::vector<std::uint8_t>& bytes, int timeoutMs) {
  const auto deadline = After(Clock::now(), static_cast<std::uint64_t>(timeoutMs));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(socket_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    const int left = MsLeft(deadline);
    if (left == 0) return ETIMEDOUT;
    pollfd p{socket_, POLLOUT, 0};
    poll(&p, 1, std::min(left, 50));
  }
  return 0;
}

void NetworkDevice::FlushControl() {
  {
    std::lock_guard lock(mutex_);
    if (control_.empty()) return;
  }
  // A write in progress sends the answers itself between its chunks: the reader must not
  // wait for it, or it would stop draining the socket while the write waits for the server.
  std::unique_lock sendLock(sendMutex_, std::try_to_lock);
  if (!sendLock.owns_lock()) return;
  std::vector<std::uint8_t> out;
  {
    std::lock_guard lock(mutex_);
    out.swap(control_);
  }
  if (!out.empty()) SendRaw(out, 1000);
}

int NetworkDevice::SendSetting(std::uint8_t command, const std::vector<std::uint8_t>& value,
                               std::uint64_t* generation, Key key) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    *generation = key < kKeyCount ? replies_[key].generation : 0;
  }
  std::lock_guard sendLock(sendMutex_);
  std::vector<std::uint8_t> bytes;
  {
    std::lock_guard lock(mutex_);
    bytes.swap(control_);  // answers the reader could not send meanwhile go first
  }
  const std::vector<std::uint8_t> setting = Subnegotiation(command, value);
  bytes.insert(bytes.end(), setting.begin(), setting.end());
  const int rc = SendRaw(bytes, limits_.replyMs);
  if (rc != 0 && rc != ETIMEDOUT) {
    MarkLost("the connection to " + address_.host + ":" + address_.port + " was lost (" +
             std::strerror(rc) + ")");
    std::lock_guard lock(mutex_);
    return lost_;
  }
  return rc;
}

int NetworkDevice::AwaitReply(Key key, std::uint64_t generation, const char* what,
                              std::uint32_t* value) {
  std::unique_lock lock(mutex_);
  const auto until = After(Clock::now(), static_cast<std::uint64_t>(limits_.replyMs));
  replyCv_.wait_until(
      lock, until, [&] { return lost_ != 0 || stop_ || replies_[key].generation != generation; });
  if (lost_ != 0) return lost_;
  if (replies_[key].generation == generation) {
    failureDetail_ = "the server " + address_.Text() + " did not answer the setting of the " +
                     what + " within " + SecondsText(limits_.replyMs) + " s";
    return ETIMEDOUT;
  }
  *value = replies_[key].value;
  return 0;
}

int NetworkDevice::SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) {
  (void)outputSize;
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  if (inputSize > 0) inputSize_ = inputSize;
  return 0;
}

int NetworkDevice::SetCommState(const Dcb& dcb) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    dcb_ = dcb;
  }
  if (address_.kind == NetworkAddress::Kind::kRaw) return 0;  // the server's line settings

  struct Item {
    Key key;
    std::uint8_t command;
    std::uint32_t value;
    const char* what;
    bool awaited;  // a server without modem lines may leave DTR and RTS unanswered
  };
  std::uint32_t parity = 1;
  switch (dcb.parity) {
    case 1:
      parity = 2;
      break;
    case 2:
      parity = 3;
      break;
    case 3:
      parity = 4;
      break;
    case 4:
      parity = 5;
      break;
    default:
      parity = 1;
  }
  const std::uint32_t stop = dcb.stopBits == 2 ? 2 : dcb.stopBits == 1 ? 3 : 1;
  const std::uint32_t rtsControl = dcb.flags & kDcbRtsControlMask;
  std::uint32_t flow = 1;
  if ((dcb.flags & kDcbOutxCtsFlow) != 0 || rtsControl == 0x2000) {
    flow = 3;
  } else if ((dcb.flags & (kDcbOutX | kDcbInX)) != 0) {
    flow = 2;
  }
  const std::uint32_t dtr = (dcb.flags & kDcbDtrControlMask) == 0 ? 9 : 8;
  std::vector<Item> items = {
      {kBaud, kSetBaudRate, dcb.baudRate, "baud rate", true},
      {kDataSize, kSetDataSize, dcb.byteSize, "data bits", true},
      {kParity, kSetParity, parity, "parity", true},
      {kStopSize, kSetStopSize, stop, "stop bits", true},
      {kFlow, kSetControl, flow, "flow control", true},
      {kDtr, kSetControl, dtr, "DTR line", false},
  };
  if (rtsControl == 0x0000 || rtsControl == 0x1000)
    items.push_back({kRts, kSetControl, rtsControl == 0 ? 12u : 11u, "RTS line", false});

  struct Pending {
    const Item* item;
    std::uint64_t generation;
  };
  std::vector<Pending> pending;
  for (const Item& item : items) {
    {
      std::lock_guard lock(mutex_);
      const Setting& s = settings_[item.key];
      if (s.known && s.value == item.value) continue;  // in force already
      if (!item.awaited) settings_[item.key] = {item.value, true};
    }
    std::vector<std::uint8_t> value;
    if (item.key == kBaud) {
      value = {static_cast<std::uint8_t>(item.value >> 24),
               static_cast<std::uint8_t>(item.value >> 16),
               static_cast<std::uint8_t>(item.value >> 8), static_cast<std::uint8_t>(item.value)};
    } else {
      value = {static_cast<std::uint8_t>(item.value)};
    }
    std::uint64_t generation = 0;
    if (const int rc = SendSetting(item.command, value, &generation, item.key); rc != 0) {
      std::lock_guard lock(mutex_);
      if (lost_ == 0)
        failureDetail_ = "cannot send the " + std::string(item.what) + " to " + address_.Text();
      return rc;
    }
    if (item.awaited) pending.push_back({&item, generation});
  }
  for (const Pending& p : pending) {
    std::uint32_t answer = 0;
    if (const int rc = AwaitReply(p.item->key, p.generation, p.item->what, &answer); rc != 0)
      return rc;
    std::lock_guard lock(mutex_);
    settings_[p.item->key] = {answer, true};
    if (answer != p.item->value) {
      std::string asked = std::to_string(p.item->value);
      std::string kept = std::to_string(answer);
      if (p.item->key == kParity) {
        asked = ParityName(p.item->value);
        kept = ParityName(answer);
      } else if (p.item->key == kStopSize) {
        asked = p.item->value == 3 ? "1.5" : asked;
        kept = answer == 3 ? "1.5" : kept;
      }
      failureDetail_ = "the server " + address_.Text() + " refused " + p.item->what + " " + asked +
                       " (it answered " + kept + ")";
      return EINVAL;
    }
  }
  return 0;
}

int NetworkDevice::Write(const std::uint8_t* data, std::size_t count, std::size_t* written) {
  *written = 0;
  CommTimeouts timeouts;
  std::uint64_t abortGeneration = 0;
  bool escape = false;
  bool nvtCr = false;
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    timeouts = timeouts_;
    abortGeneration = writeAbortGeneration_;
    escape = address_.kind == NetworkAddress::Kind::kRfc2217;
    // A server that refused binary mode for our side takes CR as the start of a line end.
    nvtCr = escape && !options_[kBinary].us;
  }
  const std::uint64_t budget = static_cast<std::uint64_t>(timeouts.writeTotalMultiplier) * count +
                               timeouts.writeTotalConstant;
  const bool bounded = timeouts.writeTotalMultiplier != 0 || timeouts.writeTotalConstant != 0;
  const auto deadline = After(Clock::now(), bounded ? budget : std::uint64_t{1} << 41);

  // The bytes on the wire, and for each the number of the caller's bytes complete with it.
  std::vector<std::uint8_t> wire;
  std::vector<std::uint32_t> complete;
  wire.reserve(count + 16);
  complete.reserve(count + 16);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = data[i];
    if (escape && b == kIac) {
      wire.push_back(kIac);
      complete.push_back(static_cast<std::uint32_t>(i));
    }
    wire.push_back(b);
    if (nvtCr && b == '\r' && (i + 1 >= count || (data[i + 1] != '\n' && data[i + 1] != 0))) {
      complete.push_back(static_cast<std::uint32_t>(i));
      wire.push_back(0);
    }
    complete.push_back(static_cast<std::uint32_t>(i + 1));
  }

  std::lock_guard sendLock(sendMutex_);
  int result = 0;
  std::size_t done = 0;
  while (done < wire.size()) {
    std::vector<std::uint8_t> answers;
    {
      std::lock_guard lock(mutex_);
      result = WriteEnded(abortGeneration);
      if (result != 0) break;
      // The reader's answers go out whole, between two of the caller's bytes.
      const bool boundary = done == 0 || complete[done - 1] != (done >= 2 ? complete[done - 2] : 0);
      if (boundary) answers.swap(control_);
    }
    if (!answers.empty()) SendRaw(answers, 1000);
    const ssize_t n = send(socket_, wire.data() + done, wire.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      MarkLost("the connection to " + address_.host + ":" + address_.port + " was lost (" +
               std::strerror(errno) + ")");
      std::lock_guard lock(mutex_);
      result = lost_;
      break;
    }
    const int left = MsLeft(deadline);
    if (left == 0) break;  // expired: complete with what went out
    pollfd p{socket_, POLLOUT, 0};
    poll(&p, 1, std::min(left, 50));
  }
  if (done > 0 && done < wire.size() &&
      complete[done - 1] == (done >= 2 ? complete[done - 2] : 0)) {
    // Half an escape or a line end went out: the rest must follow, or the stream would
    // change meaning.
    const std::vector<std::uint8_t> rest(wire.begin() + static_cast<std::ptrdiff_t>(done),
                                         wire.begin() + static_cast<std::ptrdiff_t>(done) + 1);
    if (SendRaw(rest, 1000) == 0) ++done;
  }
  {
    // Answers the reader left while this write held the socket.
    std::vector<std::uint8_t> answers;
    {
      std::lock_guard lock(mutex_);
      if (lost_ == 0) answers.swap(control_);
    }
    if (!answers.empty()) SendRaw(answers, 1000);
  }
  *written = done == 0 ? 0 : complete[done - 1];
  if (done > 0) {
    {
      std::lock_guard lock(mutex_);
      events_ |= kEvTxEmpty & mask_;  // the server has it
    }
    eventCv_.notify_all();
  }
  return result;
}

int NetworkDevice::Purge(std::uint32_t flags) {
  std::uint8_t server = 0;
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    if ((flags & kPurgeRxAbort) != 0) ++readAbortGeneration_;
    if ((flags & kPurgeTxAbort) != 0) ++writeAbortGeneration_;
    // Only the server's receive buffer is purged. What it holds to send belongs to writes
    // that have completed, which a local device lets out too (it discards only output the
    // far end holds off); purging it would cut off the end of a command just sent, as the
    // close does right after the last write.
    if (address_.kind == NetworkAddress::Kind::kRfc2217 && (flags & kPurgeRxClear) != 0) server = 1;
    if ((flags & kPurgeRxClear) != 0) {
      rx_.clear();
      CheckNoticeRearm();
      // What the server sends before its answer was in its buffer: it goes too.
      if ((server & 1) != 0) dropInput_ = true;
    }
  }
  dataCv_.notify_all();
  Wake();
  if (server == 0) return 0;
  std::uint64_t generation = 0;
  int rc = SendSetting(kPurgeData, {server}, &generation, kPurge);
  std::uint32_t answer = 0;
  if (rc == 0) rc = AwaitReply(kPurge, generation, "purge", &answer);
  std::lock_guard lock(mutex_);
  dropInput_ = false;
  if (rc != 0 && lost_ != 0) return lost_;
  if (rc == ETIMEDOUT) {
    // The local queue is clear all the same; a server that does not answer purges is no
    // reason to fail the caller's purge.
    return 0;
  }
  return rc;
}

int NetworkDevice::SendControl(Key key, std::uint32_t value, const char* what) {
  {
    std::lock_guard lock(mutex_);
    if (lost_ != 0) return lost_;
    failureDetail_.clear();
    if (address_.kind == NetworkAddress::Kind::kRaw) {
      failureDetail_ = std::string("a raw TCP port (socket://) cannot ") + what +
                       "; name the server rfc2217:// for that";
      return ENOTSUP;
    }
  }
  std::uint64_t generation = 0;
  const int rc = SendSetting(kSetControl, {static_cast<std::uint8_t>(value)}, &generation, key);
  std::lock_guard lock(mutex_);
  if (rc != 0) {
    if (lost_ == 0) failureDetail_ = std::string("cannot ") + what + " on " + address_.Text();
    return rc;
  }
  // What the line now holds: line settings applied later send theirs again only where they
  // differ from it.
  if (key < kKeyCount) settings_[key] = {value, true};
  return 0;
}

int NetworkDevice::SetDtr(bool on) {
  return SendControl(kDtr, on ? 8 : 9, on ? "set DTR" : "clear DTR");
}

int NetworkDevice::SetRts(bool on) {
  return SendControl(kRts, on ? 11 : 12, on ? "set RTS" : "clear RTS");
}

int NetworkDevice::SetBreak(bool on) {
  return SendControl(kKeyCount, on ? 5 : 6, "send a break");
}

int NetworkDevice::GetLineCounters(LineCounters* counters) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  if (address_.kind == NetworkAddress::Kind::kRaw) return ENOTSUP;
  *counters = counters_;
  return 0;
}

int NetworkDevice::GetModemStatus(std::uint32_t* status) {
  std::lock_guard lock(mutex_);
  if (lost_ != 0) return lost_;
  *status = modem_;
  return 0;
}

}  // namespace kvel
