#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "CPort.h"
#include "MemoryLine.h"
#include "PortMap.h"

namespace fs = std::filesystem;

namespace {

TEST(Conversions, TextForms) {
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  EXPECT_EQ(BaudRateText(br110), "110");
  EXPECT_EQ(BaudRateText(br256000), "256000");
  EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
  EXPECT_EQ(DataBitsText(dbFive), "5");
  EXPECT_EQ(ParityText(prSpace), "Space");
  EXPECT_EQ(FlowControlText(fcSoftware), "Software");
  EXPECT_EQ(DTRText(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSText(rtsToggle), "Toggle");
  EXPECT_EQ(BaudRateValue(br56000), 56000);
  EXPECT_EQ(BaudRateValue(brCustom), 0);
}

TEST(Conversions, EveryTextParsesBack) {
  for (int i = brCustom; i <= br256000; ++i)
    EXPECT_EQ(TextToBaudRate(BaudRateText(static_cast<TBaudRate>(i))), i);
  for (int i = prNone; i <= prSpace; ++i)
    EXPECT_EQ(TextToParity(ParityText(static_cast<TParityBits>(i))), i);
  for (int i = rtsDisable; i <= rtsToggle; ++i)
    EXPECT_EQ(TextToRTS(RTSText(static_cast<TRTSFlowControl>(i))), i);
  for (int i = fcHardware; i <= fcCustom; ++i)
    EXPECT_EQ(TextToFlowControl(FlowControlText(static_cast<TFlowControl>(i))), i);
}

struct ParseRow {
  const char* text;
  int expected;
};

TEST(Conversions, ParsingIgnoresCaseAndFallsBack) {
  for (const ParseRow row :
       {ParseRow{"115200", br115200}, ParseRow{"custom", brCustom}, ParseRow{"", br9600},
        ParseRow{"abc", br9600}, ParseRow{" 9600", br9600}, ParseRow{"300 ", br9600}})
    EXPECT_EQ(TextToBaudRate(row.text), row.expected) << row.text;
  for (const ParseRow row : {ParseRow{"1.5", sbOne5StopBits}, ParseRow{"1,5", sbOneStopBit},
                             ParseRow{"2", sbTwoStopBits}})
    EXPECT_EQ(TextToStopBits(row.text), row.expected) << row.text;
  for (const ParseRow row : {ParseRow{"none", fcNone}, ParseRow{"NoNe", fcNone},
                             ParseRow{"hardware", fcHardware}, ParseRow{"rts", fcCustom}})
    EXPECT_EQ(TextToFlowControl(row.text), row.expected) << row.text;
  EXPECT_EQ(TextToDataBits("9"), dbEight);
  EXPECT_EQ(TextToDataBits("7"), dbSeven);
  EXPECT_EQ(TextToParity("EVEN"), prEven);
  EXPECT_EQ(TextToParity("x"), prNone);
  EXPECT_EQ(TextToDTR("enable"), dtrEnable);
  EXPECT_EQ(TextToDTR("toggle"), dtrDisable);
  EXPECT_EQ(TextToRTS("HANDSHAKE"), rtsHandshake);
  EXPECT_EQ(TextToRTS(""), rtsDisable);
}

TEST(PortNames, ComNumbers) {
  EXPECT_EQ(kvel::ComNumber("COM1"), 1);
  EXPECT_EQ(kvel::ComNumber("com12"), 12);
  EXPECT_EQ(kvel::ComNumber("COM"), 0);
  EXPECT_EQ(kvel::ComNumber("COM1a"), 0);
  EXPECT_EQ(kvel::ComNumber("LPT1"), 0);
}

// A fake sysfs and /dev in a temporary folder.
class PortMapTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvel-portmap-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "sys");
    fs::create_directories(root_ / "dev/serial/by-id");
    sources_.sysClassTty = (root_ / "sys").string();
    sources_.devDir = (root_ / "dev").string();
    sources_.mapFile = (root_ / "ports.map").string();
    sources_.useEnvironment = false;
  }
  void TearDown() override { fs::remove_all(root_); }

  void Tty(const std::string& name, const char* type = nullptr) {
    fs::create_directories(root_ / "sys" / name);
    if (type != nullptr) std::ofstream(root_ / "sys" / name / "type") << type << "\n";
    std::ofstream(root_ / "dev" / name) << "";
  }
  std::vector<kvel::PortMapEntry> Map() {
    std::vector<kvel::PortMapEntry> entries;
    EXPECT_EQ(kvel::ReadPortMap(sources_, &entries), 0);
    return entries;
  }
  std::string Dev(const std::string& name) { return (root_ / "dev" / name).string(); }

  fs::path root_;
  kvel::PortMapSources sources_;
};

TEST_F(PortMapTest, RealUartsThenAdaptersByStableName) {
  Tty("ttyS0", "4");
  Tty("ttyS1", "0");  // a phantom port
  Tty("ttyS10", "4");
  Tty("ttyS2", "4");
  Tty("tty1");
  Tty("ttyUSB0");
  Tty("ttyUSB1");
  Tty("ttyACM0");
  // by-id names put USB1 (serial A) before USB0 (serial B).
  fs::create_symlink(Dev("ttyUSB1"), root_ / "dev/serial/by-id/usb-FTDI_A-if00-port0");
  fs::create_symlink(Dev("ttyUSB0"), root_ / "dev/serial/by-id/usb-FTDI_B-if00-port0");
  const auto entries = Map();
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[0].device, Dev("ttyS0"));
  EXPECT_EQ(entries[1].device, Dev("ttyS2"));
  EXPECT_EQ(entries[2].device, Dev("ttyS10"));
  EXPECT_EQ(entries[3].device, (root_ / "dev/serial/by-id/usb-FTDI_A-if00-port0").string());
  EXPECT_EQ(entries[4].device, (root_ / "dev/serial/by-id/usb-FTDI_B-if00-port0").string());
  EXPECT_EQ(entries[5].device, Dev("ttyACM0"));
  for (std::size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(entries[i].name, "COM" + std::to_string(i + 1));
}

TEST_F(PortMapTest, MapFileAndEnvironmentTakeTheirNumbers) {
  Tty("ttyS0", "4");
  Tty("ttyUSB0");
  std::ofstream(sources_.mapFile) << "# my adapters\n"
                                  << "  COM1 = /dev/pts/9  # bench\n"
                                  << "garbage line\n"
                                  << "COM5=" << Dev("ttyUSB0") << "\n";
  auto entries = Map();
  // ttyUSB0 is already COM5; ttyS0 moves to the first free number.
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "COM1");
  EXPECT_EQ(entries[0].device, "/dev/pts/9");
  EXPECT_EQ(entries[1].name, "COM2");
  EXPECT_EQ(entries[1].device, Dev("ttyS0"));
  EXPECT_EQ(entries[2].name, "COM5");

  sources_.useEnvironment = true;
  setenv("KVEL_COM1", "/dev/pts/77", 1);
  std::string device;
  EXPECT_EQ(kvel::ResolvePortDevice(sources_, "COM1", &device), 0);
  EXPECT_EQ(device, "/dev/pts/77");
  entries = Map();
  EXPECT_EQ(entries[0].device, "/dev/pts/77");
  unsetenv("KVEL_COM1");
  EXPECT_EQ(kvel::ResolvePortDevice(sources_, "com5", &device), 0);
  EXPECT_EQ(device, Dev("ttyUSB0"));
  EXPECT_EQ(kvel::ResolvePortDevice(sources_, "COM9", &device), 0);
  EXPECT_EQ(device, "");
}

TEST_F(PortMapTest, ListIsSortedWithoutRegardToCase) {
  sources_.useEnvironment = true;
  setenv("KVEL_COM2", "/dev/pts/70", 1);
  setenv("KVEL_COM10", "/dev/pts/71", 1);
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("com3", line);
  std::vector<std::string> list = {"stale"};
  kvel::ListSerialPortsFrom(sources_, list);
  EXPECT_EQ(list, (std::vector<std::string>{"COM10", "COM2", "COM3"}));
  kvel::UnregisterMemoryLine("COM3");
  unsetenv("KVEL_COM2");
  unsetenv("KVEL_COM10");
}

TEST_F(PortMapTest, UnreadableSourcesRaiseError23AndKeepTheList) {
  sources_.sysClassTty = (root_ / "missing").string();
  std::vector<std::string> list = {"kept"};
  try {
    kvel::ListSerialPortsFrom(sources_, list);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 23);
    EXPECT_EQ(e.SystemError(), ENOENT);
    EXPECT_EQ(std::string(e.what()), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(ListSerialPorts, ListsEnvironmentPorts) {
  setenv("KVEL_COM42", "/dev/null", 1);
  std::vector<std::string> list;
  ListSerialPorts(list);
  EXPECT_NE(std::find(list.begin(), list.end(), "COM42"), list.end());
  unsetenv("KVEL_COM42");
}

}  // namespace
