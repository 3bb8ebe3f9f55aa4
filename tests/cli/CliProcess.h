#pragma once

#include <string>
#include <vector>

namespace kvel::cli::test {

// How a kvel-cli run ended and what it wrote.
struct CliRun {
  int status = -1;  // the exit status; -1 when it did not exit by itself
  std::string out;
  std::string err;
};

// Runs kvel-cli with `args` and the environment plus `env` ("NAME=value"), without a
// terminal on any stream. With a `trigger`, SIGINT is sent once standard error shows it.
CliRun RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& trigger = {});

}  // namespace kvel::cli::test
