#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include <pwd.h>
#include <unistd.h>

#include "Convert.h"

namespace kvel {
namespace {

// "Software\KVEL\Port" becomes the group "Software/KVEL/Port".
QString GroupOf(const std::string& keyPath) {
  QString group = ToQt(keyPath);
  group.replace(u'\\', u'/');
  return group;
}

std::unique_ptr<QSettings> Open(const std::string& keyPath) {
  auto settings = std::make_unique<QSettings>(
      QFile::decodeName((UserConfigFolder() + "/registry.ini").c_str()), QSettings::IniFormat);
  settings->beginGroup(GroupOf(keyPath));
  return settings;
}

void Store(const std::string& keyPath, const std::string& name, const QVariant& value) {
  auto settings = Open(keyPath);
  settings->setValue(ToQt(name), value);
  settings->sync();
  if (settings->status() != QSettings::NoError) {
    throw std::runtime_error("Cannot write the registry value '" + name + "' to '" +
                             settings->fileName().toStdString() + "'");
  }
}

}  // namespace

RegistryKey::RegistryKey(std::string keyPath) : keyPath_(std::move(keyPath)) {}

bool RegistryKey::ValueExists(const std::string& name) const {
  return Open(keyPath_)->contains(ToQt(name));
}

std::string RegistryKey::ReadString(const std::string& name) const {
  return FromQt(Open(keyPath_)->value(ToQt(name)).toString());
}

int RegistryKey::ReadInteger(const std::string& name) const {
  const QVariant value = Open(keyPath_)->value(ToQt(name));
  bool ok = false;
  const int result = value.toInt(&ok);
  if (!value.isValid() || !ok) throw std::runtime_error("Invalid data type for '" + name + "'");
  return result;
}

void RegistryKey::WriteString(const std::string& name, const std::string& value) {
  Store(keyPath_, name, ToQt(value));
}

void RegistryKey::WriteInteger(const std::string& name, int value) {
  Store(keyPath_, name, value);
}

std::string UserConfigFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
      const passwd* entry = getpwuid(getuid());
      home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr) throw std::runtime_error("Cannot find the user's home folder");
    base = std::string(home) + "/.config";
  }
  const std::string folder = base + "/kvel";
  if (!QDir().mkpath(QFile::decodeName(folder.c_str()))) {
    throw std::runtime_error("Cannot create the configuration folder '" + folder + "'");
  }
  return folder;
}

}  // namespace kvel
