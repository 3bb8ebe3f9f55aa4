// Round trips through a pseudo-terminal: the far end echoes, the port polls as the
// application does (PendingInput, then ReceiveText of that many bytes).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "CPort.h"
#include "NetworkTestServers.h"
#include "PtyPair.h"

namespace {

// Echoes everything the port writes back to it.
class Echo {
 public:
  explicit Echo(kvel::test::PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
  ~Echo() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    char buffer[65536];
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(pty_.MasterFd(), buffer, sizeof buffer);
      if (n > 0) pty_.Write(std::string(buffer, static_cast<std::size_t>(n)));
    }
  }
  kvel::test::PtyPair& pty_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void BM_RoundTrip(benchmark::State& state) {
  kvel::test::PtyPair pty;
  setenv("KVEL_COM33", pty.SlavePath().c_str(), 1);
  TComPort port;
  port.SetPort("COM33");
  port.Buffer().SetInputSize(65536);
  port.OpenPort();
  Echo echo(pty);
  const std::string block(static_cast<std::size_t>(state.range(0)), 'U');
  std::string text;
  for (auto _ : state) {
    port.SendText(block);
    std::size_t got = 0;
    while (got < block.size()) {
      const std::int32_t pending = port.PendingInput();
      if (pending == 0) continue;
      got += static_cast<std::size_t>(port.ReceiveText(text, pending));
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  port.ClosePort();
  unsetenv("KVEL_COM33");
}
BENCHMARK(BM_RoundTrip)->Arg(1)->Arg(64)->Arg(4096)->Arg(16384)->UseRealTime();

// The same one-byte round trip over the network: ser2net on 127.0.0.1 in front of the
// pseudo-terminal, opened as rfc2217:// (argument 0) or socket:// (argument 1).
void BM_NetworkRoundTrip(benchmark::State& state) {
  if (kvel::test::Ser2net::Program().empty()) {
    state.SkipWithError("ser2net is not installed");
    return;
  }
  kvel::test::PtyPair pty;
  const std::string folder = "/tmp/kvel-bench-ser2net-" + std::to_string(getpid());
  std::filesystem::create_directories(folder);
  const bool rfc2217 = state.range(0) == 0;
  kvel::test::Ser2net server(folder, {{rfc2217, pty.SlavePath(), 0}});
  if (!server.Running()) {
    state.SkipWithError(server.Error().c_str());
    return;
  }
  TComPort port;
  port.SetPort(server.Url(0));
  port.OpenPort();
  Echo echo(pty);
  std::string text;
  for (auto _ : state) {
    port.SendText("U");
    std::size_t got = 0;
    while (got < 1) {
      const std::int32_t pending = port.PendingInput();
      if (pending == 0) continue;
      got += static_cast<std::size_t>(port.ReceiveText(text, pending));
    }
  }
  state.SetLabel(rfc2217 ? "rfc2217://" : "socket://");
  port.ClosePort();
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_NetworkRoundTrip)->Arg(0)->Arg(1)->UseRealTime();

// A device that sends as fast as the line takes it, read the way the program's receive
// poll reads: every 100 ms all that waits (PendingInput, then ReceiveText of that count).
void BM_PollRound100ms(benchmark::State& state) {
  kvel::test::PtyPair pty;
  setenv("KVEL_COM35", pty.SlavePath().c_str(), 1);
  TComPort port;
  port.SetPort("COM35");
  port.Buffer().SetInputSize(2048);  // as the program's port
  port.OpenPort();
  std::atomic<bool> stop{false};
  std::thread device([&] {
    const std::string block(65536, 'D');
    while (!stop) {
      const ssize_t n = write(pty.MasterFd(), block.data(), block.size());
      if (n <= 0) {
        pollfd p{pty.MasterFd(), POLLOUT, 0};
        poll(&p, 1, 20);
      }
    }
  });
  std::string text;
  std::int64_t bytes = 0;
  std::int64_t largest = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::int32_t pending = port.PendingInput();
    bytes += port.ReceiveText(text, pending);
    largest = std::max<std::int64_t>(largest, pending);
  }
  stop = true;
  device.join();
  state.SetBytesProcessed(bytes);
  state.counters["largest_round_MB"] = static_cast<double>(largest) / 1e6;
  port.ClosePort();
  unsetenv("KVEL_COM35");
}
BENCHMARK(BM_PollRound100ms)->Iterations(30)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PendingInput(benchmark::State& state) {
  kvel::test::PtyPair pty;
  setenv("KVEL_COM34", pty.SlavePath().c_str(), 1);
  TComPort port;
  port.SetPort("COM34");
  port.OpenPort();
  for (auto _ : state) benchmark::DoNotOptimize(port.PendingInput());
  unsetenv("KVEL_COM34");
}
BENCHMARK(BM_PendingInput);

}  // namespace

BENCHMARK_MAIN();
