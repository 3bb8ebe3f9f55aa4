// The scan for indexers in its progress window; the exchange is the scan engine's.
#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "ScanEngine.h"
#include "serial/CPort.h"
#include "ui/Shutdown.h"

namespace {

// The scan's progress window, and the units list that fills as units are found.
class ScanWindow : public WindowProgress {
 public:
  explicit ScanWindow(IndexerHost& host) : WindowProgress(host), host_(host) {}
  void UnitFound(const FoundUnit& unit) override { host_.AddUnitEntry(unit.entry); }

 private:
  IndexerHost& host_;
};

}  // namespace

void ScanForIndexers(IndexerHost& host) {
  RunFlag = 0;
  host.SetWindowEnabled(false);
  // Whatever ends the scan, the main window takes input again.
  OnExit enable([&host] { host.SetWindowEnabled(true); });
  RunFlag = 1;
  SelectedUnit = 100;
  host.ClearUnitsList();
  host.SetUnitStatus(" Unit : ? ");

  ScanWindow progress(host);
  const ScanResult result = IndexerScan(host.Port(), progress).Run();

  host.PutTerminalText("\n\r");
  if (result.selected == 100) {
    host.SetUnitStatus(" Unit : none ");
  } else {
    host.SetUnitStatus(" Unit : " + UnitIdText);
  }
  enable.Dismiss();
  host.SetWindowEnabled(true);
  // A program that is ending starts no poll: the poll would take the stop back.
  if (!kvel::ShutdownRequested()) host.StartReceivePoll();
}
