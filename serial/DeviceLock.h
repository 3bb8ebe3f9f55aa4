#pragma once

#include <string>

namespace kvel {

// The UUCP lock file of a device ("LCK..<name>" in the lock directory), so programs
// that honour that convention see the port in use. Stale files of dead processes are
// taken over, or ignored where they cannot be removed (another user's file in a sticky
// lock directory); an unwritable lock directory means going on without a file.
class DeviceLock {
 public:
  explicit DeviceLock(std::string lockDir = DefaultLockDir());
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Returns 0, or EBUSY when a living process holds the lock of `realPath`.
  int Acquire(const std::string& realPath);
  void Release();
  const std::string& FileName() const { return file_; }  // empty when none is held
  // What the last Acquire passed over: a stale lock file it could not remove, in words
  // ("a stale lock file ... of user ... was ignored"), or empty.
  const std::string& IgnoredStale() const { return ignoredStale_; }

  static std::string DefaultLockDir();

 private:
  std::string dir_;
  std::string file_;
  std::string ignoredStale_;
};

}  // namespace kvel
