#include "DeviceLock.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace kvel {
namespace {

constexpr long kUnreadable = -1;

// The process id written in a lock file, 0 when there is none to read, kUnreadable when
// the file cannot be read (so whether its owner lives is not known).
long ReadLockOwner(const std::string& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : kUnreadable;
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

// The name of the user owning `file`, or the number where the user is unknown.
std::string OwnerName(const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) return "unknown";
  if (const passwd* pw = getpwuid(st.st_uid); pw != nullptr) return pw->pw_name;
  return std::to_string(st.st_uid);
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
  ignoredStale_.clear();
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
    const long owner = ReadLockOwner(file);
    if (owner == kUnreadable || ProcessAlive(owner)) return EBUSY;
    if (unlink(file.c_str()) != 0 && errno != ENOENT) {
      // Stale whoever owns it; the device's own lock (flock) still keeps two programs
      // apart, so the open goes on without a file.
      ignoredStale_ = "a stale lock file " + file + " of user " + OwnerName(file) + " (process " +
                      std::to_string(owner) + ", not running) was ignored";
      return 0;
    }
  }
  return EBUSY;
}

void DeviceLock::Release() {
  if (file_.empty()) return;
  if (ReadLockOwner(file_) == getpid()) unlink(file_.c_str());
  file_.clear();
}

}  // namespace kvel
