/* Records vttest screens for the terminal's replay test; not built by CMake, run by hand once.
 *
 *   cc -O2 -o /tmp/record record.c $(pkg-config --cflags --libs vterm) -lutil
 *   /tmp/record MENU NAME       e.g. /tmp/record 1 cursor   (in this folder)
 *
 * Runs vttest on a pseudo-terminal of 24 x 80, answers its queries as a VT102 does (the screen
 * is kept by libvterm, which also answers the cursor position report; the identity reply is
 * replaced by a VT102's ESC [ ? 6 c), chooses menu MENU and presses Return on every screen until
 * vttest is back at its main menu. Writes NAME.bin, every byte vttest wrote, and NAME.screens:
 * for each screen where vttest waited for a key, the byte offset it had reached, the cursor and
 * the 24 rows as libvterm shows them ("|" lines; a ":" line after a row gives the renditions of its
 * cells, see row_text). Those are the expected screens, each checked by eye.
 * DECCOLM is applied to the reference by hand (libvterm does not change its width): the screen
 * is cleared, the cursor homed and the width set to 132 or 80. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vterm.h>

static int master = -1;
static VTerm *vt;
static int cols = 80;

/* Answers the reference produces go back to vttest; its device attributes become a VT102's. */
static void output(const char *s, size_t n, void *user) {
  (void)user;
  if (n >= 4 && s[0] == 27 && s[1] == '[' && s[2] == '?' && s[n - 1] == 'c') {
    s = "\033[?6c";
    n = 5;
  }
  if (write(master, s, n) != (ssize_t)n) perror("write answer");
}

static void feed(const char *data, size_t len) {
  static const char *set = "\033[?3h", *reset = "\033[?3l";
  size_t start = 0;
  for (size_t i = 0; i + 5 <= len; ++i) {
    int wide = memcmp(data + i, set, 5) == 0, narrow = memcmp(data + i, reset, 5) == 0;
    if (!wide && !narrow) continue;
    vterm_input_write(vt, data + start, i + 5 - start);
    start = i + 5;
    cols = wide ? 132 : 80;
    vterm_set_size(vt, 24, cols);
    vterm_input_write(vt, "\033[2J\033[H", 7);
  }
  vterm_input_write(vt, data + start, len - start);
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

/* True while vttest sits in a read of its terminal (the first field of /proc/PID/syscall is 0). */
static int reading(pid_t pid) {
  char path[64], text[64] = {0};
  snprintf(path, sizeof path, "/proc/%d/syscall", (int)pid);
  FILE *f = fopen(path, "r");
  if (!f) return 0;
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  return n > 2 && text[0] == '0' && text[1] == ' ';
}

/* The row's characters, a special graphics (any non-ASCII) character as '%'; with `attrs`, the
 * rendition of each non-blank cell as a digit (1 bold, 2 underline, 4 reverse; blink is not
 * kept) or '.', empty when no cell of the row has one. */
static void row_text(VTermScreen *screen, int row, char *line, char *attrs) {
  int n = 0, a = 0;
  for (int c = 0; c < cols; ++c) {
    VTermScreenCell cell;
    vterm_screen_get_cell(screen, (VTermPos){row, c}, &cell);
    uint32_t ch = cell.chars[0];
    int blank = ch == 0 || ch == ' ';
    line[n++] = blank ? ' ' : ch < 128 ? (char)ch : '%';
    int r = blank ? 0 : cell.attrs.bold | cell.attrs.underline << 1 | cell.attrs.reverse << 2;
    if (attrs) attrs[c] = r ? (char)('0' + r) : '.';
    if (r) a = c + 1;
  }
  while (n > 0 && line[n - 1] == ' ') --n;
  line[n] = 0;
  if (attrs) attrs[a] = 0;
}

static int screen_has(VTermScreen *screen, const char *text) {
  char line[256];
  for (int r = 0; r < 24; ++r) {
    row_text(screen, r, line, NULL);
    if (strstr(line, text)) return 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: record MENU NAME\n");
    return 2;
  }
  char binName[256], screensName[256];
  snprintf(binName, sizeof binName, "%s.bin", argv[2]);
  snprintf(screensName, sizeof screensName, "%s.screens", argv[2]);
  FILE *bin = fopen(binName, "wb"), *screens = fopen(screensName, "w");
  if (!bin || !screens) return 1;

  vt = vterm_new(24, 80);
  vterm_set_utf8(vt, 0);
  vterm_output_set_callback(vt, output, NULL);
  VTermScreen *screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);

  struct winsize size = {.ws_row = 24, .ws_col = 80};
  pid_t pid = forkpty(&master, NULL, NULL, &size);
  if (pid < 0) return 1;
  if (pid == 0) {
    setenv("TERM", "vt102", 1);
    execlp("vttest", "vttest", "24x80.132", (char *)NULL);
    _exit(127);
  }

  long offset = 0;
  int step = 0, chosen = 0, done = 0;
  double last = now();
  while (!done) {
    struct pollfd p = {.fd = master, .events = POLLIN};
    int ready = poll(&p, 1, 50);
    if (ready > 0) {
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      fwrite(buf, 1, (size_t)n, bin);
      offset += n;
      feed(buf, (size_t)n);
      last = now();
      continue;
    }
    /* Settled: quiet for a while and waiting for a key. */
    if (now() - last < 0.4 || !reading(pid)) {
      if (now() - last > 20) {
        fprintf(stderr, "vttest neither writes nor reads\n");
        break;
      }
      continue;
    }
    const char *key = "\r";
    if (!chosen) {
      if (!screen_has(screen, "Enter choice number")) continue;
      static char choice[16];
      snprintf(choice, sizeof choice, "%s\r", argv[1]);
      key = choice;
      chosen = 1;
    } else {
      VTermPos cursor;
      vterm_state_get_cursorpos(vterm_obtain_state(vt), &cursor);
      fprintf(screens, "@ %ld %d %d %d\n", offset, cols, cursor.row + 1, cursor.col + 1);
      char line[256], attrs[256];
      for (int r = 0; r < 24; ++r) {
        row_text(screen, r, line, attrs);
        fprintf(screens, "|%s\n", line);
        if (attrs[0]) fprintf(screens, ":%s\n", attrs);
      }
      ++step;
      if (screen_has(screen, "Enter choice number")) {
        key = "0\r";
        done = 1;
      }
    }
    if (write(master, key, strlen(key)) < 0) perror("write key");
    last = now();
  }
  /* vttest's goodbye bytes are not part of the recording's screens but are kept in the file. */
  for (double end = now() + 2; now() < end;) {
    struct pollfd p = {.fd = master, .events = POLLIN};
    if (poll(&p, 1, 100) > 0) {
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      fwrite(buf, 1, (size_t)n, bin);
    }
  }
  kill(pid, SIGTERM);
  waitpid(pid, NULL, 0);
  fclose(bin);
  fclose(screens);
  fprintf(stderr, "%s: %d screens, %ld bytes\n", argv[2], step, offset);
  return 0;
}
