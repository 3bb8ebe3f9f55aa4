#include "CliProgress.h"

#include <utility>

#include "CliSignal.h"

namespace kvel::cli {

CliProgress::CliProgress(Output& output, std::string job, std::string noun)
    : output_(output), job_(std::move(job)), noun_(std::move(noun)) {}

CliProgress::~CliProgress() {
  output_.End();
}

void CliProgress::Rename(std::string job, std::string noun) {
  output_.End();
  job_ = std::move(job);
  noun_ = std::move(noun);
  total_ = -1;
}

void CliProgress::Progress(int current, int total, int bar, const std::string& text) {
  (void)bar;
  if (total != total_) {
    total_ = total;
    output_.Begin(job_, total);
  }
  if (current <= 0) {
    // Before the first step: what the job does meanwhile ("Removing old program"), without
    // the dots the window adds while it waits.
    const std::size_t end = text.find_last_not_of('.');
    if (end != std::string::npos) output_.Step(0, text.substr(0, end + 1));
    return;
  }
  std::string step = noun_ + " " + std::to_string(current);
  if (total > 0) step += " of " + std::to_string(total);
  output_.Step(current, step);
}

bool CliProgress::Cancelled() {
  return StopRequested();
}

void CliProgress::Warn(const std::string& text, const std::string& caption) {
  // The window's message box texts break their lines with CR LF; one line is said here.
  std::string line;
  for (const char c : text) {
    if (c == '\r') continue;
    line += c == '\n' ? ' ' : c;
  }
  warning_ = caption.empty() ? line : caption + ": " + line;
}

void CliProgress::End() {
  output_.End();
  total_ = -1;
}

void CliProgress::UnitFound(const FoundUnit& unit) {
  ++found_;
  const std::size_t eq = unit.entry.find(" = ");
  const std::string id = eq == std::string::npos ? unit.entry : unit.entry.substr(eq + 3);
  std::string state = "numbered";
  if (unit.note.ends_with(" busy")) state = "busy";
  if (unit.note.ends_with(" ready")) state = "ready";
  JsonObject object;
  object.Add("result", "unit").Add("address", unit.address).Add("id", id).Add("state", state);
  output_.Result(std::to_string(unit.address) + " " + id, object);
}

}  // namespace kvel::cli
