#pragma once

#include <memory>
#include <string>

#include "iotest/IoTestHost.h"

class TForm1;
class TZorvIOForm;

// The main window as the I/O test windows and the error reports see it: its port, its
// terminal, its frame and the unit query. It also holds the drive test window created at
// start, on which the drive error report runs, and the test window that is open.
class KVELIoTestHost : public IoTestHost {
 public:
  explicit KVELIoTestHost(TForm1& form);
  ~KVELIoTestHost() override;
  KVELIoTestHost(const KVELIoTestHost&) = delete;
  KVELIoTestHost& operator=(const KVELIoTestHost&) = delete;

  TCustomComPort& Port() override;
  void DisplayText(const std::string& text) override;
  void PutText(const std::string& text) override;
  QWidget* MainWindow() override;
  std::string QueryUnitId() override;

  // The ZorvDrive / GRV window created at start; it is never shown.
  TZorvIOForm& DriveErrorForm() { return *driveErrorForm_; }

  // Opens the test window of `unitType` modally and releases it when it closes; nothing
  // for a type without one.
  void RunTestWindow(int unitType);
  // The main window is being closed. With a test window open, that window is asked to
  // close and true comes back: the main window closes once the window has returned.
  bool HoldClose();
  // Whether a close was held back since the last call.
  bool TakeHeldClose();

 private:
  TForm1& form_;
  std::unique_ptr<TZorvIOForm> driveErrorForm_;
  IoTestWindow* openWindow_ = nullptr;
  bool closeHeld_ = false;
};
