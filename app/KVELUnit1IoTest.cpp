// The main window's I/O test side: the test window of the unit type, the error reports that
// a typed "ERR" starts, and the drive test window created at start.
#include "KVELIoTestHost.h"
#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "iotest/KVEL_XMU_IO.h"
#include "iotest/ZorvIOTest.h"

void TForm1::ConnectIoTests() {
  ioTests_ = std::make_unique<KVELIoTestHost>(*this);
  OnXmuErrorReport = [this] { GetXmuError(*ioTests_); };
  OnDriveErrorReport = [this] { ioTests_->DriveErrorForm().ReportDriveError(); };
}

void TForm1::IOButton2Click() {
  ioTests_->RunTestWindow(UnitType);
  if (ioTests_->TakeHeldClose()) {
    // The main window was closed while the test window ran: it closes now.
    close();
    return;
  }
  RunFlag = 1;
  PollReceive();
}

bool TForm1::HoldCloseForIoTest() {
  return ioTests_ != nullptr && ioTests_->HoldClose();
}
