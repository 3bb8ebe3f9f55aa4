#include <gtest/gtest.h>

#include <sstream>

#include "CPortCtlBuffer.h"

namespace kvel {
namespace {

void Put(TComTermBuffer& buffer, int col, int row, char ch) {
  buffer.Cell(col, row).Ch = static_cast<std::uint8_t>(ch);
}

std::string Text(const TComTermBuffer& buffer) {
  std::ostringstream out;
  buffer.WriteText(out);
  return out.str();
}

TEST(TermBuffer, AllocationBlanksCellsAndSetsEveryEighthTabStop) {
  TComTermBuffer buffer;
  buffer.Allocate(20, 3);
  Put(buffer, 5, 2, 'x');
  buffer.SetTabStop(3, true);
  buffer.Allocate(20, 3);
  EXPECT_EQ(buffer.Cell(5, 2), TTermCell{});
  for (int c = 1; c <= 20; ++c) EXPECT_EQ(buffer.TabStop(c), c == 1 || c == 9 || c == 17) << c;
  EXPECT_EQ(buffer.NextTab(2), 9);
  EXPECT_EQ(buffer.NextTab(9), 9);
  EXPECT_EQ(buffer.NextTab(18), 0);
  buffer.ClearAllTabStops();
  EXPECT_EQ(buffer.NextTab(1), 0);
}

TEST(TermBuffer, ScrollingKeepsRowsInOrderAcrossManyTurns) {
  TComTermBuffer buffer;
  buffer.Allocate(4, 3);
  for (int i = 0; i < 10; ++i) {
    buffer.ScrollUp();
    Put(buffer, 1, 3, static_cast<char>('a' + i));
  }
  EXPECT_EQ(Text(buffer), "h\r\ni\r\nj");
  buffer.ScrollDown();
  EXPECT_EQ(Text(buffer), "\r\nh\r\ni");
  buffer.ScrollDown();
  buffer.ScrollDown();
  buffer.ScrollDown();
  EXPECT_EQ(Text(buffer), "");
}

TEST(TermBuffer, EraseFromACellBlanksTheRestOfTheBuffer) {
  TComTermBuffer buffer;
  buffer.Allocate(3, 3);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) Put(buffer, c, r, 'x');
  buffer.EraseLineFrom(3, 1);
  buffer.EraseScreenFrom(2, 2);
  EXPECT_EQ(Text(buffer), "xx\r\nx");
}

// The copy-to-clipboard text: inner blanks as spaces, no trailing blanks or final CR LF.
TEST(TermBuffer, WriteTextGivesLinesUpToTheLastUsedRow) {
  TComTermBuffer buffer;
  buffer.Allocate(80, 24);
  Put(buffer, 1, 1, 'A');
  Put(buffer, 2, 1, 'B');
  Put(buffer, 3, 3, 'C');
  EXPECT_EQ(Text(buffer), "AB\r\n\r\n  C");
  EXPECT_EQ(buffer.LastLine(), 3);
  EXPECT_EQ(buffer.LineLength(2), 0);
  buffer.Allocate(80, 24);
  EXPECT_EQ(Text(buffer), "");
}

}  // namespace
}  // namespace kvel
