// Only the kernel's termios header here: it clashes with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "Termios2.h"

namespace kvel {

static_assert(TermiosSettings::kControlChars <= NCCS);

int SetTermios2(int fd, const TermiosSettings& settings) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_iflag = settings.iflag;
  t.c_oflag = settings.oflag;
  t.c_lflag = settings.lflag;
  t.c_cflag = settings.cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = settings.speed;
  t.c_ospeed = settings.speed;
  std::memcpy(t.c_cc, settings.cc, TermiosSettings::kControlChars);
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetTermios2(int fd, TermiosSettings* settings) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  settings->iflag = t.c_iflag;
  settings->oflag = t.c_oflag;
  settings->cflag = t.c_cflag;
  settings->lflag = t.c_lflag;
  std::memcpy(settings->cc, t.c_cc, TermiosSettings::kControlChars);
  settings->speed = t.c_ospeed;
  return 0;
}

}  // namespace kvel
