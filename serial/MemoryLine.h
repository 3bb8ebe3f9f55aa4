#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SerialDevice.h"

namespace kvel {

// An in-memory serial line for tests and the simulator. The program opens it by
// port name (see RegisterMemoryLine) like any device; the test or the simulator
// plays the far end. Time comes from a supplied time source, normally the
// virtual clock, so nothing here ever sleeps.
class MemoryLine : public std::enable_shared_from_this<MemoryLine> {
 public:
  using TimeSource = std::function<std::int64_t()>;

  // The far end of the line. OnHostBytes sees every byte the program writes, at the
  // time it is written; Pump runs before the program looks at its input (read,
  // queue count, error word), so a far end can deliver what is due by `nowMs`.
  class Peer {
   public:
    virtual ~Peer() = default;
    virtual void OnHostBytes(const std::uint8_t* data, std::size_t count, std::int64_t nowMs) = 0;
    virtual void Pump(MemoryLine& line, std::int64_t nowMs) = 0;
  };

  explicit MemoryLine(TimeSource now = {});
  ~MemoryLine();

  // Far-end side.
  // Bytes arriving at the program's driver queue. What does not fit in the queue
  // (the SetupComm input size) is dropped and flagged as an input overflow, as a UART does.
  // While no handle is open there is no queue and the bytes are lost. The handle's input
  // notice is called from here (on the sender's thread) when the queue reaches its level;
  // a line with a peer attached keeps no notice (see SerialDevice::TellsOfInput).
  void Send(const std::string& bytes);
  // Everything the program has written since the last call.
  std::string TakeReceived();
  void SetPeer(Peer* peer);  // not owned; nullptr detaches
  void SetModemStatus(std::uint32_t kMsBits);
  void RaiseLineErrors(std::uint32_t kCeBits);
  // The driver counts errors on the line: adds `counts` to the line counters, flags the
  // error kinds that moved and raises their events, as a UART driver does.
  void CountLineErrors(const LineCounters& counts);
  // Whether the line keeps counters at all (true at first); without, the device says so.
  void SetCountersAvailable(bool available);
  // The device goes away: every later call of an open handle fails with EIO, opens with ENOENT.
  void Unplug();
  // The same device is plugged in again: it opens as new; a handle from before stays dead.
  void Replug();

  // What the program did with the line, for assertions.
  struct LineAction {
    enum Kind { kDtr, kRts, kBreak };
    Kind kind;
    bool on;
    std::int64_t atMs;  // the time source's time of the call
  };
  // The calls that set DTR, RTS or the break since the last call, in their order.
  std::vector<LineAction> TakeLineActions();
  // The output levels now: from the line settings, then from the calls that set them.
  bool Dtr() const;
  bool Rts() const;
  bool InBreak() const;
  bool IsOpen() const;
  Dcb LastDcb() const;
  CommTimeouts LastTimeouts() const;
  std::uint32_t InputSize() const;
  std::uint32_t PendingInput() const;
  std::int64_t Now() const;

  // Opens a device handle on this line (what the port component's open does); fails with
  // EBUSY when a handle is already open, ENOENT after Unplug.
  int Open(std::unique_ptr<SerialDevice>* device);

  struct State;

 private:
  // Queues `bytes`; true when the input notice is due.
  bool Deliver(const std::string& bytes);
  std::shared_ptr<State> state_;
};

// Port names ("COM7", any letter case) that open an in-memory line instead of a real device.
void RegisterMemoryLine(const std::string& portName, std::shared_ptr<MemoryLine> line);
void UnregisterMemoryLine(const std::string& portName);
std::shared_ptr<MemoryLine> FindMemoryLine(const std::string& portName);
// The registered names, in upper case.
std::vector<std::string> MemoryLineNames();

}  // namespace kvel
