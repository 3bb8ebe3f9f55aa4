#pragma once

#include <QString>
#include <utility>
#include <vector>

namespace kvel {

class TComTerminal;

// What an accessibility client reads of a terminal: the rows 1 .. max(last written row,
// cursor row), each without its trailing blanks, joined by '\n'. The cursor row is padded
// with blanks up to the cursor so that the caret has an offset of its own.
struct TerminalScreenText {
  QString text;
  std::vector<int> rowStart;  // offset of the first character of each included row
  int caret = 0;              // offset of the cursor cell

  static TerminalScreenText Of(const TComTerminal& terminal);
  // The (column, row) of an offset, 1-based; an offset past a row's end gives the cell
  // after its last character.
  std::pair<int, int> CellOf(int offset) const;
  // The offset of a cell, clamped to the end of the row's text.
  int OffsetOf(int col, int row) const;
};

// Makes every terminal answer accessibility clients with its screen text (role Terminal,
// the text interface). Safe to call more than once.
void InstallTerminalAccessible();

// Tells an active accessibility client that the terminal's screen or caret changed. Calls
// made before control returns to the event loop become one text-update event and one caret
// event; nothing is computed while no client is active.
void NotifyTerminalChanged(TComTerminal& terminal);

}  // namespace kvel
