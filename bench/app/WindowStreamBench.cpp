// The real main window against a device that sends as fast as the line takes it: each file
// named on the command line is written into a pseudo-terminal while the window's receive poll
// shows it and logs it; timed from the first byte written to the last byte in the terminal
// log, and the log is compared with the file. Run under Xvfb for a real window (without a
// display it falls back to the offscreen platform).
//
//   bench_window [runs] FILE...
#include <sys/resource.h>

#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "KVELUnit1.h"
#include "KVEL_32.h"
#include "KVEL_Var.h"
#include "PtyPair.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RunResult {
  double seconds = 0;
  bool identical = false;
};

// One pass of `data` through the device, the poll, the terminal and the log.
RunResult StreamOnce(TForm1& form, kvel::test::PtyPair& pty, const std::string& data,
                     const std::filesystem::path& logPath) {
  std::filesystem::remove(logPath);
  LogFileName = logPath.string();
  form.LogOn = true;
  std::size_t shown = 0;
  Clock::time_point last;
  form.DisplayTap = [&](const std::string& text) {
    shown += text.size();
    if (shown >= data.size()) {
      last = Clock::now();
      RunFlag = 0;
    }
  };
  const Clock::time_point start = Clock::now();
  std::thread device([&] {
    constexpr std::size_t kBlock = 64 * 1024;
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
      pty.Write(data.substr(at, kBlock), std::chrono::milliseconds(60000));
    }
  });
  form.PollReceive();
  device.join();
  form.DisplayTap = {};
  form.LogOn = false;
  RunResult result;
  result.seconds = std::chrono::duration<double>(last - start).count();
  result.identical = ReadFile(logPath) == data;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int first = 1;
  int runs = 3;
  if (argc > 1 && std::atoi(argv[1]) > 0) {
    runs = std::atoi(argv[1]);
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: bench_window [runs] FILE...\n");
    return 2;
  }
  std::vector<std::filesystem::path> files;
  for (int i = first; i < argc; ++i) files.push_back(std::filesystem::absolute(argv[i]));

  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kvel_bench_window";
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  ::setenv("KVEL_INI_DIR", folder.c_str(), 1);

  SetPlatformDefaults();
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
  (void)QTest::qWaitForWindowExposed(&form);
  (void)QTest::qWaitFor([&form] { return form.FormShowDone(); }, 5000);
  UnitType = 5;
  form.ComPort1.ClosePort();
  form.ComPort1.SetPort("COM1");
  form.ComPort1.OpenPort();

  int status = 0;
  for (const std::filesystem::path& file : files) {
    const std::string data = ReadFile(file);
    std::vector<double> times;
    bool identical = true;
    for (int r = 0; r < runs; ++r) {
      const RunResult result = StreamOnce(form, pty, data, folder / "stream.log");
      times.push_back(result.seconds);
      identical = identical && result.identical;
    }
    std::sort(times.begin(), times.end());
    const double mb = static_cast<double>(data.size()) / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%-14s %.1f MB  median %.3f s [%.3f..%.3f] n=%d => %.1f MB/s (best %.1f)  log %s  "
        "peak RSS %.1f MB\n",
        file.filename().c_str(), mb, times[times.size() / 2], times.front(), times.back(), runs,
        mb / times[times.size() / 2], mb / times.front(), identical ? "identical" : "DIFFERS",
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (!identical) status = 1;
  }
  RunFlag = 0;
  form.ComPort1.ClosePort();
  return status;
}
