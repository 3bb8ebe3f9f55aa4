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
