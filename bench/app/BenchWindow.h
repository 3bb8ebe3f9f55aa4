#pragma once

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "KVELUnit1.h"
#include "KVEL_32.h"
#include "KVEL_Var.h"
#include "PtyPair.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

// Makes a folder of its own under the temporary folder the current one and the folder of the
// window's INI file, so a run neither reads nor changes the user's settings; returns it.
inline std::filesystem::path EnterBenchFolder(const char* name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  ::setenv("KVEL_INI_DIR", folder.c_str(), 1);
  return folder;
}

// The application and the real main window of a run, shown with its timer stopped: its
// message boxes are told on stderr (and answered OK, so nothing waits for a click), its COM1
// is a pseudo-terminal, and the program's state is as at a start.
class BenchWindow {
 public:
  BenchWindow(int& argc, char** argv) : application_(argc, argv) {
    kvel::SetMessageBoxHook([](const kvel::MessageBoxRequest& request) {
      std::fprintf(stderr, "box: %s\n", request.text.c_str());
      return kvel::MsgResult::Ok;
    });
    ::setenv("KVEL_COM1", pty_.SlavePath().c_str(), 1);
    ResetProcessState();
    form_ = std::make_unique<TForm1>();
    form_->show();
    form_->Timer1->stop();
  }

  TForm1& Form() { return *form_; }
  kvel::test::PtyPair& Pty() { return pty_; }

 private:
  // The program's platform defaults go before the application object reads them.
  struct PlatformDefaults {
    PlatformDefaults() { SetPlatformDefaults(); }
  } defaults_;
  kvel::Application application_;
  kvel::test::PtyPair pty_;
  std::unique_ptr<TForm1> form_;  // goes before the port and the application
};

// Sleeps until `next` advanced by `periodNs`: a steady pace that does not drift with the time
// the work between two sleeps takes.
inline void SleepOnePeriod(timespec& next, long periodNs) {
  next.tv_nsec += periodNs;
  while (next.tv_nsec >= 1000000000L) {
    next.tv_nsec -= 1000000000L;
    ++next.tv_sec;
  }
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
}
