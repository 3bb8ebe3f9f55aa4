#include "CPortCtlBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <type_traits>

namespace kvel {

namespace {

// The VT100's special graphics set, 0x60..0x7E.
constexpr char32_t kDecGraphics[31] = {
    0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
    0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524,
    0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7};

// What a graphics cell becomes in the 8-bit copy text: lines as - | +, the rest as the
// code page has it.
char CopyChar(std::uint8_t ch) {
  switch (ch) {
    case 'q':
    case 'o':
    case 'p':
    case 'r':
    case 's':
      return '-';
    case 'x':
      return '|';
    case 'j':
    case 'k':
    case 'l':
    case 'm':
    case 'n':
    case 't':
    case 'u':
    case 'v':
    case 'w':
      return '+';
    case '`':
      return '*';
    case 'a':
      return '#';
    case 'f':
      return static_cast<char>(0xB0);
    case 'g':
      return static_cast<char>(0xB1);
    case '}':
      return static_cast<char>(0xA3);
    case '~':
      return static_cast<char>(0xB7);
    case 'y':
      return '<';
    case 'z':
      return '>';
    default:
      return static_cast<char>(ch);
  }
}

}  // namespace

char32_t DecGraphic(std::uint8_t ch) {
  return ch >= 0x60 && ch <= 0x7E ? kDecGraphics[ch - 0x60] : 0;
}

void TComTermBuffer::Allocate(int columns, int rows) {
  columns_ = std::max(columns, 1);
  rows_ = std::max(rows, 1);
  top_ = 0;
  cells_.assign(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_), TTermCell{});
  tabs_.assign(static_cast<std::size_t>(columns_), false);
  for (std::size_t c = 0; c < tabs_.size(); c += 8) tabs_[c] = true;
}

bool TComTermBuffer::TabStop(int col) const {
  return col >= 1 && col <= columns_ && tabs_[static_cast<std::size_t>(col - 1)];
}

void TComTermBuffer::SetTabStop(int col, bool on) {
  if (col >= 1 && col <= columns_) tabs_[static_cast<std::size_t>(col - 1)] = on;
}

void TComTermBuffer::ClearAllTabStops() {
  std::fill(tabs_.begin(), tabs_.end(), false);
}

int TComTermBuffer::NextTab(int col) const {
  for (int c = std::max(col, 1); c <= columns_; ++c) {
    if (tabs_[static_cast<std::size_t>(c - 1)]) return c;
  }
  return 0;
}

void TComTermBuffer::BlankRow(int row) {
  // A blank cell is all zero bytes: the row is cleared as memory.
  static_assert(std::is_trivially_copyable_v<TTermCell>);
  std::memset(static_cast<void*>(&cells_[Index(1, row)]), 0,
              static_cast<std::size_t>(columns_) * sizeof(TTermCell));
}

void TComTermBuffer::ScrollUp() {
  if (!Allocated()) return;
  top_ = top_ + 1 == rows_ ? 0 : top_ + 1;
  BlankRow(rows_);
}

void TComTermBuffer::ScrollDown() {
  if (!Allocated()) return;
  top_ = top_ == 0 ? rows_ - 1 : top_ - 1;
  BlankRow(1);
}

void TComTermBuffer::ScrollUp(int top, int bottom, int n) {
  if (n > 0) Scroll(top, bottom, n);
}

void TComTermBuffer::ScrollDown(int top, int bottom, int n) {
  if (n > 0) Scroll(top, bottom, -n);
}

void TComTermBuffer::Scroll(int top, int bottom, int by) {
  if (!Allocated()) return;
  top = std::max(top, 1);
  bottom = std::min(bottom, rows_);
  if (top > bottom) return;
  if (top == 1 && bottom == rows_ && (by == 1 || by == -1)) {
    if (by > 0) {
      ScrollUp();
    } else {
      ScrollDown();
    }
    return;
  }
  const int n = std::min(std::abs(by), bottom - top + 1);
  if (by > 0) {
    for (int r = top; r + n <= bottom; ++r) std::copy_n(&Cell(1, r + n), columns_, &Cell(1, r));
    for (int r = bottom - n + 1; r <= bottom; ++r) BlankRow(r);
  } else {
    for (int r = bottom; r - n >= top; --r) std::copy_n(&Cell(1, r - n), columns_, &Cell(1, r));
    for (int r = top; r < top + n; ++r) BlankRow(r);
  }
}

void TComTermBuffer::EraseLineTo(int col, int row) {
  if (row < 1 || row > rows_) return;
  for (int c = 1; c <= std::min(col, columns_); ++c) Cell(c, row) = TTermCell{};
}

void TComTermBuffer::EraseScreenTo(int col, int row) {
  for (int r = 1; r < std::min(row, rows_ + 1); ++r) BlankRow(r);
  EraseLineTo(col, row);
}

void TComTermBuffer::InsertCells(int col, int row, int n) {
  if (row < 1 || row > rows_ || col < 1 || col > columns_ || n <= 0) return;
  n = std::min(n, columns_ - col + 1);
  TTermCell* line = &Cell(1, row);
  std::copy_backward(line + col - 1, line + columns_ - n, line + columns_);
  std::fill(line + col - 1, line + col - 1 + n, TTermCell{});
}

void TComTermBuffer::DeleteCells(int col, int row, int n) {
  if (row < 1 || row > rows_ || col < 1 || col > columns_ || n <= 0) return;
  n = std::min(n, columns_ - col + 1);
  TTermCell* line = &Cell(1, row);
  std::copy(line + col - 1 + n, line + columns_, line + col - 1);
  std::fill(line + columns_ - n, line + columns_, TTermCell{});
}

void TComTermBuffer::EraseCells(int col, int row, int n) {
  if (row < 1 || row > rows_ || col < 1 || col > columns_ || n <= 0) return;
  n = std::min(n, columns_ - col + 1);
  TTermCell* line = &Cell(1, row);
  std::fill(line + col - 1, line + col - 1 + n, TTermCell{});
}

void TComTermBuffer::EraseLineFrom(int col, int row) {
  if (row < 1 || row > rows_) return;
  for (int c = std::max(col, 1); c <= columns_; ++c) Cell(c, row) = TTermCell{};
}

void TComTermBuffer::EraseScreenFrom(int col, int row) {
  if (row < 1) {
    row = 1;
    col = 1;
  }
  EraseLineFrom(col, row);
  for (int r = row + 1; r <= rows_; ++r) BlankRow(r);
}

void TComTermBuffer::Fill(const TTermCell& cell) {
  std::fill(cells_.begin(), cells_.end(), cell);
}

int TComTermBuffer::LineLength(int row) const {
  for (int c = columns_; c >= 1; --c) {
    if (Cell(c, row).Ch != 0) return c;
  }
  return 0;
}

int TComTermBuffer::LastLine() const {
  for (int r = rows_; r >= 1; --r) {
    if (LineLength(r) != 0) return r;
  }
  return 0;
}

void TComTermBuffer::WriteText(std::ostream& out) const {
  const int last = LastLine();
  for (int r = 1; r <= last; ++r) {
    const int length = LineLength(r);
    for (int c = 1; c <= length; ++c) {
      const TTermCell& cell = Cell(c, r);
      out.put(cell.Ch == 0 ? ' ' : cell.Graphic ? CopyChar(cell.Ch) : static_cast<char>(cell.Ch));
    }
    if (r != last) out << "\r\n";
  }
}

}  // namespace kvel
