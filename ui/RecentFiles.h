#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kvel {

// Where a per-user convenience of the program is kept: $XDG_STATE_HOME/kvel/<name>, else
// ~/.local/state/kvel/<name>; empty when neither folder is known.
std::string UserStateFile(const std::string& name);

// A most-recent-first list of file paths, at most `limit` of them, kept in a file of its own
// (one path a line). Every change rewrites that file whole, through a temporary file that
// replaces it only once complete. The list is a convenience: a file that cannot be read
// gives an empty list, and one that cannot be written keeps the list for this run only.
class RecentFiles {
 public:
  RecentFiles(std::string storePath, std::size_t limit);

  const std::vector<std::string>& Entries() const { return entries_; }
  // Puts `path` at the top (moving it there when it is already listed) and drops the oldest
  // beyond the limit. A path that one line cannot hold (a line end in it) is not kept.
  void Add(const std::string& path);
  void Remove(const std::string& path);
  void Clear();
  const std::string& StorePath() const { return storePath_; }

 private:
  void Load();
  void Save() const;

  std::string storePath_;
  std::size_t limit_;
  std::vector<std::string> entries_;
};

}  // namespace kvel
