#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "CPortCtl.h"
#include "MemoryLine.h"

namespace kvel {
namespace {

class Terminal : public ::testing::Test {
 protected:
  std::string Row(int row) const {
    std::string text;
    for (int c = 1; c <= term.Columns(); ++c) {
      const std::uint8_t ch = term.Buffer().Cell(c, row).Ch;
      text.push_back(ch == 0 ? '.' : static_cast<char>(ch));
    }
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
  }
  std::pair<int, int> Cursor() const { return {term.CursorCol(), term.CursorRow()}; }
  std::string ScreenText() const {
    std::ostringstream out;
    term.WriteScreenText(out);
    return out.str();
  }

  TComTerminal term;
};

using Pos = std::pair<int, int>;

TEST_F(Terminal, StartsWithItsDocumentedDefaults) {
  EXPECT_EQ(term.Columns(), 80);
  EXPECT_EQ(term.Rows(), 24);
  EXPECT_EQ(term.Emulation(), teVT100orANSI);
  EXPECT_EQ(term.AltColor(), QColor(166, 166, 166));
  EXPECT_EQ(term.Color(), QColor(0, 0, 0));
  EXPECT_EQ(term.FontColor(), QColor(255, 255, 255));
  EXPECT_EQ(term.ScrollBars(), ssBoth);
  EXPECT_EQ(Cursor(), Pos(1, 1));
  EXPECT_EQ(term.size(), QSize(400, 250));
  EXPECT_TRUE(QFontInfo(term.TermFont()).fixedPitch() || term.CellWidth() > 0);
}

// A full line followed by CR LF used to leave an empty row, and a character in the last
// cell of the screen scrolled the whole screen up.
TEST_F(Terminal, WrapWaitsForTheNextPrintableCharacter) {
  for (TTermEmulation emulation : {teNone, teVT100orANSI, teVT52}) {
    term.SetEmulation(emulation);
    term.ClearScreen();
    term.SetWrapLines(true);
    term.PutText(std::string(80, 'x'));
    EXPECT_EQ(Cursor(), Pos(80, 1));
    EXPECT_TRUE(term.WrapPending());
    term.PutText("\r\ny");
    EXPECT_EQ(Row(2), "y") << emulation;
    term.PutText(std::string(79, 'w') + "vu");
    EXPECT_EQ(Row(2), "y" + std::string(79, 'w'));
    EXPECT_EQ(Row(3), "vu");

    term.PutText("top");
    term.MoveCursor(80, 24);
    term.PutText("z");
    EXPECT_EQ(Cursor(), Pos(80, 24));
    EXPECT_EQ(Row(24), std::string(79, '.') + "z") << emulation;
    EXPECT_EQ(Row(3), "vutop");
    term.PutText("\b");
    EXPECT_FALSE(term.WrapPending());
  }
}

TEST_F(Terminal, WithoutWrapTheLastColumnIsOverwritten) {
  term.PutText(std::string(80, 'x') + "Q");
  EXPECT_EQ(Cursor(), Pos(80, 1));
  EXPECT_EQ(Row(1), std::string(79, 'x') + "Q");
  EXPECT_EQ(Row(2), "");
}

TEST_F(Terminal, LineFeedAndFormFeedScrollOnTheLastRowKeepingTheColumn) {
  for (const char* feed : {"\n", "\f"}) {
    term.ClearScreen();
    term.PutText("top");
    term.MoveCursor(5, 24);
    term.PutText("low");
    term.PutText(feed);
    EXPECT_EQ(Cursor(), Pos(8, 24));
    EXPECT_EQ(Row(1), "");
    EXPECT_EQ(Row(23), "....low");
    EXPECT_EQ(Row(24), "");
  }
  // VT moves nothing in the TTY and VT52 emulations; on the VT102 screen it is a line feed.
  for (TTermEmulation emulation : {teNone, teVT52}) {
    term.SetEmulation(emulation);
    term.PutText("\r\a\x0b");
    EXPECT_EQ(Cursor(), Pos(1, 24)) << emulation;
    EXPECT_EQ(Row(23), "....low");
    EXPECT_EQ(Row(24), "");
  }
  term.SetEmulation(teVT100orANSI);
  term.PutText("mid\r\x0b");
  EXPECT_EQ(Cursor(), Pos(1, 24));
  EXPECT_EQ(Row(23), "mid");
  term.MoveCursor(3, 5);
  term.PutText("\x0b");
  EXPECT_EQ(Cursor(), Pos(3, 6));
}

TEST_F(Terminal, TabGoesToTheNextStopOrStays) {
  struct {
    int from;
    int to;
  } rows[] = {{1, 9}, {9, 17}, {8, 9}, {73, 73}, {74, 74}, {80, 80}};
  for (TTermEmulation emulation : {teNone, teVT52}) {
    term.SetEmulation(emulation);
    for (auto row : rows) {
      term.MoveCursor(row.from, 1);
      term.PutText("\t");
      EXPECT_EQ(term.CursorCol(), row.to) << row.from << " " << emulation;
    }
  }
  // The VT102 screen goes to the last column when no stop is to the right.
  term.SetEmulation(teVT100orANSI);
  for (auto row : rows) {
    term.MoveCursor(row.from, 1);
    term.PutText("\t");
    EXPECT_EQ(term.CursorCol(), row.from >= 73 ? 80 : row.to) << row.from;
  }
  // Setting and clearing stops by sequence.
  term.MoveCursor(5, 1);
  term.PutText("\033H");
  term.MoveCursor(1, 1);
  term.PutText("\t");
  EXPECT_EQ(term.CursorCol(), 5);
  term.PutText("\033[g\r\t");
  EXPECT_EQ(term.CursorCol(), 9);
  term.PutText("\033[3g\r\t");
  EXPECT_EQ(term.CursorCol(), 80);
  term.SetEmulation(teNone);  // the stops stay cleared; without one the cursor stays
  term.PutText("\r\t");
  EXPECT_EQ(term.CursorCol(), 1);
}

TEST_F(Terminal, BackspaceStopsAtColumnOneAndErasesNothing) {
  term.PutText("ab\b\b\b");
  EXPECT_EQ(Cursor(), Pos(1, 1));
  EXPECT_EQ(Row(1), "ab");
  term.PutText("X");
  EXPECT_EQ(Row(1), "Xb");
}

TEST_F(Terminal, WithoutEmulationASequenceShowsAsText) {
  term.PutText("keep");
  term.SetEmulation(teNone);
  term.PutText("\033[2J");
  EXPECT_EQ(Row(1), "keep[2J");
  term.SetEmulation(teVT100orANSI);
  term.PutText("\033[2J");
  EXPECT_EQ(ScreenText(), "");
  EXPECT_EQ(Cursor(), Pos(8, 1));
}

TEST_F(Terminal, CursorAddressingIsClamped) {
  struct {
    const char* text;
    Pos cursor;
  } rows[] = {{"\033[5;10H", {10, 5}},
              {"\033[99;99H", {80, 24}},
              {"\033[H", {1, 1}},
              {"\033[3;4f", {4, 3}},
              {"\033[2B", {4, 5}},
              {"\033[9A", {4, 1}},
              {"\033[70C", {74, 1}},
              {"\033[C\033[9C", {80, 1}},
              {"\033[200D", {1, 1}},
              {"\033[;7H", {7, 1}},
              {"\033[0;0H", {1, 1}},
              // Parameters at the ends of the integer range clamp without overflowing.
              {"\033[12;5H\033[2147483647B", {5, 24}},
              {"\033[12;5H\033[2147483647A", {5, 1}},
              {"\033[12;5H\033[2147483647C", {80, 12}},
              {"\033[2147483647D", {1, 12}},
              // "-" is an intermediate byte, not a sign: the sequence is ignored.
              {"\033[-2147483648B", {1, 12}},
              {"\033[-2147483648A", {1, 12}},
              {"\033[2147483647;2147483647H", {80, 24}}};
  for (auto row : rows) {
    term.PutText(row.text);
    EXPECT_EQ(Cursor(), row.cursor) << row.text + 1;
  }
}

TEST_F(Terminal, AttributesFixTheCellColoursWhenWritten) {
  term.SetColor(QColor(255, 255, 255));
  term.SetFontColor(QColor(0, 0, 128));
  term.SetAltColor(QColor(1, 2, 3));
  const TColor white = 0xFFFFFF, navy = 0x000080, alt = 0x010203;
  term.PutText("n\033[1mb\033[0;7mr\033[1mx\033[mn\033[4mu\033[24mv\033[1;7;21mr\033[27ms\033[0m0");
  struct {
    int col;
    TColor fore;
    TColor back;
    bool underline;
  } rows[] = {{1, navy, white, false}, {2, alt, white, false},  {3, white, navy, false},
              {4, alt, navy, false},   {5, navy, white, false}, {6, navy, white, true},
              {7, navy, white, false}, {8, white, navy, false}, {9, navy, white, false},
              {10, navy, white, false}};
  for (auto row : rows) {
    const TTermCell& cell = term.Buffer().Cell(row.col, 1);
    EXPECT_EQ(cell.Fore, row.fore) << row.col;
    EXPECT_EQ(cell.Back, row.back) << row.col;
    EXPECT_EQ(cell.Underline, row.underline) << row.col;
  }
  term.SetColor(QColor(9, 9, 9));
  EXPECT_EQ(term.Buffer().Cell(1, 1).Back, white);
}

TEST_F(Terminal, ColumnModeSwitchesBetween132And80AndBlanks) {
  term.PutText("text");
  term.PutText("\033[?3h");
  EXPECT_EQ(term.Columns(), 132);
  EXPECT_EQ(ScreenText(), "");
  term.PutText("\033[1;132Hz");
  EXPECT_EQ(term.Buffer().Cell(132, 1).Ch, 'z');
  term.PutText("\033[?3l");
  EXPECT_EQ(term.Columns(), 80);
  EXPECT_EQ(ScreenText(), "");
  EXPECT_LE(term.CursorCol(), 80);
}

TEST_F(Terminal, OtherModes) {
  term.PutText("\033[?1h\033[7h");
  EXPECT_TRUE(term.AppCursorKeys());
  EXPECT_TRUE(term.WrapLines());
  term.PutText("\033[1l\033[l");
  EXPECT_TRUE(term.AppCursorKeys());
  EXPECT_TRUE(term.WrapLines());
  term.PutText("\033[?7l");
  EXPECT_FALSE(term.WrapLines());
  term.PutText("\033[?7h");
  EXPECT_TRUE(term.WrapLines());
  term.PutText("\033[?1l\033[7l");
  EXPECT_FALSE(term.AppCursorKeys());
  EXPECT_FALSE(term.WrapLines());
}

TEST_F(Terminal, SaveAndRestoreCursorAndAttributes) {
  term.PutText("\0338");
  EXPECT_EQ(Cursor(), Pos(1, 1));
  term.PutText("\033[3;4H\033[1m\0337\033[10;10H\033[0m\0338");
  EXPECT_EQ(Cursor(), Pos(4, 3));
  EXPECT_TRUE(term.Bold());
  term.PutText("\033[0m\033[5;6H\033[s\033[1;1H\033[1m\033[u");
  EXPECT_EQ(Cursor(), Pos(6, 5));
  EXPECT_TRUE(term.Bold());
  // One saved position for both pairs; ESC [s saves no attributes, so ESC 8 brings back
  // the bold saved by the ESC 7 above.
  term.PutText("\033[0m\0338");
  EXPECT_EQ(Cursor(), Pos(6, 5));
  EXPECT_TRUE(term.Bold());
  // A reset forgets what was saved: ESC 8 then goes home with plain attributes.
  term.PutText("\033[7;8H\033[1;7m\0337\033c\0338");
  EXPECT_EQ(Cursor(), Pos(1, 1));
  EXPECT_FALSE(term.Bold());
  EXPECT_FALSE(term.Reverse());
}

TEST_F(Terminal, ErasingLinesAndScreen) {
  auto fill = [this] {
    term.ClearScreen();
    term.PutText("aaaa\r\nbbbb\r\ncccc\033[2;3H");
  };
  struct {
    const char* text;
    const char* screen;
    Pos cursor;
  } rows[] = {{"\033[K", "aaaa\r\nbb\r\ncccc", {3, 2}},
              {"\033[0K", "aaaa\r\nbb\r\ncccc", {3, 2}},
              // Erasing a whole line or screen leaves the cursor, as on the DEC terminals.
              {"\033[2K", "aaaa\r\n\r\ncccc", {3, 2}},
              {"\033[J", "aaaa\r\nbb", {3, 2}},
              {"\033[2J", "", {3, 2}},
              {"\033[1K", "aaaa\r\n   b\r\ncccc", {3, 2}},
              {"\033[1J", "\r\n   b\r\ncccc", {3, 2}},
              {"\033#8", nullptr, {3, 2}}};
  for (auto row : rows) {
    fill();
    term.PutText(row.text);
    if (row.screen != nullptr) {
      EXPECT_EQ(ScreenText(), row.screen) << row.text + 1;
    }
    EXPECT_EQ(Cursor(), row.cursor) << row.text + 1;
  }
  EXPECT_EQ(Row(24), std::string(80, 'E'));
}

TEST_F(Terminal, Vt52GotoAndReverseIndex) {
  term.SetEmulation(teVT52);
  term.PutText("\033Y%*G");
  EXPECT_EQ(term.Buffer().Cell(11, 6).Ch, 'G');
  term.PutText("\033H\033I");
  EXPECT_EQ(Cursor(), Pos(1, 1));
  EXPECT_EQ(term.Buffer().Cell(11, 7).Ch, 'G');
  term.PutText("\033Y'!\033I");
  EXPECT_EQ(Cursor(), Pos(2, 7));
}

TEST_F(Terminal, UnhandledCodesAndCharactersAreReported) {
  std::vector<std::pair<TEscapeCode, std::string>> unhandled;
  std::string chars;
  term.OnUnhandledCode = [&](TComTerminal&, TEscapeCode code, const std::string& data) {
    unhandled.emplace_back(code, data);
  };
  term.OnChar = [&](TComTerminal&, std::uint8_t ch) { chars.push_back(static_cast<char>(ch)); };
  term.PutText("a\033[1zb\033[0n\r\a");
  ASSERT_EQ(unhandled.size(), 2u);
  EXPECT_EQ(unhandled[0], std::make_pair(ecUnrecognised, std::string("[1z")));
  EXPECT_EQ(unhandled[1], std::make_pair(ecStatusOk, std::string("[0n")));
  EXPECT_EQ(chars, "ab\r\a");
  EXPECT_EQ(Row(1), "ab");
}

// ESC [ followed by digits that never end used to hide everything written after it.
TEST_F(Terminal, AnEndlessSequenceDoesNotSwallowTheTextAfterIt) {
  int unrecognised = 0;
  term.OnUnhandledCode = [&](TComTerminal&, TEscapeCode code, const std::string&) {
    if (code == ecUnrecognised) ++unrecognised;
  };
  term.PutText("\033[" + std::string(100000, '5') + "\r\nvisible");
  EXPECT_EQ(unrecognised, 1);
  EXPECT_EQ(term.EscapeCodes()->Data().size(), 0u + TEscapeCodes::kMaxSequenceLength);
  EXPECT_NE(ScreenText().find("visible"), std::string::npos);
}

TEST_F(Terminal, ChangingEmulationDropsAPartialSequence) {
  term.PutText("\033[5");
  term.SetEmulation(teVT52);
  term.SetEmulation(teVT100orANSI);
  term.PutText("Hx");
  EXPECT_EQ(Row(1), "Hx");
}

TEST_F(Terminal, NoneEmulationTakesACodecFromTheHandler) {
  term.OnGetEscapeCodes = [](TComTerminal&, std::unique_ptr<TEscapeCodes>& codes) {
    codes = std::make_unique<TEscapeCodesVT52>();
  };
  term.SetEmulation(teNone);
  term.PutText("\033Y\"#x");
  EXPECT_EQ(term.Buffer().Cell(4, 3).Ch, 'x');
}

TEST_F(Terminal, ColumnsAndRowsAreClampedAndKeepTheCursorsInside) {
  struct {
    int value;
    int columns;
    int rows;
  } rows[] = {{1, 2, 2}, {0, 2, 2}, {300, 256, 100}, {150, 150, 100}, {50, 50, 50}};
  for (auto row : rows) {
    term.SetColumns(row.value);
    term.SetRows(row.value);
    EXPECT_EQ(term.Columns(), row.columns) << row.value;
    EXPECT_EQ(term.Rows(), row.rows) << row.value;
    EXPECT_EQ(term.Buffer().Columns(), row.columns);
    EXPECT_EQ(term.Buffer().Rows(), row.rows);
  }
  term.SetColumns(80);
  term.SetRows(24);
  term.PutText("\033[24;80H\0337");
  term.SetColumns(10);
  term.SetRows(5);
  EXPECT_EQ(Cursor(), Pos(10, 5));
  term.PutText("\033[1;1H\0338z");
  EXPECT_EQ(term.Buffer().Cell(10, 5).Ch, 'z');
}

TEST_F(Terminal, ScreenTextIsTheCopyText) {
  term.PutText("AB\033[3;3HC");
  EXPECT_EQ(ScreenText(), "AB\r\n\r\n  C");
  term.ClearScreen();
  EXPECT_EQ(ScreenText(), "");
}

TEST_F(Terminal, ClearScreenKeepsAttributesAndModes) {
  term.PutText("\033[1m\033[?1hx");
  term.ClearScreen();
  EXPECT_TRUE(term.Bold());
  EXPECT_TRUE(term.AppCursorKeys());
  EXPECT_EQ(Cursor(), Pos(1, 1));
}

TEST_F(Terminal, ScrollBarsAppearOnlyForAWindowSmallerThanTheGrid) {
  term.SetTermFont([] {
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(12);
    return font;
  }());
  term.show();
  const int cw = term.CellWidth(), ch = term.CellHeight();
  const int frame = 2 * term.frameWidth();
  const int barW = term.verticalScrollBar()->sizeHint().width();
  const int barH = term.horizontalScrollBar()->sizeHint().height();

  // 40 x 10 cells of client area once both bars are in.
  term.resize(40 * cw + barW + frame, 10 * ch + barH + frame);
  QApplication::processEvents();
  term.UpdateScrollBars();
  EXPECT_EQ(term.horizontalScrollBar()->maximum(), 80 - 40);
  EXPECT_EQ(term.verticalScrollBar()->maximum(), 24 - 10);
  EXPECT_TRUE(term.horizontalScrollBar()->isVisible());
  EXPECT_TRUE(term.verticalScrollBar()->isVisible());

  term.horizontalScrollBar()->setValue(5);
  term.verticalScrollBar()->setValue(3);
  EXPECT_EQ(term.ViewCol(), 6);
  EXPECT_EQ(term.ViewRow(), 4);
  term.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(term.ViewRow(), 14);
  term.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(term.ViewRow(), 15);

  term.resize(81 * cw + frame, 25 * ch + frame);
  QApplication::processEvents();
  term.UpdateScrollBars();
  QApplication::processEvents();
  EXPECT_EQ(term.horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(term.verticalScrollBar()->maximum(), 0);
  EXPECT_FALSE(term.horizontalScrollBar()->isVisible());
  EXPECT_FALSE(term.verticalScrollBar()->isVisible());
  EXPECT_EQ(term.ViewCol(), 1);
  EXPECT_EQ(term.ViewRow(), 1);
}

TEST_F(Terminal, FontsThatAreNotFixedPitchFallBackAndLoseTheUnderline) {
  QFont proportional(QStringLiteral("Liberation Sans"));
  proportional.setPixelSize(14);
  proportional.setUnderline(true);
  term.SetTermFont(proportional);
  EXPECT_EQ(term.TermFont().family(), TComTerminal::DefaultTermFont().family());
  EXPECT_FALSE(term.TermFont().underline());
  EXPECT_EQ(term.TermFont().pixelSize(), 14);

  QFont courier(QStringLiteral("Courier New"));
  courier.setPixelSize(12);
  term.SetTermFont(courier);
  EXPECT_EQ(term.TermFont().family(), QStringLiteral("Courier New"));
  const QFontMetrics metrics(term.TermFont());
  EXPECT_EQ(term.CellHeight(), metrics.height());
  EXPECT_EQ(term.CellWidth(), metrics.horizontalAdvance(QLatin1Char('M')));
}

TEST_F(Terminal, ArrowKeysMoveTheCursorOnlyUnderWindowsKeys) {
  auto press = [this](int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&term, &event);
  };
  term.MoveCursor(5, 5);
  press(Qt::Key_Left);
  EXPECT_EQ(Cursor(), Pos(5, 5));
  term.SetArrowKeys(akWindows);
  press(Qt::Key_Left);
  press(Qt::Key_Up);
  press(Qt::Key_Up);
  press(Qt::Key_Right);
  press(Qt::Key_Down);
  EXPECT_EQ(Cursor(), Pos(5, 4));
  press(Qt::Key_Home);
  EXPECT_EQ(Cursor(), Pos(1, 1));
  term.PutText("\033[?1h\033[3;3H");
  press(Qt::Key_Down);
  press(Qt::Key_Home);
  EXPECT_EQ(Cursor(), Pos(3, 3));
}

int DifferingPixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
  }
  return count;
}

// What the incremental updates and pixel scrolls leave on screen must equal a fresh paint.
// The window's image takes copies of drawn cells, a grab into a pixmap is painted: both
// must give the same pixels, in every colour, line drawing and underline.
TEST_F(Terminal, IncrementalPaintingMatchesAFullRepaint) {
  QFont courier(QStringLiteral("Courier New"));
  courier.setPixelSize(12);
  term.SetTermFont(courier);
  term.SetColor(Qt::white);
  term.SetFontColor(QColor(0, 0, 128));
  term.SetRows(12);
  term.SetColumns(40);
  term.resize(30 * term.CellWidth() + 40, 10 * term.CellHeight() + 40);
  term.show();
  QApplication::processEvents();
  auto screen = [this] {
    return term.screen()->grabWindow(term.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  };
  auto fresh = [this] { return term.grab().toImage().convertToFormat(QImage::Format_RGB32); };
  const char* blocks[] = {
      "line one\r\n\033[1mbold\033[0m and \033[7mreverse\033[0m\r\n",
      "\033[4munder\033[24m\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\nscrolled",
      "\r\nmore\r\n",
      "\033[3;5Hxx\033[K\033[6;1H\033[J",
      "\033[12;1H\r\na\r\nb\r\nc",
      // Down by reverse index at the top, then up again, in one batch.
      "\033[1;1H\033Mtop\033M\033[12;1H\r\nup",
      "\033[1;1H\033[?3h\033[?3l ok",
      "\r\n\033[31;42mcolour\033[0m \033(0lqqk\033(B \033[4;7mboth\033[0m",
      "\033[?5h\r\nreverse screen\033[?5l",
  };
  for (const char* block : blocks) {
    term.PutText(block);
    QApplication::processEvents();
    ASSERT_EQ(DifferingPixels(screen(), fresh()), 0) << block;
  }
  // Two blocks without a paint in between, and a pan of the view.
  term.PutText("\r\n1\r\n2");
  term.PutText("\r\n3\r\n4");
  term.verticalScrollBar()->setValue(2);
  term.horizontalScrollBar()->setValue(3);
  QApplication::processEvents();
  EXPECT_EQ(DifferingPixels(screen(), fresh()), 0);
  term.PutText("\r\n5 after the pan");
  QApplication::processEvents();
  EXPECT_EQ(DifferingPixels(screen(), fresh()), 0);
}

// While text keeps coming the terminal paints a frame at a time. The buffer changes at once;
// what the screen shows once the frame has ended is the whole screen, also when something
// painted the window while the frame waited and when the text scrolled meanwhile.
TEST_F(Terminal, PacedPaintingShowsTheFinalScreenWhenTheFrameEnds) {
  std::int64_t now = 1000;
  term.SetFrameClock([&now] { return now; });
  term.SetFrameInterval(40);
  QFont courier(QStringLiteral("Courier New"));
  courier.setPixelSize(12);
  term.SetTermFont(courier);
  term.SetRows(12);
  term.SetColumns(40);
  term.resize(40 * term.CellWidth() + 40, 12 * term.CellHeight() + 40);
  term.show();
  QApplication::processEvents();
  auto screen = [this] {
    return term.screen()->grabWindow(term.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  };
  auto fresh = [this] { return term.grab().toImage().convertToFormat(QImage::Format_RGB32); };
  auto endFrame = [this] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (term.FramePending() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      QApplication::processEvents();
    }
    QApplication::processEvents();
  };

  // Text after a quiet spell is painted at once.
  now += 100;
  term.PutText("first\r\n");
  EXPECT_FALSE(term.FramePending());
  QApplication::processEvents();
  EXPECT_EQ(DifferingPixels(screen(), fresh()), 0);

  // Text that follows within the frame waits for its end, scrolling included.
  now += 5;
  for (int i = 0; i < 14; ++i) {
    term.PutText("line " + std::to_string(i) + "\r\n");
    now += 2;
    QApplication::processEvents();
  }
  EXPECT_TRUE(term.FramePending());
  EXPECT_EQ(Row(11), "line 13");
  // A paint meanwhile (an expose) draws the buffer as it is, already scrolled: the end of
  // the frame must not move those pixels by the scroll once more.
  term.viewport()->repaint();
  term.PutText("tail");
  endFrame();
  EXPECT_FALSE(term.FramePending());
  EXPECT_EQ(DifferingPixels(screen(), fresh()), 0);

  // A frame later the next text is painted at once again; anything but text (a clear, a
  // change of size) paints at once and takes the waiting text along.
  now += 100;
  term.PutText("\r\nlater");
  EXPECT_FALSE(term.FramePending());
  now += 1;
  term.PutText("\r\nsoon");
  ASSERT_TRUE(term.FramePending());
  term.ClearScreen();
  EXPECT_FALSE(term.FramePending());
  QApplication::processEvents();
  EXPECT_EQ(DifferingPixels(screen(), fresh()), 0);

  // Without a frame interval every write is painted at once.
  term.SetFrameInterval(0);
  term.PutText("x");
  EXPECT_FALSE(term.FramePending());
}

TEST_F(Terminal, CaretExistsOnlyWithTheFocusAndAShape) {
  term.show();
  term.activateWindow();
  term.setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(term.hasFocus());
  EXPECT_TRUE(term.HasCaret());
  term.SetCaret(tcNone);
  EXPECT_FALSE(term.HasCaret());
  term.SetCaret(tcUnderline);
  EXPECT_TRUE(term.HasCaret());
  term.clearFocus();
  QApplication::processEvents();
  EXPECT_FALSE(term.HasCaret());
}

// The caret blinks for a while after the last key, output or focus change and then stays on;
// any of them starts the blink again.
TEST_F(Terminal, TheCaretStopsBlinkingOnAfterAWhileAndAKeyOrOutputRestartsIt) {
  const int flash = QApplication::cursorFlashTime();
  QApplication::setCursorFlashTime(20);
  kvel::TComTerminal blinking;
  blinking.SetCaretBlinkTimeout(60);
  blinking.show();
  blinking.activateWindow();
  blinking.setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(blinking.HasCaret());
  EXPECT_TRUE(blinking.CaretBlinking());
  const auto settlesOn = [&] {
    return QTest::qWaitFor([&] { return !blinking.CaretBlinking(); }, 5000) &&
           blinking.CaretBlinkOn();
  };
  EXPECT_TRUE(settlesOn());
  blinking.PutText("x");
  EXPECT_TRUE(blinking.CaretBlinking());
  EXPECT_TRUE(settlesOn());
  QTest::keyClick(&blinking, Qt::Key_A);
  EXPECT_TRUE(blinking.CaretBlinking());
  EXPECT_TRUE(settlesOn());
  blinking.clearFocus();
  blinking.setFocus();
  QApplication::processEvents();
  EXPECT_TRUE(blinking.CaretBlinking());
  QApplication::setCursorFlashTime(flash);
}

// Typing on a terminal without a port sends nothing and so shows nothing either.
TEST_F(Terminal, Bytes80To9FShowAsTheWindowsCodePage) {
  const struct {
    std::uint8_t byte;
    char16_t shown;
  } rows[] = {{0x80, 0x20AC}, {0x85, 0x2026}, {0x91, 0x2018}, {0x93, 0x201C},
              {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122}, {0x9F, 0x0178},
              {0x81, 0x0081}, {0x41, u'A'},   {0xE9, 0x00E9}, {0xA0, 0x00A0}};
  for (auto row : rows) {
    EXPECT_EQ(TComTerminal::DisplayChar(row.byte).unicode(), row.shown) << int{row.byte};
    EXPECT_EQ(TComTerminal::CodeOfChar(QChar(row.shown)), row.byte) << int{row.byte};
  }
  EXPECT_EQ(TComTerminal::CodeOfChar(QChar(0x3A9)), -1);  // no such byte

  // On screen the euro sign and the dashes have ink; as Latin-1 controls they were blank.
  term.SetColor(Qt::white);
  term.SetFontColor(Qt::black);
  term.show();
  term.PutText("\x80\x93\x97");
  QApplication::processEvents();
  const QImage image = term.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  for (int col = 0; col < 3; ++col) {
    int ink = 0;
    for (int y = 0; y < term.CellHeight(); ++y) {
      for (int x = col * term.CellWidth(); x < (col + 1) * term.CellWidth(); ++x)
        if (image.pixel(x, y) != QColor(Qt::white).rgb()) ++ink;
    }
    EXPECT_GT(ink, 0) << "column " << col + 1;
  }
}

TEST_F(Terminal, TypingOnAnUnboundTerminalEchoesNothing) {
  term.SetLocalEcho(true);
  QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  QApplication::sendEvent(&term, &key);
  EXPECT_EQ(ScreenText(), "");
  EXPECT_EQ(Cursor(), Pos(1, 1));
}

TEST_F(Terminal, AutoSizeAsksForTheWholeGrid) {
  term.SetAutoSize(true);
  const QSize grid(80 * term.CellWidth() + 2 * term.frameWidth(),
                   24 * term.CellHeight() + 2 * term.frameWidth());
  EXPECT_EQ(term.size(), grid);
  term.SetColumns(40);
  EXPECT_EQ(term.width(), 40 * term.CellWidth() + 2 * term.frameWidth());
}

// A terminal bound to a port on an in-memory line: what arrives goes through the port's
// event thread and link to the terminal, replies and typed keys go back over the line.
class BoundTerminal : public Terminal {
 protected:
  void SetUp() override {
    line = std::make_shared<MemoryLine>();
    RegisterMemoryLine("COM9", line);
    port = std::make_unique<TComPort>();
    port->SetPort("COM9");
    term.SetComPort(port.get());
    term.SetConnected(true);
  }
  void TearDown() override {
    term.SetComPort(nullptr);
    port.reset();
    UnregisterMemoryLine("COM9");
  }
  // Lets the far end's bytes reach the terminal.
  void Arrive(const std::string& bytes) {
    line->Send(bytes);
    for (int i = 0; i < 2000 && line->PendingInput() > 0; ++i) {
      QApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QApplication::processEvents();
  }
  void Type(Qt::Key key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&term, &press);
  }

  std::shared_ptr<MemoryLine> line;
  std::unique_ptr<TComPort> port;
};

TEST_F(BoundTerminal, AnswersQueriesThroughThePort) {
  ASSERT_TRUE(term.Connected());
  const struct {
    TTermEmulation emulation;
    const char* query;
    const char* reply;
  } rows[] = {{teVT100orANSI, "\033[3;7H\033[6n", "\033[3;7R"},
              {teVT100orANSI, "\033[c", "\033[?1;2c"},
              {teVT100orANSI, "\033[0c", "\033[?1;2c"},
              {teVT100orANSI, "\033[5n", "\033[0n"},
              {teVT52, "\033Z", "\033/Z"},
              {teVT52, "\033Y\042\047\033Z", "\033/Z"}};
  for (auto row : rows) {
    term.SetEmulation(row.emulation);
    Arrive(row.query);
    EXPECT_EQ(line->TakeReceived(), row.reply) << row.query + 1;
  }
  EXPECT_EQ(ScreenText(), "");  // replies are not echoed
}

TEST_F(BoundTerminal, EnterSendsCrAndLfWithTheirEcho) {
  term.SetLocalEcho(true);
  term.SetSendLF(true);
  Type(Qt::Key_A, QStringLiteral("a"));
  Type(Qt::Key_Return, QStringLiteral("\r"));
  Type(Qt::Key_B, QStringLiteral("b"));
  EXPECT_EQ(line->TakeReceived(), "a\r\nb");
  EXPECT_EQ(Row(1), "a");
  EXPECT_EQ(Row(2), "b");
  EXPECT_EQ(Cursor(), Pos(2, 2));
  // Without echo and line feed only the CR goes.
  term.SetLocalEcho(false);
  term.SetSendLF(false);
  Type(Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_EQ(line->TakeReceived(), "\r");
  EXPECT_EQ(Cursor(), Pos(2, 2));
}

TEST_F(BoundTerminal, ArrowKeysSendTheirCodesAndEchoTheMove) {
  term.SetLocalEcho(true);
  term.MoveCursor(5, 5);
  Type(Qt::Key_Up);
  Type(Qt::Key_Left);
  EXPECT_EQ(line->TakeReceived(), "\033[A\033[D");
  EXPECT_EQ(Cursor(), Pos(4, 4));
  term.SetEmulation(teVT52);
  term.PutText("\033[?1h");  // no such mode under VT52: the text shows
  Type(Qt::Key_Down);
  EXPECT_EQ(line->TakeReceived(), "\033B");
}

TEST_F(BoundTerminal, ReceivedTextGetsLineFeedsAndSevenBitsWhenAsked) {
  term.SetEmulation(teNone);
  std::vector<std::string> seen;
  term.OnStrRecieved = [&](TComTerminal&, std::string& text) { seen.push_back(text); };
  term.SetAppendLF(true);
  Arrive("one\rtwo\r\r");
  EXPECT_EQ(seen.back(), "one\r\ntwo\r\n\r\n");
  EXPECT_EQ(Row(1), "one");
  EXPECT_EQ(Row(2), "two");
  EXPECT_EQ(Cursor(), Pos(1, 4));
  term.SetAppendLF(false);
  term.SetForce7Bit(true);
  Arrive("\xC1\xE2\x80");
  EXPECT_EQ(seen.back(), std::string("Ab\0", 3));
  // Text written by the program itself keeps its bytes.
  term.PutText("\xC1");
  EXPECT_EQ(Row(4), "Ab\xC1");
}

TEST_F(BoundTerminal, AClosedOrMissingPortTakesNothing) {
  term.SetLocalEcho(true);
  term.SetConnected(false);
  EXPECT_FALSE(port->Connected());
  Type(Qt::Key_A, QStringLiteral("a"));
  Type(Qt::Key_Up);
  term.PutText("\033[6n");
  EXPECT_EQ(line->TakeReceived(), "");
  EXPECT_EQ(ScreenText(), "");
  term.SetConnected(true);
  EXPECT_TRUE(port->Connected());
  // The port goes first: the terminal is left unbound.
  port.reset();
  EXPECT_EQ(term.ComPort(), nullptr);
  EXPECT_FALSE(term.Connected());
  Type(Qt::Key_A, QStringLiteral("a"));
  EXPECT_EQ(ScreenText(), "");
}

TEST_F(BoundTerminal, RebindingMovesTheLink) {
  TComPort other;
  EXPECT_EQ(port->Links().size(), 1u);
  EXPECT_TRUE(port->HasDataLink());
  term.SetComPort(&other);
  EXPECT_TRUE(port->Links().empty());
  EXPECT_EQ(other.Links().size(), 1u);
  EXPECT_FALSE(term.Connected());  // binding does not open
  {
    TComTerminal second;
    second.SetComPort(&other);
    EXPECT_EQ(other.Links().size(), 2u);
  }
  EXPECT_EQ(other.Links().size(), 1u);  // a terminal that goes takes its link along
  term.SetComPort(nullptr);
  EXPECT_TRUE(other.Links().empty());
}

// The bytes of a line arrive in any order and split anyhow; nothing may leave the grid.
// Printable text, CR and LF go into the grid a row at a time unless a handler watches each
// character; both ways must leave the same cells, attributes and cursor.
void ExpectBulkEqualsSingle(const std::vector<std::string>& controls, unsigned seed) {
  TComTerminal bulk;
  TComTerminal single;
  std::size_t watched = 0;
  single.OnChar = [&watched](TComTerminal&, std::uint8_t) { ++watched; };
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_int_distribution<int> length(1, 300);
  std::uniform_int_distribution<int> printable(32, 255);
  for (int round = 0; round < 400; ++round) {
    std::string block;
    while (block.size() < 2000) {
      if (pick(random) < 50) {
        const int n = length(random);
        for (int i = 0; i < n; ++i) block.push_back(static_cast<char>(printable(random)));
      } else {
        block += controls[static_cast<std::size_t>(pick(random)) % controls.size()];
      }
    }
    if (round % 40 == 3) {
      const auto emulation = static_cast<TTermEmulation>(round % 3);
      bulk.SetEmulation(emulation);
      single.SetEmulation(emulation);
    }
    if (round % 25 == 7) {
      bulk.SetWrapLines(!bulk.WrapLines());
      single.SetWrapLines(bulk.WrapLines());
    }
    if (round % 60 == 11) {
      bulk.SetColumns(20 + round % 120);
      single.SetColumns(bulk.Columns());
    }
    // Split anywhere, also inside a sequence or a run.
    const std::size_t cut = static_cast<std::size_t>(pick(random)) * block.size() / 100;
    for (TComTerminal* t : {&bulk, &single}) {
      t->PutText(block.substr(0, cut));
      t->PutText(block.substr(cut));
    }
    ASSERT_EQ(bulk.CursorCol(), single.CursorCol()) << "round " << round;
    ASSERT_EQ(bulk.CursorRow(), single.CursorRow()) << "round " << round;
    ASSERT_EQ(bulk.WrapPending(), single.WrapPending()) << "round " << round;
    for (int row = 1; row <= bulk.Rows(); ++row) {
      for (int col = 1; col <= bulk.Columns(); ++col) {
        ASSERT_EQ(bulk.Buffer().Cell(col, row), single.Buffer().Cell(col, row))
            << "round " << round << " cell " << col << "," << row;
      }
    }
  }
  EXPECT_GT(watched, 0u);
}

TEST(TerminalText, RowsAtATimeEqualCharacterByCharacter) {
  ExpectBulkEqualsSingle(
      {"\r\n", "\r", "\n", "\t", "\b", "\033[1m", "\033[7m", "\033[4m", "\033[0m", "\033[5;78H",
       "\033[24;80H", "\033[K", "\033[2J", "\033Y!~", "\033[1", "\033A"},
      11u);
}

// The same with the modes and states a run and a line feed have to respect: insert mode,
// the character sets, scrolling margins and lines fed in the middle of a sequence.
TEST(TerminalText, RowsAtATimeRespectInsertModeCharsetsAndMargins) {
  ExpectBulkEqualsSingle(
      {"\r\n",    "\n\n\n",      "\r",          "\033[4h",  "\033[4l",  "\033(0",
       "\033(A",  "\033(B",      "\033)0",      "\016",     "\017",     "\033[5;20r",
       "\033[r",  "\033[?6h",    "\033[?6l",    "\033[?7l", "\033[?7h", "\033[1;4;7m",
       "\033[0m", "\033[3\r\nB", "\033[24;75H", "\033M",    "\033D",    "\033E"},
      23u);
}

// Runs are measured eight bytes at a time: a byte that ends one must stop it at any place in
// the word, next to any printable byte, the 8-bit ones and the edges of the range included.
TEST(TerminalText, ARunEndsExactlyAtTheFirstByteThatIsNotPrintable) {
  const std::uint8_t fillers[] = {0x20, 0x7E, 0x80, 0xA0, 0xFF, 'a'};
  const std::uint8_t stoppers[] = {0x00, 0x07, 0x1F, 0x7F, '\r', '\b'};
  for (const std::uint8_t filler : fillers) {
    for (const std::uint8_t stopper : stoppers) {
      for (std::size_t at = 0; at < 20; ++at) {
        std::string text(20, static_cast<char>(filler));
        text[at] = static_cast<char>(stopper);
        text += "\033[1mz";
        TComTerminal bulk;
        TComTerminal single;
        single.OnChar = [](TComTerminal&, std::uint8_t) {};
        bulk.PutText(text);
        single.PutText(text);
        SCOPED_TRACE(testing::Message()
                     << "filler " << int{filler} << " stopper " << int{stopper} << " at " << at);
        ASSERT_EQ(bulk.CursorCol(), single.CursorCol());
        for (int col = 1; col <= 24; ++col) {
          ASSERT_EQ(bulk.Buffer().Cell(col, 1), single.Buffer().Cell(col, 1)) << "column " << col;
        }
      }
    }
  }
}

// A handler may change the emulation in the middle of a block: the rest of the block is
// read by the codec in place after it.
TEST(TerminalText, AHandlerThatChangesTheEmulationHandsTheRestToTheNewCodec) {
  TComTerminal term;
  term.OnUnhandledCode = [](TComTerminal& sender, TEscapeCode code, const std::string& data) {
    if (code != ecUnrecognised) return;
    sender.SetEmulation(data == "[1z" ? teVT52 : teNone);
  };
  term.PutText("a\033[1z\033Y\"#x\033Q\033[2Jb\r\nc");
  // VT52 places the x at column 4, row 3; its unknown ESC Q turns the emulation off, so the
  // rest is text: "[2Jb" after the x, then c at the start of the next row.
  EXPECT_EQ(term.Emulation(), teNone);
  EXPECT_EQ(term.Buffer().Cell(1, 1).Ch, 'a');
  std::string row3;
  for (int c = 4; c <= 8; ++c) row3.push_back(static_cast<char>(term.Buffer().Cell(c, 3).Ch));
  EXPECT_EQ(row3, "x[2Jb");
  EXPECT_EQ(term.Buffer().Cell(1, 4).Ch, 'c');
}

TEST_F(Terminal, RandomInputKeepsTheCursorInsideTheGrid) {
  term.show();
  std::mt19937 random(7u);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pick(0, 99);
  const std::string alphabet = "\033[;?0123456789#7OY/HJKABCDfhlmnsugc\r\n\t\b\f E";
  std::string block;
  for (int round = 0; round < 600; ++round) {
    block.clear();
    for (int i = 0; i < 4096; ++i) {
      const int p = pick(random);
      block.push_back(p < 60 ? alphabet[static_cast<std::size_t>(byte(random)) % alphabet.size()]
                             : static_cast<char>(byte(random)));
    }
    if (round % 50 == 10) term.SetEmulation(static_cast<TTermEmulation>(round % 3));
    if (round % 70 == 5) term.SetRows(2 + round % 30);
    if (round % 90 == 7) term.SetWrapLines(!term.WrapLines());
    term.PutText(block);
    ASSERT_GE(term.CursorCol(), 1);
    ASSERT_LE(term.CursorCol(), term.Columns());
    ASSERT_GE(term.CursorRow(), 1);
    ASSERT_LE(term.CursorRow(), term.Rows());
    if (round % 20 == 0) QApplication::processEvents();
  }
}

}  // namespace
}  // namespace kvel
