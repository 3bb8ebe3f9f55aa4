#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvel::test {
namespace {

int MsLeft(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
          .count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  slaveKeeper_ = slave;
  slavePath_ = name;
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slaveKeeper_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyPair::Write(const std::string& bytes, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    if (MsLeft(end) == 0) throw std::runtime_error("pty write timed out");
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, MsLeft(end));
  }
}

std::string PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::string result;
  char buffer[4096];
  while (result.size() < count) {
    const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - result.size()));
    if (n > 0) {
      result.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (n < 0 && errno != EAGAIN) || MsLeft(end) == 0) break;
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, MsLeft(end));
  }
  return result;
}

}  // namespace kvel::test
