#include <gtest/gtest.h>

#include "Config.h"
#include "Line.h"
#include "Transcript.h"

namespace {

using kvel::sim::Micros;
using kvel::sim::SimConfig;
using kvel::sim::Transcript;

// The replies the test windows meet that a unit words its own way, and units that stop
// answering, as the simulator's statements describe them.
struct Exchange {
  const char* request;
  const char* reply;
  int waitMs = 100;
};

struct ReplyRow {
  const char* name;
  const char* statements;
  std::vector<Exchange> exchanges;
};

class SimReplies : public ::testing::TestWithParam<ReplyRow> {};

TEST_P(SimReplies, UnitAnswersAsConfigured) {
  SimConfig config;
  config.ApplyText(GetParam().statements, "test");
  kvel::sim::Line& line = *config.lines.front().line;
  Micros now = 0;
  for (const Exchange& e : GetParam().exchanges) {
    SCOPED_TRACE(Transcript::Visible(e.request));
    line.Receive(e.request, now);
    now += Micros{e.waitMs} * 1000;
    EXPECT_EQ(Transcript::Visible(line.TakeDue(now)), Transcript::Visible(e.reply));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimReplies,
    ::testing::Values(
        ReplyRow{"XmuInputDigits", "indexer 1 xmu input-reply=1010", {{"H21 \n\r", "=1010\r\n"}}},
        ReplyRow{"AutoTestText",
                 "indexer 1 xmu autotest-reply=E1-6 autotest-time=50",
                 {{"Z79 \r", "=E1-6\r\n"}}},
        ReplyRow{"AutoTestTakesItsTime",
                 "indexer 1 xmu autotest=3 autotest-time=1000",
                 {{"Z79 \r", "="}, {"", "", 900}, {"", "3\r\n", 100}}},
        ReplyRow{"IndexerFallsSilent",
                 "indexer 4 qn4100i silent-after=2",
                 {{"H23\r", "=P QN4100I VORTAN V3.0\r\n"},
                  {"H21 \n\r", "=00000000 00000000\r\n"},
                  {"H23\r", ""},
                  {"<4? ", ""}}},
        ReplyRow{"DriveShortAnalog", "drive grv analog-reply=-2.5", {{"AN\r", "-2.5\r\n"}}},
        ReplyRow{"DriveLongAnalog", "drive grv analog=-2.5", {{"AN\r", "-2.50000\r\n"}}},
        ReplyRow{"DriveShortBcd", "drive zorv bcd-reply=123", {{"BCD\r", "123\r\n"}}},
        ReplyRow{"DriveErrorText", "drive zorv error-reply=\"E 7\"", {{"ERR\r", "E 7\r\n"}}},
        ReplyRow{"DriveFallsSilent",
                 "drive zorv inputs=1 silent-after=1",
                 {{"IN(1)\r", "1\r\n", 20}, {"IN(1)\r", ""}, {"ERR\r", ""}}}),
    [](const ::testing::TestParamInfo<ReplyRow>& row) { return std::string(row.param.name); });

TEST(SimReplies, BadSettingsAreRefused) {
  SimConfig config;
  EXPECT_THROW(config.ApplyText("indexer 1 xmu silent-after=x", "t"), kvel::sim::ConfigError);
  EXPECT_THROW(config.ApplyText("indexer 2 xmu autotest-time=-1", "t"), kvel::sim::ConfigError);
  EXPECT_THROW(config.ApplyText("line COM2\ndrive zorv silent-after=-3", "t"),
               kvel::sim::ConfigError);
}

}  // namespace
