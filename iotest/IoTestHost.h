#pragma once

#include <string>

class QWidget;
class TCustomComPort;

// What the I/O test windows and the error reports use of the main window. The main window
// implements it; tests put a port on a simulated line behind it.
class IoTestHost {
 public:
  virtual ~IoTestHost() = default;

  // The program's one serial port, open on the unit under test.
  virtual TCustomComPort& Port() = 0;
  // Shows text in the terminal and, while the terminal log is on, appends it to the log.
  virtual void DisplayText(const std::string& text) = 0;
  // Writes text into the terminal only (trace lines).
  virtual void PutText(const std::string& text) = 0;
  // The main window: the owner of the test windows and the frame they centre on; nullptr
  // when there is none.
  virtual QWidget* MainWindow() = 0;
  // The unit query: the addressed indexer's identification, cleaned, without its first "=".
  virtual std::string QueryUnitId() = 0;
};

// A test window the main window may have to close while it runs (the main window itself is
// being closed).
class IoTestWindow {
 public:
  virtual ~IoTestWindow() = default;
  // Ends whatever runs at its next stop point and closes the window the way its own exit
  // does, so the unit is left as that exit leaves it.
  virtual void CloseForHost() = 0;
};
