#include "IoTestSupport.h"

#include <ostream>

#include "KVEL_Var.h"
#include "Transcript.h"
#include "indexer/KVEL_32_IDX.h"
#include "ui/Clock.h"
#include "ui/ErrorDisplay.h"

namespace {

constexpr const char* kPortName = "COM71";

}  // namespace

std::string FakeHost::QueryUnitId() {
  ++unitQueries;
  return ::QueryUnitId(port);
}

const char* EndByName(EndBy how) {
  switch (how) {
    case EndBy::Reject:
      return "reject";
    case EndBy::Shutdown:
      return "shutdown";
    case EndBy::RequestOnly:
      return "request only";
    case EndBy::RunFlagOnly:
      return "RunFlag only";
  }
  return "?";
}

void EndProgram(QDialog& window, EndBy how) {
  if (how == EndBy::Shutdown || how == EndBy::RequestOnly) kvel::RequestShutdown();
  if (how == EndBy::Shutdown || how == EndBy::RunFlagOnly) RunFlag = 0;
  if (how == EndBy::Shutdown || how == EndBy::Reject) window.reject();
}

void PrintTo(const Sent& sent, std::ostream* out) {
  *out << sent.atMs << " ms \"" << kvel::sim::Transcript::Visible(sent.bytes) << "\"";
}

IoRig::IoRig(const std::string& statements) {
  ResetProcessState();
  kvel::ClearShutdownRequest();
  kvel::SetClock(&clock);
  config_.ApplyText(statements, "test");
  peer_ = std::make_unique<kvel::sim::MemoryPeer>(Line());
  line_ = std::make_shared<kvel::MemoryLine>([this] { return clock.NowMs(); });
  line_->SetPeer(peer_.get());
  kvel::RegisterMemoryLine(kPortName, line_);
  host.port.SetPort(kPortName);
  host.port.OpenPort();
}

IoRig::~IoRig() {
  host.port.ClosePort();
  line_->SetPeer(nullptr);
  kvel::UnregisterMemoryLine(kPortName);
  kvel::SetClock(nullptr);
  kvel::ClearShutdownRequest();
}

std::vector<Sent> IoRig::TakeSent() {
  const auto entries = peer_->WithLine([](kvel::sim::Line& l) { return l.transcript().Entries(); });
  std::vector<Sent> sent;
  std::size_t index = 0;
  for (const auto& entry : entries) {
    if (entry.direction != kvel::sim::Transcript::Direction::Received) continue;
    if (index++ < taken_) continue;
    sent.push_back({entry.atUs / 1000, entry.bytes});
  }
  taken_ = index;
  return sent;
}

std::string IoRig::TakeBytes() {
  std::string bytes;
  for (const Sent& s : TakeSent()) bytes += s.bytes;
  return bytes;
}

std::string IoRig::AllBytes() {
  return peer_->WithLine([](kvel::sim::Line& l) {
    return l.transcript().Bytes(kvel::sim::Transcript::Direction::Received);
  });
}
