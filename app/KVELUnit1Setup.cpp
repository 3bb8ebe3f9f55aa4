// The main window's steps around the three setup dialogs.
#include <QAction>
#include <QLabel>
#include <QScopeGuard>
#include <memory>

#include "KVELUnit1.h"
#include "KVEL_Macro.h"
#include "KVEL_Var.h"
#include "serial/CPortSetup.h"
#include "terminal/CPortCtl.h"
#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"

void TForm1::ConnectSetupCommands() {
  const auto guard = [this](void (TForm1::*handler)()) {
    return [this, handler] { kvel::Guarded([this, handler] { (this->*handler)(); }); };
  };
  connect(Editmacros1, &QAction::triggered, this, guard(&TForm1::Editmacros1Click));
  connect(Terminal1, &QAction::triggered, this, guard(&TForm1::Terminal1Click));
  connect(SetCom1, &QAction::triggered, this, guard(&TForm1::SetCom1Click));
}

void TForm1::Editmacros1Click() {
  setEnabled(false);
  // Enabled again on every way out, after the dialog is gone, also when saving fails.
  const auto enable = qScopeGuard([this] { setEnabled(true); });
  const auto dialog = std::make_unique<TMacroForm>(this);
  if (dialog->exec() == QDialog::Accepted) WriteConfig();
}

void TForm1::Terminal1Click() {
  ComTerminal1->RunSetupDialog();
  switch (ComTerminal1->Emulation()) {
    case kvel::teNone:
      EmulationIndex = 0;
      break;
    case kvel::teVT52:
      EmulationIndex = 2;
      break;
    case kvel::teVT100orANSI:
      EmulationIndex = 3;
      break;
  }
}

void TForm1::SetCom1Click() {
  // An open port is closed while the dialog is shown and reopened with the new settings
  // afterwards (a closed one the other way round).
  const auto toggle = [this] {
    if (ComPort1.Connected()) {
      ComPort1.ClosePort();
    } else {
      ComPort1.OpenPort();
    }
  };
  toggle();
  ShowPortSetup(ComPort1);
  toggle();
  ShowPortState();
  BaudValue = kvel::StrToInt(BaudRateText(ComPort1.BaudRate()));
}
