#pragma once

#include <string>
#include <vector>

namespace kvel::sim::test {

// A kvel-sim child process with its standard output on a pipe; stopped and reaped on destruction.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The next line of its standard output, "" after `timeoutMs` or at its end.
  std::string ReadLine(int timeoutMs);
  // Everything it writes until it exits.
  std::string ReadAll(int timeoutMs);
  // SIGTERM, then its exit code (-1 if it did not exit normally).
  int Stop();
  // Waits for it to exit by itself; its exit code.
  int Wait();

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// The path of the value after "NAME=" in a "KVEL_COM1=/dev/pts/3" line.
std::string ValueOf(const std::string& line);

}  // namespace kvel::sim::test
