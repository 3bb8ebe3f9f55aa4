#include "IoTestSupport.h"
#include "KVEL_Var.h"
#include "KVEL_XMU_IO.h"
#include "ZorvIOTest.h"

namespace {

struct ReportRow {
  const char* name;
  int unitType;
  const char* statements;
  const char* shown;
};

class IndexerErrorReport : public ::testing::TestWithParam<ReportRow> {};

TEST_P(IndexerErrorReport, RegistersAreReadAndDecodedIntoTheTerminal) {
  IoRig rig(GetParam().statements);
  UnitType = GetParam().unitType;
  GetXmuError(rig.host);
  EXPECT_EQ(rig.host.displayed, GetParam().shown);
  EXPECT_EQ(rig.host.traced, "");
  const bool query = UnitType == 4 || UnitType == 5;
  const std::int64_t t = query ? 600 : 0;
  std::vector<Sent> expected{{t, "H85\r"}, {t + 100, "H86\r"}, {t + 200, "H87\r"}};
  if (query) expected.insert(expected.begin(), Sent{100, "H23\r"});
  EXPECT_EQ(rig.TakeSent(), expected);
  EXPECT_EQ(rig.clock.NowMs(), t + 300);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IndexerErrorReport,
    ::testing::Values(
        ReportRow{"XmuOneFlag", 5, "indexer 1 xmu h85=00100000 h87=12",
                  "Reporting XMU E XMU VORTAN V2.1 error -\r\n"
                  "\r\n"
                  "H85 : 00100000   CCW Software Limit exceeded\r\n"
                  "H86 : 00000000 \r\n"
                  "H87 : 12      Error at line number : 12\r\n"},
        // Short registers are padded on the right; every "=" goes.
        ReportRow{"XmuShortAndEquals", 5, "indexer 1 xmu h85=0000001 h86==1=000001 h87=3",
                  "Reporting XMU E XMU VORTAN V2.1 error -\r\n"
                  "\r\n"
                  "H85 : 00000010   CCW Hardware Limit exceeded\r\n"
                  "H86 : 10000010  Illegal G Code Line requires F data\r\n"
                  "H87 : 3      Error at line number : 3\r\n"},
        ReportRow{"XmuAllFlags", 5, "indexer 1 xmu h85=11111111 h86=11111111",
                  "Reporting XMU E XMU VORTAN V2.1 error -\r\n"
                  "\r\n"
                  "H85 : 11111111   Index from Run Limit exceeded CCW Software Limit exceeded"
                  " CW Software Limit exceeded CCW Software Limit exceeded"
                  " CW Software Limit exceeded CCW Hardware Limit exceeded"
                  " CW Hardware Limit exceeded\r\n"
                  "H86 : 11111111  Illegal G Code Illegal L Code Subroutine or loop Nesting Error"
                  " F data out of range X data out of range N data out of range"
                  " Line requires F data Line requires X data\r\n"
                  "H87 : 0      Error at line number : 0\r\n"},
        // Sixteen characters of H86: position 17 counts as not set.
        ReportRow{"QnAxisAndSixteenCharacters", 4,
                  "indexer 3 qn4100i h85=Y100000011 h86=1111111111111111 h87=40",
                  "Reporting QN4100I - P QN4100I VORTAN V3.0 error -\r\n"
                  "\r\n"
                  "H85 : Y100000011  Y Axis :  Drive not ready Closed Loop Error"
                  " Hardware or Software Clear\r\n"
                  "H86 : 1111111111111111  Illegal G Code Illegal L Code"
                  " Subroutine or loop Nesting Error F data out of range X or Y data out of range"
                  " N data out of range Line requires F data Line requires X or Y data"
                  " G code illegal in current cycle Switching axis while Jogging"
                  " Attempted Index during a Jog cycle G code can not be executed from line 0"
                  " No external data source Illegal comparision opposite direction"
                  " X/Y sign required\r\n"
                  "H87 : 40      Error at line number : 40\r\n"},
        ReportRow{"QnSeventeenth", 4, "indexer 3 qn4100i h86=00000000000000001",
                  "Reporting QN4100I - P QN4100I VORTAN V3.0 error -\r\n"
                  "\r\n"
                  "H85 : X000000000  X Axis : \r\n"
                  "H86 : 00000000000000001  No Trigger from IFR/RMH cycle\r\n"
                  "H87 : 0      Error at line number : 0\r\n"},
        ReportRow{"SilentXmu", 5, "indexer 1 xmu\nfault 1 silent",
                  "Reporting XMU  error -\r\n"
                  "\r\n"
                  "H85 : 00000000  \r\n"
                  "H86 : 00000000 \r\n"
                  "H87 :       Error at line number : \r\n"},
        ReportRow{"OtherUnitType", 6, "indexer 1 xmu h85=0010", "\r\nH85 : 0010  "}),
    RowName<ReportRow>);

struct DriveRow {
  const char* name;
  const char* statements;
  const char* shown;
};

class DriveErrorReport : public ::testing::TestWithParam<DriveRow> {};

TEST_P(DriveErrorReport, TheReplyToErrIsDecoded) {
  IoRig rig(GetParam().statements);
  UnitType = 7;
  // Never shown: the report runs on the window created at start.
  TZorvIOForm hidden(rig.host);
  rig.host.port.SendText("ERR\r");
  hidden.ReportDriveError();
  EXPECT_EQ(rig.host.displayed, GetParam().shown);
  EXPECT_EQ(rig.clock.NowMs(), 20);
  EXPECT_EQ(rig.TakeBytes(), "ERR\r");
  EXPECT_FALSE(hidden.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DriveErrorReport,
    ::testing::Values(DriveRow{"Twelve", "drive zorv error=12",
                               "Error #12 : Motion occuring when program ended\r\n"},
                      DriveRow{"Zero", "drive zorv error=0", "Error #0 : There is no Error\r\n"},
                      DriveRow{"High", "drive grv error=138", "Error #138 : NVR data corrupt\r\n"},
                      DriveRow{"Unknown", "drive zorv error=99",
                               "Error #99 : ---- Unknown Error ----\r\n"},
                      DriveRow{"Text", "drive zorv error-reply=BAD", "Error #BAD : "},
                      // Five bytes at most: the first five characters of a long reply.
                      DriveRow{"Long", "drive zorv error-reply=123456",
                               "Error #12345 : ---- Unknown Error ----\r\n"},
                      DriveRow{"Silent", "drive zorv\nfault drive silent", "Error # : "}),
    RowName<DriveRow>);

TEST(DriveErrorText, TableEdges) {
  EXPECT_EQ(DriveErrorText(1), "Could nort burn Flash succesfully");
  EXPECT_EQ(DriveErrorText(25), "NVR device not detected.");
  EXPECT_EQ(DriveErrorText(26), "---- Unknown Error ----");
  EXPECT_EQ(DriveErrorText(127), "---- Unknown Error ----");
  EXPECT_EQ(DriveErrorText(128), "+ limit switch activated");
  EXPECT_EQ(DriveErrorText(139), "---- Unknown Error ----");
  EXPECT_EQ(DriveErrorText(-1), "---- Unknown Error ----");
}

}  // namespace
