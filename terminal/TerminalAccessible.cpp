#include "TerminalAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>
#include <optional>

#include "CPortCtl.h"

namespace kvel {

namespace {

QChar CellChar(const TTermCell& cell) {
  if (cell.Ch == 0) return QChar(u' ');
  if (cell.Graphic) {
    const char32_t shown = DecGraphic(cell.Ch);
    if (shown != 0 && shown <= 0xFFFF) return QChar(static_cast<char16_t>(shown));
  }
  return TComTerminal::DisplayChar(cell.Ch);
}

constexpr const char* kNotifierName = "kvelTerminalAccessNotifier";

// Counts the times accessibility went off: a text published before that is stale, since
// nothing was told while no client listened.
int deactivations = 0;

class ActivationWatch : public QAccessible::ActivationObserver {
 public:
  void accessibilityActiveChanged(bool active) override {
    if (!active) ++deactivations;
  }
};

// The coalescing of change notices for one terminal: the first notice after a return to the
// event loop queues one publication; the publication compares the screen text with the text
// last published and sends only the part that changed.
class ChangeNotifier : public QObject {
 public:
  explicit ChangeNotifier(TComTerminal& terminal) : QObject(&terminal), terminal_(terminal) {
    setObjectName(QString::fromLatin1(kNotifierName));
  }

  static ChangeNotifier& For(TComTerminal& terminal) {
    QObject* found = terminal.findChild<QObject*>(QString::fromLatin1(kNotifierName),
                                                  Qt::FindDirectChildrenOnly);
    if (auto* notifier = dynamic_cast<ChangeNotifier*>(found)) return *notifier;
    return *new ChangeNotifier(terminal);
  }

  // A client now reads the terminal: what it reads is the base of the next change.
  void Prime() {
    if (!QAccessible::isActive() || Current()) return;
    published_ = TerminalScreenText::Of(terminal_);
    generation_ = deactivations;
  }

  void Schedule() {
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Publish(); }, Qt::QueuedConnection);
  }

 private:
  void Publish() {
    pending_ = false;
    if (!QAccessible::isActive()) {
      // A client that comes later reads the screen afresh.
      published_.reset();
      return;
    }
    TerminalScreenText now = TerminalScreenText::Of(terminal_);
    // Without a text of this activation the client has read nothing: all of it is new.
    const bool current = Current();
    const QString before = current ? published_->text : QString();
    const int caretBefore = current ? published_->caret : -1;
    published_ = now;
    generation_ = deactivations;
    if (now.text != before) {
      const auto limit = std::min(before.size(), now.text.size());
      qsizetype head = 0;
      while (head < limit && before[head] == now.text[head]) ++head;
      qsizetype tail = 0;
      while (tail < limit - head &&
             before[before.size() - 1 - tail] == now.text[now.text.size() - 1 - tail]) {
        ++tail;
      }
      QAccessibleTextUpdateEvent event(&terminal_, static_cast<int>(head),
                                       before.mid(head, before.size() - head - tail),
                                       now.text.mid(head, now.text.size() - head - tail));
      event.setCursorPosition(now.caret);
      QAccessible::updateAccessibility(&event);
    } else if (now.caret != caretBefore) {
      QAccessibleTextCursorEvent event(&terminal_, now.caret);
      QAccessible::updateAccessibility(&event);
    }
  }

  bool Current() const { return published_ && generation_ == deactivations; }

  TComTerminal& terminal_;
  bool pending_ = false;
  std::optional<TerminalScreenText> published_;
  int generation_ = 0;
};

// The terminal as an accessibility client sees it: a read-only multi-line text whose caret
// is the terminal's cursor. It has no selection; what is typed goes to the device.
class TerminalAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TerminalAccessible(TComTerminal* terminal)
      : QAccessibleWidget(terminal, QAccessible::Terminal) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text type) const override {
    QString value = QAccessibleWidget::text(type);
    if (type == QAccessible::Name && value.isEmpty()) value = QStringLiteral("Terminal");
    return value;
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.multiLine = true;
    state.readOnly = true;
    return state;
  }

  // ---- selection: the terminal has none ----
  void selection(int, int* startOffset, int* endOffset) const override {
    *startOffset = 0;
    *endOffset = 0;
  }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}

  // ---- caret: the cursor is the device's to move ----
  int cursorPosition() const override { return Screen().caret; }
  void setCursorPosition(int) override {}

  QString text(int startOffset, int endOffset) const override {
    const QString all = Screen().text;
    startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
    endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
    return all.mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override { return static_cast<int>(Screen().text.size()); }

  QRect characterRect(int offset) const override {
    const TComTerminal& terminal = Terminal();
    const auto [col, row] = Screen().CellOf(offset);
    const QPoint local((col - terminal.ViewCol()) * terminal.CellWidth(),
                       (row - terminal.ViewRow()) * terminal.CellHeight());
    return {terminal.viewport()->mapToGlobal(local),
            QSize(terminal.CellWidth(), terminal.CellHeight())};
  }

  int offsetAtPoint(const QPoint& point) const override {
    const TComTerminal& terminal = Terminal();
    const QPoint local = terminal.viewport()->mapFromGlobal(point);
    if (!terminal.viewport()->rect().contains(local)) return -1;
    const int col = local.x() / terminal.CellWidth() + terminal.ViewCol();
    const int row = local.y() / terminal.CellHeight() + terminal.ViewRow();
    if (col > terminal.Columns() || row > terminal.Rows()) return -1;
    return Screen().OffsetOf(col, row);
  }

  void scrollToSubstring(int startIndex, int) override {
    TComTerminal& terminal = Terminal();
    const auto [col, row] = Screen().CellOf(startIndex);
    // Brings the first cell of the text into view with the scroll bars.
    const int visibleCols = std::max(terminal.viewport()->width() / terminal.CellWidth(), 1);
    const int visibleRows = std::max(terminal.viewport()->height() / terminal.CellHeight(), 1);
    if (col < terminal.ViewCol() || col >= terminal.ViewCol() + visibleCols) {
      terminal.horizontalScrollBar()->setValue(col - 1);
    }
    if (row < terminal.ViewRow() || row >= terminal.ViewRow() + visibleRows) {
      terminal.verticalScrollBar()->setValue(row - 1);
    }
  }

  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = 0;
    *endOffset = std::max(characterCount(), offset);
    return {};
  }

 private:
  TComTerminal& Terminal() const { return *static_cast<TComTerminal*>(widget()); }
  TerminalScreenText Screen() const { return TerminalScreenText::Of(Terminal()); }
};

QAccessibleInterface* TerminalFactory(const QString&, QObject* object) {
  auto* terminal = qobject_cast<TComTerminal*>(object);
  if (terminal == nullptr) return nullptr;
  ChangeNotifier::For(*terminal).Prime();
  return new TerminalAccessible(terminal);
}

}  // namespace

TerminalScreenText TerminalScreenText::Of(const TComTerminal& terminal) {
  TerminalScreenText screen;
  const TComTermBuffer& buffer = terminal.Buffer();
  const int cursorRow = std::clamp(terminal.CursorRow(), 1, buffer.Rows());
  const int cursorCol = std::clamp(terminal.CursorCol(), 1, buffer.Columns());
  const int rows = std::max(buffer.LastLine(), cursorRow);
  for (int row = 1; row <= rows; ++row) {
    if (row > 1) screen.text += QChar(u'\n');
    screen.rowStart.push_back(static_cast<int>(screen.text.size()));
    const int length = buffer.LineLength(row);
    for (int col = 1; col <= length; ++col) screen.text += CellChar(buffer.Cell(col, row));
    // Written blanks at the end of a row are no more text than empty cells.
    const qsizetype rowEnd = screen.rowStart.back();
    while (screen.text.size() > rowEnd && screen.text.back() == u' ') screen.text.chop(1);
    if (row == cursorRow) {
      while (screen.text.size() < rowEnd + cursorCol - 1) screen.text += QChar(u' ');
      screen.caret = screen.rowStart.back() + cursorCol - 1;
    }
  }
  return screen;
}

std::pair<int, int> TerminalScreenText::CellOf(int offset) const {
  offset = std::clamp(offset, 0, static_cast<int>(text.size()));
  const auto next = std::upper_bound(rowStart.begin(), rowStart.end(), offset);
  const auto row = static_cast<int>(next - rowStart.begin());
  return {offset - rowStart[static_cast<std::size_t>(row - 1)] + 1, row};
}

int TerminalScreenText::OffsetOf(int col, int row) const {
  if (row < 1) return 0;
  if (row > static_cast<int>(rowStart.size())) return static_cast<int>(text.size());
  const int start = rowStart[static_cast<std::size_t>(row - 1)];
  const int end = row < static_cast<int>(rowStart.size())
                      ? rowStart[static_cast<std::size_t>(row)] - 1
                      : static_cast<int>(text.size());
  return std::clamp(start + col - 1, start, end);
}

void InstallTerminalAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(TerminalFactory);
    static ActivationWatch watch;
    QAccessible::installActivationObserver(&watch);
    return true;
  }();
  (void)installed;
}

void NotifyTerminalChanged(TComTerminal& terminal) {
  if (!QAccessible::isActive()) return;
  ChangeNotifier::For(terminal).Schedule();
}

}  // namespace kvel
