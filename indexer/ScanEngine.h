#pragma once

#include <string>
#include <vector>

#include "TransferProgress.h"

class TCustomComPort;

// A unit that answered the scan's probe.
struct FoundUnit {
  int address = 0;
  std::string entry;  // the units-list entry: "# 3 = " + identification
  std::string note;   // what the progress window shows for it ("# 3 = ... ready")
};

struct ScanResult {
  std::vector<FoundUnit> units;  // in the order found (an address may be listed twice)
  int selected = 100;            // the address selected on the line; 100: none found
  std::string unitIdText;        // the identification of the unit found last
  bool stopped = false;          // Cancel, Esc or the program's end ended the scan early
  int lastAddress = 0;           // the last address probed
};

// Listens to the scan as it finds units: the window adds each to the units list at once.
class ScanProgress : public TransferProgress {
 public:
  virtual void UnitFound(const FoundUnit& unit) { (void)unit; }
};

// The scan of a daisy-chained line for indexers at addresses 1 to 99: probes every address,
// asks each unit that answers for its identification and selects the last one found on the
// line ("<n "). Sets SelectedUnit and UnitIdText as it goes; the port is purged whatever
// ends the scan. Port errors are raised; Result() then holds what was found until then.
class IndexerScan {
 public:
  IndexerScan(TCustomComPort& port, ScanProgress& progress) : port_(port), progress_(progress) {}

  ScanResult Run();
  const ScanResult& Result() const { return result_; }

 private:
  int ProbeWait();
  std::string Reask(int address, int* count);
  void Examine(int address, int count, const std::string& reply);
  void AddFound(int address, const std::string& entry, const std::string& note);

  TCustomComPort& port_;
  ScanProgress& progress_;
  ScanResult result_;
};
