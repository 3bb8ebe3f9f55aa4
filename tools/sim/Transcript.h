#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kvel::sim {

// Simulated time in microseconds; the line runs on whatever clock its owner feeds it.
using Micros = std::int64_t;

// Everything a simulated line received and sent, with time stamps, in time order.
class Transcript {
 public:
  enum class Direction { Received, Sent, Event };

  struct Entry {
    Micros atUs = 0;  // Received: when the program wrote; Sent: when the first byte reached it
    Direction direction = Direction::Received;
    int address = 0;  // the unit that answered (Sent), 0 otherwise
    std::string bytes;
  };

  void Add(Entry entry);
  // The entries sorted by time; entries of the same time keep the order they were added in.
  std::vector<Entry> Entries() const;
  // All bytes of one direction, concatenated in time order.
  std::string Bytes(Direction direction) const;
  void Clear() { entries_.clear(); }

  // Whether entries are kept (a long real-time run only streams them to the sink).
  void SetKeep(bool keep) { keep_ = keep; }
  // Called with every entry as it is added.
  void SetSink(std::function<void(const Entry&)> sink) { sink_ = std::move(sink); }

  // One entry as a text line: time in ms, direction, unit, the bytes made visible.
  static std::string Format(const Entry& entry);
  // Control bytes as \r \n \e \xHH, so a transcript line shows exactly what went over the wire.
  static std::string Visible(std::string_view bytes);

 private:
  std::vector<Entry> entries_;
  std::function<void(const Entry&)> sink_;
  bool keep_ = true;
};

}  // namespace kvel::sim
