#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kvel::cli {

// A JSON text for a byte string of the line: the bytes are read as Latin-1, so every byte
// keeps its own character and the output is valid UTF-8 whatever the unit sent.
std::string JsonString(const std::string& bytes);

// One JSON object, built member by member in the order given; Text() has no line end.
class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) {
    return Add(key, std::string(value));
  }
  JsonObject& Add(const std::string& key, long long value);
  JsonObject& Add(const std::string& key, int value) {
    return Add(key, static_cast<long long>(value));
  }
  JsonObject& Add(const std::string& key, std::size_t value) {
    return Add(key, static_cast<long long>(value));
  }
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, const std::vector<std::string>& values);
  JsonObject& Add(const std::string& key, const JsonObject& value);
  JsonObject& Add(const std::string& key, const std::vector<JsonObject>& values);
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string members_;
};

// Where the results and the progress of a command go: results on standard output (plain
// lines, or one JSON object per result), progress and failures on standard error.
class Output {
 public:
  enum class ProgressStyle { kNone, kPlain, kBar };

  Output(std::FILE* out, std::FILE* err, bool json, ProgressStyle style);

  // The style standard error calls for: none with --quiet, a bar on a terminal, plain
  // lines otherwise.
  static ProgressStyle StyleFor(std::FILE* err, bool quiet);

  bool Json() const { return json_; }
  // One result: `plain` as a line (without --json) or `object` (with it).
  void Result(const std::string& plain, const JsonObject& object);
  // A line of text that only the plain output shows (the lines of a report).
  void PlainLine(const std::string& line);

  // Progress of a job with `total` steps: "download: line 12 of 100".
  void Begin(const std::string& job, int total);
  void Step(int current, const std::string& text);
  void End();

  // The one line that says what failed and where ("kvel-cli: COM1 (/dev/ttyUSB0), unit 3:
  // no answer to the unit query").
  void Failure(const std::string& text);

  // Results written so far (what a test or a script reads).
  std::FILE* Out() const { return out_; }

 private:
  void ClearBar();
  std::FILE* out_;
  std::FILE* err_;
  bool json_;
  ProgressStyle style_;
  std::string job_;
  int total_ = 0;
  bool barShown_ = false;
  std::string lastPlain_;
};

}  // namespace kvel::cli
