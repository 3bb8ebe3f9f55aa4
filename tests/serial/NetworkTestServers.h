#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvel::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();

// ser2net in the foreground with a configuration of its own, every accepter on 127.0.0.1.
// Stopped (and reaped) on destruction, in every path.
class Ser2net {
 public:
  struct Connection {
    bool rfc2217 = true;  // telnet(rfc2217) accepter, else raw TCP
    std::string device;   // the pseudo-terminal behind it
    int port = 0;         // 0: a free one is picked
  };
  // The program, or "" when it is not installed.
  static std::string Program();
  // Writes the configuration into `folder` and starts it; the ports accept when this returns.
  Ser2net(const std::string& folder, std::vector<Connection> connections);
  ~Ser2net();
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  bool Running() const { return pid_ > 0; }
  int Port(std::size_t i) const { return connections_[i].port; }
  std::string Url(std::size_t i) const;  // "rfc2217://127.0.0.1:PORT" or "socket://..."
  // Kills it at once (SIGKILL), as a server that goes away.
  void Kill();
  const std::string& Error() const { return error_; }

 private:
  std::vector<Connection> connections_;
  int pid_ = -1;
  std::string error_;
};

// The far end of a network port, on 127.0.0.1, played from a thread: it accepts one
// connection, sends the opening bytes it is given, and then hands every chunk it receives to
// the responder, which may answer. Everything received is recorded, and the Telnet data
// (IAC IAC undone, commands left out) apart from it.
class ScriptedPeer {
 public:
  struct Seen {
    std::string raw;                           // every byte received
    std::string data;                          // the data bytes (Telnet decoded when `telnet`)
    std::vector<std::string> subnegotiations;  // "IAC SB" ... "IAC SE" bodies, unescaped
    std::vector<std::string> commands;         // three-byte option commands, as received
  };
  // `reply` is called with each decoded subnegotiation body and returns what to send back.
  using SubReply = std::function<std::string(const std::string& body)>;

  explicit ScriptedPeer(bool telnet = true);
  ~ScriptedPeer();
  int Port() const { return port_; }

  void SetOpening(std::string bytes) { opening_ = std::move(bytes); }
  void SetSubReply(SubReply reply);
  // Answers WILL COM-PORT with DO COM-PORT (default true).
  void SetAcceptComPort(bool accept) { acceptComPort_ = accept; }
  void Start();
  // Sends from the peer (once connected).
  void Send(const std::string& bytes);
  // Waits until `condition` holds for what was seen; false after `timeout`.
  bool WaitFor(const std::function<bool(const Seen&)>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  Seen Snapshot();
  // Closes the connection, as a server that drops it.
  void Drop();

 private:
  void Run();
  void Take(const std::uint8_t* data, std::size_t count);  // mutex held

  bool telnet_;
  int listen_ = -1;
  int client_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::string opening_;
  SubReply subReply_;
  bool acceptComPort_ = true;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  Seen seen_;
  bool connected_ = false;
  bool stopping_ = false;
  int state_ = 0;
  std::string sub_;
  std::string pendingOut_;
};

// A TCP listener on 127.0.0.1 whose accept queue is full, so a connect to it gets no answer.
class SilentListener {
 public:
  // On `port` (0: a free one).
  explicit SilentListener(int port = 0);
  ~SilentListener();
  int Port() const { return port_; }
  bool Ready() const { return ready_; }

 private:
  int listen_ = -1;
  std::vector<int> fillers_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace kvel::test
