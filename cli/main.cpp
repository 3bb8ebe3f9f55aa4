// kvel-cli: the indexer transfers of KVEL from the command line, for batch commissioning.
#include <cstdio>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "CliSignal.h"
#include "ui/Clock.h"

int main(int argc, char** argv) {
  using namespace kvel::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParseResult parsed = ParseArguments(arguments);
  const Options& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitCode(Status::kFile);
  }
  if (options.version) {
    std::fputs("kvel-cli " KVEL_VERSION "\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitCode(Status::kFile);
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "kvel-cli: %s (see kvel-cli --help)\n", parsed.error.c_str());
    return ExitCode(Status::kUsage);
  }
  InstallStopSignals();
  CliClock clock;
  kvel::SetClock(&clock);
  Output output(stdout, stderr, options.json, Output::StyleFor(stderr, options.quiet));
  const Status status = RunCommand(options, output);
  kvel::SetClock(nullptr);
  return ExitCode(status);
}
