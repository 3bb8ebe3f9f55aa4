// kvel-sim: indexers and drives on pseudo-terminals, for trying KVEL without hardware.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "Config.h"
#include "PtyRunner.h"
#include "TcpRunner.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) {
  gStop = 1;
}

const char kUsage[] = R"(Usage: kvel-sim [OPTION]...
Simulates indexers and drives on pseudo-terminals. For every line it prints
KVEL_COM<n>=<pts path>; set that variable and KVEL opens the simulated line as COM<n>.

Options:
  -c, --config FILE       read statements from FILE
  -e, --statement TEXT    apply one statement (see below); may be repeated
      --line ARGS         the same as -e "line ARGS"; likewise --indexer, --param,
      --indexer ARGS        --program, --drive and --fault
      --demo              the demo setup (the default when nothing else is given)
      --env-file FILE     also write the KVEL_COM<n>=... lines to FILE when ready
      --transcript FILE   write every byte received and sent, with times, to FILE
                          ("-" for standard error)
      --listen HOST:PORT  serve the line on TCP (raw, one client at a time) instead of a
                          pseudo-terminal; prints KVEL_COM<n>=socket://HOST:PORT (port 0
                          picks a free one)
  -h, --help              show this help
      --version           show the version

Examples:
  kvel-sim --demo
  kvel-sim --line COM1 --indexer "1 xmu" --indexer "2 mu probe=busy" --fault "2 slow=300"
  kvel-sim --line COM2 --drive "grv bcd=-123 analog=2.5 error=12"
  kvel-sim --listen 127.0.0.1:4001 --line COM1 --indexer "1 xmu"

)";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteEnvFile(const std::string& path, const std::vector<std::string>& lines) {
  // Written under another name and renamed, so a script waiting for it never reads half.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const std::string& l : lines) out << l << '\n';
    if (!out) throw std::runtime_error("cannot write " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    throw std::runtime_error("cannot rename " + temp + " to " + path);
  }
}

// Runs the lines on pseudo-terminals or on TCP, after telling where they are.
int Serve(kvel::sim::Runner&& runner, const std::string& envFile,
          const std::string& transcriptPath) {
  std::FILE* trace = nullptr;
  if (transcriptPath == "-") {
    trace = stderr;
  } else if (!transcriptPath.empty()) {
    trace = std::fopen(transcriptPath.c_str(), "w");
    if (trace == nullptr) throw std::runtime_error("cannot write " + transcriptPath);
  }
  if (trace != nullptr) runner.TraceTo(trace);

  const std::vector<std::string> env = runner.EnvironmentLines();
  if (!envFile.empty()) WriteEnvFile(envFile, env);
  for (const std::string& l : env) std::cout << l << '\n';
  std::cout.flush();

  runner.Run(gStop);
  if (trace != nullptr && trace != stderr) std::fclose(trace);
  return 0;
}

int Run(int argc, char** argv) {
  kvel::sim::SimConfig config;
  std::string envFile;
  std::string transcriptPath;
  std::string listen;
  bool any = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw kvel::sim::ConfigError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage << kvel::sim::SimConfig::StatementHelp() << std::flush;
      return std::cout ? 0 : 1;
    } else if (arg == "--version") {
      std::cout << "kvel-sim " KVEL_VERSION "\n" << std::flush;
      return std::cout ? 0 : 1;
    } else if (arg == "-c" || arg == "--config") {
      const std::string path = value();
      config.ApplyText(ReadFile(path), path);
      any = true;
    } else if (arg == "-e" || arg == "--statement") {
      config.Apply(value());
      any = true;
    } else if (arg == "--demo") {
      config.Apply("demo");
      any = true;
    } else if (arg == "--line" || arg == "--indexer" || arg == "--param" || arg == "--program" ||
               arg == "--drive" || arg == "--fault") {
      config.Apply(arg.substr(2) + " " + value());
      any = true;
    } else if (arg == "--env-file") {
      envFile = value();
    } else if (arg == "--transcript") {
      transcriptPath = value();
    } else if (arg == "--listen") {
      listen = value();
    } else {
      throw kvel::sim::ConfigError("unknown option " + arg + " (see --help)");
    }
  }
  if (!any) config.Apply("demo");
  if (config.lines.empty()) throw kvel::sim::ConfigError("no line described");

  struct sigaction sa {};
  sa.sa_handler = OnSignal;  // no SA_RESTART: the wait returns at once
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!listen.empty()) return Serve(kvel::sim::TcpRunner(config, listen), envFile, transcriptPath);
  return Serve(kvel::sim::PtyRunner(config), envFile, transcriptPath);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const kvel::sim::ConfigError& e) {
    std::cerr << "kvel-sim: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "kvel-sim: " << e.what() << '\n';
    return 1;
  }
}
