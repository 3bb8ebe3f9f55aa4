#pragma once

#include <string>
#include <vector>

namespace kvel {

// Where the port map looks for serial devices and for the user's map file.
struct PortMapSources {
  std::string sysClassTty = "/sys/class/tty";
  std::string devDir = "/dev";
  // Where usb-serial drivers publish their ports' attributes (the FTDI latency timer).
  std::string usbSerialDevices = "/sys/bus/usb-serial/devices";
  std::string mapFile;  // empty: no map file
  bool useEnvironment = true;

  // The machine's own: sysfs, /dev, $XDG_CONFIG_HOME/kvel/ports.map (or ~/.config/...).
  static PortMapSources System();
};

struct PortMapEntry {
  std::string name;    // "COM3"
  std::string device;  // "/dev/ttyUSB0"
};

// The number of a port name "COM<n>" (any letter case), 0 when it is not one.
int ComNumber(const std::string& name);

// Every COM name the map knows with its device: KVEL_COM<n> variables first, then the
// map file, then the serial devices present (real ttyS ports, then USB and ACM adapters
// by their stable by-id names) on the lowest numbers still free. Returns 0 or an errno
// value when the sources cannot be read.
int ReadPortMap(const PortMapSources& sources, std::vector<PortMapEntry>* entries);

// The device behind a port name, "" when the map does not know it. An absolute path
// and a network port ("rfc2217://HOST:PORT", "socket://HOST:PORT") name their device
// themselves; the variables and the map file may name either. Returns 0 or an errno value.
int ResolvePortDevice(const PortMapSources& sources, const std::string& portName,
                      std::string* device);

// The sorted names of ListSerialPorts from the given sources (the in-memory lines
// included); raises EComPort 23 when they cannot be read.
void ListSerialPortsFrom(const PortMapSources& sources, std::vector<std::string>& list);

// What a port name stands for, for a hint beside it: the device path (resolved through its
// links) or the network port with its kind ("rfc2217://host:4001 (network, RFC 2217)") and,
// for a USB adapter, its product name from sysfs ("/dev/ttyUSB0 (FT232R USB
// UART)"); "in-memory line" for a registered line; "no device" when the name maps to none.
std::string DescribePortDevice(const PortMapSources& sources, const std::string& portName);
// A USB adapter adds its serial number where it has one and, for an FTDI adapter, the
// driver's latency timer: "/dev/ttyUSB0 (FT232R USB UART, serial A12B, latency 16 ms)".

// What DescribePortDevice says of a port, piece by piece (for a listing that shows each on
// its own): the device (resolved through its links; the network port as given) or "", the
// USB product name and serial number where there are any, the latency timer (-1: none) and
// what stands in the brackets of a network port, an absent device or an in-memory line.
struct PortDeviceDetails {
  std::string device;
  std::string product;
  std::string serial;
  int latencyMs = -1;
  std::string note;  // "network, RFC 2217", "not present", "in-memory line", "no device"
};
PortDeviceDetails DescribePortDetails(const PortMapSources& sources, const std::string& portName);

// The FTDI driver's latency timer of the adapter behind a port in ms, -1 where there is none.
int PortLatencyMs(const PortMapSources& sources, const std::string& portName);
// What a latency timer above 1 ms costs and how to lower it, or "" when it costs nothing.
std::string LatencyAdvice(int latencyMs);

// The same from the machine's own sources, with the latency advice after " - ".
std::string PortDeviceHint(const std::string& portName);
// The visible text of a port in a list: "COM3 = /dev/ttyUSB0 (FT232R USB UART, ...)".
std::string PortItemText(const PortMapSources& sources, const std::string& portName);
std::string PortItemText(const std::string& portName);

}  // namespace kvel
