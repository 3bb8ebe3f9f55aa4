#include "KVELIoTestHost.h"

#include <QDialog>

#include "KVELUnit1.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "indexer/KVEL_32_IDX.h"
#include "iotest/KVEL_QN4KIO.h"
#include "iotest/KVEL_XMU_IO.h"
#include "iotest/ZorvIOTest.h"
#include "terminal/CPortCtl.h"
#include "ui/Clock.h"

KVELIoTestHost::KVELIoTestHost(TForm1& form)
    : form_(form), driveErrorForm_(std::make_unique<TZorvIOForm>(*this)) {}

KVELIoTestHost::~KVELIoTestHost() = default;

TCustomComPort& KVELIoTestHost::Port() {
  return form_.ComPort1;
}

void KVELIoTestHost::DisplayText(const std::string& text) {
  form_.DisplayText(text);
}

void KVELIoTestHost::PutText(const std::string& text) {
  form_.ComTerminal1->PutText(text);
}

QWidget* KVELIoTestHost::MainWindow() {
  return &form_;
}

// The unit query: asks the addressed indexer for its identification with H23 and returns
// the cleaned reply without its first "=".
std::string KVELIoTestHost::QueryUnitId() {
  return ::QueryUnitId(form_.ComPort1);
}

void KVELIoTestHost::RunTestWindow(int unitType) {
  std::unique_ptr<QDialog> window;
  IoTestWindow* testWindow = nullptr;
  if (unitType == 4) {
    auto form = std::make_unique<TQN4K_IO_Form>(*this, &form_);
    testWindow = form.get();
    window = std::move(form);
  } else if (unitType == 5) {
    auto form = std::make_unique<TXMU_IO_Form>(*this, &form_);
    testWindow = form.get();
    window = std::move(form);
  } else if (unitType == 6 || unitType == 7) {
    auto form = std::make_unique<TZorvIOForm>(*this, &form_);
    testWindow = form.get();
    window = std::move(form);
  } else {
    return;
  }
  openWindow_ = testWindow;
  struct Closed {
    IoTestWindow*& slot;
    ~Closed() { slot = nullptr; }
  } closed{openWindow_};
  window->exec();
}

bool KVELIoTestHost::HoldClose() {
  if (openWindow_ == nullptr) return false;
  closeHeld_ = true;
  openWindow_->CloseForHost();
  return true;
}

bool KVELIoTestHost::TakeHeldClose() {
  const bool held = closeHeld_;
  closeHeld_ = false;
  return held;
}
