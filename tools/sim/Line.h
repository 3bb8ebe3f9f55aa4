#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Controller.h"
#include "Transcript.h"

namespace kvel::sim {

// Wire timing of a line: per byte (10 bits at 9600 baud) and from request to reply.
struct Timing {
  Micros byteUs = 1042;
  Micros replyDelayUs = 2000;

  static Micros ByteTimeForBaud(std::uint32_t baud);
};

// Faults of the line as a whole: the adapter is pulled out.
struct LineFaults {
  Micros goneAtUs = -1;        // the device goes away at this time
  int goneAfterRequests = -1;  // ... or once this many requests have arrived
};

// A simulated serial line with its units: bytes from the program come in with a time,
// are assembled into requests as they arrive (one by one when typed), routed by the
// daisy-chain address and answered into an output queue with due times.
class Line {
 public:
  explicit Line(Timing timing = {});

  // Adds a unit; the first unit with an address becomes the addressed one.
  Controller& Add(std::unique_ptr<Controller> unit);
  Controller* Find(int address) const;
  const std::vector<std::unique_ptr<Controller>>& Units() const { return units_; }

  // The address the following commands go to (0 = none).
  int Addressed() const { return addressed_; }
  void SetAddressed(int address) { addressed_ = address; }

  // Bytes the program wrote at `nowUs`. They arrive one byte time after another.
  void Receive(const std::uint8_t* data, std::size_t count, Micros nowUs);
  void Receive(std::string_view bytes, Micros nowUs);

  // The reply bytes due by `nowUs`, removed from the queue.
  std::string TakeDue(Micros nowUs);
  // When the next queued byte is due, if any.
  std::optional<Micros> NextDueUs() const;
  // The next time something happens by itself (a byte due or the line going away).
  std::optional<Micros> NextEventUs() const;

  // The device goes away: the queue is dropped and nothing is answered any more.
  void GoAway(Micros nowUs);
  bool IsGone(Micros nowUs);
  bool IsGone() const { return gone_; }

  Timing& timing() { return timing_; }
  LineFaults& faults() { return lineFaults_; }
  Transcript& transcript() { return transcript_; }
  const Transcript& transcript() const { return transcript_; }

  static constexpr std::size_t kMaxRequestLength = 255;

 private:
  void Accept(std::uint8_t byte, Micros atUs);
  bool TryAddressing(bool atLineEnd, Micros atUs);
  void Dispatch(const std::string& command, Micros atUs);
  void Deliver(Controller& unit, Reply reply, Micros atUs);
  // The scripted reply for `command`, if the unit has one in force, as a reply with its pause.
  bool Scripted(Controller& unit, const std::string& command, Micros atUs, Reply* reply);
  void Schedule(const std::string& bytes, Micros startUs, int address);
  Controller* Target() const;
  void CountRequest(Micros atUs);

  struct Due {
    Micros atUs;
    std::uint8_t byte;
  };
  struct Deferred {
    Micros startUs;
    int address;
    std::string bytes;
  };
  void Place(Micros upToUs);

  Timing timing_;
  LineFaults lineFaults_;
  Transcript transcript_;
  std::vector<std::unique_ptr<Controller>> units_;
  std::vector<int> requestsSeen_;     // per unit, for Faults::answerAfter
  std::vector<Micros> replyOrderUs_;  // per unit: when its last reply starts, to keep order
  std::string request_;
  bool overlong_ = false;
  int addressed_ = 0;
  int requests_ = 0;
  bool gone_ = false;
  Micros rxFreeUs_ = 0;             // when the incoming wire is free for the next byte
  Micros txFreeUs_ = 0;             // when the outgoing wire is free for the next byte
  std::deque<Due> queue_;           // bytes on the wire, in due order
  std::vector<Deferred> deferred_;  // replies not yet on the wire, by start time
};

}  // namespace kvel::sim
