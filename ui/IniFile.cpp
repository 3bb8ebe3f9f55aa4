#include "IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>

#include "Convert.h"

namespace kvel {
namespace {

// One line of the file as it stands, its line end included, so that lines this
// program does not change are written back byte for byte.
struct Line {
  std::string text;  // without the line end
  std::string end;   // "\r\n", "\n" or empty for a last line without one
};

struct Document {
  std::vector<Line> lines;
  std::string eol = "\r\n";  // the style for lines this program adds
  std::string bom;           // a UTF-8 byte-order mark the file begins with, written back
};

// Files that stand in for a missing INI file (see IniFile::SetFallback).
std::map<std::string, std::string>& Fallbacks() {
  static std::map<std::string, std::string> fallbacks;
  return fallbacks;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The section name when `text` is a section header ("[name]", blanks allowed before it).
std::optional<std::string> SectionName(const std::string& text) {
  const std::size_t open = text.find_first_not_of(" \t");
  if (open == std::string::npos || text[open] != '[') return std::nullopt;
  const std::size_t close = text.find(']', open + 1);
  if (close == std::string::npos) return std::nullopt;
  return text.substr(open + 1, close - open - 1);
}

bool IsKeyLine(const std::string& text, const std::string& key) {
  const std::size_t eq = text.find('=');
  return eq != std::string::npos && SameName(text.substr(0, eq), key);
}

// The whole file into `content`: 0 when read, else the errno of the failure (ENOENT when it
// does not exist). A folder of that name is a failure too, not an empty file.
int ReadWhole(const std::string& path, std::string& content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;  // a FIFO or device would block or never end
  }
  char buffer[8192];
  while (error == 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return error;
}

Document Parse(const std::string& content) {
  Document doc;
  std::size_t start = 0;
  if (content.rfind("\xEF\xBB\xBF", 0) == 0) {
    doc.bom = content.substr(0, 3);
    start = 3;
  }
  bool styleKnown = false;
  while (start < content.size()) {
    // CR LF, LF and a lone CR all end a line; each line keeps its own end.
    const std::size_t brk = content.find_first_of("\r\n", start);
    Line line;
    if (brk == std::string::npos) {
      line.text = content.substr(start);
      start = content.size();
    } else {
      const bool crlf =
          content[brk] == '\r' && brk + 1 < content.size() && content[brk + 1] == '\n';
      line.text = content.substr(start, brk - start);
      line.end = crlf ? "\r\n" : std::string(1, content[brk]);
      start = brk + line.end.size();
      if (!styleKnown) {
        doc.eol = line.end;
        styleKnown = true;
      }
    }
    doc.lines.push_back(std::move(line));
  }
  return doc;
}

std::string Reason(const std::string& path, int error) {
  return "Cannot read the INI file '" + path + "': " + std::strerror(error);
}

// A writer that cannot read the file it is to change (or the file it would start from) leaves
// it as it is: the text says that the write failed, where and why.
std::string WriteReason(const std::string& path, const std::string& source, int error) {
  std::string text = "Cannot write the INI file '" + path + "': ";
  if (source != path) {
    text += "the settings file '" + source + "' it starts from cannot be read: ";
  } else if (error != EISDIR) {
    text += "its present content cannot be read: ";
  }
  return text + std::strerror(error);
}

// Nothing when the file does not exist (and no fallback stands in for it). A file that
// exists but cannot be read gives nothing to a reader (the defaults apply; `readError` says
// why) and throws for a writer, which would otherwise replace the whole file by its one
// new entry.
std::optional<Document> Load(const std::string& path, bool forWrite, std::string* readError) {
  std::string content;
  std::string source = path;
  int error = ReadWhole(path, content);
  if (error == ENOENT) {
    const auto fallback = Fallbacks().find(path);
    if (fallback != Fallbacks().end()) {
      source = fallback->second;
      content.clear();
      error = ReadWhole(source, content);
    }
  }
  if (error == ENOENT) return std::nullopt;
  if (error != 0) {
    if (forWrite) throw std::runtime_error(WriteReason(path, source, error));
    if (readError != nullptr) *readError = Reason(source, error);
    return std::nullopt;
  }
  return Parse(content);
}

// Index of the first header line of `section`, or npos.
std::size_t FindSection(const Document& doc, const std::string& section) {
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const auto name = SectionName(doc.lines[i].text);
    if (name && SameName(*name, section)) return i;
  }
  return std::string::npos;
}

// One past the last line of the section whose header is at `header`.
std::size_t SectionEnd(const Document& doc, std::size_t header) {
  std::size_t i = header + 1;
  while (i < doc.lines.size() && !SectionName(doc.lines[i].text)) ++i;
  return i;
}

std::optional<std::string> Lookup(const std::string& path, const std::string& section,
                                  const std::string& key, std::string* readError) {
  const auto doc = Load(path, false, readError);
  if (!doc) return std::nullopt;
  const std::size_t header = FindSection(*doc, section);
  if (header == std::string::npos) return std::nullopt;
  const std::size_t end = SectionEnd(*doc, header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const std::string& text = doc->lines[i].text;
    if (IsKeyLine(text, key)) return text.substr(text.find('=') + 1);
  }
  return std::nullopt;
}

// Names and values that would break the line structure could not be read back as written
// (a line break in a value would even add keys of its own), so they are refused.
void CheckEntry(const std::string& section, const std::string& key, const std::string& value) {
  auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  if (hasBreak(section) || section.find(']') != std::string::npos) {
    throw std::runtime_error("The INI section name '" + section + "' cannot be stored");
  }
  if (hasBreak(key) || key.find('=') != std::string::npos || SectionName(key)) {
    throw std::runtime_error("The INI key '" + key + "' cannot be stored");
  }
  if (hasBreak(value)) {
    throw std::runtime_error("The INI value of '" + key + "' cannot hold a line break");
  }
}

void Save(const std::string& path, const Document& doc) {
  std::string content = doc.bom;
  for (const Line& line : doc.lines) content += line.text + line.end;
  QSaveFile file(QFile::decodeName(path.c_str()));
  const auto fail = [&](const QString& reason) {
    file.cancelWriting();
    throw std::runtime_error("Cannot write the INI file '" + path + "': " + reason.toStdString());
  };
  if (!file.open(QIODevice::WriteOnly)) fail(file.errorString());
  if (file.write(content.data(), static_cast<qint64>(content.size())) !=
      static_cast<qint64>(content.size())) {
    fail(file.errorString());
  }
  if (!file.commit()) fail(file.errorString());
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  readError_.clear();
  return Lookup(path_, section, key, &readError_).value_or(defaultValue);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key,
                         int defaultValue) const {
  readError_.clear();
  const auto text = Lookup(path_, section, key, &readError_);
  return text ? StrToInt(*text) : defaultValue;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  CheckEntry(section, key, value);
  Document doc = Load(path_, true, nullptr).value_or(Document{});
  const std::string entry = key + "=" + value;
  const std::size_t header = FindSection(doc, section);
  if (header == std::string::npos) {
    if (!doc.lines.empty()) {
      if (doc.lines.back().end.empty()) doc.lines.back().end = doc.eol;
      if (!doc.lines.back().text.empty()) doc.lines.push_back({"", doc.eol});
    }
    doc.lines.push_back({"[" + section + "]", doc.eol});
    doc.lines.push_back({entry, doc.eol});
    Save(path_, doc);
    return;
  }
  const std::size_t end = SectionEnd(doc, header);
  std::size_t insertAt = header + 1;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (IsKeyLine(doc.lines[i].text, key)) {
      // The key keeps the letter case it has in the file; only the value changes.
      std::string& text = doc.lines[i].text;
      text = text.substr(0, text.find('=') + 1) + value;
      if (doc.lines[i].end.empty()) doc.lines[i].end = doc.eol;
      Save(path_, doc);
      return;
    }
    // New keys go after the section's last non-blank line, before the blank lines
    // that separate it from the next section.
    if (doc.lines[i].text.find_first_not_of(" \t") != std::string::npos) insertAt = i + 1;
  }
  if (doc.lines[insertAt - 1].end.empty()) doc.lines[insertAt - 1].end = doc.eol;
  doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{entry, doc.eol});
  Save(path_, doc);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::SetFallback(const std::string& path, const std::string& source) {
  if (source.empty()) {
    Fallbacks().erase(path);
  } else {
    Fallbacks()[path] = source;
  }
}

bool IniFile::SectionExists(const std::string& section) const {
  readError_.clear();
  const auto doc = Load(path_, false, &readError_);
  return doc && FindSection(*doc, section) != std::string::npos;
}

}  // namespace kvel
