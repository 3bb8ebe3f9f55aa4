#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Line.h"

namespace kvel::sim {

// A statement that cannot be understood; the message names the statement and why.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One simulated line and the port name the program should reach it under.
struct LineConfig {
  std::string port;  // "COM1"
  std::unique_ptr<Line> line;
};

// Everything a simulator run consists of, built statement by statement.
struct SimConfig {
  std::vector<LineConfig> lines;

  // Applies one statement ("indexer 3 qn4100i", "fault 3 silent", ...).
  void Apply(const std::string& statement);
  // Applies every line of a configuration text; `origin` names it in error messages.
  void ApplyText(const std::string& text, const std::string& origin);
  // A few indexers on COM1, a ZorvDrive on COM2 and a GRV on COM3.
  void AddDemo();

  // The statement reference printed by --help.
  static std::string StatementHelp();

 private:
  LineConfig& CurrentLine();
};

// Splits a statement into words; "double quotes" keep blanks, \r \n \e \t \\ \" \xHH escape.
std::vector<std::string> SplitStatement(const std::string& statement);

}  // namespace kvel::sim
