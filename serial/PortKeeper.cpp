#include "PortKeeper.h"

#include <dirent.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "CPort.h"
#include "MemoryLine.h"
#include "NetworkDevice.h"
#include "NetworkProbe.h"

namespace kvel {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string FirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// The tty name ("ttyUSB0") a device path stands for: the first name along its chain of links
// that sysfs knows as a tty. A by-id link leads to the node; the node may lead on (as the
// nodes of a test tree do).
std::string TtyNameOf(const PortMapSources& sources, const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 16 && !current.empty(); ++hop) {
    const std::string base = BaseName(current);
    if (!base.empty() && Exists(sources.sysClassTty + "/" + base)) return base;
    char target[PATH_MAX];
    const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
    if (n <= 0) break;
    target[n] = '\0';
    current = target[0] == '/' ? std::string(target) : DirName(current) + "/" + target;
  }
  return {};
}

// The serial number of the USB device above a tty in sysfs: the first folder upwards that
// names a USB vendor is the device.
std::string SerialOfTty(const PortMapSources& sources, const std::string& ttyName) {
  std::string dir = RealPath(sources.sysClassTty + "/" + ttyName + "/device");
  for (int level = 0; level < 6 && dir.size() > 1; ++level) {
    if (Exists(dir + "/idVendor")) return FirstLine(dir + "/serial");
    dir = DirName(dir);
  }
  return {};
}

bool IsAdapterName(const std::string& name) {
  return StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
}

}  // namespace

DeviceIdentity IdentifyDevice(const PortMapSources& sources, const std::string& path) {
  DeviceIdentity identity;
  identity.path = path;
  if (path.empty()) return identity;
  if (IsNetworkPortName(path)) {
    identity.network = true;
  } else if (FindMemoryLine(path) != nullptr) {
    identity.memoryLine = true;
  } else if (StartsWith(path, sources.devDir + "/serial/by-id/")) {
    // The link's name is made of the serial number, but the adapter may come back under
    // another node before (or without) its link: the number tells it.
    identity.usbSerial = UsbSerialOf(sources, path);
  }
  return identity;
}

std::string UsbSerialOf(const PortMapSources& sources, const std::string& devicePath) {
  const std::string tty = TtyNameOf(sources, devicePath);
  return tty.empty() ? std::string() : SerialOfTty(sources, tty);
}

std::string LocateDevice(const PortMapSources& sources, const DeviceIdentity& identity) {
  if (identity.path.empty()) return {};
  // Tried by opening: nothing else tells whether they are back.
  if (identity.network || identity.memoryLine) return identity.path;
  if (Exists(identity.path)) {
    const std::string serial =
        identity.usbSerial.empty() ? std::string() : UsbSerialOf(sources, identity.path);
    if (serial.empty() || serial == identity.usbSerial) return identity.path;
  }
  if (identity.usbSerial.empty()) return {};
  DIR* d = opendir(sources.sysClassTty.c_str());
  if (d == nullptr) return {};
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    if (IsAdapterName(e->d_name)) names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string node = sources.devDir + "/" + name;
    if (SerialOfTty(sources, name) == identity.usbSerial && Exists(node)) return node;
  }
  return {};
}

std::string ClosedReason(int code, const std::string& path) {
  switch (code) {
    case EACCES:
    case EPERM:
      return "no permission on " + path;
    case EBUSY:
    case EWOULDBLOCK:
      return "busy";
    case ENOENT:
      return path.empty() ? "no device" : path + " not present";
    case ENXIO:
    case ENODEV:
    case EIO:
      return "no device behind " + path;
    case ENOTTY:
      return path + " is not a serial device";
    case ECONNREFUSED:
      return path + " refused the connection";
    case ETIMEDOUT:
      return "no answer from " + path;
    default: {
      if (code <= 0) return "the opening failed";
      std::string text = std::strerror(code);
      if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      return text;
    }
  }
}

// ---- folder watch ----

FolderWatch::FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) close(fd_);
}

void FolderWatch::Add(const std::string& dir) {
  if (fd_ < 0) return;
  inotify_add_watch(
      fd_, dir.c_str(),
      IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_ONLYDIR);
}

bool FolderWatch::TakeChanges() {
  if (fd_ < 0) return false;
  bool changed = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      changed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return changed;
  }
}

// ---- the keeper ----

PortKeeper::PortKeeper(TCustomComPort& port, PortMapSources sources)
    : port_(port), sources_(std::move(sources)), portName_(port.Port()) {}

PortKeeper::~PortKeeper() = default;

void PortKeeper::Opened() {
  state_ = State::kOpen;
  probe_.reset();
  portName_ = port_.Port();
  identity_ = IdentifyDevice(sources_, port_.DevicePath());
  reason_.clear();
  watch_.reset();
  NoteState();
}

void PortKeeper::OpenFailed(int code) {
  state_ = State::kClosed;
  probe_.reset();
  portName_ = port_.Port();
  reason_ = ClosedReason(code, port_.DevicePath());
  watch_.reset();
  NoteState();
}

void PortKeeper::Closed() {
  state_ = State::kClosed;
  probe_.reset();
  portName_ = port_.Port();
  reason_.clear();
  watch_.reset();
  NoteState();
}

void PortKeeper::Lost(std::int64_t nowMs) {
  if (Waiting()) return;
  // Known from the opening: once the device has gone, sysfs no longer tells its number.
  if (identity_.path.empty() || portName_ != port_.Port()) {
    portName_ = port_.Port();
    identity_ = IdentifyDevice(sources_, port_.DevicePath());
  }
  try {
    // Releases the device (and its lock): the same device back is opened as new.
    port_.ClosePort();
  } catch (...) {
    // A close handler's failure does not keep the device: the port waits all the same.
  }
  state_ = State::kUnplugged;
  reason_.clear();
  nextLookMs_ = nowMs + kLookMs;
  WatchFolders();
  NoteState();
}

void PortKeeper::WatchFolders() {
  if (identity_.network || identity_.memoryLine || identity_.path.empty()) return;
  if (watch_ == nullptr) watch_ = std::make_unique<FolderWatch>();
  // Where the path's link comes back, and where udev makes the nodes and the by-id folder
  // (which goes away with the last adapter and returns with the next).
  watch_->Add(DirName(identity_.path));
  watch_->Add(sources_.devDir);
  watch_->Add(sources_.devDir + "/serial");
  watch_->Add(sources_.devDir + "/serial/by-id");
}

void PortKeeper::NoteState() {
  port_.SetAbsenceNote(Text());
}

int PortKeeper::WatchFd() const {
  return watch_ != nullptr ? watch_->Fd() : -1;
}

bool PortKeeper::Serve(std::int64_t nowMs) {
  if (!Waiting()) return false;
  const bool reopened = Look(nowMs);
  NoteState();
  return reopened;
}

bool PortKeeper::Look(std::int64_t nowMs) {
  if (port_.Connected()) {  // opened meanwhile by someone else
    Opened();
    return false;
  }
  // A network server is tried on a thread of its own (see NetworkProbe); what came of it is
  // taken up at the first serve after it ended, a look due or not.
  int connected = -1;
  if (probe_ != nullptr) {
    if (!probe_->Done()) return false;
    connected = probe_->TakeSocket();
    probe_.reset();
    if (connected < 0) {
      state_ = State::kUnplugged;
      reason_.clear();
      return false;
    }
  } else {
    const bool changed = watch_ != nullptr && watch_->TakeChanges();
    if (!changed && nowMs < nextLookMs_) return false;
    nextLookMs_ = nowMs + kLookMs;
    ++looks_;
    WatchFolders();  // folders that have appeared since
  }
  const std::string where = LocateDevice(sources_, identity_);
  if (where.empty()) {
    if (connected >= 0) ::close(connected);
    state_ = State::kUnplugged;
    reason_.clear();
    return false;
  }
  if (identity_.network && connected < 0) {
    probe_ = std::make_unique<NetworkProbe>(where, NetworkTimeouts{}.connectMs);
    return false;
  }
  const std::string name = portName_;
  try {
    port_.ReopenOn(where, identity_.network ? kReconnectConnectMs : 0, connected);
  } catch (const EComPort& e) {
    if (port_.Connected()) {
      Opened();
      return true;
    }
    // A network port or an in-memory line is tried by opening: not there is still away.
    if (identity_.network || (identity_.memoryLine && e.SystemError() == ENOENT)) {
      state_ = State::kUnplugged;
      reason_.clear();
    } else {
      state_ = State::kReconnecting;
      reason_ = ClosedReason(e.SystemError(), where);
    }
    return false;
  } catch (...) {
    if (!port_.Connected()) {
      state_ = State::kReconnecting;
      reason_ = "the opening failed";
      return false;
    }
  }
  // The identity stays the one of the first opening: the node may differ, the device not.
  state_ = State::kOpen;
  portName_ = name;
  reason_.clear();
  watch_.reset();
  return true;
}

std::string PortKeeper::Text() const {
  switch (state_) {
    case State::kOpen:
      return {};
    case State::kClosed:
      return portName_ + " closed" + (reason_.empty() ? "" : ": " + reason_);
    case State::kUnplugged: {
      std::string text = portName_ + " unplugged";
      if (!identity_.memoryLine && !identity_.path.empty())
        text += ": waiting for " + identity_.path;
      return text;
    }
    case State::kReconnecting:
      return portName_ + " reconnecting" + (reason_.empty() ? "" : ": " + reason_);
  }
  return {};
}

}  // namespace kvel
