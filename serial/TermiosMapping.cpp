#include <termios.h>

#include <cerrno>

#include "TermiosSettings.h"

namespace kvel {

static_assert(VSTART < TermiosSettings::kControlChars && VSTOP < TermiosSettings::kControlChars &&
              VMIN < TermiosSettings::kControlChars && VTIME < TermiosSettings::kControlChars);

int PlanLineSettings(const Dcb& dcb, LineSettingsPlan* plan, bool marksErrors) {
  LineSettingsPlan p;
  TermiosSettings& t = p.termios;
  if (dcb.baudRate == 0) return EINVAL;
  t.speed = dcb.baudRate;

  // Raw bytes both ways; a modem-less line (CLOCAL) that receives (CREAD).
  t.cflag = CREAD | CLOCAL;
  // Data bits 5 ... 8; parity none, odd, even, mark, space.
  constexpr tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8};
  constexpr tcflag_t kParityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                       PARENB | CMSPAR};
  if (dcb.byteSize < 5 || dcb.byteSize > 8 || dcb.parity > 4) return EINVAL;
  t.cflag |= kSizeFlags[dcb.byteSize - 5] | kParityFlags[dcb.parity];
  // termios knows one or two stop bits; a UART sends 1.5 for "two" at five data bits,
  // and the two bits it sends otherwise are what a receiver of 1.5 accepts.
  switch (dcb.stopBits) {
    case 0:
      break;
    case 1:
    case 2:
      t.cflag |= CSTOPB;
      break;
    default:
      return EINVAL;
  }

  const std::uint32_t flags = dcb.flags;
  const std::uint32_t rtsControl = flags & kDcbRtsControlMask;
  const std::uint32_t dtrControl = flags & kDcbDtrControlMask;
  // Linux has one flag for CTS-gated output and RTS-driven input.
  if ((flags & kDcbOutxCtsFlow) != 0 || rtsControl == 0x2000) t.cflag |= CRTSCTS;
  p.rtsByKernel = rtsControl == 0x2000;
  p.rtsToggle = rtsControl == 0x3000;
  p.rts = rtsControl == 0x1000 || rtsControl == 0x2000 ? LineLevel::kOn : LineLevel::kOff;
  // DTR handshake has no termios form: the line is held on, as the handshake would
  // leave it while the input queue has room.
  p.dtr = dtrControl == 0x0010 || dtrControl == 0x0020 ? LineLevel::kOn : LineLevel::kOff;
  p.dsrGatesOutput = (flags & kDcbOutxDsrFlow) != 0;

  // PARMRK: errors and breaks arrive marked in the byte stream (FF 00 c, FF 00 00, and FF
  // doubled), which the device decodes. No break signal to the process.
  t.iflag = marksErrors ? PARMRK : 0;
  if (marksErrors && (flags & kDcbParity) != 0) t.iflag |= INPCK;
  if ((flags & kDcbOutX) != 0) t.iflag |= IXON;
  if ((flags & kDcbInX) != 0) t.iflag |= IXOFF;
  t.oflag = 0;
  t.lflag = 0;
  t.cc[VSTART] = dcb.xonChar;
  t.cc[VSTOP] = dcb.xoffChar;
  // One byte wakes a read; with O_NONBLOCK no data reads as EAGAIN, so a read of 0
  // can only mean the device has gone.
  t.cc[VMIN] = 1;
  t.cc[VTIME] = 0;

  p.discardNull = (flags & kDcbNull) != 0;
  p.replaceErrors = (flags & kDcbErrorChar) != 0 && (flags & kDcbParity) != 0;
  p.errorChar = p.replaceErrors ? dcb.errorChar : 0;
  p.eventChar = dcb.evtChar;
  *plan = p;
  return 0;
}

}  // namespace kvel
