#pragma once

#include <string>

namespace kvel {

// A registry key of our own (string and 32-bit integer values), kept in a QSettings
// store under the user's configuration folder.
class RegistryKey {
 public:
  explicit RegistryKey(std::string keyPath);
  const std::string& KeyPath() const { return keyPath_; }
  bool ValueExists(const std::string& name) const;
  std::string ReadString(const std::string& name) const;  // missing: empty text
  int ReadInteger(const std::string& name) const;         // missing: throws std::runtime_error
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int value);

 private:
  std::string keyPath_;
};

// The folder for the user's configuration ($XDG_CONFIG_HOME/kvel or ~/.config/kvel),
// created when missing.
std::string UserConfigFolder();

}  // namespace kvel
