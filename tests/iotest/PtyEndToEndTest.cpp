#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "IoTestSupport.h"
#include "KVEL_Var.h"
#include "SimProcess.h"
#include "ZorvIOTest.h"

namespace {

// What kvel-sim received, from its transcript file, control bytes written visibly ("\r").
std::string ReceivedBytes(const std::string& transcript) {
  std::ifstream in(transcript);
  std::string line;
  std::string received;
  while (std::getline(in, line)) {
    const std::size_t at = line.find(" << ");
    if (at != std::string::npos) received += line.substr(at + 4);
  }
  return received;
}

// The drive window with the real clock on a pseudo-terminal of kvel-sim. Only what the
// window sends and in which order is checked: the line's answers may come late on a busy
// machine, and the window copes with late answers by design.
TEST(IoTestOverPty, DriveWindowRunsItsLoopAgainstKvelSim) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string transcript = folder.path().toStdString() + "/transcript.txt";
  kvel::sim::test::SimProcess sim(
      {"--line", "COM1", "--drive", "zorv inputs=101 bcd=-123", "--transcript", transcript});
  const std::string ready = sim.ReadLine(20000);
  ASSERT_EQ(ready.rfind("KVEL_COM1=", 0), 0u) << ready;
  ::setenv("KVEL_COM82", kvel::sim::test::ValueOf(ready).c_str(), 1);

  ResetProcessState();
  UnitType = 7;
  FakeHost host;
  host.port.SetPort("COM82");
  host.port.OpenPort();
  {
    TZorvIOForm form(host);
    form.show();
    form.OUT[0]->click();
    // Stop after the first cycle has begun, whatever the machine's speed.
    QTimer stopper;
    stopper.setInterval(50);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
      if (host.traced.find("00000000\r\n") != std::string::npos && form.Running) {
        stopper.stop();
        form.Button2->click();
      }
    });
    stopper.start();
    form.Button2->click();
    EXPECT_FALSE(form.Running);
    EXPECT_EQ(form.RunLabel->text().toStdString(), "  Stopped  ");
    form.StopBtn->click();
    EXPECT_FALSE(form.isVisible());
  }
  host.port.ClosePort();
  ::unsetenv("KVEL_COM82");
  sim.Stop();

  const std::string received = ReceivedBytes(transcript);
  std::string expected = "\\r";
  for (int k = 1; k <= 8; ++k) expected += "out(" + std::to_string(k) + ")\\r";
  EXPECT_EQ(received.rfind(expected, 0), 0u) << received;
  const std::size_t first = received.find("IN(1)\\r");
  const std::size_t output = received.find("OUT(1)= 1\\r");
  const std::string switchOff = "TORQUE=0\\rSERVOOUT=1\\rTORQUE=0\\rWNDGS=0\\r";
  const std::size_t off = received.find(switchOff);
  EXPECT_NE(first, std::string::npos);
  EXPECT_LT(first, output);
  EXPECT_LT(output, off);
  EXPECT_EQ(off + switchOff.size(), received.size())
      << received;  // the switch-off ends the exchange
}

}  // namespace
