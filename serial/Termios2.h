#pragma once

#include "TermiosSettings.h"

namespace kvel {

// Sets all terminal settings of a descriptor in one call, with any rate (termios2).
// Returns 0 or an errno value.
int SetTermios2(int fd, const TermiosSettings& settings);
// Reads them back; `speed` is the output rate the driver reports.
int GetTermios2(int fd, TermiosSettings* settings);

}  // namespace kvel
