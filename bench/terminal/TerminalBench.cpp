// Throughput of the escape decoder and of a shown, painted terminal, with peak memory.
// Each case runs in its own child process so that its peak resident size is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CPortEsc.h"
#include "StyledTerminal.h"

namespace {

constexpr std::size_t kVolume = 8u << 20;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string PlainText() {
  std::string text;
  text.reserve(kVolume + 100);
  for (unsigned line = 0; text.size() < kVolume; ++line) {
    std::string row = "line " + std::to_string(line) + ": ";
    while (row.size() < 80) row.push_back(static_cast<char>('a' + (row.size() + line) % 26));
    text += row + "\r\n";
  }
  return text;
}

std::string SequenceText() {
  std::string text;
  text.reserve(kVolume + 200);
  for (unsigned i = 0; text.size() < kVolume; ++i) {
    const unsigned row = 1 + i % 24, col = 1 + (i * 7) % 60;
    text += "\033[" + std::to_string(row) + ";" + std::to_string(col) + "H";
    text += (i % 3 == 0) ? "\033[1m" : (i % 3 == 1 ? "\033[7m" : "\033[0;4m");
    text += "value " + std::to_string(i) + "\033[0m\033[K";
    if (i % 5 == 0) text += "\033[24;1H\r\nscrolled line " + std::to_string(i) + "\r\n\n";
    if (i % 200 == 0) text += "\033[2J";
    if (i % 50 == 0) text += "\033[12;1H\033[J";
  }
  return text;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Processor time of this process, which a busy machine does not inflate as it does wall time.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void Report(const char* name, std::size_t bytes, double seconds, double cpuSeconds,
            long peakEarly) {
  const double megabytes = static_cast<double>(bytes) / (1 << 20);
  std::printf("%-34s %7.1f MB/s wall %7.1f MB/s cpu   peak %6ld kB (after 1 MB: %6ld kB)\n", name,
              megabytes / seconds, megabytes / cpuSeconds, PeakKilobytes(), peakEarly);
  std::fflush(stdout);
}

void RunDecoder(const std::string& data, const char* name) {
  kvel::TEscapeCodesVT100 codec;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t characters = 0;
  long early = 0;
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < data.size(); ++i) {
    switch (codec.FeedByte(bytes[i])) {
      case kvel::frCharacter:
        ++characters;
        break;
      case kvel::frCode:
        codec.Params().clear();
        break;
      case kvel::frAbsorbed:
        break;
    }
    if (i == (1u << 20)) early = PeakKilobytes();
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  const double cpuSeconds = CpuSeconds() - cpuStart;
  if (characters == 0) std::printf("(no characters)\n");
  Report(name, data.size(), seconds, cpuSeconds, early);
}

void RunTerminal(const std::string& data, const char* name, std::size_t block) {
  int argc = 1;
  char app[] = "bench_terminal";
  char* argv[] = {app, nullptr};
  QApplication application(argc, argv);
  kvel::TComTerminal terminal;
  StyleLikeMainWindow(terminal, 80, 24, 40);
  terminal.show();
  terminal.setFocus();
  QApplication::processEvents();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  long early = 0;
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < data.size(); done += block) {
    terminal.PutBytes(bytes + done, std::min(block, data.size() - done));
    // The receive poll lets the GUI paint after every block it shows.
    QApplication::processEvents();
    if (early == 0 && done >= (1u << 20)) early = PeakKilobytes();
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  const double cpuSeconds = CpuSeconds() - cpuStart;
  Report(name, data.size(), seconds, cpuSeconds, early);
}

template <class Run>
void InChild(Run run) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    run();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t block = 16384;
  if (argc > 1) block = static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10));
  if (block == 0) block = 16384;
  // An optional second argument picks one case (1..4), for profiling.
  const int only = argc > 2 ? std::atoi(argv[2]) : 0;
  std::printf("8 MB per case, terminal fed in blocks of %zu bytes, painted after each\n", block);
  if (only == 0 || only == 1) InChild([] { RunDecoder(PlainText(), "decoder, plain text"); });
  if (only == 0 || only == 2) InChild([] { RunDecoder(SequenceText(), "decoder, VT100-rich"); });
  if (only == 0 || only == 3) {
    InChild([block] { RunTerminal(PlainText(), "shown terminal, plain 80-col lines", block); });
  }
  if (only == 0 || only == 4) {
    InChild([block] { RunTerminal(SequenceText(), "shown terminal, VT100-rich", block); });
  }
  return 0;
}
