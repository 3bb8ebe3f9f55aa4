// The scan of a daisy-chained line for indexers at addresses 1 to 99.
#include <cctype>
#include <climits>

#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "serial/CPort.h"
#include "ui/Clock.h"

namespace {

// A unit that answered the probe: listed, remembered as the selected one.
void AddFound(IndexerHost& host, int address, const std::string& entry) {
  SelectedUnit = address;
  host.AddUnitEntry(entry);
}

}  // namespace

long long ProbeNumber(const std::string& filtered) {
  std::size_t i = 0;
  while (i < filtered.size() && filtered[i] == ' ') ++i;
  bool negative = false;
  if (i < filtered.size() && (filtered[i] == '+' || filtered[i] == '-')) {
    negative = filtered[i] == '-';
    ++i;
  }
  if (i == filtered.size()) return 0;
  long long value = 0;
  for (; i < filtered.size(); ++i) {
    const auto c = static_cast<unsigned char>(filtered[i]);
    if (std::isdigit(c) == 0) return 0;
    if (value > (LLONG_MAX - 9) / 10) return 0;  // too large to be a number at all
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

void ScanForIndexers(IndexerHost& host) {
  TCustomComPort& port = host.Port();
  RunFlag = 0;
  host.SetWindowEnabled(false);
  // Whatever ends the scan, the main window takes input again.
  OnExit enable([&host] { host.SetWindowEnabled(true); });
  RunFlag = 1;
  SelectedUnit = 100;
  host.ClearUnitsList();
  host.SetUnitStatus(" Unit : ? ");

  ProgressWindow progress(host);
  OnExit cleanUp([&] {
    port.PurgeBuffers(true, true);
    progress.Release();
  });
  progress->SetCaption("Scanning for Indexers");
  progress->SetLabel(progress->Label3, "99");
  progress->SetLabel(progress->Label2, "Scanning");
  progress->show();

  for (int n = 1; n <= 99 && RunFlag != 0; ++n) {
    const std::string address = std::to_string(n);
    progress->SetPosition(n);
    port.SendText("<" + address + "? ");
    progress->SetLabel(progress->Label2, "Scanning : " + address + " ");
    kvel::Wait(100);
    kvel::ProcessMessages();
    const std::int32_t k = port.PendingInput();
    RxCount = k;
    std::string reply;
    port.ReceiveText(reply, k);

    if (k > 0 && reply.find(':') != std::string::npos) {
      const std::string id = QueryUnitId(port);
      UnitIdText = id;
      kvel::Wait(400);
      const std::string entry = "# " + address + " = " + id;
      AddFound(host, n, entry);
      progress->SetLabel(progress->Label4, entry + " busy");
    }
    if (reply.find('=') != std::string::npos) {
      const std::string id = QueryUnitId(port);
      UnitIdText = id;
      kvel::Wait(400);
      AddFound(host, n, "# " + address + " = " + id);
      progress->SetLabel(progress->Label4, "#  " + address + " = " + id + " ready");
    }
    if (ProbeNumber(FilterPrintable(reply)) > 0) {
      UnitIdText = QueryRevision(port);
      kvel::Wait(400);
      const std::string revision = QueryRevision(port);
      const std::string entry = "# " + address + " = " + revision.substr(0, 22) + "...";
      AddFound(host, n, entry);
      progress->SetLabel(progress->Label4, entry);
    }
  }

  host.PutTerminalText("\n\r");
  if (SelectedUnit == 100) {
    host.SetUnitStatus(" Unit : none ");
  } else {
    port.SendText("<" + std::to_string(SelectedUnit) + " ");
    host.SetUnitStatus(" Unit : " + UnitIdText);
  }
  cleanUp.Dismiss();
  // Only the input: a write returns once its bytes are handed to the driver, and purging
  // the output now could drop the selection just written before it reaches the line.
  port.PurgeBuffers(true, false);
  progress.Release();
  enable.Dismiss();
  host.SetWindowEnabled(true);
  host.StartReceivePoll();
}
