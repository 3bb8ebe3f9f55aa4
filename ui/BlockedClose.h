#pragma once

class QWidget;

namespace kvel {

// Qt drops the window manager's close request for a window that a modal window blocks, so the
// main window's close box would do nothing while a dialog runs. On X11 this watches for that
// request and turns it into the window's own close() (which the window may then hold back
// until its dialog has stopped). Elsewhere it does nothing. `window` must outlive the watch.
void WatchCloseWhileBlocked(QWidget& window);

}  // namespace kvel
