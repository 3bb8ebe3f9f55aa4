// Figures of the main window at work over a pseudo-terminal, in real time: key to line,
// line to screen, idle cost of the poll, a 921600-baud stream with the log on, and a
// 115200-baud line whose device writes every byte on its own.
// `bench_app [seconds] [single]`: with "single" only the single-byte case runs.
// `bench_app pace SECONDS DELAY`: no window; opens a pseudo-terminal, prints its slave's
// path, and after DELAY seconds writes the same paced 921600-baud stream into it for
// SECONDS (for another program to read: bench/app/peers.sh).
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QMetaObject>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchWindow.h"
#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "PtyPair.h"
#include "terminal/CPortCtl.h"
#include "ui/Clock.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Usage {
  double cpu = 0;      // seconds of all threads
  long switches = 0;   // context switches of all threads, voluntary and forced
  long voluntary = 0;  // of them, the ones where a thread went to sleep
};

Usage UsageNow() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  Usage u;
  u.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  u.switches = usage.ru_nvcsw + usage.ru_nivcsw;
  u.voluntary = usage.ru_nvcsw;
  return u;
}

void Report(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("%-34s median %7.2f ms  worst %7.2f ms  (%zu samples)\n", what,
              values[values.size() / 2], values.back(), values.size());
}

// Runs `step` on the GUI thread inside the running poll, then ends the poll.
void InPoll(TForm1& form, const std::function<void()>& step) {
  QTimer::singleShot(0, &form, [step] {
    step();
    RunFlag = 0;
  });
  form.PollReceive();
}

// A device in a process of its own (so its work does not count as ours) that writes one
// byte at a time at the pace of `baud` (10 bits a byte) into `fd` for `seconds`.
pid_t StartSingleByteDevice(int fd, int baud, int seconds) {
  const pid_t child = fork();
  if (child != 0) return child;
  const long periodNs = 10L * 1000000000L / baud;
  const long count = static_cast<long>(seconds) * baud / 10;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long i = 0; i < count; ++i) {
    SleepOnePeriod(next, periodNs);
    const char byte = static_cast<char>(' ' + i % 90);
    if (write(fd, &byte, 1) != 1) break;
  }
  _exit(0);
}

// The stream a fast device sends: printable lines of 78 characters and CR LF.
std::string StreamPattern(std::size_t size) {
  std::string data(size, ' ');
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t column = i % 80;
    data[i] = column == 78 ? '\r' : column == 79 ? '\n' : static_cast<char>('!' + (i / 7) % 90);
  }
  return data;
}

// Writes `chunk` bytes of the stream pattern into `fd` every chunk * 10 / baud seconds (8N1
// on the wire) for `seconds`, from now on; returns the bytes written.
long PaceStream(int fd, int baud, int chunk, int seconds) {
  const std::string pattern = StreamPattern(80 * 64);
  const long periodNs = static_cast<long>(chunk) * 10L * 1000000000L / baud;
  const long count = static_cast<long>(seconds) * 1000000000L / periodNs;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  long written = 0;
  std::size_t at = 0;
  for (long i = 0; i < count; ++i) {
    SleepOnePeriod(next, periodNs);
    if (at + static_cast<std::size_t>(chunk) > pattern.size()) at = 0;
    const ssize_t n = write(fd, pattern.data() + at, static_cast<std::size_t>(chunk));
    if (n <= 0) break;
    written += n;
    at += static_cast<std::size_t>(chunk);
  }
  return written;
}

// The paced stream from a process of its own, so that its work does not count as ours.
pid_t StartPacedDevice(int fd, int baud, int chunk, int seconds) {
  const pid_t child = fork();
  if (child != 0) return child;
  PaceStream(fd, baud, chunk, seconds);
  _exit(0);
}

// `pace SECONDS DELAY`: the stream for a peer program on a pseudo-terminal of its own.
int PaceForPeer(int seconds, int delay) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  std::printf("%s\n", name);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(delay));
  const long written = PaceStream(master, 921600, 64, seconds);
  std::printf("wrote %ld\n", written);
  return 0;
}

// The single-byte line: the share of a core this process takes while the poll shows it.
void SingleByteLine(TForm1& form, kvel::test::PtyPair& pty, int seconds) {
  std::size_t shown = 0;
  form.DisplayTap = [&shown](const std::string& text) { shown += text.size(); };
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  const pid_t device = StartSingleByteDevice(pty.MasterFd(), 115200, seconds);
  QTimer::singleShot(seconds * 1000 + 300, [] { RunFlag = 0; });
  form.PollReceive();
  waitpid(device, nullptr, 0);
  const double share =
      (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%-34s %.2f %% of a core, %zu of %ld bytes shown over %d s\n",
              "115200 baud, single-byte writes", share * 100.0, shown,
              static_cast<long>(seconds) * 11520, seconds);
  form.DisplayTap = {};
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  EnterBenchFolder("kvel_bench_app");
  if (argc > 3 && std::string(argv[1]) == "pace") {
    return PaceForPeer(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

  BenchWindow window(argc, argv);
  TForm1& form = window.Form();
  kvel::test::PtyPair& pty = window.Pty();
  form.activateWindow();
  (void)QTest::qWaitForWindowActive(&form);
  (void)QTest::qWaitFor([&form] { return form.FormShowDone(); }, 5000);
  UnitType = 5;
  if (argc > 2 && std::string(argv[2]) == "single") {
    SingleByteLine(form, pty, seconds);
    RunFlag = 0;
    form.ComPort1.ClosePort();
    return 0;
  }

  // Typed character -> byte readable at the far end.
  std::vector<double> keyLatency;
  InPoll(form, [&] {
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      QTest::keyClick(form.ComTerminal1, static_cast<char>('a' + i % 26));
      const std::string got = pty.Read(1, std::chrono::milliseconds(1000));
      if (got.size() == 1) keyLatency.push_back(Ms(Clock::now() - start));
    }
  });
  Report("typed key -> far end", keyLatency);

  // Device bytes -> shown in the terminal, through the poll.
  std::vector<double> showLatency;
  std::atomic<bool> seen{false};
  form.DisplayTap = [&seen](const std::string&) { seen = true; };
  std::thread device([&] {
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20 + 37 * (i % 5)));
      seen = false;
      const auto start = Clock::now();
      pty.Write("x");
      while (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
      showLatency.push_back(Ms(Clock::now() - start));
    }
    QMetaObject::invokeMethod(
        &form, [] { RunFlag = 0; }, Qt::QueuedConnection);
  });
  form.PollReceive();
  device.join();
  Report("device byte -> screen", showLatency);
  form.DisplayTap = {};

  // Idle poll: the window focused while its caret blinks (the first seconds after the focus
  // came), focused once the caret has settled, and unfocused.
  const auto idle = [&form](const char* what, int ms) {
    const Usage u0 = UsageNow();
    const auto start = Clock::now();
    QTimer::singleShot(ms, [] { RunFlag = 0; });
    form.PollReceive();
    const Usage u1 = UsageNow();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-34s %.3f %% of a core, %.1f wake-ups/s over %.0f s\n", what,
                (u1.cpu - u0.cpu) / elapsed * 100.0,
                static_cast<double>(u1.voluntary - u0.voluntary) / elapsed, elapsed);
  };
  form.ComTerminal1->clearFocus();
  form.ComTerminal1->setFocus();
  idle("idle poll, caret blinking", kvel::TComTerminal::kCaretBlinkTimeoutMs);
  idle("idle poll, focused, caret steady", seconds * 1000);
  form.ComTerminal1->clearFocus();
  idle("idle poll, terminal unfocused", seconds * 1000);

  // 921600 baud (92160 bytes/s) in 64-byte writes with the log on.
  {
    form.SpeedButton3Click();
    std::size_t shown = 0;
    form.DisplayTap = [&shown](const std::string& text) { shown += text.size(); };
    const Usage u0 = UsageNow();
    const auto start = Clock::now();
    const pid_t streamer = StartPacedDevice(pty.MasterFd(), 921600, 64, seconds);
    const std::size_t expected = static_cast<std::size_t>(seconds) * 92160 / 64 * 64;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (shown >= expected || Clock::now() - start > std::chrono::seconds(seconds + 5))
        RunFlag = 0;
    });
    watch.start(50);
    form.PollReceive();
    watch.stop();
    waitpid(streamer, nullptr, 0);
    const Usage u1 = UsageNow();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "%-34s %.2f %% of a core, %.0f context switches/s, %zu of %zu bytes shown in "
        "%.1f s\n",
        "921600-baud stream, log on", (u1.cpu - u0.cpu) / elapsed * 100.0,
        static_cast<double>(u1.switches - u0.switches) / elapsed, shown, expected, elapsed);
    form.DisplayTap = {};
    form.SpeedButton3Click();
  }
  SingleByteLine(form, pty, seconds);
  RunFlag = 0;
  form.ComPort1.ClosePort();
  return 0;
}
