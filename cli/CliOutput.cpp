#include "CliOutput.h"

#include <unistd.h>

#include <algorithm>

namespace kvel::cli {

std::string JsonString(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    switch (b) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\u00";
          out += kHex[b >> 4];
          out += kHex[b & 15];
        } else if (b >= 0x80) {
          // Latin-1 to UTF-8: two bytes.
          out += static_cast<char>(0xC0 | (b >> 6));
          out += static_cast<char>(0x80 | (b & 0x3F));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonObject::Key(const std::string& key) {
  if (!members_.empty()) members_ += ",";
  members_ += JsonString(key) + ":";
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
  Key(key);
  members_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, long long value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<std::string>& values) {
  Key(key);
  members_ += "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    members_ += (i == 0 ? "" : ",") + JsonString(values[i]);
  }
  members_ += "]";
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const JsonObject& value) {
  Key(key);
  members_ += value.Text();
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<JsonObject>& values) {
  Key(key);
  members_ += "[";
  for (std::size_t i = 0; i < values.size(); ++i)
    members_ += (i == 0 ? "" : ",") + values[i].Text();
  members_ += "]";
  return *this;
}

Output::Output(std::FILE* out, std::FILE* err, bool json, ProgressStyle style)
    : out_(out), err_(err), json_(json), style_(style) {}

Output::ProgressStyle Output::StyleFor(std::FILE* err, bool quiet) {
  if (quiet) return ProgressStyle::kNone;
  return ::isatty(::fileno(err)) == 1 ? ProgressStyle::kBar : ProgressStyle::kPlain;
}

void Output::Result(const std::string& plain, const JsonObject& object) {
  ClearBar();
  const std::string line = (json_ ? object.Text() : plain) + "\n";
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
}

void Output::PlainLine(const std::string& line) {
  if (json_) return;
  ClearBar();
  std::fputs((line + "\n").c_str(), out_);
  std::fflush(out_);
}

void Output::Begin(const std::string& job, int total) {
  job_ = job;
  total_ = std::max(total, 1);
  lastPlain_.clear();
}

void Output::Step(int current, const std::string& text) {
  if (style_ == ProgressStyle::kNone) return;
  if (style_ == ProgressStyle::kPlain) {
    // One line per step; a step that says nothing new is not repeated.
    const std::string line = job_ + ": " + text;
    if (line == lastPlain_) return;
    lastPlain_ = line;
    std::fputs((line + "\n").c_str(), err_);
    std::fflush(err_);
    return;
  }
  constexpr int kWidth = 30;
  const int done = std::clamp(current, 0, total_) * kWidth / total_;
  std::string bar = "\r" + job_ + " [" + std::string(static_cast<std::size_t>(done), '#') +
                    std::string(static_cast<std::size_t>(kWidth - done), '.') + "] " + text;
  // The rest of a longer text shown before is wiped.
  bar += "\033[K";
  std::fputs(bar.c_str(), err_);
  std::fflush(err_);
  barShown_ = true;
}

void Output::End() {
  ClearBar();
  job_.clear();
}

void Output::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  barShown_ = false;
}

void Output::Failure(const std::string& text) {
  ClearBar();
  std::fputs(("kvel-cli: " + text + "\n").c_str(), err_);
  std::fflush(err_);
}

}  // namespace kvel::cli
