#include "IndexerRig.h"

#include <cstdlib>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>

#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ScanIDX.h"
#include "Transcript.h"
#include "ui/ErrorDisplay.h"

void IndexerRig::SetUp() {
  ASSERT_TRUE(folder_.isValid());
  previousFolder_ = std::filesystem::current_path();
  std::filesystem::current_path(Folder());
  // Folders the file dialogs remember are written here, not into the user's own.
  ::setenv("XDG_STATE_HOME", (Folder() + "/.local/state").c_str(), 1);
  ResetProcessState();
  UnitType = 5;
  ProgramExt = "PGM";
  kvel::SetClock(&clock_);
  kvel::SetMessageBoxHook([this](const kvel::MessageBoxRequest& request) {
    boxes_.push_back(request);
    return kvel::MsgResult::Ok;
  });
  kvel::SetBeepHook([this] { ++beeps_; });
  line_ = std::make_shared<kvel::MemoryLine>([this] { return clock_.NowMs(); });
  kvel::RegisterMemoryLine("COM1", line_);
  window_.setGeometry(100, 100, 657, 412);
}

void IndexerRig::TearDown() {
  try {
    if (port_.Connected()) port_.ClosePort();
  } catch (const std::exception&) {
    // A test whose device went away leaves a port that fails to close.
  }
  line_->SetPeer(nullptr);
  kvel::UnregisterMemoryLine("COM1");
  kvel::SetMessageBoxHook({});
  kvel::SetBeepHook({});
  kvel::SetClock(nullptr);
  std::filesystem::current_path(previousFolder_);
}

void IndexerRig::Build(const std::string& statements) {
  config_.ApplyText(statements, "test");
  peer_ = std::make_unique<kvel::sim::MemoryPeer>(Line());
  line_->SetPeer(peer_.get());
  port_.SetPort("COM1");
  port_.OpenPort();
}

std::vector<std::string> IndexerRig::Writes() {
  using kvel::sim::Transcript;
  return peer_->WithLine([](kvel::sim::Line& line) {
    std::vector<std::string> writes;
    for (const Transcript::Entry& e : line.transcript().Entries()) {
      if (e.direction != Transcript::Direction::Received) continue;
      writes.push_back(std::to_string(e.atUs / 1000) + " " + Transcript::Visible(e.bytes));
    }
    return writes;
  });
}

std::vector<std::string> IndexerRig::WritesFrom(const std::string& from) {
  const std::vector<std::string> all = Writes();
  std::vector<std::string> out;
  long long origin = -1;
  for (const std::string& w : all) {
    const std::size_t blank = w.find(' ');
    const long long ms = std::stoll(w.substr(0, blank));
    const std::string bytes = w.substr(blank + 1);
    if (origin < 0 && bytes == from) origin = ms;
    if (origin >= 0) out.push_back(std::to_string(ms - origin) + " " + bytes);
  }
  return out;
}

void IndexerRig::PressEscInProgressWindow() {
  if (ScanForm == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(ScanForm->Button2, &press);
}

void IndexerRig::SetWindowEnabled(bool enabled) {
  enabled_.push_back(enabled);
  window_.setEnabled(enabled);
}

void IndexerRig::ReadLParametersView() {
  // What the main window's "Parameters" command does around the upload.
  ++lParameterViews_;
  QueryUnitId(port_);
  RunFlag = 1;
  ReadLParameters(*this);
}

std::optional<std::string> IndexerRig::RunSaveDialog(const std::string& filter,
                                                     const std::string& defaultExt) {
  saveRequests_.push_back(filter + "|" + defaultExt);
  return saveAnswer_;
}
