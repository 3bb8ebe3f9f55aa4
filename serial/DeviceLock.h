#pragma once

#include <string>

namespace kvel {

// The UUCP lock file of a device ("LCK..<name>" in the lock directory), so programs
// that honour that convention see the port in use. Stale files of dead processes are
// taken over; an unwritable lock directory means going on without a file.
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

  static std::string DefaultLockDir();

 private:
  std::string dir_;
  std::string file_;
};

}  // namespace kvel
