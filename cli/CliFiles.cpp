#include "CliFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "KVEL_Text.h"

namespace kvel::cli {

std::string ReplyText(const std::string& reply) {
  std::string text;
  std::string line;
  const auto flush = [&] {
    const std::string shown = FilterPrintable(line);
    if (!shown.empty()) text += (text.empty() ? "" : "\n") + shown;
    line.clear();
  };
  for (const char c : reply) {
    if (c == '\r' || c == '\n') {
      flush();
    } else {
      line += c;
    }
  }
  flush();
  return text;
}

std::string WritableProblem(const std::string& path) {
  if (path.empty() || path.back() == '/') return "is a folder, not a file";
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return "is a folder, not a file";
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat fst {};
  if (::stat(folder.c_str(), &fst) != 0) {
    return "the folder " + folder + " cannot be reached: " + std::strerror(errno);
  }
  if (!S_ISDIR(fst.st_mode)) return folder + " is not a folder";
  // The file is written beside itself and renamed, so the folder must take new files.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot write into the folder " + folder + ": " + std::strerror(errno);
  }
  if (exists && ::access(path.c_str(), W_OK) != 0) {
    return "cannot be replaced: " + std::string(std::strerror(errno));
  }
  return {};
}

}  // namespace kvel::cli
