#pragma once

#include <string>

#include "CliOutput.h"
#include "indexer/ScanEngine.h"

namespace kvel::cli {

// The engines' progress on the command line: the steps go to the output's progress, a stop
// signal stops the job at its next message point, and the warnings are kept to be reported.
class CliProgress : public ScanProgress {
 public:
  // `job` names the job in the progress ("download"), `noun` a step ("line").
  CliProgress(Output& output, std::string job, std::string noun);
  ~CliProgress() override;

  void Progress(int current, int total, int bar, const std::string& text) override;
  void Idle() override {}
  bool Cancelled() override;
  void Warn(const std::string& text, const std::string& caption) override;
  void End() override;
  void UnitFound(const FoundUnit& unit) override;

  // A later step of the same command ("verify").
  void Rename(std::string job, std::string noun);

  const std::string& Warning() const { return warning_; }
  int Found() const { return found_; }

 private:
  Output& output_;
  std::string job_;
  std::string noun_;
  std::string warning_;
  int total_ = -1;
  int found_ = 0;
};

}  // namespace kvel::cli
