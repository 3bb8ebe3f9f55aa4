#include "Transcript.h"

#include <algorithm>
#include <cstdio>

namespace kvel::sim {

void Transcript::Add(Entry entry) {
  if (sink_) sink_(entry);
  if (keep_) entries_.push_back(std::move(entry));
}

std::vector<Transcript::Entry> Transcript::Entries() const {
  std::vector<Entry> sorted = entries_;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Entry& a, const Entry& b) { return a.atUs < b.atUs; });
  return sorted;
}

std::string Transcript::Bytes(Direction direction) const {
  std::string all;
  for (const Entry& e : Entries()) {
    if (e.direction == direction) all += e.bytes;
  }
  return all;
}

std::string Transcript::Visible(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == 27) {
      out += "\\e";
    } else if (b == '\\') {
      out += "\\\\";
    } else if (b < 32 || b > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Transcript::Format(const Entry& entry) {
  const char* dir = entry.direction == Direction::Received ? "<<"
                    : entry.direction == Direction::Sent   ? ">>"
                                                           : "--";
  char head[64];
  std::snprintf(head, sizeof head, "%10.3f %s ", static_cast<double>(entry.atUs) / 1000.0, dir);
  std::string line = head;
  if (entry.direction == Direction::Sent && entry.address > 0) {
    line += "#" + std::to_string(entry.address) + " ";
  }
  line += entry.direction == Direction::Event ? entry.bytes : Visible(entry.bytes);
  return line;
}

}  // namespace kvel::sim
