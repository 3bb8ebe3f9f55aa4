// The scan of a daisy-chained line for indexers at addresses 1 to 99.
#include "ScanEngine.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "OnExit.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/Shutdown.h"

namespace {

// A probe reply that begins to arrive this late in its address's wait may be the late reply of
// the address before; one that has begun by then is the probed unit's own (a prompt unit's
// reply is there a few milliseconds after the probe has gone out).
constexpr int kPromptReplyMs = 30;
// The wait for the reply when an address is asked again, as long as the unit query's.
constexpr int kReaskMs = 500;

}  // namespace

long long ProbeNumber(const std::string& filtered) {
  bool negative = false;
  std::size_t i = kvel::NumberStart(filtered, &negative);
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

void IndexerScan::AddFound(int address, const std::string& entry, const std::string& note) {
  SelectedUnit = address;
  FoundUnit unit{address, entry, note};
  result_.units.push_back(unit);
  result_.selected = address;
  result_.unitIdText = UnitIdText;
  progress_.UnitFound(unit);
  progress_.Note(note);
}

// The probe's wait: 100 ms, looking at the input every 10 ms to learn when a reply began.
// Returns the milliseconds into the wait by which the first byte was there (-1: none).
int IndexerScan::ProbeWait() {
  constexpr int kProbeWaitMs = 100;
  constexpr int kLookMs = 10;
  const std::int64_t start = kvel::NowMs();
  int firstSeen = -1;
  for (;;) {
    const auto elapsed = static_cast<int>(kvel::NowMs() - start);
    if (firstSeen < 0 && port_.PendingInput() > 0) firstSeen = elapsed;
    if (elapsed >= kProbeWaitMs) break;
    kvel::Wait(std::min(kLookMs, kProbeWaitMs - elapsed));
  }
  return firstSeen;
}

// Asks `address` again once the line has fallen quiet: what comes within the longer wait is
// that unit's own reply.
std::string IndexerScan::Reask(int address, int* count) {
  for (int pass = 0; pass < 25 && port_.PendingInput() > 0; ++pass) {
    port_.PurgeBuffers(true, false);
    kvel::Wait(20);
  }
  port_.PurgeBuffers(true, false);
  port_.SendText("<" + std::to_string(address) + "? ");
  kvel::Wait(kReaskMs);
  *count = port_.PendingInput();
  RxCount = *count;
  std::string reply;
  port_.ReceiveText(reply, *count);
  return reply;
}

// Steps for a probe reply of unit `n`: busy, ready and numbered units are listed.
void IndexerScan::Examine(int n, int k, const std::string& reply) {
  const std::string address = std::to_string(n);
  if (k > 0 && reply.find(':') != std::string::npos) {
    const std::string id = QueryUnitId(port_);
    UnitIdText = id;
    kvel::Wait(400);
    const std::string entry = "# " + address + " = " + id;
    AddFound(n, entry, entry + " busy");
  }
  if (reply.find('=') != std::string::npos) {
    const std::string id = QueryUnitId(port_);
    UnitIdText = id;
    kvel::Wait(400);
    AddFound(n, "# " + address + " = " + id, "#  " + address + " = " + id + " ready");
  }
  if (ProbeNumber(FilterPrintable(reply)) > 0) {
    UnitIdText = QueryRevision(port_);
    kvel::Wait(400);
    const std::string revision = QueryRevision(port_);
    const std::string entry = "# " + address + " = " + revision.substr(0, 22) + "...";
    AddFound(n, entry, entry);
  }
}

ScanResult IndexerScan::Run() {
  result_ = ScanResult{};
  RunFlag = 1;
  SelectedUnit = 100;
  OnExit purge([this] { port_.PurgeBuffers(true, true); });
  progress_.Begin("Scanning for Indexers", "99", "Scanning");

  for (int n = 1; n <= 99 && RunFlag != 0 && !kvel::ShutdownRequested(); ++n) {
    const std::string address = std::to_string(n);
    result_.lastAddress = n;
    progress_.Progress(n, 99, n, "Scanning : " + address + " ");
    port_.SendText("<" + address + "? ");
    const int firstSeenMs = ProbeWait();
    kvel::EngineIdle(progress_);
    // The program is ending: the scan stops as Cancel does, without the queries of a unit.
    if (kvel::ShutdownRequested()) break;
    int k = port_.PendingInput();
    RxCount = k;
    std::string reply;
    port_.ReceiveText(reply, k);

    if (k > 0 && firstSeenMs > kPromptReplyMs) {
      // A late reply belongs to this address or to the one before; each is asked again on a
      // quiet line, and a reply that neither repeats belongs to none.
      reply = Reask(n, &k);
      if (k == 0 && n > 1) {
        int before = 0;
        const std::string earlier = Reask(n - 1, &before);
        if (before > 0) Examine(n - 1, before, earlier);
      }
    }
    Examine(n, k, reply);
  }
  result_.stopped = RunFlag == 0 || kvel::ShutdownRequested();

  if (SelectedUnit != 100) port_.SendText("<" + std::to_string(SelectedUnit) + " ");
  purge.Dismiss();
  // Only the input: a write returns once its bytes are handed to the driver, and purging
  // the output now could drop the selection just written before it reaches the line.
  port_.PurgeBuffers(true, false);
  progress_.End();
  return result_;
}
