// Which device a port name stands for, from a made-up sysfs and /dev.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "serial/MemoryLine.h"
#include "serial/PortMap.h"

namespace {

namespace fs = std::filesystem;

TEST(DeviceHint, PathProductNotPresentAndNoDevice) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path root = dir.path().toStdString();
  // A USB converter: the tty's device is the converter's port, two levels below the USB
  // device that names its product. An ACM modem: the device is the interface, one level below.
  const fs::path usb = root / "devices/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  std::ofstream(usb / "product") << "FT232R USB UART\n";
  const fs::path acm = root / "devices/usb1/1-2";
  fs::create_directories(acm / "1-2:1.0");
  std::ofstream(acm / "product") << "Motion Probe\n";
  fs::create_directories(root / "sys/class/tty/ttyUSB0");
  fs::create_directories(root / "sys/class/tty/ttyACM0");
  fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
  fs::create_directory_symlink(acm / "1-2:1.0", root / "sys/class/tty/ttyACM0/device");
  fs::create_directories(root / "dev");
  std::ofstream(root / "dev/ttyUSB0");
  std::ofstream(root / "dev/ttyACM0");
  std::ofstream(root / "dev/plain");
  std::ofstream(root / "ports.map") << "COM5=" << (root / "dev/gone").string() << "\n"
                                    << "COM6=" << (root / "dev/plain").string() << "\n";

  kvel::PortMapSources sources;
  sources.sysClassTty = (root / "sys/class/tty").string();
  sources.devDir = (root / "dev").string();
  sources.mapFile = (root / "ports.map").string();
  sources.useEnvironment = false;

  const std::string dev = fs::canonical(root / "dev").string();
  const std::pair<const char*, std::string> rows[] = {
      {"COM1", dev + "/ttyACM0 (Motion Probe)"},
      {"COM2", dev + "/ttyUSB0 (FT232R USB UART)"},
      {"COM5", (root / "dev/gone").string() + " (not present)"},
      {"COM6", dev + "/plain"},
      {"COM3", "no device"},
      {"LPT1", "no device"}};
  for (const auto& [name, hint] : rows)
    EXPECT_EQ(kvel::DescribePortDevice(sources, name), hint) << name;

  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM3", line);
  EXPECT_EQ(kvel::DescribePortDevice(sources, "com3"), "in-memory line");
  kvel::UnregisterMemoryLine("COM3");
}

}  // namespace

namespace {

TEST(DeviceHint, SerialNumberLatencyTimerAndItsAdvice) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path root = dir.path().toStdString();
  // Two FTDI adapters: one with the driver's default latency, one already at 1 ms.
  fs::create_directories(root / "dev");
  for (const char* tty : {"ttyUSB0", "ttyUSB1"}) {
    const fs::path usb = root / "devices/usb1" / (std::string("1-") + tty);
    fs::create_directories(usb / "1-1:1.0" / tty);
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    std::ofstream(usb / "serial") << "A10K" << tty[6] << "\n";
    fs::create_directories(root / "sys/class/tty" / tty);
    fs::create_directory_symlink(usb / "1-1:1.0" / tty, root / "sys/class/tty" / tty / "device");
    fs::create_directories(root / "sys/bus/usb-serial/devices" / tty);
    std::ofstream(root / "dev" / tty);
  }
  std::ofstream(root / "sys/bus/usb-serial/devices/ttyUSB0/latency_timer") << "16\n";
  std::ofstream(root / "sys/bus/usb-serial/devices/ttyUSB1/latency_timer") << "1\n";
  kvel::PortMapSources sources;
  sources.sysClassTty = (root / "sys/class/tty").string();
  sources.devDir = (root / "dev").string();
  sources.usbSerialDevices = (root / "sys/bus/usb-serial/devices").string();
  sources.useEnvironment = false;

  const std::string dev = fs::canonical(root / "dev").string();
  EXPECT_EQ(kvel::PortItemText(sources, "COM1"),
            "COM1 = " + dev + "/ttyUSB0 (FT232R USB UART, serial A10K0, latency 16 ms)");
  EXPECT_EQ(kvel::PortItemText(sources, "COM2"),
            "COM2 = " + dev + "/ttyUSB1 (FT232R USB UART, serial A10K1, latency 1 ms)");
  EXPECT_EQ(kvel::PortLatencyMs(sources, "COM1"), 16);
  EXPECT_EQ(kvel::PortLatencyMs(sources, "COM2"), 1);
  EXPECT_EQ(kvel::PortLatencyMs(sources, "COM3"), -1);

  const std::string advice = kvel::LatencyAdvice(16);
  EXPECT_NE(advice.find("16 ms"), std::string::npos) << advice;
  EXPECT_NE(advice.find("acknowledged transfer waits that long per line"), std::string::npos)
      << advice;
  EXPECT_NE(advice.find("ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                        "ATTR{latency_timer}=\"1\""),
            std::string::npos)
      << advice;
  EXPECT_EQ(kvel::LatencyAdvice(1), "");
  EXPECT_EQ(kvel::LatencyAdvice(-1), "");
}

}  // namespace
