#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "Config.h"
#include "RealTime.h"

namespace kvel::sim {

// A pseudo-terminal whose slave side the program opens as its serial device. The
// slave is set raw before anyone else sees it, and one slave descriptor stays open
// here so that the program closing its port does not hang the master up.
class PtyPort {
 public:
  PtyPort();  // throws std::system_error
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  bool IsOpen() const { return master_ >= 0; }
  // Closes both sides: the slave device disappears, as an adapter that is pulled out.
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Runs the lines of a configuration in real time, each on its own pseudo-terminal.
class PtyRunner final : public Runner {
 public:
  explicit PtyRunner(SimConfig& config);
  ~PtyRunner() override;

  // "KVEL_COM1=/dev/pts/4" for every line.
  std::vector<std::string> EnvironmentLines() const override;
  void TraceTo(std::FILE* out) override;
  void Run(const volatile std::sig_atomic_t& stop) override;

 private:
  struct Endpoint;
  std::vector<Endpoint> endpoints_;
};

}  // namespace kvel::sim
