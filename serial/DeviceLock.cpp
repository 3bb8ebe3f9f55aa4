#include "DeviceLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kvel {
namespace {

// The process id written in a lock file, 0 when there is none to read.
long ReadLockOwner(const std::string& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

DeviceLock::DeviceLock(std::string lockDir) : dir_(std::move(lockDir)) {}

DeviceLock::~DeviceLock() {
  Release();
}

std::string DeviceLock::DefaultLockDir() {
  struct stat st {};
  if (stat("/var/lock", &st) == 0 && S_ISDIR(st.st_mode)) return "/var/lock";
  return "/run/lock";
}

int DeviceLock::Acquire(const std::string& realPath) {
  Release();
  const auto slash = realPath.find_last_of('/');
  const std::string base = slash == std::string::npos ? realPath : realPath.substr(slash + 1);
  const std::string file = dir_ + "/LCK.." + base;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
      const bool written = write(fd, text, static_cast<std::size_t>(len)) == len;
      close(fd);
      if (!written) {
        unlink(file.c_str());
        return 0;
      }
      file_ = file;
      return 0;
    }
    if (errno != EEXIST) return 0;  // no usable lock directory: the flock still guards
    if (ProcessAlive(ReadLockOwner(file))) return EBUSY;
    unlink(file.c_str());
  }
  return EBUSY;
}

void DeviceLock::Release() {
  if (file_.empty()) return;
  if (ReadLockOwner(file_) == getpid()) unlink(file_.c_str());
  file_.clear();
}

}  // namespace kvel
