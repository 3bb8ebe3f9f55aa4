#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Controller.h"

namespace kvel::sim {

enum class IndexerType { MU, XMU, QN4100I };

// How a unit answers the address probe "<n? ".
enum class ProbeStyle { Ready, Busy, Numbered };

// What an indexer is and holds when it is switched on.
struct IndexerSetup {
  IndexerType type = IndexerType::XMU;
  std::string id;        // unit-query text, type letter first; empty = the type's default
  std::string revision;  // revision text; empty = the type's default
  ProbeStyle probe = ProbeStyle::Ready;
  int probeNumber = -1;       // the number of a numbered probe reply; -1 = the address
  std::uint32_t inputs = 0;   // bit 0 = input 1
  std::string h85, h86, h87;  // error registers; empty = no error of the type's width
  int autoTestResult = 0;
  Micros eraseUs = 250'000;     // H12 takes this long before it acknowledges
  Micros autoTestUs = 300'000;  // Z79 sends its result this long after the request
  // Replies as a unit may word them, instead of the ones built from the values above.
  std::string inputReply;     // H21 (e.g. "1010": fewer digits than the register has)
  std::string autoTestReply;  // the Z79 result (e.g. "E1-6": digits among other characters)
  int silentAfter = -1;       // answers nothing from the request after the n-th on
};

// An MU / XMU or QN4100I indexer: unit query, revision, L parameters L0..L99,
// program store, outputs, strobes, inputs, error registers and the automatic I/O test.
class Indexer : public Controller {
 public:
  Indexer(int address, IndexerSetup setup);

  Reply Execute(const std::string& command, Micros atUs) override;
  std::string ProbeReply(Micros atUs) override;

  static std::string DefaultId(IndexerType type);
  static std::string DefaultRevision(IndexerType type);
  static const char* TypeName(IndexerType type);

  IndexerType Type() const { return setup_.type; }
  const IndexerSetup& Setup() const { return setup_; }
  IndexerSetup& Setup() { return setup_; }

  std::optional<int> Param(int n) const;
  void SetParam(int n, int value);
  void ClearParam(int n);
  // One parameter as the unit lists it, e.g. "L26 = 2".
  std::string ParamLine(int n) const;

  // Program lines by number, as the unit lists them ("N001 G01 X100").
  const std::map<int, std::string>& Program() const { return program_; }
  // Stores a program line; `text` starts with its N number. Returns false if it does not.
  bool StoreProgramLine(const std::string& text);
  int CurrentLine() const { return currentLine_; }

  std::uint32_t Outputs() const {
    return outputs_;
  }                                       // XMU: bit 0 = Output 1 (Z97) .. bit 6 = Reduce (Z91)
  int Strobe() const { return strobe_; }  // last Z90 value
  bool IsBusy(Micros atUs) const { return FaultBusy(atUs) || atUs < busyUntilUs_; }
  int ProgramLinesSinceErase() const { return linesSinceErase_; }

  static constexpr int kMaxLineNumber = 999;

 private:
  std::string ListLine(int n) const;
  std::string InputText() const;
  std::string Register(int h) const;
  std::string ParameterDump() const;
  // Counts a request; true once the unit has stopped answering (IndexerSetup::silentAfter).
  bool FallenSilent();
  bool ExecuteCommands(const std::vector<std::string>& tokens, Micros atUs, std::string* data,
                       Micros* ackAfterUs, bool* ackSuppressed, Reply* later);

  IndexerSetup setup_;
  std::array<std::optional<int>, 100> params_{};
  std::map<int, std::string> program_;
  int currentLine_ = 1;
  int linesSinceErase_ = 0;
  std::uint32_t outputs_ = 0;
  int strobe_ = 9;
  Micros busyUntilUs_ = 0;
  int requests_ = 0;
  bool silentInDownload_ = false;  // Faults::silentAfterLine has struck
};

}  // namespace kvel::sim
