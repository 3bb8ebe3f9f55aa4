#pragma once

#include <cstddef>
#include <map>
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
  int silentAfter = -1;        // requests after the first n get no answer (-1 = never)
  Micros silentFromUs = -1;    // requests from this time on get no answer (-1 = never)
  Micros busyUntilUs = -1;     // busy (":" to probes and acknowledges) until this time
  int silentAfterLine = -1;    // from the program line after the k-th since H12 on, the unit
                               // answers nothing at all until it is erased again
  std::map<int, std::string> storedAs;  // program line N is stored as this text instead
};

// A reply the test or the line file fixes for one command, in place of the unit's own: the
// unit still carries the command out, but these bytes go back instead.
struct ScriptedReply {
  std::string command;  // as the unit sees it: line end and leading blanks removed
  std::string bytes;
  int uses = -1;                            // how many requests it answers (-1 = all)
  Micros fromUs = 0;                        // requests before this time get the unit's own reply
  std::size_t pauseAt = std::string::npos;  // the reply stops before this byte ...
  Micros pauseUs = 0;                       // ... for this long
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
  // Busy by a fault that lasts or that has not ended yet at `atUs`.
  bool FaultBusy(Micros atUs) const {
    return faults_.busy || (faults_.busyUntilUs >= 0 && atUs < faults_.busyUntilUs);
  }
  std::vector<ScriptedReply>& scriptedReplies() { return scripted_; }
  // The scripted reply in force for `command` at `atUs` (one use taken), if any.
  const ScriptedReply* TakeScripted(const std::string& command, Micros atUs) {
    for (ScriptedReply& s : scripted_) {
      if (s.command != command || atUs < s.fromUs || s.uses == 0) continue;
      if (s.uses > 0) --s.uses;
      return &s;
    }
    return nullptr;
  }
  const Faults& faults() const { return faults_; }

  // Delay from a request's last byte to its reply, -1 = the line's default.
  Micros replyDelayUs() const { return replyDelayUs_; }
  void SetReplyDelayUs(Micros us) { replyDelayUs_ = us; }

 protected:
  Faults faults_;

 private:
  std::vector<ScriptedReply> scripted_;
  int address_;
  Micros replyDelayUs_ = -1;
};

}  // namespace kvel::sim
