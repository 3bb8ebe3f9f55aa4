#include <gtest/gtest.h>

#include "Drive.h"
#include "Harness.h"

namespace kvel::sim::test {
namespace {

struct Row {
  const char* request;
  const char* reply;
};

void ExpectRows(SimLine& sim, std::initializer_list<Row> rows) {
  Harness h = sim.harness();
  for (const Row& r : rows) {
    SCOPED_TRACE(Transcript::Visible(r.request));
    EXPECT_EQ(Transcript::Visible(h.Ask(r.request, 100)), Transcript::Visible(r.reply));
  }
}

TEST(Drive, ZorvDriveAnswersTheTestWindowCommands) {
  SimLine sim("drive zorv inputs=10000000000000101 bcd=-123 encoder=123.456 analog=-2.5 error=12");
  ExpectRows(sim, {
                      {"IN(1)\r", "1\r\n"},
                      {"IN(2)\r", "0\r\n"},
                      {"IN(3)\r", "1\r\n"},
                      {"IN(17)\r", "1\r\n"},
                      {"OUT(2)= 1\r", ""},
                      {"out(2)\r", "1\r\n"},
                      {"OUT(5) = 1\r", ""},
                      {"out(5)\r", "1\r\n"},
                      {"OUT(5) = 0\r", ""},
                      {"out(5)\r", "0\r\n"},
                      {"BCD\r", "-123.000\r\n"},
                      {"EP\r", "+123.456000\r\n"},
                      {"AN\r", "-2.50000\r\n"},
                      {"ERR\r", "12\r\n"},
                      {"ledtest\r", ""},
                      {"SERVOOUT=1\r", ""},
                      {"TORQUE=-512\r", ""},
                      {"WNDGS=1\r", ""},
                      {"\r", ""},
                      {"FOO\r", "?\r\n"},
                      {"IN(18)\r", "?\r\n"},
                      {"ERR\r", "9\r\n"},  // the failed input query left its error number
                      {"OUT(9) = 1\r", "?\r\n"},
                      {"ERR\r", "8\r\n"},
                  });
  auto& drive = dynamic_cast<Drive&>(*sim.line().Units().front());
  EXPECT_TRUE(drive.Output(2));
  EXPECT_FALSE(drive.Output(5));
  EXPECT_EQ(drive.ServoOut(), 1);
  EXPECT_EQ(drive.Torque(), -512);
  EXPECT_EQ(drive.Windings(), 1);
  EXPECT_EQ(drive.LedTests(), 1);
}

TEST(Drive, GrvHasNineteenInputsAndSixOutputs) {
  SimLine sim("drive grv inputs=1000000000000000000 outputs=100000");
  ExpectRows(sim, {
                      {"IN(19)\r", "1\r\n"},
                      {"IN(20)\r", "?\r\n"},
                      {"out(6)\r", "1\r\n"},
                      {"OUT(6) = 0\r", ""},
                      {"out(6)\r", "0\r\n"},
                      {"OUT(7) = 1\r", "?\r\n"},
                  });
}

// The BCD display ignores replies of eight bytes or fewer, so every value must be longer.
TEST(Drive, BcdReplyIsAlwaysLongerThanEightBytes) {
  for (const char* value : {"0", "7", "-1", "1234", "-9999999"}) {
    SimLine sim(std::string("drive zorv bcd=") + value);
    Harness h = sim.harness();
    const std::string reply = h.Ask("BCD\r", 120);
    EXPECT_GT(reply.size(), 8u) << value << ": " << reply;
    EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
  }
}

TEST(Drive, ErrorNumberArrivesWithinTheReportWindow) {
  SimLine sim("drive zorv error=133");
  Harness h = sim.harness();
  h.Ask("E", 100);
  h.Ask("R", 100);
  h.Ask("R", 100);
  // The report reads 20 ms after the Enter key sends the CR.
  EXPECT_EQ(h.Ask("\r", 20), "133\r\n");
}

TEST(Drive, AnalogAndEncoderRepliesHaveEightCharactersAtLeast) {
  for (const char* value : {"0", "2.5", "-10", "0.001"}) {
    SimLine sim(std::string("drive grv analog=") + value + " encoder=" + value);
    Harness h = sim.harness();
    EXPECT_GE(h.Ask("AN\r", 100).size() - 2, 8u) << value;
    EXPECT_GE(h.Ask("EP\r", 100).size() - 2, 8u) << value;
  }
}

}  // namespace
}  // namespace kvel::sim::test
