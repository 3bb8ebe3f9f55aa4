#include "RecentFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kvel {

std::string UserStateFile(const std::string& name) {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  return base + "/kvel/" + name;
}

RecentFiles::RecentFiles(std::string storePath, std::size_t limit)
    : storePath_(std::move(storePath)), limit_(limit) {
  Load();
}

void RecentFiles::Add(const std::string& path) {
  if (path.empty() || path.find_first_of("\r\n") != std::string::npos) return;
  std::erase(entries_, path);
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > limit_) entries_.resize(limit_);
  Save();
}

void RecentFiles::Remove(const std::string& path) {
  if (std::erase(entries_, path) > 0) Save();
}

void RecentFiles::Clear() {
  entries_.clear();
  Save();
}

void RecentFiles::Load() {
  entries_.clear();
  if (storePath_.empty()) return;
  QFile file(QFile::decodeName(storePath_.c_str()));
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.readAll();
  for (const QByteArray& line : bytes.split('\n')) {
    std::string path(line.constData(), static_cast<std::size_t>(line.size()));
    if (!path.empty() && path.back() == '\r') path.pop_back();
    if (path.empty() || std::find(entries_.begin(), entries_.end(), path) != entries_.end()) {
      continue;
    }
    entries_.push_back(path);
    if (entries_.size() == limit_) break;
  }
}

void RecentFiles::Save() const {
  if (storePath_.empty()) return;
  const QString path = QFile::decodeName(storePath_.c_str());
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return;
  for (const std::string& entry : entries_) {
    file.write(entry.data(), static_cast<qint64>(entry.size()));
    file.write("\n", 1);
  }
  file.commit();
}

}  // namespace kvel
