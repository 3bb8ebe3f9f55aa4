#pragma once

#include <cstdint>

#include "SerialDevice.h"

namespace kvel {

// Terminal settings in a form both <termios.h> and the kernel's termios2 header can
// fill: the flag words and control characters have the same values in both, only the
// structures clash, so each side converts to and from this one.
struct TermiosSettings {
  static constexpr int kControlChars = 19;
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;
  std::uint32_t lflag = 0;
  std::uint8_t cc[kControlChars] = {};
  std::uint32_t speed = 0;  // bits per second, in both directions
};

// What the line settings ask for beyond termios, done by the device itself.
enum class LineLevel { kOff, kOn };
struct LineSettingsPlan {
  TermiosSettings termios;
  LineLevel dtr = LineLevel::kOff;
  LineLevel rts = LineLevel::kOff;
  bool rtsByKernel = false;  // RTS follows the receive queue (hardware handshake)
  bool rtsToggle = false;    // RTS raised only while sending
  bool dsrGatesOutput = false;
  bool discardNull = false;
  bool replaceErrors = false;  // bytes with a parity error become `errorChar`
  std::uint8_t errorChar = 0;
  std::uint8_t eventChar = 0;
};

// Maps a line-settings record onto termios and the extra line handling. Returns 0, or
// EINVAL for a record the line cannot take (rate 0, a byte size outside 5..8, an
// unknown parity or stop-bits value). `marksErrors`: errors and breaks arrive marked in the
// byte stream; a line that can receive neither (a pseudo-terminal) goes without the marks and
// the parity check, and the kernel then copies what arrives in blocks instead of looking at
// every byte.
int PlanLineSettings(const Dcb& dcb, LineSettingsPlan* plan, bool marksErrors = true);

}  // namespace kvel
