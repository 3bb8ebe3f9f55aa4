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

}  // namespace kvel::cli
