#pragma once

#include <time.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Line.h"

namespace kvel::sim {

// What the runners that serve lines in real time share.

// Microseconds since the first call.
Micros RealNowUs();
// Keeps the last of what is waiting for a program that does not read: a real line would
// lose it anyway.
void TrimBacklog(std::string& backlog);
// The wait until `next` (a second at the most, and a second without a next event).
timespec WaitUntil(std::optional<Micros> next, Micros now);
// Streams every transcript entry of `line` to `*trace` (while not null), prefixed by `port`.
void TraceLine(Line& line, const std::string& port, std::FILE* const* trace);

// Serves the lines of a configuration in real time, where a program opens them as its ports.
class Runner {
 public:
  Runner() = default;
  virtual ~Runner() = default;
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // "KVEL_COM1=...": the environment that names the served lines as the program's ports.
  virtual std::vector<std::string> EnvironmentLines() const = 0;
  // Streams every transcript entry to `out` (not owned), prefixed by the port name.
  virtual void TraceTo(std::FILE* out) = 0;
  // Runs until `stop` is set (by a signal handler) or the lines have gone away.
  virtual void Run(const volatile std::sig_atomic_t& stop) = 0;

 protected:
  std::FILE* trace_ = nullptr;
};

}  // namespace kvel::sim
