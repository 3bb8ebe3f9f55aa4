#pragma once

#include <string>

#include "CliOptions.h"
#include "CliOutput.h"

namespace kvel::cli {

class Session;

// Runs one command to its end: results on the output, the one failure line on its error
// stream. Returns the exit status.
Status RunCommand(const Options& options, Output& output);

// The command on an open session (the port is open, --unit not yet selected).
Status RunOnSession(const Options& options, Session& session, Output& output);

// The ports the program knows, from the given port map sources.
Status ListPorts(Output& output);

// What `send` prints of a reply: its lines without the line ends and the bytes outside 32 to
// 122 that the window's filter drops.
std::string ReplyText(const std::string& reply);

// Whether `path` can be written as a whole new file (its folder exists and takes files, and
// an existing file may be replaced); empty when it can, else why not.
std::string WritableProblem(const std::string& path);

}  // namespace kvel::cli
