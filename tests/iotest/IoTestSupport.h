#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "IoTestHost.h"
#include "MemoryPeer.h"
#include "serial/CPort.h"
#include "serial/MemoryLine.h"
#include "ui/Shutdown.h"
#include "ui/VirtualClock.h"

// The name of a data row in the test list: its `name` member.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

// A test window's main window: a port on a simulated line, and the terminal as text.
class FakeHost : public IoTestHost {
 public:
  TComPort port;
  std::string displayed;  // what DisplayText showed
  std::string traced;     // what PutText wrote
  QWidget* main = nullptr;
  int unitQueries = 0;

  TCustomComPort& Port() override { return port; }
  void DisplayText(const std::string& text) override { displayed += text; }
  void PutText(const std::string& text) override { traced += text; }
  QWidget* MainWindow() override { return main; }
  // The unit query as the program sends it: H23 after a purge, 500 ms for the answer.
  std::string QueryUnitId() override;
};

// How the program's end reaches a test window: as the program does it (a shutdown request,
// RunFlag to 0, then reject()), or in part: only reject(), as for the main window's close;
// only the request or only RunFlag dropping, as a running loop finds them.
enum class EndBy { Reject, Shutdown, RequestOnly, RunFlagOnly };
const char* EndByName(EndBy how);
void EndProgram(QDialog& window, EndBy how);

// One command the program wrote, with the virtual time at which it went out.
struct Sent {
  std::int64_t atMs;
  std::string bytes;
  bool operator==(const Sent&) const = default;
};
void PrintTo(const Sent& sent, std::ostream* out);

// The simulator on an in-memory line in virtual time, with the host's port open on it.
class IoRig {
 public:
  explicit IoRig(const std::string& statements);
  ~IoRig();

  kvel::sim::Line& Line() { return *config_.lines.front().line; }
  template <typename Unit>
  Unit& UnitAt(std::size_t index) {
    return dynamic_cast<Unit&>(*Line().Units().at(index));
  }
  // Every write of the program since the last call, with its time.
  std::vector<Sent> TakeSent();
  // The same as one string.
  std::string TakeBytes();
  // Everything the program has written, without taking it.
  std::string AllBytes();

  kvel::VirtualClock clock;
  FakeHost host;

 private:
  kvel::sim::SimConfig config_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
  std::shared_ptr<kvel::MemoryLine> line_;
  std::size_t taken_ = 0;
};
