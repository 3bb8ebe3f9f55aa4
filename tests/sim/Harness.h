#pragma once

#include <memory>
#include <string>

#include "Config.h"
#include "Line.h"

namespace kvel::sim::test {

// Plays the program's side of a simulated line in virtual time.
struct Harness {
  Line& line;
  Micros now = 0;

  void Send(const std::string& bytes) { line.Receive(bytes, now); }
  // What arrives while waiting `ms`.
  std::string Wait(double ms) {
    now += static_cast<Micros>(ms * 1000);
    return line.TakeDue(now);
  }
  std::string Ask(const std::string& bytes, double ms = 200) {
    Send(bytes);
    return Wait(ms);
  }
};

// A line built from statements, with its harness.
struct SimLine {
  SimConfig config;
  explicit SimLine(const std::string& statements) { config.ApplyText(statements, "test"); }
  Line& line() { return *config.lines.front().line; }
  Harness harness() { return Harness{line()}; }
};

}  // namespace kvel::sim::test
