#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "Config.h"
#include "RealTime.h"

namespace kvel::sim {

// Serves one line of a configuration on a TCP port, raw (what a serial device server's raw
// mode does): one client at a time; when it leaves the line waits for the next one. A
// client that connects while another is served is closed at once.
class TcpRunner final : public Runner {
 public:
  // `where` is "HOST:PORT" ("[::1]:PORT" for IPv6; port 0 picks a free one). Throws
  // std::runtime_error when the address is wrong or cannot be bound.
  TcpRunner(SimConfig& config, const std::string& where);
  ~TcpRunner() override;

  // "KVEL_COM1=socket://127.0.0.1:4001", with the port really bound.
  std::vector<std::string> EnvironmentLines() const override;
  void TraceTo(std::FILE* out) override;
  void Run(const volatile std::sig_atomic_t& stop) override;

 private:
  std::string port_;
  Line* line_ = nullptr;
  std::string host_;
  int bound_ = 0;
  int listen_ = -1;
  int client_ = -1;
};

}  // namespace kvel::sim
