// The terminal as a screen reader reads it: its rows as text, its caret, and the events that
// tell of new text.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <string>
#include <vector>

#include "CPortCtl.h"
#include "TerminalAccessible.h"

#ifdef KVEL_HAVE_PLATFORM_ACCESSIBILITY
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#endif

namespace kvel {
namespace {

struct SeenEvent {
  QAccessible::Event type = QAccessible::InvalidEvent;
  int position = -1;
  QString removed;
  QString inserted;
  int cursor = -1;
};

std::vector<SeenEvent>& Seen() {
  static std::vector<SeenEvent> seen;
  return seen;
}

void Record(QAccessibleEvent* event) {
  SeenEvent seen;
  seen.type = event->type();
  if (event->type() == QAccessible::TextUpdated) {
    auto* update = static_cast<QAccessibleTextUpdateEvent*>(event);
    seen.position = update->changePosition();
    seen.removed = update->textRemoved();
    seen.inserted = update->textInserted();
    seen.cursor = update->cursorPosition();
  } else if (event->type() == QAccessible::TextCaretMoved) {
    seen.cursor = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
  } else {
    return;  // focus, state and the like are Qt's own
  }
  Seen().push_back(seen);
}

// Switches accessibility on or off as a screen reader's arrival does; false where the test
// cannot.
bool SetActive(bool on) {
#ifdef KVEL_HAVE_PLATFORM_ACCESSIBILITY
  QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
  if (platform == nullptr) return false;
  platform->setActive(on);
  return QAccessible::isActive() == on;
#else
  (void)on;
  return false;
#endif
}

class TerminalAccessibility : public ::testing::Test {
 protected:
  void SetUp() override {
    Seen().clear();
    QAccessible::installUpdateHandler(Record);
  }
  void TearDown() override {
    SetActive(false);
    QAccessible::installUpdateHandler(nullptr);
  }
  QAccessibleTextInterface* Text() {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&term);
    return iface != nullptr ? iface->textInterface() : nullptr;
  }
  QString All() {
    QAccessibleTextInterface* text = Text();
    return text->text(0, text->characterCount());
  }
  // Lets the queued notices run.
  static void Deliver() { QCoreApplication::sendPostedEvents(); }

  TComTerminal term;
};

TEST_F(TerminalAccessibility, ReadsRowsWithoutTrailingBlanksAndTheCaretAsAnOffset) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&term);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Terminal);
  EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty());
  ASSERT_NE(Text(), nullptr);

  EXPECT_EQ(All(), QString());
  EXPECT_EQ(Text()->cursorPosition(), 0);

  term.PutText("ab\r\n  cd   \r\n");
  EXPECT_EQ(All(), QStringLiteral("ab\n  cd\n"));
  EXPECT_EQ(Text()->cursorPosition(), 8);  // row 3, column 1

  // A cursor beyond the text of its row: the row is padded up to it.
  term.MoveCursor(4, 2);
  EXPECT_EQ(All(), QStringLiteral("ab\n  cd"));
  EXPECT_EQ(Text()->cursorPosition(), 6);
  term.MoveCursor(7, 5);
  EXPECT_EQ(All(), QStringLiteral("ab\n  cd\n\n\n      "));
  EXPECT_EQ(Text()->cursorPosition(), 16);
  EXPECT_EQ(Text()->text(3, 7), QStringLiteral("  cd"));

  // The code page's characters and the line drawing set show as they are painted.
  term.ClearScreen();
  term.PutText("\x80\x1b(0q\x1b(B");
  EXPECT_EQ(All(), QString::fromUtf8("\u20ac\u2500"));

  // Lines are the rows.
  term.ClearScreen();
  term.PutText("first\r\nsecond row");
  int start = -1;
  int end = -1;
  EXPECT_EQ(Text()->textAtOffset(8, QAccessible::LineBoundary, &start, &end).trimmed(),
            QStringLiteral("second row"));
  EXPECT_EQ(start, 6);
}

TEST_F(TerminalAccessibility, MapsOffsetsToCellsAndBack) {
  term.resize(400, 250);
  term.PutText("one\r\ntwo three\r\nx");
  QAccessibleTextInterface* text = Text();
  ASSERT_NE(text, nullptr);
  for (int offset : {0, 2, 4, 8, 12, 14}) {
    const QRect cell = text->characterRect(offset);
    EXPECT_EQ(cell.size(), QSize(term.CellWidth(), term.CellHeight())) << offset;
    EXPECT_EQ(text->offsetAtPoint(cell.center()), offset) << offset;
  }
  const QRect second = text->characterRect(4);  // 't' of "two": column 1, row 2
  EXPECT_EQ(second.topLeft(), term.viewport()->mapToGlobal(QPoint(0, term.CellHeight())));
  // Past the end of a row's text a point gives the end of that row.
  const QPoint farRight =
      term.viewport()->mapToGlobal(QPoint(30 * term.CellWidth() + 1, term.CellHeight() + 1));
  EXPECT_EQ(text->offsetAtPoint(farRight), 13);
  EXPECT_EQ(text->selectionCount(), 0);
}

TEST_F(TerminalAccessibility, TellsOfChangesOncePerReturnToTheEventLoop) {
  if (!SetActive(true)) GTEST_SKIP() << "accessibility cannot be switched on here";
  ASSERT_NE(Text(), nullptr);  // a client reads the screen first

  // Byte by byte, as a slow line delivers it: one event for all of it.
  for (char ch : std::string("hello")) term.PutText(std::string(1, ch));
  EXPECT_TRUE(Seen().empty());
  Deliver();
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].type, QAccessible::TextUpdated);
  EXPECT_EQ(Seen()[0].position, 0);
  EXPECT_EQ(Seen()[0].removed, QString());
  EXPECT_EQ(Seen()[0].inserted, QStringLiteral("hello"));
  EXPECT_EQ(Seen()[0].cursor, 5);

  // Only the part that changed is told.
  Seen().clear();
  term.PutText("\b\bXY");
  Deliver();
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].position, 3);
  EXPECT_EQ(Seen()[0].removed, QStringLiteral("lo"));
  EXPECT_EQ(Seen()[0].inserted, QStringLiteral("XY"));

  // A scrolled screen: the rows that left and came.
  Seen().clear();
  term.SetRows(3);
  term.ClearScreen();
  Deliver();
  term.PutText("1\r\n2\r\n3");
  Deliver();
  Seen().clear();
  term.PutText("\r\n4");
  Deliver();
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(All(), QStringLiteral("2\n3\n4"));
  EXPECT_EQ(Seen()[0].cursor, 5);

  // The caret alone moves: a caret event, no text.
  Seen().clear();
  term.MoveCursor(1, 1);
  Deliver();
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].type, QAccessible::TextCaretMoved);
  EXPECT_EQ(Seen()[0].cursor, 0);

  // Nothing changed: nothing is told.
  Seen().clear();
  term.MoveCursor(1, 1);
  Deliver();
  EXPECT_TRUE(Seen().empty());
}

TEST_F(TerminalAccessibility, StaysQuietWhileNoClientListens) {
  term.PutText("before anyone listens");
  Deliver();
  if (!SetActive(true)) GTEST_SKIP() << "accessibility cannot be switched on here";
  Deliver();
  EXPECT_TRUE(Seen().empty());
  // What arrives once a client listens is told against the text it could read.
  ASSERT_NE(Text(), nullptr);
  term.PutText("!");
  Deliver();
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].position, 21);
  EXPECT_EQ(Seen()[0].inserted, QStringLiteral("!"));
}

}  // namespace
}  // namespace kvel
