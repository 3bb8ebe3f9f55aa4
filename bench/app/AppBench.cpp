// Figures of the main window at work over a pseudo-terminal, in real time: key to line,
// line to screen, idle cost of the poll, a 921600-baud stream with the log on, and a
// 115200-baud line whose device writes every byte on its own.
// `bench_app [seconds] [single]`: with "single" only the single-byte case runs.
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
    next.tv_nsec += periodNs;
    if (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    const char byte = static_cast<char>(' ' + i % 90);
    if (write(fd, &byte, 1) != 1) break;
  }
  _exit(0);
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
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kvel_bench_app";
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  ::setenv("KVEL_INI_DIR", folder.c_str(), 1);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

  kvel::Application application(argc, argv);
  kvel::SetMessageBoxHook([](const kvel::MessageBoxRequest& request) {
    std::fprintf(stderr, "box: %s\n", request.text.c_str());
    return kvel::MsgResult::Ok;
  });
  kvel::test::PtyPair pty;
  ::setenv("KVEL_COM1", pty.SlavePath().c_str(), 1);
  ResetProcessState();
  TForm1 form;
  form.show();
  form.Timer1->stop();
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

  // Device bytes -> shown in the terminal, through the 100 ms poll.
  std::vector<double> showLatency;
  std::atomic<bool> seen{false};
  form.DisplayTap = [&seen](const std::string&) { seen = true; };
  std::thread device([&] {
    for (int i = 0; i < 40; ++i) {
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

  // Idle poll.
  {
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(seconds * 1000, [] { RunFlag = 0; });
    form.PollReceive();
    const double share =
        (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-34s %.3f %% of a core over %d s\n", "idle poll", share * 100.0, seconds);
  }

  // 921600 baud (92160 bytes/s) with the log on.
  {
    form.SpeedButton3Click();
    std::size_t shown = 0;
    form.DisplayTap = [&shown](const std::string& text) { shown += text.size(); };
    std::atomic<bool> stop{false};
    std::size_t written = 0;
    std::thread writer([&] {
      const auto start = Clock::now();
      std::string chunk(922, '\0');
      for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(' ' + i % 90);
      chunk.back() = '\n';
      for (int tick = 1; !stop; ++tick) {
        pty.Write(chunk);
        written += chunk.size();
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * tick));
      }
    });
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(seconds * 1000, [&stop] { stop = true; });
    QTimer::singleShot(seconds * 1000 + 300, [] { RunFlag = 0; });
    form.PollReceive();
    writer.join();
    kvel::Wait(200);
    const std::int32_t left = form.ComPort1.PendingInput();
    const double share =
        (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-34s %.2f %% of a core, %zu of %zu bytes shown over %d s, %d still queued\n",
                "921600-baud stream, log on", share * 100.0, shown, written, seconds, left);
    form.SpeedButton3Click();
  }
  SingleByteLine(form, pty, seconds);
  RunFlag = 0;
  form.ComPort1.ClosePort();
  return 0;
}
