#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace kvel {

// A colour as 0xRRGGBB, fixed in a cell when the cell is written.
using TColor = std::uint32_t;

// The character a DEC special graphics cell shows (0x60..0x7E), 0 for any other byte.
char32_t DecGraphic(std::uint8_t ch);

// One character cell; a blank cell is all zero.
struct TTermCell {
  std::uint8_t Ch = 0;
  TColor Fore = 0;
  TColor Back = 0;
  bool Underline = false;
  // Ch 0x60..0x7E of the DEC special graphics set: drawn as line drawing (DecGraphic).
  bool Graphic = false;

  bool operator==(const TTermCell&) const = default;
};

// The terminal's content: Columns x Rows cells addressed 1-based (column, row) and one tab
// stop per column. Rows are kept in a ring so that scrolling costs one row, not the screen.
class TComTermBuffer {
 public:
  // Discards the content: all cells blank, tab stops at columns 1, 9, 17, ...
  void Allocate(int columns, int rows);
  bool Allocated() const { return !cells_.empty(); }
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }

  // Callers keep col within 1..Columns and row within 1..Rows.
  TTermCell& Cell(int col, int row) { return cells_[Index(col, row)]; }
  const TTermCell& Cell(int col, int row) const { return cells_[Index(col, row)]; }

  bool TabStop(int col) const;
  void SetTabStop(int col, bool on);
  void ClearAllTabStops();
  // The first column >= col whose tab stop is on, or 0 when there is none up to Columns.
  int NextTab(int col) const;

  // Rows 2..Rows move up one, the last row becomes blank.
  void ScrollUp();
  // Rows 1..Rows-1 move down one, row 1 becomes blank.
  void ScrollDown();
  // Rows top..bottom (inclusive) move up (down) by n, the rows that open become blank.
  void ScrollUp(int top, int bottom, int n);
  void ScrollDown(int top, int bottom, int n);
  void EraseLineFrom(int col, int row);
  // Blanks columns 1..col of the row.
  void EraseLineTo(int col, int row);
  // Blanks from (col, row) to the end of the buffer.
  void EraseScreenFrom(int col, int row);
  // Blanks from the start of the buffer to (col, row) inclusive.
  void EraseScreenTo(int col, int row);
  // n blank cells at col, the rest of the row moves right and its end is lost.
  void InsertCells(int col, int row, int n);
  // n cells at col go, the rest of the row moves left and blanks fill its end.
  void DeleteCells(int col, int row, int n);
  // Blanks n cells from col, no further than the row's end.
  void EraseCells(int col, int row, int n);
  void Fill(const TTermCell& cell);

  // The last row holding a non-blank cell, 0 when all are blank.
  int LastLine() const;
  // The last non-blank column of the row, 0 when the row is blank.
  int LineLength(int row) const;
  // Rows 1..LastLine, blanks inside a row as spaces, rows joined by CR LF, no trailing CR LF.
  void WriteText(std::ostream& out) const;

 private:
  std::size_t Index(int col, int row) const {
    int physical = row - 1 + top_;
    if (physical >= rows_) physical -= rows_;
    return static_cast<std::size_t>(physical) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(col - 1);
  }
  void BlankRow(int row);
  // Rows top..bottom move up by `by` rows (down for a negative one).
  void Scroll(int top, int bottom, int by);

  int columns_ = 0;
  int rows_ = 0;
  int top_ = 0;  // physical row that holds row 1
  std::vector<TTermCell> cells_;
  std::vector<bool> tabs_;
};

}  // namespace kvel
