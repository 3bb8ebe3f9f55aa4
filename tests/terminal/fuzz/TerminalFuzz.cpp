// libFuzzer target: arbitrary bytes through both codecs and through the terminal's write path.
#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "CPortCtl.h"
#include "CPortEsc.h"

namespace {

// Never destroyed: tearing Qt down inside exit() crashes in its own statics.
QApplication* application = nullptr;
std::unique_ptr<kvel::TComTerminal> terminal;

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  application = new QApplication(*argc, *argv);
  terminal = std::make_unique<kvel::TComTerminal>();
  terminal->show();
  std::atexit([] { terminal.reset(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvel::TEscapeCodesVT100 vt100;
  kvel::TEscapeCodesVT52 vt52;
  Decode(vt100, data, size);
  Decode(vt52, data, size);
  if (size == 0) return 0;
  // The first byte picks the terminal's settings, the rest is written to it.
  const std::uint8_t setup = data[0];
  terminal->SetEmulation(static_cast<kvel::TTermEmulation>(setup % 3));
  terminal->SetWrapLines((setup & 0x04) != 0);
  if ((setup & 0x08) != 0) terminal->SetRows(2 + (setup >> 4));
  terminal->PutBytes(data + 1, size - 1);
  if (terminal->CursorCol() < 1 || terminal->CursorCol() > terminal->Columns() ||
      terminal->CursorRow() < 1 || terminal->CursorRow() > terminal->Rows()) {
    __builtin_trap();
  }
  if ((setup & 0x80) != 0) QApplication::processEvents();
  return 0;
}
