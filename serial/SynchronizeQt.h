#pragma once

namespace kvel {

// Runs the serial layer's synchronised calls (line events of ports, errors posted by their
// threads) in the event loop of this program's Qt application. Linking kvel_serial_qt is
// enough: the hook is installed when the application object is constructed, widgets or
// not. Calling this is needed only where an application existed before (it does nothing
// without one, or when a hook is in place).
void InstallQtSynchronize();

}  // namespace kvel
