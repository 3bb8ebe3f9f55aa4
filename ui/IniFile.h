#pragma once

#include <string>
#include <vector>

namespace kvel {

// Reads and writes strings by section and key in an INI file, as the classic
// profile functions do: sections and keys match without regard to letter case,
// but a key's text is taken exactly as given (trailing blanks are part of it);
// values are neither trimmed nor quoted. CR LF, LF and lone CR line ends and a UTF-8
// byte-order mark are read and kept, as are other lines and sections, on write. The file is
// created on the first write, and every write replaces the file atomically (temporary
// file, then rename). A file that exists but cannot be read (a folder, no permission) reads
// as empty, so every default applies; ReadError() says why.
class IniFile {
 public:
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Reads the text and converts it with StrToInt; a missing key gives `defaultValue`.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Throws std::runtime_error ("Cannot write the INI file '<path>': <reason>") when the file
  // cannot be written, also when its present content cannot be read to be kept.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  bool SectionExists(const std::string& section) const;
  // Why the file could not be read by the last read through this object; empty when it
  // could, or when it does not exist.
  const std::string& ReadError() const { return readError_; }

  // While `path` does not exist, reads come from `source`, and the first write starts from
  // its content (a settings file that may be read but not written, seeding the user's own).
  // An empty `source` removes the fallback.
  static void SetFallback(const std::string& path, const std::string& source);

 private:
  std::string path_;
  mutable std::string readError_;
};

}  // namespace kvel
