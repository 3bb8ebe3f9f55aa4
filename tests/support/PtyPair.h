#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace kvel::test {

// A pseudo-terminal standing in for a serial device: the program opens SlavePath(),
// the test plays the far end on the master side.
class PtyPair {
 public:
  PtyPair();  // raw slave settings; throws std::runtime_error when no pty can be had
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Writes all bytes from the far end; throws when they cannot go out within `timeout`.
  void Write(const std::string& bytes,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // Reads until `count` bytes have arrived or `timeout` has passed; returns what came.
  std::string Read(std::size_t count,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
  // The far end goes away, as an unplugged adapter does.
  void CloseMaster();

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the pty alive across the program's open and close
  std::string slavePath_;
};

// Waits until `condition` holds, polling; false when `timeout` passes first.
template <typename Condition>
bool WaitFor(Condition condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kvel::test
