#include "PortMap.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "MemoryLine.h"
#include "NetworkDevice.h"

extern char** environ;

namespace kvel {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// Directory entries, or an errno value.
int ListDir(const std::string& dir, std::vector<std::string>* names) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return errno;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(d);
  std::sort(names->begin(), names->end());
  return 0;
}

// "ttyUSB10" → ("ttyUSB", 10), so that ttyUSB2 sorts before ttyUSB10.
std::pair<std::string, long> NameKey(const std::string& name) {
  auto digits = name.find_last_not_of("0123456789");
  digits = digits == std::string::npos ? 0 : digits + 1;
  const long n = digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1;
  return {name.substr(0, digits), n};
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

bool IsAdapterName(const std::string& name) {
  return StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
}

// The serial devices present, in their stable order.
int DiscoverDevices(const PortMapSources& sources, std::vector<std::string>* devices) {
  std::vector<std::string> ttys;
  if (const int rc = ListDir(sources.sysClassTty, &ttys); rc != 0) return rc;
  std::sort(ttys.begin(), ttys.end(),
            [](const std::string& a, const std::string& b) { return NameKey(a) < NameKey(b); });

  // The 8250 driver registers ports whether a UART exists or not; type 0 is none.
  for (const std::string& name : ttys) {
    if (!StartsWith(name, "ttyS") || NameKey(name).second < 0) continue;
    std::ifstream type(sources.sysClassTty + "/" + name + "/type");
    int value = 0;
    if (!(type >> value) || value == 0) continue;
    devices->push_back(sources.devDir + "/" + name);
  }

  std::set<std::string> covered;
  std::vector<std::string> byId;
  const std::string byIdDir = sources.devDir + "/serial/by-id";
  if (ListDir(byIdDir, &byId) == 0) {
    for (const std::string& link : byId) {
      const std::string path = byIdDir + "/" + link;
      const std::string real = RealPath(path);
      const std::string base = real.substr(real.find_last_of('/') + 1);
      if (!IsAdapterName(base) || !covered.insert(base).second) continue;
      devices->push_back(path);
    }
  }
  for (const std::string& name : ttys) {
    if (IsAdapterName(name) && covered.insert(name).second)
      devices->push_back(sources.devDir + "/" + name);
  }
  return 0;
}

// Lines "COM3=/dev/ttyUSB0"; "#" starts a comment.
int ReadMapFile(const std::string& file, std::map<int, std::string>* map) {
  if (file.empty()) return 0;
  std::ifstream in(file);
  if (!in) {
    struct stat st {};
    return stat(file.c_str(), &st) != 0 && errno == ENOENT ? 0 : EACCES;
  }
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line.substr(0, line.find('#')));
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const int n = ComNumber(Trim(line.substr(0, eq)));
    const std::string device = Trim(line.substr(eq + 1));
    if (n > 0 && !device.empty()) map->emplace(n, device);
  }
  return 0;
}

void ReadEnvironment(std::map<int, std::string>* map) {
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!StartsWith(entry, "KVEL_COM")) continue;
    const auto eq = entry.find('=');
    if (eq == std::string::npos) continue;
    const int n = ComNumber(entry.substr(5, eq - 5));
    if (n > 0 && eq + 1 < entry.size()) (*map)[n] = entry.substr(eq + 1);
  }
}

}  // namespace

PortMapSources PortMapSources::System() {
  PortMapSources s;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && *xdg == '/') {
    s.mapFile = std::string(xdg) + "/kvel/ports.map";
  } else if (home != nullptr && *home != '\0') {
    s.mapFile = std::string(home) + "/.config/kvel/ports.map";
  }
  return s;
}

int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 9) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "COM"[i])
      return 0;
  }
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

int ReadPortMap(const PortMapSources& sources, std::vector<PortMapEntry>* entries) {
  std::map<int, std::string> explicitMap;
  if (sources.useEnvironment) ReadEnvironment(&explicitMap);
  std::map<int, std::string> fileMap;
  if (const int rc = ReadMapFile(sources.mapFile, &fileMap); rc != 0) return rc;
  explicitMap.merge(fileMap);  // the environment wins where both name a port

  std::vector<std::string> devices;
  if (const int rc = DiscoverDevices(sources, &devices); rc != 0) return rc;

  std::set<std::string> mappedDevices;
  for (const auto& [n, device] : explicitMap) mappedDevices.insert(RealPath(device));
  std::map<int, std::string> all = explicitMap;
  int next = 1;
  for (const std::string& device : devices) {
    if (mappedDevices.count(RealPath(device)) != 0) continue;
    while (all.count(next) != 0) ++next;
    all[next] = device;
  }
  entries->clear();
  for (const auto& [n, device] : all) entries->push_back({"COM" + std::to_string(n), device});
  return 0;
}

int ResolvePortDevice(const PortMapSources& sources, const std::string& portName,
                      std::string* device) {
  device->clear();
  if (StartsWith(portName, "/") || IsNetworkPortName(portName)) {
    *device = portName;
    return 0;
  }
  const int n = ComNumber(portName);
  if (n == 0) return 0;
  if (sources.useEnvironment) {
    const std::string var = "KVEL_COM" + std::to_string(n);
    if (const char* value = std::getenv(var.c_str()); value != nullptr && *value != '\0') {
      *device = value;
      return 0;
    }
  }
  std::vector<PortMapEntry> entries;
  if (const int rc = ReadPortMap(sources, &entries); rc != 0) return rc;
  for (const PortMapEntry& e : entries) {
    if (ComNumber(e.name) == n) *device = e.device;
  }
  return 0;
}

namespace {

std::string ReadLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return Trim(line);
}

// The USB product name and serial number above a tty in sysfs: a ttyUSB's device is the
// converter's port and a ttyACM's the interface, so the USB device that names them lies a
// few levels up.
std::pair<std::string, std::string> UsbDetails(const std::string& sysClassTty,
                                               const std::string& ttyName) {
  std::string dir = RealPath(sysClassTty + "/" + ttyName + "/device");
  for (int level = 0; level < 4 && dir.size() > 1; ++level) {
    const std::string product = ReadLine(dir + "/product");
    if (!product.empty()) return {product, ReadLine(dir + "/serial")};
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  return {};
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// The tty a local port name stands for ("ttyUSB0"), "" for none or a network port.
std::string TtyOf(const PortMapSources& sources, const std::string& portName) {
  if (FindMemoryLine(portName) != nullptr) return {};
  std::string device;
  if (ResolvePortDevice(sources, portName, &device) != 0 || device.empty()) return {};
  if (IsNetworkPortName(device)) return {};
  return BaseName(RealPath(device));
}

int LatencyOfTty(const PortMapSources& sources, const std::string& tty) {
  if (tty.empty()) return -1;
  const std::string text = ReadLine(sources.usbSerialDevices + "/" + tty + "/latency_timer");
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(text.c_str());
}

}  // namespace

PortDeviceDetails DescribePortDetails(const PortMapSources& sources, const std::string& portName) {
  PortDeviceDetails details;
  if (FindMemoryLine(portName) != nullptr) {
    details.note = "in-memory line";
    return details;
  }
  std::string device;
  if (ResolvePortDevice(sources, portName, &device) != 0 || device.empty()) {
    details.note = "no device";
    return details;
  }
  if (IsNetworkPortName(device)) {
    NetworkAddress address;
    std::string problem;
    details.device = device;
    if (!ParseNetworkPortName(device, &address, &problem)) {
      details.note = "not a valid address";
      return details;
    }
    details.device = address.Text();
    details.note =
        address.kind == NetworkAddress::Kind::kRfc2217 ? "network, RFC 2217" : "network, raw TCP";
    return details;
  }
  details.device = device;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) {
    details.note = "not present";
    return details;
  }
  details.device = RealPath(device);
  const std::string tty = BaseName(details.device);
  std::tie(details.product, details.serial) = UsbDetails(sources.sysClassTty, tty);
  details.latencyMs = LatencyOfTty(sources, tty);
  return details;
}

std::string DescribePortDevice(const PortMapSources& sources, const std::string& portName) {
  const PortDeviceDetails details = DescribePortDetails(sources, portName);
  if (details.device.empty()) return details.note;
  std::vector<std::string> parts;
  if (!details.note.empty()) parts.push_back(details.note);
  if (!details.product.empty()) parts.push_back(details.product);
  if (!details.serial.empty()) parts.push_back("serial " + details.serial);
  if (details.latencyMs >= 0)
    parts.push_back("latency " + std::to_string(details.latencyMs) + " ms");
  if (parts.empty()) return details.device;
  std::string text = details.device + " (";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : ", ") + parts[i];
  return text + ")";
}

int PortLatencyMs(const PortMapSources& sources, const std::string& portName) {
  return LatencyOfTty(sources, TtyOf(sources, portName));
}

std::string LatencyAdvice(int latencyMs) {
  if (latencyMs <= 1) return {};
  const std::string ms = std::to_string(latencyMs);
  return "the adapter holds received bytes up to " + ms +
         " ms (its latency timer), so every acknowledged transfer waits that long per line; "
         "set it to 1 ms with a udev rule, for example in "
         "/etc/udev/rules.d/99-ftdi-latency.rules: ACTION==\"add\", "
         "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
}

std::string PortItemText(const PortMapSources& sources, const std::string& portName) {
  return portName + " = " + DescribePortDevice(sources, portName);
}

std::string PortItemText(const std::string& portName) {
  return PortItemText(PortMapSources::System(), portName);
}

std::string PortDeviceHint(const std::string& portName) {
  const PortMapSources sources = PortMapSources::System();
  const std::string advice = LatencyAdvice(PortLatencyMs(sources, portName));
  return DescribePortDevice(sources, portName) + (advice.empty() ? "" : " - " + advice);
}

}  // namespace kvel
