#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "NetworkProbe.h"
#include "PortMap.h"

class TCustomComPort;

namespace kvel {

// What device a port was opened from, so that the same one is known again when it comes
// back after it went away.
struct DeviceIdentity {
  std::string path;       // as opened: a device node or a link to one, a network port, or
                          // the port name of an in-memory line
  std::string usbSerial;  // the adapter's USB serial number, for a path under serial/by-id
  bool network = false;
  bool memoryLine = false;
};

DeviceIdentity IdentifyDevice(const PortMapSources& sources, const std::string& path);
// The USB serial number of the adapter behind a device path, from sysfs; empty when the
// path leads to no USB adapter or the adapter has none.
std::string UsbSerialOf(const PortMapSources& sources, const std::string& devicePath);
// Where the device is now: its own path when that is present again, else (for an adapter
// known by its serial number) the node of the adapter with that number, whichever ttyUSB
// or ttyACM it got; empty while it is not back.
std::string LocateDevice(const PortMapSources& sources, const DeviceIdentity& identity);

// Why an open of `path` failed with `code`, in a few words for the status bar ("busy",
// "no permission on /dev/ttyUSB0").
std::string ClosedReason(int code, const std::string& path);

// Tells that something changed in the folders it watches (inotify), without waking anyone.
class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  // Watches `dir` for entries coming, going and changing; a folder that does not exist yet
  // is passed over (ask again later). Watching a folder twice is watching it once.
  void Add(const std::string& dir);
  // True when anything changed since the last call; reads what is pending, never waits.
  bool TakeChanges();
  // Readable when something changed; -1 when the system gives no watch.
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Keeps a port usable across the loss of its device: when the device goes away (an adapter
// unplugged, a network connection lost) the port is closed and waits; the same device
// coming back is opened again with the port's settings. The owner calls Serve regularly
// (every round of its receive poll, or from a timer); the device is looked for once a
// second, or at once when the device folders change, and never more often.
class PortKeeper {
 public:
  enum class State { kClosed, kOpen, kUnplugged, kReconnecting };
  static constexpr std::int64_t kLookMs = 1000;
  // A network server that is away is tried on a thread of its own (NetworkProbe); the port is
  // then opened on the connection made, with this as its limit should it have to connect.
  static constexpr int kReconnectConnectMs = 500;

  explicit PortKeeper(TCustomComPort& port, PortMapSources sources = PortMapSources::System());
  ~PortKeeper();
  PortKeeper(const PortKeeper&) = delete;
  PortKeeper& operator=(const PortKeeper&) = delete;

  // The port has been opened: its device is the one to keep.
  void Opened();
  // An open failed with `code` (an errno value); the port stays closed.
  void OpenFailed(int code);
  // The port was closed on purpose.
  void Closed();
  // A call of the open port failed because its device has gone: the port is closed (its
  // device released) and waits for the device to come back.
  void Lost(std::int64_t nowMs);
  // Looks for the device when a look is due and opens the port when it is back; true when
  // the port has just been opened again. Does nothing unless the port waits.
  bool Serve(std::int64_t nowMs);

  State GetState() const { return state_; }
  bool Waiting() const { return state_ == State::kUnplugged || state_ == State::kReconnecting; }
  // The state in words: "COM1 closed: busy", "COM1 unplugged: waiting for /dev/...",
  // "COM1 reconnecting: no permission on /dev/ttyUSB1"; empty while open.
  std::string Text() const;
  const DeviceIdentity& Identity() const { return identity_; }
  // Readable when the device folders changed while the port waits; -1 when not watching.
  int WatchFd() const;
  // While the port waits: how long until the next look is due (0 when it is due now).
  std::int64_t MsToNextLook(std::int64_t nowMs) const {
    return nextLookMs_ > nowMs ? nextLookMs_ - nowMs : 0;
  }
  // Whether a network server is being tried (on a thread of its own) for the next serve.
  bool Probing() const { return probe_ != nullptr && !probe_->Done(); }
  // How often the device was looked for, for checks that waiting costs next to nothing.
  std::uint64_t Looks() const { return looks_; }

 private:
  void WatchFolders();
  bool Look(std::int64_t nowMs);
  // Tells the port why it has no device, so that a call failing for want of one says so.
  void NoteState();

  TCustomComPort& port_;
  const PortMapSources sources_;
  State state_ = State::kClosed;
  std::string portName_;
  std::string reason_;
  DeviceIdentity identity_;
  std::unique_ptr<FolderWatch> watch_;
  std::unique_ptr<NetworkProbe> probe_;  // a network server being tried
  std::int64_t nextLookMs_ = 0;
  std::uint64_t looks_ = 0;
};

}  // namespace kvel
