// kvel-cli as a user runs it, in real time over a pseudo-terminal with kvel-sim at the far
// end: the results, the exit status, the one failure line and the bytes the unit received.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "SimProcess.h"
#include "TestFiles.h"

namespace kvel::cli::test {
namespace {

// The closing commands of a download, as the transcript shows them.
constexpr const char* kClosing = "L26 0\\n\\rL48 20 N001\\n\\r";

class CliEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

  // Starts kvel-sim with one line COM1 and the given statements.
  void Start(const std::vector<std::string>& statements) {
    std::vector<std::string> args{"--transcript", Path("sim.log"), "-e", "line COM1"};
    for (const std::string& s : statements) {
      args.push_back("-e");
      args.push_back(s);
    }
    sim_ = std::make_unique<kvel::sim::test::SimProcess>(args);
    for (std::string line = sim_->ReadLine(20000); !line.empty(); line = sim_->ReadLine(2000)) {
      if (line.starts_with("KVEL_COM1=")) {
        env_.push_back(line);
        break;
      }
    }
    ASSERT_EQ(env_.size(), 1U) << "kvel-sim did not say where its line is";
  }

  // kvel-cli on COM1 at 9600 baud, with the settings folder of this test.
  CliRun Cli(std::vector<std::string> args, const std::string& trigger = {}) {
    args.insert(args.begin(), {"--port", "COM1", "--baud", "9600"});
    std::vector<std::string> env = env_;
    env.push_back("KVEL_INI_DIR=" + Folder());
    env.push_back("HOME=" + Folder());
    return RunCli(args, env, trigger);
  }

  // Everything the simulated line received, as the transcript shows it (the simulator is
  // stopped for it).
  std::string Received() {
    if (sim_) sim_->Stop();
    sim_.reset();
    std::istringstream log(ReadFile(Path("sim.log")));
    std::string bytes;
    for (std::string line; std::getline(log, line);) {
      const std::size_t at = line.find(" << ");
      if (at != std::string::npos) bytes += line.substr(at + 4);
    }
    return bytes;
  }

  std::string Folder() const { return folder_.path().toStdString(); }
  std::string Path(const std::string& name) const { return Folder() + "/" + name; }

 protected:
  QTemporaryDir folder_;
  std::unique_ptr<kvel::sim::test::SimProcess> sim_;
  std::vector<std::string> env_;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(CliEndToEnd, ScanListsEveryUnitInAddressOrderAndSelectsTheLastOne) {
  Start({"indexer 3 xmu", "indexer 12 mu probe=busy"});
  const CliRun run = Cli({"--json", "scan"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "{\"result\":\"unit\",\"address\":3,\"id\":\"E XMU VORTAN V2.1\",\"state\":\"ready\"}\n"
      "{\"result\":\"unit\",\"address\":12,\"id\":\"I MU VORTAN V1.7\",\"state\":\"busy\"}\n");
  // Plain progress lines, standard error not being a terminal.
  EXPECT_NE(run.err.find("scan: address 99"), std::string::npos) << run.err;
  const std::string received = Received();
  EXPECT_EQ(received.find("<1? <2? <3? "), 0U) << received;
  EXPECT_EQ(Count(received, "? "), 99U) << received;
  // The last unit found is selected at the end, as the window's scan does.
  EXPECT_TRUE(received.ends_with("<99? <12 ")) << received;
}

TEST_F(CliEndToEnd, ScanOfAnEmptyLineFails) {
  Start({"indexer 3 xmu", "fault 3 silent"});
  const CliRun run = Cli({"--quiet", "scan"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kvel-cli: COM1 (" + env_.front().substr(10) +
                         "): no unit answered at the addresses 1 to 99\n");
}

TEST_F(CliEndToEnd, IdentifyAndSendTalkToTheSelectedUnit) {
  Start({"indexer 1 xmu", "indexer 2 mu"});
  const CliRun id = Cli({"--unit", "2", "identify"});
  EXPECT_EQ(id.status, 0) << id.err;
  EXPECT_EQ(id.out, "I MU VORTAN V1.7\n");
  const CliRun sent = Cli({"--unit", "1", "--json", "send", "H21 "});
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_EQ(
      sent.out,
      "{\"result\":\"reply\",\"unit\":1,\"command\":\"H21 \",\"reply\":\"=00000000\\r\\n\"}\n");
  EXPECT_EQ(Received(), "<2 H23\\r<1 H21 \\r");
}

TEST_F(CliEndToEnd, ParameterUploadSendsWhatTheWindowsParametersCommandSends) {
  Start({"indexer 4 xmu", "param 4 9=1500"});
  const std::string file = Path("params.txt");
  const CliRun run = Cli({"--unit", "4", "upload-params", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Saved " + file + ": "), std::string::npos) << run.out;
  const std::string saved = ReadFile(file);
  EXPECT_NE(saved.find("L9  1500\r\nL10  5000\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("L70  001\r\n"), std::string::npos) << saved;

  // The same parameters compare equal; a changed one is named with its L number.
  EXPECT_EQ(Cli({"--unit", "4", "--quiet", "compare-params", file}).status, 0);
  std::string changed = saved;
  changed.replace(changed.find("L9  1500"), 8, "L9  1200");
  WriteFile(Path("changed.txt"), changed);
  const CliRun compare =
      Cli({"--unit", "4", "--quiet", "--json", "compare-params", Path("changed.txt")});
  EXPECT_EQ(compare.status, 3) << compare.err;
  EXPECT_NE(compare.err.find(", unit 4: L9 "), std::string::npos) << compare.err;
  EXPECT_NE(compare.out.find("\"result\":\"mismatch\",\"line\":9,"), std::string::npos)
      << compare.out;
  EXPECT_EQ(Count(compare.err, "\n"), 1U) << compare.err;

  // Selection, the heading's unit query, then the parameter transfer and its end.
  const std::string one = "<4 H23\\rL49 0\\rL50 1\\rH16\\rL50 0\\r";
  EXPECT_EQ(Received(), one + one + one);
}

TEST_F(CliEndToEnd, DownloadWithVerifyReadsTheProgramBack) {
  Start({"indexer 1 xmu"});
  const std::string file = Path("prog.pgm");
  WriteFile(file, "N001 G01 X100\r\nN002 G04 F500 ;wait\r\n\r\nL26 1\r\nN003 G01 X-100\r\n");
  const CliRun run = Cli({"--unit", "1", "--json", "download", file, "--verify"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(
      run.out.find("{\"result\":\"download\",\"file\":\"" + file + "\",\"lines\":5,\"sent\":5,"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"completed\":true}\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"result\":\"verify\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"matches\":true}"), std::string::npos) << run.out;
  const std::string received = Received();
  EXPECT_EQ(received.find("<1 H23\\r"), 0U) << received;
  EXPECT_NE(received.find("N001\\n\\rL48 0\\n\\rL26 2\\n\\rH12\\n\\rN001 G01 X100\\r"),
            std::string::npos)
      << received;
  // The comment is cut off, the L26 line and the empty line go as one blank each.
  EXPECT_NE(received.find("N002 G04 F500 \\r"), std::string::npos) << received;
  EXPECT_NE(received.find("N003 G01 X-100\\rH13\\n\\r" + std::string(kClosing)), std::string::npos)
      << received;
}

TEST_F(CliEndToEnd, UploadAllGivesAFileThatDownloadsAgain) {
  Start({"indexer 1 xmu", "program 1 N001 G01 F2000 X4000", "program 1 N002 G04 F500",
         "param 1 9=1500", "indexer 2 xmu"});
  const std::string file = Path("all.pgm");
  const CliRun up = Cli({"--unit", "1", "--quiet", "upload-all", file});
  EXPECT_EQ(up.status, 0) << up.err;
  const std::string saved = ReadFile(file);
  EXPECT_EQ(saved.find("L1  0\r\n"), 0U) << saved;
  EXPECT_NE(saved.find("L9  1500\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("N001 G01 F2000 X4000\r\nN002 G04 F500\r\n"), std::string::npos) << saved;

  const CliRun down = Cli({"--unit", "2", "--quiet", "download", file, "--verify"});
  EXPECT_EQ(down.status, 0) << down.err;
  EXPECT_NE(down.out.find("Verify: 2 lines match"), std::string::npos) << down.out;
}

TEST_F(CliEndToEnd, AUnitThatFallsSilentEndsTheDownloadWithTheClosingCommands) {
  Start({"indexer 1 xmu", "fault 1 silent-after-line=2"});
  const std::string file = Path("prog.pgm");
  WriteFile(file, "N001 G01 X1\nN002 G01 X2\nN003 G01 X3\nN004 G01 X4\n");
  const CliRun run = Cli({"--unit", "1", "download", file});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(", unit 1, line 3 \"N003 G01 X3\": no acknowledge"), std::string::npos)
      << run.err;
  const std::string received = Received();
  EXPECT_NE(received.find("N003 G01 X3\\r"), std::string::npos) << received;
  EXPECT_TRUE(received.ends_with(kClosing)) << received;
  EXPECT_EQ(received.find("N004"), std::string::npos) << received;
}

TEST_F(CliEndToEnd, AUnitThatStoresALineDifferentlyFailsTheVerifyWithItsLineNumber) {
  Start({"indexer 1 xmu", "fault 1 \"store-line=2:N002 G01 X999\""});
  const std::string file = Path("prog.pgm");
  WriteFile(file, "N001 G01 X1\nN002 G01 X2\nN003 G01 X3\n");
  const CliRun run = Cli({"--unit", "1", "--json", "--quiet", "download", file, "--verify"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find(", unit 1: line 2 (file line 2): Verify: 1 line"), std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("{\"result\":\"mismatch\",\"line\":2,\"fileLine\":2,"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("X999"), std::string::npos) << run.out;
}

TEST_F(CliEndToEnd, InterruptStopsTheDownloadAndSendsTheClosingCommands) {
  Start({"indexer 1 xmu"});
  std::string program;
  for (int n = 1; n <= 60; ++n)
    program += "N" + std::to_string(n) + " G01 X" + std::to_string(n) + "\n";
  const std::string file = Path("long.pgm");
  WriteFile(file, program);
  const CliRun run = Cli({"--unit", "1", "download", file}, "download: line 5 of");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
  const std::string received = Received();
  EXPECT_TRUE(received.ends_with(kClosing)) << received;
  EXPECT_EQ(received.find("N60 G01"), std::string::npos) << received;
}

TEST_F(CliEndToEnd, FilesThatCannotBeUsedTouchNothingOnTheLine) {
  Start({"indexer 1 xmu"});
  const CliRun missing = Cli({"--unit", "1", "download", Path("none.pgm")});
  EXPECT_EQ(missing.status, 4);
  EXPECT_NE(missing.err.find(Path("none.pgm")), std::string::npos) << missing.err;
  EXPECT_EQ(Count(missing.err, "\n"), 1U) << missing.err;
  const CliRun unwritable = Cli({"--unit", "1", "upload-program", Path("no/folder/x.pgm")});
  EXPECT_EQ(unwritable.status, 4);
  EXPECT_NE(unwritable.err.find("no/folder"), std::string::npos) << unwritable.err;
  EXPECT_EQ(Received(), "");
}

TEST_F(CliEndToEnd, PortAndUsageFailures) {
  const CliRun port =
      RunCli({"--port", "/dev/kvel-no-such-tty", "--baud", "9600", "--unit", "1", "identify"},
             {"KVEL_INI_DIR=" + Folder(), "HOME=" + Folder()});
  EXPECT_EQ(port.status, 2);
  EXPECT_EQ(port.err.find("kvel-cli: /dev/kvel-no-such-tty: "), 0U) << port.err;
  EXPECT_EQ(Count(port.err, "\n"), 1U) << port.err;

  const CliRun noUnit = RunCli({"identify"}, {});
  EXPECT_EQ(noUnit.status, 1);
  EXPECT_NE(noUnit.err.find("--unit"), std::string::npos) << noUnit.err;

  // No port given and none stored.
  const CliRun noPort = RunCli({"scan"}, {"KVEL_INI_DIR=" + Folder(), "HOME=" + Folder()});
  EXPECT_EQ(noPort.status, 1);
  EXPECT_NE(noPort.err.find("no port"), std::string::npos) << noPort.err;
}

}  // namespace
}  // namespace kvel::cli::test
