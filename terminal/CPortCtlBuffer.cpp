#include "CPortCtlBuffer.h"

#include <algorithm>
#include <ostream>

namespace kvel {

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
  auto first = cells_.begin() + static_cast<std::ptrdiff_t>(Index(1, row));
  std::fill(first, first + columns_, TTermCell{});
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
      const std::uint8_t ch = Cell(c, r).Ch;
      out.put(ch == 0 ? ' ' : static_cast<char>(ch));
    }
    if (r != last) out << "\r\n";
  }
}

}  // namespace kvel
