// The main window's side of the indexer commands: the "H23" button, the scan, the
// L-parameter view, the program uploads and the download dialog.
#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include "KVELIndexerHost.h"
#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "indexer/KVEL_32_IDX.h"
#include "indexer/PCtoIDX.h"
#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"

namespace {

constexpr int kGridCells = 51;

// Disables the main window while a transfer runs and enables it on every way out.
class Disabled {
 public:
  explicit Disabled(TForm1& form) : form_(form) { form_.setEnabled(false); }
  ~Disabled() { form_.setEnabled(true); }
  Disabled(const Disabled&) = delete;
  Disabled& operator=(const Disabled&) = delete;

 private:
  TForm1& form_;
};

}  // namespace

KVELIndexerHost& TForm1::Indexer() {
  if (!indexerHost_) indexerHost_ = std::make_unique<KVELIndexerHost>(*this);
  return *indexerHost_;
}

void TForm1::ConnectIndexerCommands() {
  LParamName = ::LParamName;
  const auto guard = [this](void (TForm1::*handler)()) {
    return [this, handler] { kvel::Guarded([this, handler] { (this->*handler)(); }); };
  };
  connect(SpeedButton5, &QToolButton::clicked, this, guard(&TForm1::SpeedButton5Click));
  connect(Scanforindexer1, &QAction::triggered, this, guard(&TForm1::Scanforindexer1Click));
  connect(ReadLParameters1, &QAction::triggered, this, guard(&TForm1::ReadLParameters1Click));
  connect(IDXtpoPC1, &QAction::triggered, this, guard(&TForm1::IDXtpoPC1Click));
  connect(ProgPar1, &QAction::triggered, this, guard(&TForm1::ProgPar1Click));
  connect(VerifyProgram1, &QAction::triggered, this, guard(&TForm1::VerifyProgram1Click));
  connect(KVEL1, &QAction::triggered, this, guard(&TForm1::KVEL1Click));
  CreateRecentProgramsMenu();
}

void TForm1::SpeedButton5Click() {
  Panels[2]->setText(kvel::ToQt(" Unit : " + QueryUnitId(ComPort1)));
}

void TForm1::Scanforindexer1Click() {
  // The scan owns the line: a running auto-repeat must not send into it.
  Timer1->stop();
  ShowAutoRepeatState();
  ScanForIndexers(Indexer());
}

void TForm1::ReadLParameters1Click() {
  {
    const Disabled disabled(*this);
    for (int k = 0; k < kGridCells; ++k) SetGridCell(k, " ");
    Label1->setText(kvel::ToQt("L Parameters " + QueryUnitId(ComPort1)));
    RunFlag = 1;
    ReadLParameters(Indexer());
  }
  const int shown = std::min(kGridCells, static_cast<int>(LParamList.size()));
  for (int k = 0; k < shown; ++k) SetGridCell(k, LParamList[static_cast<std::size_t>(k)]);
}

void TForm1::IDXtpoPC1Click() {
  const Disabled disabled(*this);
  ReadProgram(Indexer(), false);
}

void TForm1::ProgPar1Click() {
  const Disabled disabled(*this);
  ReadProgram(Indexer(), true);
}

void TForm1::VerifyProgram1Click() {
  const Disabled disabled(*this);
  VerifyProgramFile(Indexer());
}

void TForm1::KVEL1Click() {
  SendProgramDialog(Indexer());
}
