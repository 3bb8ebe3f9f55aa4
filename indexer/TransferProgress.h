#pragma once

#include <string>

// What a transfer engine tells the one who runs it while it runs, and how it learns that it
// is to stop. The engines know no window: the progress window, a command-line program or a
// test implement this. Every member has a default, so a user overrides only what it shows.
class TransferProgress {
 public:
  virtual ~TransferProgress() = default;

  // The job begins: its caption, the end mark of its bar ("400") and its first step text.
  virtual void Begin(const std::string& caption, const std::string& endMark,
                     const std::string& text) {
    (void)caption;
    (void)endMark;
    (void)text;
  }
  // A step: `current` of `total` (line, parameter or address), the position on a bar of 1 to
  // 99 the progress window shows, and the step text ("Reading line : 12").
  virtual void Progress(int current, int total, int bar, const std::string& text) {
    (void)current;
    (void)total;
    (void)bar;
    (void)text;
  }
  // A result line of the job ("# 3 = I MU ... ready").
  virtual void Note(const std::string& text) { (void)text; }
  // The points at which the job lets the program handle its pending messages (the Cancel
  // button and Esc of a window take effect here). The default handles them.
  virtual void Idle();
  // Asked at each of those points: true stops the job as Cancel does (RunFlag drops to 0).
  virtual bool Cancelled() { return false; }
  // A problem the job reports and goes on from ("Communication Error"): the window shows a
  // message box, in front of its progress window.
  virtual void Warn(const std::string& text, const std::string& caption) {
    (void)text;
    (void)caption;
  }
  // The job's exchange is over (the progress window is released).
  virtual void End() {}
};

// A progress that shows nothing and handles the program's messages where the job allows it.
class QuietProgress : public TransferProgress {};

namespace kvel {
// The engines' message points: the user's Idle(), then its Cancelled() turned into RunFlag.
void EngineIdle(TransferProgress& progress);
}  // namespace kvel
