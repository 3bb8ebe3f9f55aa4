#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Transcript.h"

namespace kvel::sim {

// One part of a reply: bytes that go out `afterUs` after the reply would normally start.
struct Chunk {
  Micros afterUs = 0;
  std::string bytes;
};
using Reply = std::vector<Chunk>;

// Ways a unit can misbehave, for testing how the dialogues cope.
struct Faults {
  bool silent = false;         // answers nothing at all, probes included
  bool busy = false;           // probes answer ":" and acknowledges are ":" instead of "="
  Micros extraDelayUs = 0;     // every reply starts this much later (a slow unit)
  Micros ackDelayUs = 0;       // acknowledges without data come this much later
  int noAckAfterLine = -1;     // program lines after the k-th since H12 are not acknowledged
  bool noAckH12 = false;       // H12 (program erase) is never acknowledged
  std::size_t cutReplyTo = 0;  // each reply is cut after this many bytes (0 = whole reply)
  std::string noise;           // bytes sent in front of every reply
  int answerAfter = 0;         // the first n requests to the unit get no answer
};

// A unit on a simulated line: turns complete requests into replies. Pure model, no I/O.
class Controller {
 public:
  explicit Controller(int address) : address_(address) {}
  virtual ~Controller() = default;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Address on a daisy-chained line, 1..99; 0 for a unit that answers every command.
  int Address() const { return address_; }

  // The reply to a command line (line end and leading blanks removed); `atUs` is when
  // its last byte arrived.
  virtual Reply Execute(const std::string& command, Micros atUs) = 0;
  // The reply to the address probe "<n? " (nothing by default).
  virtual std::string ProbeReply(Micros /*atUs*/) { return {}; }

  Faults& faults() { return faults_; }
  const Faults& faults() const { return faults_; }

  // Delay from a request's last byte to its reply, -1 = the line's default.
  Micros replyDelayUs() const { return replyDelayUs_; }
  void SetReplyDelayUs(Micros us) { replyDelayUs_ = us; }

 protected:
  Faults faults_;

 private:
  int address_;
  Micros replyDelayUs_ = -1;
};

}  // namespace kvel::sim
