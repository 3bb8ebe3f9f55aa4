#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QueuedDevice.h"

namespace kvel {

// A serial port on the network: "rfc2217://HOST:PORT" (Telnet with the COM port option,
// the server sets its line as the port's settings say) or "socket://HOST:PORT" (raw TCP,
// the line settings are the server's). HOST may be a name, an IPv4 address or an IPv6
// address in brackets.
struct NetworkAddress {
  enum class Kind { kRfc2217, kRaw };
  Kind kind = Kind::kRaw;
  std::string host;
  std::string port;
  std::string Text() const;  // "rfc2217://host:port"
};

// Whether a port name or device names a network port (its scheme, in any letter case).
bool IsNetworkPortName(const std::string& name);
// Splits a network port name; false with what is wrong in `problem`.
bool ParseNetworkPortName(const std::string& name, NetworkAddress* address, std::string* problem);

// Looks up `address` and connects to it within `connectMs`: 0 with the connected socket
// (non-blocking, close-on-exec) in `socket`, or an errno value with what failed in `detail`.
int ConnectNetworkAddress(const NetworkAddress& address, int connectMs, int* socket,
                          std::string* detail);

// How long the open waits for each step.
struct NetworkTimeouts {
  int connectMs = 3000;    // name look-up and TCP connect together
  int negotiateMs = 2000;  // the server's consent to the COM port option
  int replyMs = 2000;      // the server's answer to a line setting or a purge
};

// The network port as a serial device. A reader thread drains the socket into a receive
// queue of its own, takes the Telnet commands out of the stream and answers them, and turns
// the server's modem and line state notices into line events, as a serial driver would.
class NetworkDevice final : public QueuedDevice {
 public:
  // Connects and, for rfc2217://, negotiates; returns 0 or an errno value with what failed
  // and where in `detail`. A socket already connected to the server (`connected`, from
  // ConnectNetworkAddress) is taken over instead of connecting anew, also when the open fails.
  static int Open(const std::string& name, std::unique_ptr<SerialDevice>* device,
                  std::string* detail, const NetworkTimeouts& timeouts = {}, int connected = -1);
  ~NetworkDevice() override;

  int SetupComm(std::uint32_t inputSize, std::uint32_t outputSize) override;
  int SetCommState(const Dcb& dcb) override;
  int Write(const std::uint8_t* data, std::size_t count, std::size_t* written) override;
  int Purge(std::uint32_t flags) override;
  int GetModemStatus(std::uint32_t* status) override;
  // SET-CONTROL on an RFC 2217 port; a raw TCP port has no lines to set.
  int SetDtr(bool on) override;
  int SetRts(bool on) override;
  int SetBreak(bool on) override;
  // The errors the server has told of in its line-state notices, one for each notice.
  int GetLineCounters(LineCounters* counters) override;

 private:
  // Keys of the settings whose answers are awaited (the COM port option's commands, with
  // SET-CONTROL split by what it sets).
  enum Key { kBaud, kDataSize, kParity, kStopSize, kFlow, kDtr, kRts, kPurge, kKeyCount };
  struct Setting {
    std::uint32_t value = 0;
    bool known = false;  // confirmed by the server
  };
  struct Reply {
    std::uint64_t generation = 0;
    std::uint32_t value = 0;
  };

  explicit NetworkDevice(NetworkAddress address, NetworkTimeouts timeouts);
  void ReaderLoop();
  void MarkLost(const std::string& why);                    // mutex held or not: locks
  void LostLocked(const std::string& why);                  // mutex held
  void Parse(const std::uint8_t* data, std::size_t count);  // mutex held
  void QueueData(std::uint8_t byte);                        // mutex held
  void OnCommand(std::uint8_t verb, std::uint8_t option);   // mutex held
  struct OptionSide {
    bool& on;
    bool& asked;
    bool& refused;
  };
  void AgreeOn(OptionSide side, bool accepted, std::uint8_t yes, std::uint8_t no,
               std::uint8_t option);                                     // mutex held
  void AgreeOff(OptionSide side, std::uint8_t no, std::uint8_t option);  // mutex held
  void OnSubnegotiation();                                               // mutex held
  void Reply3(std::uint8_t verb, std::uint8_t option);                   // mutex held
  int SendRaw(const std::vector<std::uint8_t>& bytes, int timeoutMs);
  void FlushControl();
  int SendControl(Key key, std::uint32_t value, const char* what);
  int SendSetting(std::uint8_t command, const std::vector<std::uint8_t>& value,
                  std::uint64_t* generation, Key key);
  int AwaitReply(Key key, std::uint64_t generation, const char* what, std::uint32_t* value);
  bool ResumesReader(bool wasFull) const override;  // mutex held
  std::uint32_t OutputQueued() const override;      // mutex held

  const NetworkAddress address_;
  const NetworkTimeouts limits_;
  int socket_ = -1;
  std::mutex sendMutex_;  // one writer of the socket at a time; taken before mutex_

  std::condition_variable replyCv_;  // mutex_
  bool throttled_ = false;           // the reader's last look found the queue full
  Dcb dcb_;
  std::uint32_t modem_ = 0;
  LineCounters counters_;

  // Telnet state.
  enum class ParseState { kData, kIac, kOption, kSub, kSubIac };
  ParseState parse_ = ParseState::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  struct Option {
    bool us = false;        // we do it
    bool him = false;       // the server does it
    bool usAsked = false;   // our WILL awaits its answer
    bool himAsked = false;  // our DO awaits its answer
    bool refusedDo = false;
    bool refusedWill = false;
  };
  Option options_[256];
  bool comPortRefused_ = false;
  std::vector<std::uint8_t> control_;  // answers the reader still has to send
  Reply replies_[kKeyCount];
  std::uint64_t sent_ = 0;  // generations of the requests sent
  Setting settings_[kKeyCount];
  bool dropInput_ = false;  // a purge of the server's buffer awaits its answer
};

}  // namespace kvel
