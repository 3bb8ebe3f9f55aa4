#pragma once

#include <string>

class QWidget;

namespace kvel {

// Shows a text file read-only in a window of the program's own (for a log when the desktop
// has no program for it): the file's last bytes up to a limit, at its end, with a Close
// button; Esc closes it too. The window belongs to `owner`'s window and deletes itself on
// close. Throws std::runtime_error naming the file when it cannot be read.
QWidget* ShowTextFile(QWidget* owner, const std::string& path);

// The most a viewer shows of a file, from its end.
inline constexpr long long kTextViewerLimit = 8LL * 1024 * 1024;

}  // namespace kvel
