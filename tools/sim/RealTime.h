#pragma once

#include <time.h>

#include <cstdio>
#include <optional>
#include <string>

#include "Line.h"

namespace kvel::sim {

// What the runners that serve lines in real time share.

// Microseconds since the first call.
Micros RealNowUs();
// Keeps the last of what is waiting for a program that does not read: a real line would
// lose it anyway.
void TrimBacklog(std::string& backlog);
// The wait until `next` (a second at the most, and a second without a next event).
timespec WaitUntil(std::optional<Micros> next, Micros now);
// Streams every transcript entry of `line` to `*trace` (while not null), prefixed by `port`.
void TraceLine(Line& line, const std::string& port, std::FILE* const* trace);

}  // namespace kvel::sim
