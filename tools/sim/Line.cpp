#include "Line.h"

#include <algorithm>
#include <cctype>

namespace kvel::sim {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "<" + digits at the start of `text`; returns the number and where the digits end.
bool ParseAddressPrefix(const std::string& text, int* address, std::size_t* end) {
  if (text.size() < 2 || text[0] != '<' || !IsDigit(text[1])) return false;
  std::size_t i = 1;
  int value = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (value < 1000) value = value * 10 + (text[i] - '0');
    ++i;
  }
  *address = value;
  *end = i;
  return true;
}

std::string WithoutLeadingBlanks(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return text.substr(i);
}

}  // namespace

Micros Timing::ByteTimeForBaud(std::uint32_t baud) {
  if (baud == 0) return 0;
  // A start bit, eight data bits and a stop bit.
  return static_cast<Micros>((10'000'000ull + baud / 2) / baud);
}

Line::Line(Timing timing) : timing_(timing) {}

Controller& Line::Add(std::unique_ptr<Controller> unit) {
  if (addressed_ == 0 && unit->Address() > 0) addressed_ = unit->Address();
  units_.push_back(std::move(unit));
  requestsSeen_.push_back(0);
  replyOrderUs_.push_back(0);
  return *units_.back();
}

Controller* Line::Find(int address) const {
  for (const auto& u : units_) {
    if (u->Address() == address) return u.get();
  }
  return nullptr;
}

void Line::Receive(std::string_view bytes, Micros nowUs) {
  Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), nowUs);
}

void Line::Receive(const std::uint8_t* data, std::size_t count, Micros nowUs) {
  if (count == 0 || IsGone(nowUs)) return;
  transcript_.Add({nowUs, Transcript::Direction::Received, 0,
                   std::string(reinterpret_cast<const char*>(data), count)});
  for (std::size_t i = 0; i < count && !gone_; ++i) {
    rxFreeUs_ = std::max(rxFreeUs_, nowUs) + timing_.byteUs;
    Accept(data[i], rxFreeUs_);
  }
}

void Line::Accept(std::uint8_t byte, Micros atUs) {
  if (byte == '\r') {
    if (overlong_) {
      overlong_ = false;
      request_.clear();
      CountRequest(atUs);
      if (Controller* unit = Target()) Deliver(*unit, {{0, "?\r\n"}}, atUs);
      return;
    }
    if (!TryAddressing(true, atUs)) {
      const std::string command = WithoutLeadingBlanks(request_);
      request_.clear();
      Dispatch(command, atUs);
    }
    return;
  }
  if (byte == '\n') return;  // commands end with CR or LF CR; a lone LF carries nothing
  if (byte == 8 || byte == 127) {
    if (!request_.empty()) request_.pop_back();
    return;
  }
  if (request_.size() >= kMaxRequestLength) {
    overlong_ = true;  // keep nothing of an endless line; it is refused at its CR
    request_.clear();
    return;
  }
  if (overlong_) return;
  request_ += static_cast<char>(byte);
  TryAddressing(false, atUs);
}

bool Line::TryAddressing(bool atLineEnd, Micros atUs) {
  const bool addressable =
      std::any_of(units_.begin(), units_.end(), [](const auto& u) { return u->Address() > 0; });
  if (!addressable) return false;
  const std::string text = WithoutLeadingBlanks(request_);
  int address = 0;
  std::size_t end = 0;
  if (!ParseAddressPrefix(text, &address, &end)) return false;
  const std::string rest = text.substr(end);
  bool probe = false;
  if (rest == "? " || (atLineEnd && rest == "?")) {
    probe = true;
  } else if (rest == " " || (atLineEnd && rest.empty())) {
    probe = false;
  } else {
    return false;
  }
  request_.clear();
  CountRequest(atUs);
  if (gone_) return true;
  addressed_ = address;
  if (probe) {
    if (Controller* unit = Find(address)) {
      std::string answer = unit->ProbeReply(atUs);
      if (!answer.empty()) {
        Deliver(*unit, {{0, answer}}, atUs);
      } else {
        Deliver(*unit, {}, atUs);
      }
    }
  }
  return true;
}

Controller* Line::Target() const {
  for (const auto& u : units_) {
    if (u->Address() == 0) return u.get();
  }
  return addressed_ > 0 ? Find(addressed_) : nullptr;
}

void Line::CountRequest(Micros atUs) {
  ++requests_;
  if (lineFaults_.goneAfterRequests >= 0 && requests_ >= lineFaults_.goneAfterRequests) {
    GoAway(atUs);
  }
}

void Line::Dispatch(const std::string& command, Micros atUs) {
  CountRequest(atUs);
  if (gone_) return;
  Controller* unit = Target();
  if (unit == nullptr) return;
  Reply reply = unit->Execute(command, atUs);
  Scripted(*unit, command, atUs, &reply);
  Deliver(*unit, std::move(reply), atUs);
}

bool Line::Scripted(Controller& unit, const std::string& command, Micros atUs, Reply* reply) {
  const ScriptedReply* s = unit.TakeScripted(command, atUs);
  if (s == nullptr) return false;
  reply->clear();
  if (s->pauseAt < s->bytes.size()) {
    reply->push_back({0, s->bytes.substr(0, s->pauseAt)});
    // The rest follows once the first part is on the wire and the pause has passed.
    const Micros firstPartUs = static_cast<Micros>(s->pauseAt) * timing_.byteUs;
    reply->push_back({firstPartUs + s->pauseUs, s->bytes.substr(s->pauseAt)});
  } else {
    reply->push_back({0, s->bytes});
  }
  return true;
}

void Line::Deliver(Controller& unit, Reply reply, Micros atUs) {
  const auto index = static_cast<std::size_t>(
      std::find_if(units_.begin(), units_.end(), [&](const auto& u) { return u.get() == &unit; }) -
      units_.begin());
  const Faults& f = unit.faults();
  const int seen = ++requestsSeen_[index];
  if (f.silent || seen <= f.answerAfter) return;
  if (f.silentAfter >= 0 && seen > f.silentAfter) return;
  if (f.silentFromUs >= 0 && atUs >= f.silentFromUs) return;
  const Micros delay =
      (unit.replyDelayUs() >= 0 ? unit.replyDelayUs() : timing_.replyDelayUs) + f.extraDelayUs;
  std::size_t budget = f.cutReplyTo > 0 ? f.cutReplyTo : std::string::npos;
  bool first = true;
  // A unit answers its requests in the order they came: a reply never starts before the
  // one to the request in front of it (a slow acknowledge holds back the next data).
  Micros& orderUs = replyOrderUs_[index];
  const Micros shiftUs = std::max<Micros>(0, orderUs - (atUs + delay));
  for (Chunk& chunk : reply) {
    std::string bytes = chunk.bytes;
    if (bytes.empty()) continue;
    const bool leading = first;
    if (first) bytes = f.noise + bytes;
    first = false;
    if (budget != std::string::npos) {
      if (bytes.size() > budget) bytes.resize(budget);
      budget -= bytes.size();
    }
    const Micros startUs = atUs + delay + shiftUs + chunk.afterUs;
    if (leading) orderUs = std::max(orderUs, startUs);
    Schedule(bytes, startUs, unit.Address());
  }
}

void Line::Schedule(const std::string& bytes, Micros startUs, int address) {
  if (bytes.empty()) return;
  Deferred d{startUs, address, bytes};
  auto at = std::upper_bound(deferred_.begin(), deferred_.end(), startUs,
                             [](Micros t, const Deferred& x) { return t < x.startUs; });
  deferred_.insert(at, std::move(d));
}

void Line::Place(Micros upToUs) {
  std::size_t n = 0;
  while (n < deferred_.size() && deferred_[n].startUs <= upToUs) {
    const Deferred& d = deferred_[n];
    Micros t = std::max(txFreeUs_, d.startUs);
    transcript_.Add({t + timing_.byteUs, Transcript::Direction::Sent, d.address, d.bytes});
    for (char c : d.bytes) {
      t += timing_.byteUs;
      queue_.push_back({t, static_cast<std::uint8_t>(c)});
    }
    txFreeUs_ = t;
    ++n;
  }
  deferred_.erase(deferred_.begin(), deferred_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string Line::TakeDue(Micros nowUs) {
  if (IsGone(nowUs)) return {};
  Place(nowUs);
  std::string out;
  while (!queue_.empty() && queue_.front().atUs <= nowUs) {
    out += static_cast<char>(queue_.front().byte);
    queue_.pop_front();
  }
  return out;
}

std::optional<Micros> Line::NextDueUs() const {
  if (gone_) return std::nullopt;
  if (!queue_.empty()) return queue_.front().atUs;
  if (!deferred_.empty()) {
    return std::max(txFreeUs_, deferred_.front().startUs) + timing_.byteUs;
  }
  return std::nullopt;
}

std::optional<Micros> Line::NextEventUs() const {
  std::optional<Micros> next = NextDueUs();
  if (!gone_ && lineFaults_.goneAtUs >= 0) {
    if (!next || lineFaults_.goneAtUs < *next) next = lineFaults_.goneAtUs;
  }
  return next;
}

void Line::GoAway(Micros nowUs) {
  if (gone_) return;
  gone_ = true;
  queue_.clear();
  deferred_.clear();
  request_.clear();
  transcript_.Add({nowUs, Transcript::Direction::Event, 0, "device gone"});
}

bool Line::IsGone(Micros nowUs) {
  if (!gone_ && lineFaults_.goneAtUs >= 0 && nowUs >= lineFaults_.goneAtUs) {
    GoAway(lineFaults_.goneAtUs);
  }
  return gone_;
}

}  // namespace kvel::sim
