#pragma once

#include <string>

namespace kvel {

// Why the program could not show a window here, before Qt is asked to (Qt ends a program that
// cannot reach its display with an abort). Empty when a display is at hand, or when another
// platform than X11 has been chosen (QT_QPA_PLATFORM, a -platform argument, a Wayland session).
std::string MissingDisplay(int argc, char** argv);

}  // namespace kvel
