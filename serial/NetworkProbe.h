#pragma once

#include <memory>
#include <string>

namespace kvel {

// A connection attempt to a network port on a thread of its own. A port that waits for its
// server tries it once a second; a host that drops packets lets each attempt run into its
// time limit, and the program's own thread must not wait for that.
class NetworkProbe {
 public:
  // Starts connecting to the network port `name` ("rfc2217://host:port", ...) within
  // `connectMs`.
  NetworkProbe(const std::string& name, int connectMs);
  // An attempt still running is left to end on its own; the socket it gets is closed.
  ~NetworkProbe();
  NetworkProbe(const NetworkProbe&) = delete;
  NetworkProbe& operator=(const NetworkProbe&) = delete;

  // Whether the attempt has ended.
  bool Done() const;
  // Once done: the connected socket, whose owner the caller becomes; -1 when the attempt
  // failed (or the socket was taken before).
  int TakeSocket();
  // Once done: 0 or the errno value the attempt failed with, and what failed in words.
  int Error() const;
  std::string Detail() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kvel
