#include "NetworkTestServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kvel::test {
namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDo = 253;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Whether something listens on 127.0.0.1:port, from the kernel's socket table (a probing
// connect would take the server's one connection).
bool Listening(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("cannot bind a loopback port");
  const int port = BoundPort(fd);
  close(fd);
  return port;
}

// ---- ser2net ----

std::string Ser2net::Program() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
}

Ser2net::Ser2net(const std::string& folder, std::vector<Connection> connections)
    : connections_(std::move(connections)) {
  const std::string program = Program();
  if (program.empty()) {
    error_ = "ser2net is not installed";
    return;
  }
  std::ostringstream yaml;
  int n = 0;
  for (Connection& c : connections_) {
    if (c.port == 0) c.port = FreeLoopbackPort();
    yaml << "connection: &c" << n++ << "\n"
         << "  accepter: " << (c.rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
         << c.port << "\n"
         << "  connector: serialdev," << c.device << ",9600n81,local\n";
  }
  const std::string config = folder + "/ser2net.yaml";
  std::ofstream(config) << yaml.str();
  const std::string pidFile = folder + "/ser2net.pid";
  const std::string log = folder + "/ser2net.log";
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execl(program.c_str(), program.c_str(), "-n", "-c", config.c_str(), "-P", pidFile.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = "cannot start ser2net";
    return;
  }
  for (int i = 0; i < 500; ++i) {
    bool all = true;
    for (const Connection& c : connections_) all = all && Listening(c.port);
    if (all) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::ifstream in(log);
      std::ostringstream text;
      text << in.rdbuf();
      error_ = "ser2net ended at start: " + text.str();
      return;
    }
    usleep(10'000);
  }
  error_ = "ser2net does not listen after 5 s";
  Kill();
}

Ser2net::~Ser2net() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    usleep(10'000);
  }
  Kill();
}

void Ser2net::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string Ser2net::Url(std::size_t i) const {
  return std::string(connections_[i].rfc2217 ? "rfc2217://" : "socket://") +
         "127.0.0.1:" + std::to_string(connections_[i].port);
}

// ---- scripted peer ----

ScriptedPeer::ScriptedPeer(bool telnet) : telnet_(telnet) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  const int one = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listen_, 4) != 0)
    throw std::runtime_error("cannot listen on a loopback port");
  port_ = BoundPort(listen_);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
  // What ser2net opens with: binary mode both ways, and a request for the COM port option.
  if (telnet_)
    opening_ = std::string("\xff\xfb\x03\xff\xfd\x03\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c", 15);
  // The default: every setting is taken as asked, as a willing server answers.
  subReply_ = [](const std::string& body) {
    if (body.size() < 2 || static_cast<unsigned char>(body[0]) != 44) return std::string();
    std::string answer = body;
    answer[1] = static_cast<char>(static_cast<unsigned char>(body[1]) + 100);
    std::string out = "\xff\xfa";
    for (const char c : answer) {
      out.push_back(c);
      if (static_cast<unsigned char>(c) == kIac) out.push_back(c);
    }
    return out + "\xff\xf0";
  };
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) {
    [[maybe_unused]] const ssize_t n = write(wake_[1], "x", 1);
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    thread_.join();
  }
  if (client_ >= 0) close(client_);
  close(listen_);
  close(wake_[0]);
  close(wake_[1]);
}

void ScriptedPeer::SetSubReply(SubReply reply) {
  std::lock_guard lock(mutex_);
  subReply_ = std::move(reply);
}

void ScriptedPeer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ScriptedPeer::Run() {
  pollfd a[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  if (poll(a, 2, 20'000) <= 0 || (a[0].revents & POLLIN) == 0) return;
  const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  {
    std::lock_guard lock(mutex_);
    client_ = fd;
    connected_ = true;
    if (!opening_.empty()) send(fd, opening_.data(), opening_.size(), MSG_NOSIGNAL);
  }
  cv_.notify_all();
  for (;;) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, 20'000) <= 0) return;
    if ((p[1].revents & POLLIN) != 0) {
      char drain[16];
      while (read(wake_[0], drain, sizeof drain) > 0) {
      }
      std::lock_guard lock(mutex_);
      if (stopping_ || client_ < 0) return;
    }
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    std::uint8_t buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    std::lock_guard lock(mutex_);
    if (client_ < 0) return;
    Take(buffer, static_cast<std::size_t>(n));
    if (!pendingOut_.empty()) {
      send(client_, pendingOut_.data(), pendingOut_.size(), MSG_NOSIGNAL);
      pendingOut_.clear();
    }
    cv_.notify_all();
  }
}

void ScriptedPeer::Take(const std::uint8_t* data, std::size_t count) {
  seen_.raw.append(reinterpret_cast<const char*>(data), count);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char c = data[i];
    if (!telnet_) {
      seen_.data.push_back(static_cast<char>(c));
      continue;
    }
    switch (state_) {
      case 0:
        if (c == kIac) {
          state_ = 1;
        } else {
          seen_.data.push_back(static_cast<char>(c));
        }
        break;
      case 1:
        if (c == kIac) {
          seen_.data.push_back(static_cast<char>(c));
          state_ = 0;
        } else if (c == kSb) {
          sub_.clear();
          state_ = 3;
        } else if (c >= kWill) {
          sub_ = std::string{static_cast<char>(kIac), static_cast<char>(c)};
          state_ = 2;
        } else {
          state_ = 0;
        }
        break;
      case 2:
        sub_.push_back(static_cast<char>(c));
        seen_.commands.push_back(sub_);
        if (static_cast<unsigned char>(sub_[1]) == kWill && c == 44 && acceptComPort_ &&
            opening_.find("\xff\xfd\x2c") == std::string::npos)
          pendingOut_ += std::string{static_cast<char>(kIac), static_cast<char>(kDo), 44};
        state_ = 0;
        break;
      case 3:
        if (c == kIac) {
          state_ = 4;
        } else {
          sub_.push_back(static_cast<char>(c));
        }
        break;
      case 4:
        if (c == kSe) {
          seen_.subnegotiations.push_back(sub_);
          if (subReply_) pendingOut_ += subReply_(sub_);
          state_ = 0;
        } else {
          sub_.push_back(static_cast<char>(c));
          state_ = 3;
        }
        break;
      default:
        break;
    }
  }
}

void ScriptedPeer::Send(const std::string& bytes) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::seconds(5), [&] { return connected_; });
  if (client_ >= 0) send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool ScriptedPeer::WaitFor(const std::function<bool(const Seen&)>& condition,
                           std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return condition(seen_); });
}

ScriptedPeer::Seen ScriptedPeer::Snapshot() {
  std::lock_guard lock(mutex_);
  return seen_;
}

void ScriptedPeer::Drop() {
  {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
      shutdown(client_, SHUT_RDWR);
      close(client_);
      client_ = -1;
    }
  }
  [[maybe_unused]] const ssize_t n = write(wake_[1], "x", 1);
}

// ---- silent listener ----

SilentListener::SilentListener(int port) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (listen_ >= 0) setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = Loopback(port);
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listen_, 0) != 0)
    return;
  port_ = BoundPort(listen_);
  // Connections nobody accepts fill the queue; once one gets no answer, none will.
  for (int i = 0; i < 16 && !ready_; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to = Loopback(port_);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 200) == 0) ready_ = true;
    }
    fillers_.push_back(fd);
  }
}

SilentListener::~SilentListener() {
  for (const int fd : fillers_) close(fd);
  if (listen_ >= 0) close(listen_);
}

}  // namespace kvel::test
