// vttest's cursor, screen-feature and insert/delete screens, replayed from recordings: what
// vttest wrote to a VT102 on a 24 x 80 line (data/vttest/*.bin, made once with
// data/vttest/record.c) and the screen it waited on after each part (*.screens). The terminal
// must show every one of those screens: characters, line graphics, renditions, cursor, width.
#include <gtest/gtest.h>

#include <QApplication>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CPortCtl.h"

namespace kvel {
namespace {

constexpr int kRows = 24;

struct ExpectedScreen {
  std::size_t offset = 0;  // bytes of the recording written when vttest waited on it
  int columns = 80;
  int row = 1;
  int col = 1;
  std::vector<std::string> text;   // one per row, trailing blanks left out
  std::vector<std::string> attrs;  // one per row, empty when no cell of it has a rendition
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The ".screens" format: "@ offset columns row col", then per row a "|" line with its
// characters ('%' for a line graphic) and, when any cell has one, a ":" line with the
// renditions (digits 1 bold + 2 underline + 4 reverse, '.' none). "#" lines are notes.
std::vector<ExpectedScreen> ReadScreens(const std::string& path) {
  std::vector<ExpectedScreen> screens;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '@') {
      ExpectedScreen screen;
      std::istringstream header(line.substr(1));
      header >> screen.offset >> screen.columns >> screen.row >> screen.col;
      screens.push_back(screen);
    } else if (line[0] == '|' && !screens.empty()) {
      screens.back().text.push_back(line.substr(1));
      screens.back().attrs.emplace_back();
    } else if (line[0] == ':' && !screens.empty() && !screens.back().attrs.empty()) {
      screens.back().attrs.back() = line.substr(1);
    }
  }
  return screens;
}

// Our screen in the same form.
ExpectedScreen Shown(const TComTerminal& term) {
  ExpectedScreen screen;
  screen.columns = term.Columns();
  screen.row = term.CursorRow();
  screen.col = term.CursorCol();
  for (int r = 1; r <= term.Rows(); ++r) {
    std::string text;
    std::string attrs;
    std::size_t lastAttr = 0;
    for (int c = 1; c <= term.Columns(); ++c) {
      const TTermCell& cell = term.Buffer().Cell(c, r);
      const bool isBlank = cell.Ch == 0 || cell.Ch == ' ';
      const bool graphic = cell.Graphic && DecGraphic(cell.Ch) != 0;
      text.push_back(isBlank ? ' ' : graphic ? '%' : static_cast<char>(cell.Ch));
      int rendition = 0;
      if (!isBlank) {
        if (cell.Fore == term.AltColor().rgb() % 0x1000000u) rendition |= 1;
        if (cell.Underline) rendition |= 2;
        if (cell.Back == term.FontColor().rgb() % 0x1000000u) rendition |= 4;
        if (term.ScreenReverse()) rendition ^= 4;  // as the reference shows a reverse screen
      }
      attrs.push_back(rendition != 0 ? static_cast<char>('0' + rendition) : '.');
      if (rendition != 0) lastAttr = attrs.size();
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    attrs.resize(lastAttr);
    screen.text.push_back(text);
    screen.attrs.push_back(attrs);
  }
  return screen;
}

// Both screens row by row, the differing rows marked, for the failure message.
std::string Compare(const ExpectedScreen& ours, const ExpectedScreen& expected) {
  std::string text = "width ours " + std::to_string(ours.columns) + " expected " +
                     std::to_string(expected.columns) + "; cursor ours " +
                     std::to_string(ours.row) + "," + std::to_string(ours.col) + " expected " +
                     std::to_string(expected.row) + "," + std::to_string(expected.col) + "\n";
  for (std::size_t r = 0; r < kRows; ++r) {
    const std::string& want = r < expected.text.size() ? expected.text[r] : std::string();
    const std::string& wantAttrs = r < expected.attrs.size() ? expected.attrs[r] : std::string();
    const bool same = ours.text[r] == want && ours.attrs[r] == wantAttrs;
    text += (same ? "  |" : "> |") + want + "\n";
    if (!wantAttrs.empty()) text += "  :" + wantAttrs + "\n";
    if (!same) {
      text += "ours " + ours.text[r] + "\n";
      if (!ours.attrs[r].empty()) text += "     " + ours.attrs[r] + "\n";
    }
  }
  return text;
}

bool Same(const ExpectedScreen& ours, const ExpectedScreen& expected) {
  return ours.columns == expected.columns && ours.row == expected.row && ours.col == expected.col &&
         ours.text == expected.text && ours.attrs == expected.attrs;
}

enum class Pieces { Whole, Small };

// Feeds the recording up to each expected screen and compares; with Small, in pieces of
// 1 to 7 bytes, so that sequences are split everywhere.
void Replay(const std::string& name, Pieces pieces) {
  const std::string dir = KVEL_VTTEST_DATA;
  const std::string bytes = ReadFile(dir + "/" + name + ".bin");
  const std::vector<ExpectedScreen> screens = ReadScreens(dir + "/" + name + ".screens");
  ASSERT_FALSE(bytes.empty()) << dir;
  ASSERT_FALSE(screens.empty());

  TComTerminal term;
  term.SetWrapLines(true);
  std::size_t fed = 0;
  unsigned step = 0;
  for (std::size_t n = 0; n < screens.size(); ++n) {
    const ExpectedScreen& expected = screens[n];
    ASSERT_EQ(expected.text.size(), static_cast<std::size_t>(kRows)) << "screen " << n;
    ASSERT_LE(expected.offset, bytes.size());
    while (fed < expected.offset) {
      std::size_t count = expected.offset - fed;
      if (pieces == Pieces::Small) count = std::min<std::size_t>(count, 1 + step++ % 7);
      term.PutBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()) + fed, count);
      fed += count;
    }
    const ExpectedScreen ours = Shown(term);
    EXPECT_TRUE(Same(ours, expected)) << name << " screen " << n + 1 << " of " << screens.size()
                                      << " (at byte " << expected.offset << ")\n"
                                      << Compare(ours, expected);
  }
}

class VttestReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(VttestReplay, ShowsEveryScreenFedWhole) {
  Replay(GetParam(), Pieces::Whole);
}

TEST_P(VttestReplay, ShowsEveryScreenFedInSmallPieces) {
  Replay(GetParam(), Pieces::Small);
}

INSTANTIATE_TEST_SUITE_P(Menus, VttestReplay, ::testing::Values("cursor", "screen", "insdel"));

}  // namespace
}  // namespace kvel
