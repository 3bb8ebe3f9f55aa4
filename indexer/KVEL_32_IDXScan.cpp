// The scan of a daisy-chained line for indexers at addresses 1 to 99.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Shutdown.h"

namespace {

// A unit that answered the probe: listed, remembered as the selected one.
void AddFound(IndexerHost& host, int address, const std::string& entry) {
  SelectedUnit = address;
  host.AddUnitEntry(entry);
}

// A probe reply that begins to arrive this late in its address's wait may be the late reply of
// the address before; one that has begun by then is the probed unit's own (a prompt unit's
// reply is there a few milliseconds after the probe has gone out).
constexpr int kPromptReplyMs = 30;
// The wait for the reply when an address is asked again, as long as the unit query's.
constexpr int kReaskMs = 500;

// The probe's wait: 100 ms, looking at the input every 10 ms to learn when a reply began.
// Returns the milliseconds into the wait by which the first byte was there (-1: none).
int ProbeWait(TCustomComPort& port) {
  constexpr int kProbeWaitMs = 100;
  constexpr int kLookMs = 10;
  const std::int64_t start = kvel::NowMs();
  int firstSeen = -1;
  for (;;) {
    const auto elapsed = static_cast<int>(kvel::NowMs() - start);
    if (firstSeen < 0 && port.PendingInput() > 0) firstSeen = elapsed;
    if (elapsed >= kProbeWaitMs) break;
    kvel::Wait(std::min(kLookMs, kProbeWaitMs - elapsed));
  }
  return firstSeen;
}

// Asks `address` again once the line has fallen quiet: what comes within the longer wait is
// that unit's own reply.
std::string Reask(TCustomComPort& port, int address, std::int32_t* count) {
  for (int pass = 0; pass < 25 && port.PendingInput() > 0; ++pass) {
    port.PurgeBuffers(true, false);
    kvel::Wait(20);
  }
  port.PurgeBuffers(true, false);
  port.SendText("<" + std::to_string(address) + "? ");
  kvel::Wait(kReaskMs);
  *count = port.PendingInput();
  RxCount = *count;
  std::string reply;
  port.ReceiveText(reply, *count);
  return reply;
}

// Steps for a probe reply of unit `n`: busy, ready and numbered units are listed.
void Examine(IndexerHost& host, ProgressWindow& progress, int n, std::int32_t k,
             const std::string& reply) {
  TCustomComPort& port = host.Port();
  const std::string address = std::to_string(n);
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

  for (int n = 1; n <= 99 && RunFlag != 0 && !kvel::ShutdownRequested(); ++n) {
    const std::string address = std::to_string(n);
    progress->SetPosition(n);
    port.SendText("<" + address + "? ");
    progress->SetLabel(progress->Label2, "Scanning : " + address + " ");
    const int firstSeenMs = ProbeWait(port);
    kvel::ProcessMessages();
    // The program is ending: the scan stops as Cancel does, without the queries of a unit.
    if (kvel::ShutdownRequested()) break;
    std::int32_t k = port.PendingInput();
    RxCount = k;
    std::string reply;
    port.ReceiveText(reply, k);

    if (k > 0 && firstSeenMs > kPromptReplyMs) {
      // A late reply belongs to this address or to the one before; each is asked again on a
      // quiet line, and a reply that neither repeats belongs to none.
      reply = Reask(port, n, &k);
      if (k == 0 && n > 1) {
        std::int32_t before = 0;
        const std::string earlier = Reask(port, n - 1, &before);
        if (before > 0) Examine(host, progress, n - 1, before, earlier);
      }
    }
    Examine(host, progress, n, k, reply);
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
  // A program that is ending starts no poll: the poll would take the stop back.
  if (!kvel::ShutdownRequested()) host.StartReceivePoll();
}
