#include "TcpRunner.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "RealTime.h"

namespace kvel::sim {

TcpRunner::TcpRunner(SimConfig& config, const std::string& where) {
  if (config.lines.size() != 1)
    throw std::runtime_error("--listen serves one line; " + std::to_string(config.lines.size()) +
                             " are described");
  port_ = config.lines[0].port;
  line_ = config.lines[0].line.get();
  line_->transcript().SetKeep(false);

  std::string host;
  std::string service;
  if (!where.empty() && where.front() == '[') {
    const auto close = where.find("]:");
    if (close == std::string::npos)
      throw std::runtime_error("--listen wants HOST:PORT, not " + where);
    host = where.substr(1, close - 1);
    service = where.substr(close + 2);
  } else {
    const auto colon = where.rfind(':');
    if (colon == std::string::npos || colon == 0)
      throw std::runtime_error("--listen wants HOST:PORT, not " + where);
    host = where.substr(0, colon);
    service = where.substr(colon + 1);
  }
  if (service.empty() || service.find_first_not_of("0123456789") != std::string::npos ||
      service.size() > 5 || std::stol(service) > 65535)
    throw std::runtime_error("--listen: " + service + " is not a port number");

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0)
    throw std::runtime_error("--listen: host " + host + " not found (" + gai_strerror(rc) + ")");
  std::string failure;
  for (const addrinfo* a = list; a != nullptr && listen_ < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 4) != 0) {
      failure = std::strerror(errno);
      close(fd);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    bound_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    listen_ = fd;
  }
  freeaddrinfo(list);
  if (listen_ < 0)
    throw std::runtime_error("--listen: cannot listen on " + where + " (" + failure + ")");
  host_ = host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

TcpRunner::~TcpRunner() {
  if (client_ >= 0) close(client_);
  if (listen_ >= 0) close(listen_);
}

std::vector<std::string> TcpRunner::EnvironmentLines() const {
  return {"KVEL_" + port_ + "=socket://" + host_ + ":" + std::to_string(bound_)};
}

void TcpRunner::TraceTo(std::FILE* out) {
  trace_ = out;
  TraceLine(*line_, port_, &trace_);
}

void TcpRunner::Run(const volatile std::sig_atomic_t& stop) {
  std::string backlog;
  while (stop == 0) {
    const Micros now = RealNowUs();
    if (line_->IsGone(now)) {
      std::fprintf(stderr, "kvel-sim: %s has gone away\n", port_.c_str());
      return;
    }
    // With nobody connected the line still runs: what it says is lost, as on a real line.
    const std::string due = line_->TakeDue(now);
    if (client_ >= 0) backlog += due;
    TrimBacklog(backlog);
    while (client_ >= 0 && !backlog.empty()) {
      const ssize_t n = send(client_, backlog.data(), backlog.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      backlog.erase(0, static_cast<std::size_t>(n));
    }
    std::optional<Micros> next = line_->NextEventUs();
    pollfd fds[2] = {{listen_, POLLIN, 0}, {client_, POLLIN, 0}};
    if (client_ >= 0 && !backlog.empty()) fds[1].events |= POLLOUT;
    const timespec ts = WaitUntil(next, now);
    const int ready = ::ppoll(fds, client_ >= 0 ? 2 : 1, &ts, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("ppoll: ") + std::strerror(errno));
    }
    // The client first: one that has left is gone before a new connection is looked at, so
    // the next client is not turned away as a second one.
    if (client_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      std::uint8_t buffer[4096];
      const ssize_t n = recv(client_, buffer, sizeof buffer, 0);
      if (n > 0) {
        line_->Receive(buffer, static_cast<std::size_t>(n), RealNowUs());
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(client_);
        client_ = -1;
        backlog.clear();
      }
    }
    if ((fds[0].revents & POLLIN) != 0) {
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0 && client_ >= 0) {
        close(fd);  // one client at a time, as on a serial line
      } else if (fd >= 0) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        client_ = fd;
        backlog.clear();
      }
    }
  }
}

}  // namespace kvel::sim
