// The VT102 screen rules, one row of bytes each, on a small 10 x 5 terminal with auto-wrap.
// Every row is fed whole, one byte at a time, and character by character (an OnChar handler
// turns off the row-at-a-time path): all three must give the same screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <memory>
#include <sstream>
#include <string>

#include "CPortCtl.h"

namespace kvel {
namespace {

struct ScreenRow {
  const char* name;
  TTermEmulation emulation;
  std::string bytes;
  // Rows joined by "|", blanks as ".", trailing blanks and empty rows at the end left out;
  // a special graphics cell shows as "%".
  const char* screen;
  int col = 0;  // 0: the cursor is not checked
  int row = 0;
};

void PrintTo(const ScreenRow& row, std::ostream* os) {
  *os << row.name;
}

std::string Dump(const TComTerminal& term) {
  std::string text;
  for (int r = 1; r <= term.Rows(); ++r) {
    std::string line;
    for (int c = 1; c <= term.Columns(); ++c) {
      const TTermCell& cell = term.Buffer().Cell(c, r);
      line.push_back(cell.Ch == 0 ? '.' : cell.Graphic ? '%' : static_cast<char>(cell.Ch));
    }
    while (!line.empty() && line.back() == '.') line.pop_back();
    text += line + "|";
  }
  while (text.size() >= 1 && text.back() == '|') text.pop_back();
  return text;
}

enum class Feeding { Whole, ByteByByte, CharByChar };

std::unique_ptr<TComTerminal> Feed(const ScreenRow& row, Feeding feeding) {
  auto term = std::make_unique<TComTerminal>();
  term->SetColumns(10);
  term->SetRows(5);
  term->SetWrapLines(true);
  term->SetEmulation(row.emulation);
  const std::string& bytes = row.bytes;
  if (feeding == Feeding::CharByChar) term->OnChar = [](TComTerminal&, std::uint8_t) {};
  if (feeding == Feeding::Whole) {
    term->PutText(bytes);
  } else {
    for (char c : bytes) term->PutText(std::string(1, c));
  }
  return term;
}

class Vt102Screen : public ::testing::TestWithParam<ScreenRow> {};

TEST_P(Vt102Screen, GivesTheScreenOfTheRealTerminal) {
  const ScreenRow& row = GetParam();
  for (Feeding feeding : {Feeding::Whole, Feeding::ByteByByte, Feeding::CharByChar}) {
    const auto term = Feed(row, feeding);
    EXPECT_EQ(Dump(*term), row.screen) << static_cast<int>(feeding);
    if (row.col != 0) {
      EXPECT_EQ(term->CursorCol(), row.col) << static_cast<int>(feeding);
      EXPECT_EQ(term->CursorRow(), row.row) << static_cast<int>(feeding);
    }
  }
}

constexpr const char* kFiveLines = "1\r\n2\r\n3\r\n4\r\n5";

std::string Lines(const char* then) {  // five numbered lines, then `then`
  return std::string(kFiveLines) + then;
}

// Parsing: nothing of the text after a sequence is lost, nothing of a sequence is shown.
INSTANTIATE_TEST_SUITE_P(
    Parsing, Vt102Screen,
    ::testing::Values(
        ScreenRow{"AnyFinalByteEndsTheSequence", teVT100orANSI, "abc\r\033[2@XY", "XYabc", 3, 1},
        ScreenRow{"UnknownFinalIsIgnoredWhole", teVT100orANSI, "\033[5~x\033[1 qZ", "xZ"},
        ScreenRow{"DesignationsAreConsumed", teVT100orANSI, "\033(Ba\033)0b\033(B", "ab"},
        ScreenRow{"DelIsIgnored", teVT100orANSI, "a\177b\033[\1772Cc", "ab..c"},
        ScreenRow{"DelIsIgnoredWithoutEmulation", teNone, "a\177b", "ab"},
        ScreenRow{"DelIsIgnoredUnderVt52", teVT52, "a\177b", "ab"},
        ScreenRow{"ControlInsideASequenceIsCarriedOut", teVT100orANSI, "abc\033[2\rCX", "abX"},
        ScreenRow{"CanAbortsTheSequence", teVT100orANSI, "ab\033[2\030C\033[3\032D", "abCD"},
        ScreenRow{"EscStartsANewSequence", teVT100orANSI, "ab\033[2\033[CX", "ab.X"},
        ScreenRow{"ZeroOrNoCountMovesOne", teVT100orANSI, "\033[0CA\033[CB\033[0DC", ".A.C"},
        ScreenRow{"EmptyParametersTakeTheirDefaults", teVT100orANSI, "\033[2;5H\033[;3HX", "..X", 4,
                  1}));

// The last column: the wrap waits for the next printable character, in every emulation.
INSTANTIATE_TEST_SUITE_P(
    LastColumn, Vt102Screen,
    ::testing::Values(
        ScreenRow{"FullLineThenCrLf", teVT100orANSI, "0123456789\r\nX", "0123456789|X", 2, 2},
        ScreenRow{"FullLineThenCrLfTty", teNone, "0123456789\r\nX", "0123456789|X", 2, 2},
        ScreenRow{"FullLineThenCrLfVt52", teVT52, "0123456789\r\nX", "0123456789|X", 2, 2},
        ScreenRow{"NextCharacterWraps", teNone, "0123456789X", "0123456789|X", 2, 2},
        ScreenRow{"LastCellDoesNotScroll", teVT100orANSI, "top\033[5;10Hz", "top||||.........z", 10,
                  5},
        ScreenRow{"LastCellDoesNotScrollTty", teNone, "top\r\n\n\n\n123456789z",
                  "top||||123456789z", 10, 5},
        ScreenRow{"LastCellThenMoreScrolls", teNone, "top\r\n\n\n\n123456789zY", "|||123456789z|Y",
                  2, 5},
        ScreenRow{"CrCancelsTheWrap", teVT100orANSI, "0123456789\rX", "X123456789", 2, 1},
        ScreenRow{"BackspaceCancelsTheWrap", teNone, "0123456789\bX", "01234567X9", 10, 1},
        ScreenRow{"CursorMoveCancelsTheWrap", teVT100orANSI, "0123456789\033[DX", "01234567X9"},
        ScreenRow{"AutoWrapOff", teVT100orANSI, "\033[?7l0123456789AB", "012345678B", 10, 1},
        ScreenRow{"AutoWrapOnAgain", teVT100orANSI, "\033[?7l\033[?7h0123456789AB",
                  "0123456789|AB"}));

// Scroll regions, line and character editing, erasing.
INSTANTIATE_TEST_SUITE_P(
    Editing, Vt102Screen,
    ::testing::Values(
        ScreenRow{"LfAtTheBottomMargin", teVT100orANSI, Lines("\033[2;4r\033[4;1H\nX"), "1|3|4|X|5",
                  2, 4},
        ScreenRow{"IndAtTheBottomMargin", teVT100orANSI, Lines("\033[2;4r\033[4;1H\033DX"),
                  "1|3|4|X|5"},
        ScreenRow{"NelAtTheBottomMargin", teVT100orANSI, Lines("\033[2;4r\033[4;3H\033EX"),
                  "1|3|4|X|5"},
        ScreenRow{"RiAtTheTopMargin", teVT100orANSI, Lines("\033[2;4r\033[2;1H\033MX"),
                  "1|X|2|3|5"},
        ScreenRow{"LfBelowTheRegionStopsAtTheLastRow", teVT100orANSI,
                  Lines("\033[2;3r\033[5;1H\nX"), "1|2|3|4|X"},
        ScreenRow{"RegionSetHomesTheCursor", teVT100orANSI, "\033[3;3H\033[2;4rX", "X", 2, 1},
        ScreenRow{"BadRegionIsIgnored", teVT100orANSI, Lines("\033[4;2r\033[5;1H\nX"), "2|3|4|5|X"},
        ScreenRow{"InsertLines", teVT100orANSI, Lines("\033[2;4r\033[3;1H\033[L"), "1|2||3|5"},
        ScreenRow{"DeleteLines", teVT100orANSI, Lines("\033[2;4r\033[2;1H\033[2M"), "1|4|||5"},
        ScreenRow{"InsertLinesOutsideTheRegion", teVT100orANSI, Lines("\033[2;4r\033[5;1H\033[L"),
                  "1|2|3|4|5"},
        ScreenRow{"InsertChars", teVT100orANSI, "abcdefghij\033[1;2H\033[2@", "a..bcdefgh", 2, 1},
        ScreenRow{"DeleteChars", teVT100orANSI, "abcdef\033[1;2H\033[2P", "adef", 2, 1},
        ScreenRow{"EraseChars", teVT100orANSI, "abcdef\033[1;2H\033[2X\033[20X", "a", 2, 1},
        ScreenRow{"EraseChars2", teVT100orANSI, "abcdef\033[1;2H\033[2X", "a..def", 2, 1},
        ScreenRow{"EraseToLineStart", teVT100orANSI, "abcdef\033[1;3H\033[1K", "...def", 3, 1},
        ScreenRow{"EraseToScreenStart", teVT100orANSI, "abc\r\ndef\r\nghi\033[2;2H\033[1J",
                  "|..f|ghi", 2, 2},
        ScreenRow{"EraseScreenKeepsTheCursor", teVT100orANSI, "abc\033[2JX", "...X", 5, 1},
        ScreenRow{"EraseLineKeepsTheCursor", teVT100orANSI, "abc\033[2KX", "...X", 5, 1},
        ScreenRow{"InsertMode", teVT100orANSI, "abcdef\r\033[4hXY\033[4lZ", "XYZbcdef", 4, 1},
        ScreenRow{"InsertModePushesOffTheEnd", teVT100orANSI, "abcdefghij\r\033[4hXY",
                  "XYabcdefgh"}));

// Modes, reset, saved state, character sets.
INSTANTIATE_TEST_SUITE_P(
    Modes, Vt102Screen,
    ::testing::Values(
        ScreenRow{"OriginMode", teVT100orANSI, "\033[2;4r\033[?6h\033[1;1HO\033[9;1HP", "|O||P", 2,
                  4},
        ScreenRow{"OriginModeOffHomesToTheScreen", teVT100orANSI, "\033[2;4r\033[?6h\033[?6lX", "X",
                  2, 1},
        ScreenRow{"UpStopsAtTheTopMargin", teVT100orANSI, "\033[2;4r\033[4;1H\033[9AX", "|X"},
        ScreenRow{"DownStopsAtTheBottomMargin", teVT100orANSI, "\033[2;4r\033[2;1H\033[9BX",
                  "|||X"},
        ScreenRow{"UpAboveTheRegionGoesToRowOne", teVT100orANSI, "\033[3;4r\033[2;1H\033[9AX", "X"},
        ScreenRow{"ResetClearsScreenMarginsAndModes", teVT100orANSI,
                  "abc\033[2;4r\033[4h\033(0\033cXq\r\n1\r\n2\r\n3\r\n4\r\n5", "1|2|3|4|5"},
        ScreenRow{"ResetHomes", teVT100orANSI, "abc\033[3;3H\033cX", "X", 2, 1},
        ScreenRow{"SaveRestoreKeepsTheCharacterSet", teVT100orANSI, "\033(0\0337\033(Bq\0338q", "%",
                  2, 1},
        ScreenRow{"SaveRestoreKeepsTheCharacterSet2", teVT100orANSI,
                  "\033(0\0337\033(B\033[1;5Hq\0338q", "%...q", 2, 1},
        ScreenRow{"GraphicsInG0", teVT100orANSI, "\033(0lqk\033(Blqk", "%%%lqk"},
        ScreenRow{"ShiftOutUsesG1", teVT100orANSI, "\033)0a\016qx\017q", "a%%q"},
        ScreenRow{"GraphicsLeaveCapitalsAlone", teVT100orANSI, "\033(0AZ_`~", "AZ_%%"},
        ScreenRow{"UkPound", teVT100orANSI, "\033(A#\033(B#", "\xA3#"}));

TEST(Vt102Attributes, EmptyParameterIsZeroAndOnlyUnderlines) {
  TComTerminal term;
  term.PutText("\033[1m\033[;4m");
  EXPECT_FALSE(term.Bold());
  EXPECT_TRUE(term.Underline());
  term.PutText("\033[1;22m");
  EXPECT_FALSE(term.Bold());
}

// RIS used to reset only the attributes; now screen, cursor, modes, tabs and attributes.
TEST(Vt102Reset, ResetsEverythingTheHostCanChange) {
  TComTerminal term;
  term.SetWrapLines(true);
  term.PutText("text\033[1;7;4m\033[?1h\033[4h\033[?6h\033[?7l\033[3;10r\033[3g\0337");
  term.PutText("\033c");
  EXPECT_EQ(term.Buffer().LastLine(), 0);
  EXPECT_EQ(term.CursorCol(), 1);
  EXPECT_EQ(term.CursorRow(), 1);
  EXPECT_FALSE(term.Bold() || term.Reverse() || term.Underline());
  EXPECT_FALSE(term.AppCursorKeys() || term.InsertMode() || term.OriginMode());
  EXPECT_TRUE(term.WrapLines());
  EXPECT_EQ(term.TopMargin(), 1);
  EXPECT_EQ(term.BottomMargin(), 24);
  EXPECT_EQ(term.Buffer().NextTab(2), 9);
  term.PutText("\033[5;5H\0338");
  EXPECT_EQ(term.CursorCol(), 1);
  EXPECT_EQ(term.CursorRow(), 1);
}

// DECSCNM shows the whole screen in reverse video, blank cells and written ones alike, and
// leaves the cells as they are; reset mode and RIS bring the normal screen back.
TEST(Vt102ReverseScreen, SwapsTheColoursOfTheWholeScreen) {
  TComTerminal term;
  term.SetCaret(tcNone);
  term.SetColor(Qt::white);
  term.SetFontColor(Qt::black);
  term.show();
  auto pixel = [&term](int col, int row) {
    QApplication::processEvents();
    const QImage image = term.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return QColor(image.pixel((col - 1) * term.CellWidth(), (row - 1) * term.CellHeight()));
  };
  term.PutText("\033[7mR\033[m N");
  EXPECT_EQ(pixel(1, 1), QColor(Qt::black));  // the reverse cell
  EXPECT_EQ(pixel(3, 1), QColor(Qt::white));
  EXPECT_EQ(pixel(5, 3), QColor(Qt::white));  // blank

  term.PutText("\033[?5h");
  EXPECT_TRUE(term.ScreenReverse());
  EXPECT_EQ(pixel(1, 1), QColor(Qt::white));
  EXPECT_EQ(pixel(3, 1), QColor(Qt::black));
  EXPECT_EQ(pixel(5, 3), QColor(Qt::black));
  EXPECT_EQ(term.Buffer().Cell(3, 1).Back, 0xFFFFFFu);  // the cells keep their colours

  term.PutText("\033[?5l");
  EXPECT_FALSE(term.ScreenReverse());
  EXPECT_EQ(pixel(5, 3), QColor(Qt::white));
  term.PutText("\033[?5h\033c");
  EXPECT_FALSE(term.ScreenReverse());
  EXPECT_EQ(pixel(5, 3), QColor(Qt::white));
}

TEST(Vt102Graphics, CopyTextDrawsLinesWithAsciiAndTheCellKnowsItsGlyph) {
  TComTerminal term;
  term.PutText("\033(0lqqk\r\nx  x\r\nmqqj\033(B");
  std::ostringstream out;
  term.WriteScreenText(out);
  EXPECT_EQ(out.str(), "+--+\r\n|  |\r\n+--+");
  EXPECT_EQ(DecGraphic('q'), U'\u2500');
  EXPECT_EQ(DecGraphic('l'), U'\u250C');
  EXPECT_EQ(DecGraphic('~'), U'\u00B7');
  EXPECT_EQ(DecGraphic('A'), 0u);
}

}  // namespace
}  // namespace kvel
