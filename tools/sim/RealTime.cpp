#include "RealTime.h"

#include <algorithm>
#include <chrono>

#include "Transcript.h"

namespace kvel::sim {

Micros RealNowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

void TrimBacklog(std::string& backlog) {
  constexpr std::size_t kMaxBacklog = 64 * 1024;
  if (backlog.size() > kMaxBacklog) backlog.erase(0, backlog.size() - kMaxBacklog);
}

timespec WaitUntil(std::optional<Micros> next, Micros now) {
  Micros waitUs = next ? std::max<Micros>(0, *next - now) : 1'000'000;
  waitUs = std::min<Micros>(waitUs, 1'000'000);
  return timespec{static_cast<time_t>(waitUs / 1'000'000),
                  static_cast<long>((waitUs % 1'000'000) * 1000)};
}

void TraceLine(Line& line, const std::string& port, std::FILE* const* trace) {
  line.transcript().SetSink([trace, port](const Transcript::Entry& entry) {
    if (*trace == nullptr) return;
    std::fprintf(*trace, "%s %s\n", port.c_str(), Transcript::Format(entry).c_str());
    std::fflush(*trace);
  });
}

}  // namespace kvel::sim
