#include "PtyRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "RealTime.h"

namespace kvel::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyPort::PtyPort() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    const int e = errno;
    Close();
    throw std::system_error(e, std::generic_category(), "grantpt/unlockpt");
  }
  char name[PATH_MAX];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    const int e = errno;
    Close();
    throw std::system_error(e, std::generic_category(), "ptsname");
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    const int e = errno;
    Close();
    throw std::system_error(e, std::generic_category(), "open pty slave");
  }
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) {
    const int e = errno;
    Close();
    throw std::system_error(e, std::generic_category(), "fcntl O_NONBLOCK");
  }
}

PtyPort::~PtyPort() {
  Close();
}

void PtyPort::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = -1;
  master_ = -1;
}

struct PtyRunner::Endpoint {
  std::string port;
  Line* line = nullptr;
  std::unique_ptr<PtyPort> pty;
  std::string backlog;
  Micros quietUntilUs = 0;  // after a hang-up report, wait before looking again
};

PtyRunner::PtyRunner(SimConfig& config) {
  for (LineConfig& lc : config.lines) {
    Endpoint e;
    e.port = lc.port;
    e.line = lc.line.get();
    e.line->transcript().SetKeep(false);
    e.pty = std::make_unique<PtyPort>();
    endpoints_.push_back(std::move(e));
  }
}

PtyRunner::~PtyRunner() = default;

std::vector<std::string> PtyRunner::EnvironmentLines() const {
  std::vector<std::string> out;
  for (const Endpoint& e : endpoints_) out.push_back("KVEL_" + e.port + "=" + e.pty->Path());
  return out;
}

void PtyRunner::TraceTo(std::FILE* out) {
  trace_ = out;
  for (Endpoint& e : endpoints_) TraceLine(*e.line, e.port, &trace_);
}

void PtyRunner::Run(const volatile std::sig_atomic_t& stop) {
  std::vector<pollfd> fds;
  std::vector<Endpoint*> polled;
  while (stop == 0) {
    const Micros now = RealNowUs();
    std::optional<Micros> next;
    fds.clear();
    polled.clear();
    for (Endpoint& e : endpoints_) {
      if (!e.pty->IsOpen()) continue;
      if (e.line->IsGone(now)) {
        e.pty->Close();
        std::fprintf(stderr, "kvel-sim: %s has gone away\n", e.port.c_str());
        continue;
      }
      e.backlog += e.line->TakeDue(now);
      TrimBacklog(e.backlog);
      while (!e.backlog.empty()) {
        const ssize_t n = ::write(e.pty->Master(), e.backlog.data(), e.backlog.size());
        if (n <= 0) break;  // EAGAIN: the program is not reading; EIO: nobody there yet
        e.backlog.erase(0, static_cast<std::size_t>(n));
      }
      if (auto t = e.line->NextEventUs(); t && (!next || *t < *next)) next = t;
      short events = 0;
      if (now >= e.quietUntilUs) {
        events |= POLLIN;
      } else if (!next || e.quietUntilUs < *next) {
        next = e.quietUntilUs;
      }
      if (!e.backlog.empty()) {
        events |= POLLOUT;
        // Without a reader the master may stay unwritable; look again now and then.
        if (!next || now + 10'000 < *next) next = now + 10'000;
      }
      fds.push_back({e.pty->Master(), events, 0});
      polled.push_back(&e);
    }
    if (fds.empty()) return;
    const timespec ts = WaitUntil(next, now);
    const int ready = ::ppoll(fds.data(), fds.size(), &ts, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("ppoll");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      Endpoint& e = *polled[i];
      if ((fds[i].revents & POLLIN) != 0) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          e.line->Receive(buffer, static_cast<std::size_t>(n), RealNowUs());
          continue;
        }
        if (n < 0 && errno == EAGAIN) continue;
      }
      if ((fds[i].revents & (POLLHUP | POLLERR | POLLIN)) != 0) {
        // No slave side open at the moment (EIO); wait instead of spinning.
        e.quietUntilUs = RealNowUs() + 50'000;
      }
    }
  }
}

}  // namespace kvel::sim
