#pragma once

#include <string>

namespace kvel::cli {

// What `send` prints of a reply: its lines without the line ends and the bytes outside 32 to
// 122 that the window's filter drops.
std::string ReplyText(const std::string& reply);

// Whether `path` can be written as a whole new file (its folder exists and takes files, and
// an existing file may be replaced); empty when it can, else why not.
std::string WritableProblem(const std::string& path);

}  // namespace kvel::cli
