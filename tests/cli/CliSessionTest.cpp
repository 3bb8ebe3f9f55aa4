#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "CliFiles.h"
#include "CliSession.h"

namespace kvel::cli {
namespace {

class CliSettings : public ::testing::Test {
 protected:
  std::string Ini(const std::string& text) {
    const std::string path = folder_.path().toStdString() + "/KVEL_32.INI";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Folder() const { return folder_.path().toStdString(); }

 private:
  QTemporaryDir folder_;
};

TEST_F(CliSettings, PortAndBaudComeFromTheStoredUnitTypesSection) {
  const std::string ini =
      Ini("[MainSection]\r\nControl Type =5\r\n[QN4100I]\r\nCOMPort=2\r\nBaudrate=4800\r\n"
          "[MU/XMUIndexers]\r\nCOMPort=7\r\nBaudrate=19200\r\n");
  const LineSettings s = ResolveLineSettings(Options{}, ini);
  EXPECT_EQ(s.port, "COM7");
  EXPECT_EQ(s.baud, 19200);
  EXPECT_EQ(s.unitType, 5);
  // The command line wins, also for the unit type whose section is read.
  Options o;
  o.unitType = 4;
  EXPECT_EQ(ResolveLineSettings(o, ini).port, "COM2");
  o.port = "/dev/ttyUSB1";
  o.baud = 38400;
  const LineSettings given = ResolveLineSettings(o, ini);
  EXPECT_EQ(given.port, "/dev/ttyUSB1");
  EXPECT_EQ(given.baud, 38400);
}

TEST_F(CliSettings, NoStoredPortOrBaudIsAUsageFailureThatSaysWhereItLooked) {
  const std::string missing = Folder() + "/none.ini";
  try {
    ResolveLineSettings(Options{}, missing);
    FAIL() << "no failure";
  } catch (const CliFailure& failure) {
    EXPECT_EQ(failure.GetStatus(), Status::kUsage);
    EXPECT_NE(std::string(failure.what()).find("--port"), std::string::npos);
    EXPECT_NE(std::string(failure.what()).find(missing), std::string::npos);
  }
  Options o;
  o.port = "COM1";
  try {
    ResolveLineSettings(o, missing);
    FAIL() << "no failure";
  } catch (const CliFailure& failure) {
    EXPECT_EQ(failure.GetStatus(), Status::kUsage);
    EXPECT_NE(std::string(failure.what()).find("--baud"), std::string::npos);
  }
  // Without a stored unit type the window's default, QN4100I, is read.
  const std::string ini = Ini("[QN4100I]\nCOMPort=3\nBaudrate=9600\n");
  EXPECT_EQ(ResolveLineSettings(Options{}, ini).port, "COM3");
}

TEST_F(CliSettings, AStoredValueThatIsNoNumberIsNamed) {
  const std::string ini = Ini("[MainSection]\nControl Type =5\n[MU/XMUIndexers]\nCOMPort=x7\n");
  try {
    ResolveLineSettings(Options{}, ini);
    FAIL() << "no failure";
  } catch (const CliFailure& failure) {
    EXPECT_EQ(failure.GetStatus(), Status::kUsage);
    EXPECT_NE(std::string(failure.what()).find("COMPort='x7' is not a valid integer value"),
              std::string::npos)
        << failure.what();
  }
}

TEST_F(CliSettings, WritableFilesAreToldFromOnesThatCannotBeWritten) {
  EXPECT_EQ(WritableProblem(Folder() + "/new.pgm"), "");
  EXPECT_NE(WritableProblem(Folder()), "");
  EXPECT_NE(WritableProblem(Folder() + "/"), "");
  EXPECT_NE(WritableProblem(Folder() + "/no/such/folder/x.pgm").find("cannot be reached"),
            std::string::npos);
  const std::string file = Folder() + "/plain";
  std::ofstream(file) << "x";
  EXPECT_NE(WritableProblem(file + "/x.pgm"), "");
  if (::geteuid() != 0) {
    ::chmod(file.c_str(), 0444);
    EXPECT_NE(WritableProblem(file), "");
  }
}

TEST(CliReply, TheReplyIsShownLineByLineWithoutControlBytes) {
  EXPECT_EQ(ReplyText("=E XMU VORTAN V2.1\r\n"), "=E XMU VORTAN V2.1");
  EXPECT_EQ(ReplyText("L26 = 2\r\nL70 = 001\r\n\r\n"), "L26 = 2\nL70 = 001");
  EXPECT_EQ(ReplyText(std::string("\x1b{~ok\r", 6)), "ok");
  EXPECT_EQ(ReplyText(""), "");
}

}  // namespace
}  // namespace kvel::cli
