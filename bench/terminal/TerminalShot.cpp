// Writes text with attributes into a shown terminal and saves its picture, for a look by eye:
// cells aligned, caret at the cursor, scroll bars where the window is smaller than the grid.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "StyledTerminal.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("terminal.png");
  kvel::TComTerminal terminal;
  StyleLikeMainWindow(terminal, 60, 16, 30);
  terminal.show();
  terminal.activateWindow();
  terminal.setFocus();
  QApplication::processEvents();

  terminal.PutText("0123456789012345678901234567890123456789012345678901234567890123456789\r\n");
  terminal.PutText("iiiiiiiiii|WWWWWWWWWW|mmmmmmmmmm|..........|\r\n");
  terminal.PutText(
      "plain \033[1mbold\033[0m \033[7mreverse\033[0m \033[4munderline\033[0m "
      "\033[1;7mbold+reverse\033[0m\r\n");
  terminal.PutText("tabs:\tA\tB\tC\r\n8-bit: \xe4\xf6\xfc\xdf \xe9\xe8 \xb0\xb1\r\n");
  terminal.PutText("\033[10;20Hat row 10, column 20\033[12;1Herase\033[K\r\nprompt> ");
  QApplication::processEvents();
  const QPixmap picture = terminal.grab();
  const bool saved = picture.save(path);
  std::printf("%s %s (%dx%d), cursor at column %d row %d, cell %dx%d\n",
              saved ? "saved" : "could not save", qPrintable(path), picture.width(),
              picture.height(), terminal.CursorCol(), terminal.CursorRow(), terminal.CellWidth(),
              terminal.CellHeight());
  return saved ? 0 : 1;
}
