// libFuzzer target: arbitrary bytes through both codecs, and through a terminal bound to a
// port, received the way the port's link hands them over, with its replies going back out.
#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "CPort.h"
#include "CPortCtl.h"
#include "CPortEsc.h"
#include "MemoryLine.h"

namespace {

// Never destroyed: tearing Qt down inside exit() crashes in its own statics.
QApplication* application = nullptr;
std::unique_ptr<kvel::TComTerminal> terminal;
std::shared_ptr<kvel::MemoryLine> line;
std::unique_ptr<TComPort> port;

void Decode(kvel::TEscapeCodes& codec, const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (codec.FeedByte(data[i]) == kvel::frCode) {
      (void)kvel::TEscapeCodes::GetParam(1, &codec.Params());
      (void)kvel::TEscapeCodes::GetParam(2, &codec.Params());
      (void)codec.CodeToText(codec.Code(), &codec.Params());
      codec.Params().clear();
    }
    if (codec.Data().size() > kvel::TEscapeCodes::kMaxSequenceLength) __builtin_trap();
  }
}

// What the terminal may send back unasked for: only answers to queries.
bool IsReply(const std::string& sent) {
  std::size_t i = 0;
  while (i < sent.size()) {
    if (sent[i] != '\033') return false;
    const std::size_t next = sent.find('\033', i + 1);
    const std::string one =
        sent.substr(i, next == std::string::npos ? std::string::npos : next - i);
    const bool known = one == "\033/Z" || one == "\033[0n" || one == "\033[?1;2c" ||
                       (one.size() >= 6 && one.compare(0, 2, "\033[") == 0 && one.back() == 'R');
    if (!known) return false;
    i = next == std::string::npos ? sent.size() : next;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  application = new QApplication(*argc, *argv);
  line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM99", line);
  port = std::make_unique<TComPort>();
  port->SetPort("COM99");
  port->SetEvents({});  // the link is fed directly, without the event thread
  terminal = std::make_unique<kvel::TComTerminal>();
  terminal->SetComPort(port.get());
  terminal->SetConnected(true);
  terminal->show();
  std::atexit([] {
    terminal.reset();
    port.reset();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvel::TEscapeCodesVT100 vt100;
  kvel::TEscapeCodesVT52 vt52;
  Decode(vt100, data, size);
  Decode(vt52, data, size);
  if (size == 0) return 0;
  // The first byte picks the terminal's settings, the rest arrives from the line.
  const std::uint8_t setup = data[0];
  terminal->SetEmulation(static_cast<kvel::TTermEmulation>(setup % 3));
  terminal->SetWrapLines((setup & 0x04) != 0);
  terminal->SetAppendLF((setup & 0x10) != 0);
  terminal->SetForce7Bit((setup & 0x20) != 0);
  if ((setup & 0x08) != 0) terminal->SetRows(2 + (setup >> 4));
  if ((setup & 0x40) != 0) {
    terminal->PutBytes(data + 1, size - 1);
  } else {
    terminal->ReceiveBlock(*port, data + 1, static_cast<std::int32_t>(size - 1));
  }
  if (terminal->CursorCol() < 1 || terminal->CursorCol() > terminal->Columns() ||
      terminal->CursorRow() < 1 || terminal->CursorRow() > terminal->Rows()) {
    __builtin_trap();
  }
  if (!IsReply(line->TakeReceived())) __builtin_trap();
  if ((setup & 0x80) != 0) QApplication::processEvents();
  return 0;
}
