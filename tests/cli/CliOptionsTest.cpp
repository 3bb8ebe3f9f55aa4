#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CliOptions.h"

namespace kvel::cli {
namespace {

ParseResult Parse(const std::vector<std::string>& args) {
  return ParseArguments(args);
}

TEST(CliOptions, OptionsStandBeforeOrAfterTheCommand) {
  const ParseResult r = Parse({"--port", "COM3", "download", "prog.pgm", "--verify", "--unit=7",
                               "--baud", "19200", "--json", "-q"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.port, "COM3");
  EXPECT_EQ(r.options.baud, 19200);
  EXPECT_EQ(r.options.unit, 7);
  EXPECT_TRUE(r.options.verify);
  EXPECT_TRUE(r.options.json);
  EXPECT_TRUE(r.options.quiet);
  EXPECT_EQ(r.options.command, "download");
  EXPECT_EQ(r.options.arguments, std::vector<std::string>{"prog.pgm"});
}

TEST(CliOptions, DoubleDashLetsATextBeginWithAMinus) {
  const ParseResult r = Parse({"-u", "2", "send", "--", "-X 100"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.arguments, std::vector<std::string>{"-X 100"});
  // A lone minus is a word, not an option.
  EXPECT_EQ(Parse({"-u", "2", "send", "-"}).options.arguments, std::vector<std::string>{"-"});
}

TEST(CliOptions, DevicesAndNetworkPortsAreTakenAsGiven) {
  EXPECT_EQ(Parse({"--port=/dev/ttyUSB0", "scan"}).options.port, "/dev/ttyUSB0");
  EXPECT_EQ(Parse({"-p", "socket://127.0.0.1:4001", "scan"}).options.port,
            "socket://127.0.0.1:4001");
}

struct BadRow {
  std::vector<std::string> args;
  const char* says;  // a part of the error
};

class CliOptionsRefuse : public ::testing::TestWithParam<BadRow> {};

TEST_P(CliOptionsRefuse, WithAReason) {
  const ParseResult r = ParseArguments(GetParam().args);
  EXPECT_NE(r.error.find(GetParam().says), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Usage, CliOptionsRefuse,
    ::testing::Values(BadRow{{}, "no command"}, BadRow{{"frobnicate"}, "unknown command"},
                      BadRow{{"--bogus", "scan"}, "unknown option --bogus"},
                      BadRow{{"scan", "--port"}, "--port needs a value"},
                      BadRow{{"--port=", "scan"}, "--port needs"},
                      BadRow{{"--baud", "9601", "scan"}, "not a baud rate"},
                      BadRow{{"--baud", "96OO", "scan"}, "not a baud rate"},
                      BadRow{{"--unit", "0", "identify"}, "from 1 to 99"},
                      BadRow{{"--unit", "100", "identify"}, "from 1 to 99"},
                      BadRow{{"--unit", "3x", "identify"}, "from 1 to 99"},
                      BadRow{{"--type", "9", "scan"}, "from 1 to 8"},
                      BadRow{{"--json=yes", "scan"}, "takes no value"},
                      BadRow{{"scan", "extra"}, "takes no arguments"},
                      BadRow{{"-u", "1", "download"}, "needs one FILE"},
                      BadRow{{"-u", "1", "download", "a", "b"}, "and only one"},
                      BadRow{{"-u", "1", "send", ""}, "TEXT is empty"},
                      BadRow{{"-u", "1", "upload-all", "x", "--verify"}, "--verify belongs"}));

TEST(CliOptions, EveryCommandThatTalksToOneUnitNeedsUnit) {
  for (const char* command : {"identify", "error-report"}) {
    EXPECT_NE(Parse({command}).error.find("--unit"), std::string::npos) << command;
    EXPECT_EQ(Parse({"--unit", "5", command}).error, "") << command;
  }
  for (const char* command :
       {"send", "download", "upload-program", "upload-params", "upload-all", "compare-params"}) {
    EXPECT_NE(Parse({command, "x"}).error.find("--unit"), std::string::npos) << command;
    EXPECT_EQ(Parse({"--unit", "5", command, "x"}).error, "") << command;
  }
  EXPECT_EQ(Parse({"scan"}).error, "");
  EXPECT_EQ(Parse({"ports"}).error, "");
  EXPECT_FALSE(NeedsUnit("scan"));
  EXPECT_TRUE(NeedsUnit("upload-params"));
}

TEST(CliOptions, HelpAndVersionNeedNoCommand) {
  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_EQ(Parse({"--help"}).error, "");
  EXPECT_TRUE(Parse({"--version"}).options.version);
  // The usage names every command the parser knows.
  for (const char* command : {"ports", "scan", "identify", "send", "download", "upload-program",
                              "upload-params", "upload-all", "compare-params", "error-report"}) {
    EXPECT_NE(UsageText().find(std::string("  ") + command + " "), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace kvel::cli
