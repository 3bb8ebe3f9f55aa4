#pragma once

#include <string>
#include <vector>

namespace kvel {

// Reads and writes strings by section and key in an INI file, as the classic
// profile functions do: sections and keys match without regard to letter case,
// but a key's text is taken exactly as given (trailing blanks are part of it);
// values are neither trimmed nor quoted. CR LF and LF line ends are read; other
// lines and sections are kept on write. The file is created on the first write,
// and every write replaces the file atomically (temporary file, then rename).
class IniFile {
 public:
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Reads the text and converts it with StrToInt; a missing key gives `defaultValue`.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Throws std::runtime_error with the reason when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  bool SectionExists(const std::string& section) const;

 private:
  std::string path_;
};

}  // namespace kvel
