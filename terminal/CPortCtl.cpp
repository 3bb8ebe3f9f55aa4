#include "CPortCtl.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <typeinfo>
#include <utility>

#include "TerminalAccessible.h"
#include "ui/Convert.h"

namespace kvel {

namespace {

constexpr int kMinColumns = 2;
constexpr int kMaxColumns = 256;
constexpr int kMinRows = 2;
constexpr int kMaxRows = 100;

TColor ToRgb(const QColor& color) {
  return color.rgb() & 0xFFFFFFu;
}

// A relative cursor move by any parameter, without overflow; MoveCursor clamps the rest.
int Moved(int from, std::int64_t by) {
  return static_cast<int>(std::clamp<std::int64_t>(from + by, INT_MIN, INT_MAX));
}

QColor FromRgb(TColor rgb) {
  return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>(rgb & 0xFF));
}

// The character a cell shows, for the font fallback of ordinary text.
QChar ShownChar(const TTermCell& cell) {
  return cell.Graphic ? QChar(static_cast<char16_t>(DecGraphic(cell.Ch)))
                      : TComTerminal::DisplayChar(cell.Ch);
}

bool IsPrintable(std::uint8_t b) {
  return b >= 32 && b != 127;
}

// How many of the first `limit` bytes are printable before the first one that is not.
// Eight bytes are looked at together while they all are: a byte below 32 and a DEL each
// leave a high bit in these word operations (exact for whether a word has one; which one it
// is, is then found a byte at a time).
std::size_t PrintableLength(const std::uint8_t* bytes, std::size_t limit) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  std::size_t n = 0;
  while (n + 8 <= limit) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + n, sizeof word);
    const std::uint64_t control = (word - 0x20 * kOnes) & ~word & kHigh;
    const std::uint64_t del = word ^ (0x7F * kOnes);
    if ((control | ((del - kOnes) & ~del & kHigh)) != 0) break;
    n += 8;
  }
  while (n < limit && IsPrintable(bytes[n])) ++n;
  return n;
}

}  // namespace

// Keeps repaint requests and the caret out of the way while a block is written: the caret
// is hidden once for the whole block and the changed cells become update rectangles when
// the outermost batch closes, also when it is left by an exception.
// A batch that only writes text may leave its painting to the end of the frame; any other
// batch nested in it or around it paints at once.
class TComTerminal::Batch {
 public:
  explicit Batch(TComTerminal& terminal, bool paced = false) : terminal_(terminal) {
    if (terminal_.batchDepth_++ == 0) {
      terminal_.batchPaced_ = paced;
    } else if (!paced) {
      terminal_.batchPaced_ = false;
    }
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  ~Batch() {
    if (--terminal_.batchDepth_ != 0) return;
    if (terminal_.batchPaced_) {
      terminal_.FlushPaced();
    } else {
      terminal_.Flush();
    }
  }

 private:
  TComTerminal& terminal_;
};

QChar TComTerminal::DisplayChar(std::uint8_t ch) {
  return kvel::CharOfByte(ch);
}

int TComTerminal::CodeOfChar(QChar ch) {
  return kvel::ByteOfChar(ch);
}

QFont TComTerminal::DefaultTermFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(9);
  return font;
}

TComTerminal::TComTerminal(QWidget* parent) : QAbstractScrollArea(parent) {
  link_.RxBlock = [this](TCustomComPort& sender, const std::uint8_t* bytes, std::int32_t count) {
    ReceiveBlock(sender, bytes, count);
  };
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  viewport()->setAutoFillBackground(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent, false);
  resize(400, 250);

  horizontalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setTracking(smoothScroll_);
  verticalScrollBar()->setTracking(smoothScroll_);
  connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { HandleScrollAction(Qt::Horizontal, action); });
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { HandleScrollAction(Qt::Vertical, action); });

  const int flash = QApplication::cursorFlashTime();
  caretTimer_.setInterval(flash > 0 ? flash / 2 : 500);
  connect(&caretTimer_, &QTimer::timeout, this, [this] {
    caretBlinkOn_ = !caretBlinkOn_;
    caretBlinkedMs_ += caretTimer_.interval();
    // Past the blink's time the caret stays on until something restarts it.
    if (caretBlinkOn_ && caretBlinkedMs_ >= caretBlinkTimeoutMs_) caretTimer_.stop();
    viewport()->update(CaretRect());
    unpaintedUpdates_ = true;
  });

  frameTimer_.setSingleShot(true);
  frameTimer_.setTimerType(Qt::PreciseTimer);
  connect(&frameTimer_, &QTimer::timeout, this, [this] {
    if (batchDepth_ == 0) Flush();
  });

  SetColor(color_);
  SetBorderStyle(borderStyle_);
  ApplyScrollBarPolicy();
  setFont(DefaultTermFont());
  MeasureFont();

  // A widget has no separate loading phase: the stored values are in place now.
  CreateCodec();
  Reallocate();
  UpdateScrollBars();
  InstallTerminalAccessible();
}

TComTerminal::~TComTerminal() {
  SetComPort(nullptr);
}

// ---- writing ---------------------------------------------------------------------------

void TComTerminal::PutText(const std::string& text) {
  PutBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void TComTerminal::PutBytes(const std::uint8_t* bytes, std::size_t count) {
  Batch batch(*this, true);
  // The codecs the terminal makes itself are fed through their own type, so that the bytes
  // of a sequence cost no call; a codec supplied by the program goes through the base class.
  // A handler may replace the codec on the way: the rest is then fed to the new one.
  for (std::size_t i = 0; i < count;) {
    TEscapeCodes* const codec = codec_.get();
    if (codec == nullptr) {
      i = FeedBytes<TEscapeCodes, false>(nullptr, bytes, i, count);
    } else if (typeid(*codec) == typeid(TEscapeCodesVT100)) {
      i = FeedBytes<TEscapeCodesVT100, true>(static_cast<TEscapeCodesVT100*>(codec), bytes, i,
                                             count);
    } else if (typeid(*codec) == typeid(TEscapeCodesVT52)) {
      i = FeedBytes<TEscapeCodesVT52, true>(static_cast<TEscapeCodesVT52*>(codec), bytes, i, count);
    } else {
      i = FeedBytes<TEscapeCodes, false>(codec, bytes, i, count);
    }
  }
}

// Feeds bytes from `from` on until the end or until the codec is replaced; returns
// where it stopped. `Framed`: the codec hands every control byte outside a sequence out as
// that character (as both of the terminal's own do), so CR and LF there skip the codec.
template <class Codec, bool Framed>
std::size_t TComTerminal::FeedBytes(Codec* codec, const std::uint8_t* bytes, std::size_t from,
                                    std::size_t count) {
  // A replaced codec may well be allocated where the old one was: the generation tells.
  const std::uint32_t generation = codecGeneration_;
  for (std::size_t i = from; i < count; ++i) {
    const std::uint8_t byte = bytes[i];
    // Printable text outside a sequence, with nobody to tell of each character, goes in a
    // row's worth at a time: the bulk of what a device sends.
    if (!OnChar && (codec == nullptr || !codec->InSequence())) {
      if (IsPrintable(byte)) {
        i += PutPrintableRun(bytes + i, count - i) - 1;
        continue;
      }
      if constexpr (Framed) {
        if (byte == 13) {
          CarriageReturn();
          continue;
        }
        if (byte == 10) {
          LineFeed();
          continue;
        }
      }
    }
    if (codec == nullptr) {
      WriteChar(byte);
      if (codecGeneration_ != generation) return i + 1;
      continue;
    }
    switch (codec->FeedByte(byte)) {
      case frCharacter:
        WriteChar(codec->Character());
        break;
      case frCode: {
        const TEscapeCode code = codec->Code();
        if (!PerformAction(code, &codec->Params()) && OnUnhandledCode) {
          // A copy: the handler may replace the codec that owns the text.
          const std::string text = codec->Data();
          OnUnhandledCode(*this, code, text);
        }
        if (codecGeneration_ != generation) return i + 1;
        codec->Params().clear();
        break;
      }
      case frAbsorbed:
        break;
    }
    if (codecGeneration_ != generation) return i + 1;
  }
  return count;
}

// Printable bytes go into the grid a row's worth at a time. A character in the last column
// leaves the cursor there with the wrap pending, as the DEC terminals do: the wrap happens
// only when the next printable character comes, and a cursor movement cancels it.
std::size_t TComTerminal::PutPrintableRun(const std::uint8_t* bytes, std::size_t count) {
  const TColor fore = cursor_.bold ? altColorRgb_ : (cursor_.reverse ? colorRgb_ : fontColorRgb_);
  const TColor back = cursor_.reverse ? fontColorRgb_ : colorRgb_;
  const Charset charset = cursor_.charsets[static_cast<std::size_t>(cursor_.shift)];
  std::size_t i = 0;
  while (i < count && IsPrintable(bytes[i])) {
    if (cursor_.wrapPending) {
      cursor_.wrapPending = false;
      if (wrapLines_) {
        cursor_.col = 1;
        LineFeed();
      }
    }
    const int row = cursor_.row;
    const int first = std::clamp(cursor_.col, 1, columns_);
    const std::size_t n = PrintableLength(
        bytes + i, std::min(static_cast<std::size_t>(columns_ - first + 1), count - i));
    if (insertMode_) buffer_.InsertCells(first, row, static_cast<int>(n));
    TTermCell* cells = &buffer_.Cell(first, row);
    if (charset == csAscii) {
      // The cells take their colours in one fill and their characters in a second pass:
      // two short loops the compiler turns into wide stores.
      std::fill_n(cells, n, TTermCell{0, fore, back, cursor_.underline, false});
      for (std::size_t k = 0; k < n; ++k) cells[k].Ch = bytes[i + k];
    } else {
      for (std::size_t k = 0; k < n; ++k) {
        std::uint8_t ch = bytes[i + k];
        const bool graphic = charset == csGraphics && DecGraphic(ch) != 0;
        if (charset == csUk && ch == '#') ch = 0xA3;  // the pound sign
        cells[k] = TTermCell{ch, fore, back, cursor_.underline, graphic};
      }
    }
    i += n;
    const int last = first + static_cast<int>(n) - 1;
    MarkCells(first, insertMode_ ? columns_ : last, row);
    if (last < columns_) {
      cursor_.col = last + 1;
    } else {
      cursor_.col = columns_;
      cursor_.wrapPending = wrapLines_;
    }
  }
  return i;
}

void TComTerminal::PutChar(std::uint8_t ch) {
  Batch batch(*this);
  WriteChar(ch);
}

void TComTerminal::WriteChar(std::uint8_t ch) {
  switch (ch) {
    case 8:
      Backspace();
      break;
    case 9:
      Tab();
      break;
    case 10:
    case 12:
      LineFeed();
      break;
    case 11:  // VT: a line feed on the VT102 screen, nothing in the other emulations
      if (emulation_ == teVT100orANSI) LineFeed();
      break;
    case 13:
      CarriageReturn();
      break;
    case 14:  // SO: G1 in use
      cursor_.shift = 1;
      break;
    case 15:  // SI: G0 in use
      cursor_.shift = 0;
      break;
    default:
      // DEL is padding, never a character.
      if (ch >= 32 && ch != 127) PutPrintableRun(&ch, 1);
      break;
  }
  if (OnChar) OnChar(*this, ch);
}

void TComTerminal::ClearScreen() {
  Batch batch(*this);
  Reallocate();
  MoveCursor(1, 1);
  MarkAll();
}

void TComTerminal::MoveCursor(int col, int row) {
  Batch batch(*this);
  cursor_.col = std::clamp(col, 1, columns_);
  cursor_.row = std::clamp(row, 1, rows_);
  cursor_.wrapPending = false;
}

void TComTerminal::WriteScreenText(std::ostream& out) const {
  buffer_.WriteText(out);
}

bool TComTerminal::PerformAction(TEscapeCode code, TParamList* params) {
  Batch batch(*this);
  TParamList reply;
  // A count of 0 or none means 1.
  auto count = [params](int n) { return std::max(TEscapeCodes::ParamOr(n, params, 1), 1); };
  const int row = cursor_.row;
  switch (code) {
    case ecUp:
    case ecAppUp:
      MoveRelative(0, -count(1));
      return true;
    case ecDown:
    case ecAppDown:
      MoveRelative(0, count(1));
      return true;
    case ecLeft:
    case ecAppLeft:
      MoveRelative(-count(1), 0);
      return true;
    case ecRight:
    case ecAppRight:
      MoveRelative(count(1), 0);
      return true;
    case ecHome:
    case ecGoto:
      if (cursor_.origin) {
        MoveCursor(count(2),
                   std::clamp(Moved(topMargin_ - 1, count(1)), topMargin_, bottomMargin_));
      } else {
        MoveCursor(count(2), count(1));
      }
      return true;
    case ecReverseIndex:
      ReverseLineFeed();
      return true;
    case ecIndex:
      LineFeed();
      return true;
    case ecNextLine:
      CarriageReturn();
      LineFeed();
      return true;
    case ecClearToLineEnd:
      EraseLineFrom(cursor_.col, row);
      return true;
    case ecClearToLineStart:
      buffer_.EraseLineTo(cursor_.col, row);
      MarkCells(1, cursor_.col, row);
      return true;
    case ecClearToScreenEnd:
      EraseScreenFrom(cursor_.col, row);
      return true;
    case ecClearToScreenStart:
      buffer_.EraseScreenTo(cursor_.col, row);
      MarkRows(1, row - 1);
      MarkCells(1, cursor_.col, row);
      return true;
    // Erasing a line or the screen leaves the cursor where it is, as on the DEC terminals.
    case ecClearLine:
      EraseLineFrom(1, row);
      return true;
    case ecClearScreen:
      EraseScreenFrom(1, 1);
      return true;
    case ecInsertLines:
    case ecDeleteLines:
      if (row >= topMargin_ && row <= bottomMargin_) {
        if (code == ecInsertLines) {
          buffer_.ScrollDown(row, bottomMargin_, count(1));
        } else {
          buffer_.ScrollUp(row, bottomMargin_, count(1));
        }
        MarkRows(row, bottomMargin_);
      }
      return true;
    case ecInsertChars:
      buffer_.InsertCells(cursor_.col, row, count(1));
      MarkCells(cursor_.col, columns_, row);
      return true;
    case ecDeleteChars:
      buffer_.DeleteCells(cursor_.col, row, count(1));
      MarkCells(cursor_.col, columns_, row);
      return true;
    case ecEraseChars:
      buffer_.EraseCells(cursor_.col, row, count(1));
      MarkCells(cursor_.col, columns_, row);
      return true;
    case ecScrollRegion:
      SetMargins(params);
      return true;
    case ecDesignateG0:
    case ecDesignateG1:
      SetCharset(code == ecDesignateG0 ? 0 : 1, params);
      return true;
    case ecTabSet:
      buffer_.SetTabStop(cursor_.col, true);
      return true;
    case ecTabClear:
      buffer_.SetTabStop(cursor_.col, false);
      return true;
    case ecTabClearAll:
      buffer_.ClearAllTabStops();
      return true;
    case ecIdentifyQuery: {
      TParamList& list = params != nullptr ? *params : reply;
      list = {"2"};
      SendReply(ecIdentifyReply, &list);
      return true;
    }
    case ecStatusQuery:
      SendReply(ecStatusOk, nullptr);
      return true;
    case ecPositionQuery: {
      TParamList& list = params != nullptr ? *params : reply;
      list = {std::to_string(cursor_.row), std::to_string(cursor_.col)};
      SendReply(ecPositionReport, &list);
      return true;
    }
    case ecCharAttributes:
      SetAttributes(params);
      return true;
    case ecModeSet:
      SetMode(params, true);
      return true;
    case ecModeReset:
      SetMode(params, false);
      return true;
    case ecResetTerminal:
      ResetTerminal();
      return true;
    case ecSaveCursorAttr:
      SaveCursor(true);
      return true;
    case ecRestoreCursorAttr:
      RestoreCursor(true);
      return true;
    case ecSaveCursor:
      SaveCursor(false);
      return true;
    case ecRestoreCursor:
      RestoreCursor(false);
      return true;
    case ecAlignmentTest:
      FillScreen('E');
      return true;
    case ecUnrecognised:
    case ecIncomplete:
    case ecIdentifyReply:
    case ecStatusOk:
    case ecStatusFault:
    case ecPositionReport:
      return false;
  }
  return false;
}

// ---- the bound port ---------------------------------------------------------------------

void TComTerminal::SetComPort(::TCustomComPort* port) {
  if (port == comPort_) return;
  if (comPort_ != nullptr) {
    comPort_->RemoveFreeNotification(this);
    comPort_->DetachLink(&link_);
  }
  comPort_ = port;
  if (comPort_ != nullptr) {
    // A port destroyed first leaves the terminal unbound; its link list goes with it.
    comPort_->FreeNotification(this, [this] { comPort_ = nullptr; });
    comPort_->AttachLink(&link_);
  }
}

void TComTerminal::SetConnected(bool on) {
  if (comPort_ != nullptr) comPort_->SetConnected(on);
}

void TComTerminal::SendChar(std::uint8_t ch) {
  if (comPort_ == nullptr || !Connected()) return;
  comPort_->SendText(std::string(1, static_cast<char>(ch)));
  if (localEcho_) PutChar(ch);
  if (ch == '\r' && sendLF_) SendChar('\n');
}

void TComTerminal::SendCode(TEscapeCode code, TParamList* params) {
  if (comPort_ == nullptr || !Connected() || !codec_) return;
  const std::string text = codec_->CodeToText(code, params);
  if (!text.empty()) comPort_->SendText(text);
  if (localEcho_) PerformAction(code, params);
}

void TComTerminal::SendReply(TEscapeCode code, TParamList* params) {
  if (comPort_ == nullptr || !Connected() || !codec_) return;
  const std::string text = codec_->CodeToText(code, params);
  if (!text.empty()) comPort_->SendText(text);
}

void TComTerminal::ReceiveBlock(TCustomComPort&, const std::uint8_t* bytes, std::int32_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
  if (appendLF_) {
    for (std::size_t i = text.find('\r'); i != std::string::npos; i = text.find('\r', i + 2))
      text.insert(i + 1, 1, '\n');
  }
  // "Force incoming data to 7 bit ASCII": the eighth bit is cleared.
  if (force7Bit_) {
    for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
  }
  if (OnStrRecieved) OnStrRecieved(*this, text);
  PutText(text);
}

// ---- cursor movements -------------------------------------------------------------------

void TComTerminal::CarriageReturn() {
  cursor_.col = 1;
  cursor_.wrapPending = false;
}

// At the bottom margin the region scrolls; below it the cursor stops at the last row.
void TComTerminal::LineFeed() {
  cursor_.wrapPending = false;
  if (cursor_.row == bottomMargin_) {
    ScrollRegion(topMargin_, 1);
  } else if (cursor_.row < rows_) {
    ++cursor_.row;
  }
}

void TComTerminal::ReverseLineFeed() {
  cursor_.wrapPending = false;
  if (cursor_.row == topMargin_) {
    ScrollRegion(topMargin_, -1);
  } else if (cursor_.row > 1) {
    --cursor_.row;
  }
}

// With no tab stop to the right the VT102 screen goes to the last column; the other
// emulations leave the cursor where it is.
void TComTerminal::Tab() {
  int t = buffer_.NextTab(cursor_.col + 1);
  if (t == 0 && emulation_ == teVT100orANSI) t = columns_;
  if (t != 0 && t != cursor_.col) {
    cursor_.col = t;
    cursor_.wrapPending = false;
  }
}

void TComTerminal::Backspace() {
  cursor_.col = std::max(cursor_.col - 1, 1);
  cursor_.wrapPending = false;
}

// Up and down stop at the margin when the cursor starts inside the region.
void TComTerminal::MoveRelative(int dcol, int drow) {
  int row = cursor_.row;
  if (drow < 0) {
    row = std::max(Moved(row, drow), row >= topMargin_ ? topMargin_ : 1);
  } else if (drow > 0) {
    row = std::min(Moved(row, drow), row <= bottomMargin_ ? bottomMargin_ : rows_);
  }
  MoveCursor(Moved(cursor_.col, dcol), row);
}

void TComTerminal::HomeCursor() {
  MoveCursor(1, cursor_.origin ? topMargin_ : 1);
}

// ---- buffer changes ---------------------------------------------------------------------

void TComTerminal::ScrollRegion(int top, int n) {
  if (n > 0) {
    buffer_.ScrollUp(top, bottomMargin_, n);
  } else {
    buffer_.ScrollDown(top, bottomMargin_, -n);
  }
  if (top == 1 && bottomMargin_ == rows_ && (n == 1 || n == -1)) {
    MarkScreenScrolled(n);
  } else {
    MarkRows(top, bottomMargin_);
  }
}

// The whole screen moved by one line (1 up, -1 down): the rows' marks move with it and the
// repaint becomes a pixel scroll, unless the scrolls pending reverse or fill the screen.
void TComTerminal::MarkScreenScrolled(int by) {
  if (dirtyAll_) return;
  if (pendingScroll_ * by < 0 || std::abs(pendingScroll_ + by) >= rows_) {
    MarkAll();
    return;
  }
  pendingScroll_ += by;
  if (by > 0) {
    std::rotate(dirty_.begin(), dirty_.begin() + 1, dirty_.end());
    dirty_.back() = DirtySpan{};
    MarkCells(1, columns_, rows_);
  } else {
    std::rotate(dirty_.rbegin(), dirty_.rbegin() + 1, dirty_.rend());
    dirty_.front() = DirtySpan{};
    MarkCells(1, columns_, 1);
  }
}

void TComTerminal::EraseLineFrom(int col, int row) {
  buffer_.EraseLineFrom(col, row);
  MarkCells(col, columns_, row);
}

void TComTerminal::EraseScreenFrom(int col, int row) {
  buffer_.EraseScreenFrom(col, row);
  MarkCells(col, columns_, row);
  MarkRows(row + 1, rows_);
}

void TComTerminal::FillScreen(std::uint8_t ch) {
  buffer_.Fill(TTermCell{ch, fontColorRgb_, colorRgb_, false});
  MarkAll();
}

void TComTerminal::SetAttributes(const TParamList* params) {
  if (params == nullptr || params->empty()) {
    cursor_.reverse = cursor_.bold = cursor_.underline = false;
    return;
  }
  const int count = static_cast<int>(params->size());
  for (int n = 1; n <= count; ++n) {
    // An empty parameter is 0, as an empty list is.
    switch (TEscapeCodes::ParamOr(n, params, 0)) {
      case 0:
        cursor_.reverse = cursor_.bold = cursor_.underline = false;
        break;
      case 1:
        cursor_.bold = true;
        break;
      case 4:
        cursor_.underline = true;
        break;
      case 7:
        cursor_.reverse = true;
        break;
      case 21:
      case 22:
        cursor_.bold = false;
        break;
      case 24:
        cursor_.underline = false;
        break;
      case 27:
        cursor_.reverse = false;
        break;
      default:
        break;
    }
  }
}

// Every parameter names a mode; a leading "?" makes them all DEC private modes.
void TComTerminal::SetMode(const TParamList* params, bool on) {
  if (params == nullptr || params->empty()) return;
  const bool isPrivate = !params->front().empty() && params->front()[0] == '?';
  for (std::size_t n = 0; n < params->size(); ++n) {
    std::string text = (*params)[n];
    if (n == 0 && isPrivate) text.erase(0, 1);
    const TParamList one{text};
    const int mode = TEscapeCodes::ParamOr(1, &one, -1);
    if (mode >= 0) SetOneMode(isPrivate, mode, on);
  }
}

void TComTerminal::SetOneMode(bool isPrivate, int mode, bool on) {
  if (!isPrivate) {
    if (mode == 4) insertMode_ = on;
    if (mode == 7) wrapLines_ = on;  // the program's own short form of auto-wrap
    return;
  }
  switch (mode) {
    case 1:
      appCursorKeys_ = on;
      break;
    case 5:  // DECSCNM: the whole screen in reverse video
      if (screenReverse_ != on) {
        screenReverse_ = on;
        MarkAll();
      }
      break;
    case 3:
      SetColumns(on ? 132 : 80);
      topMargin_ = 1;
      bottomMargin_ = rows_;
      HomeCursor();
      break;
    case 6:
      cursor_.origin = on;
      HomeCursor();
      break;
    case 7:
      wrapLines_ = on;
      if (!on) cursor_.wrapPending = false;
      break;
    default:
      break;
  }
}

// Top and bottom margin; both must leave at least two rows, else nothing changes.
void TComTerminal::SetMargins(const TParamList* params) {
  const int top = std::max(TEscapeCodes::ParamOr(1, params, 1), 1);
  const int bottom = std::min(std::max(TEscapeCodes::ParamOr(2, params, rows_), 1), rows_);
  if (top >= bottom) return;
  topMargin_ = top;
  bottomMargin_ = bottom;
  HomeCursor();
}

void TComTerminal::SetCharset(int which, const TParamList* params) {
  if (params == nullptr || params->empty() || params->front().size() != 1) return;
  Charset set = csAscii;
  switch (params->front()[0]) {
    case '0':
      set = csGraphics;
      break;
    case 'A':
      set = csUk;
      break;
    default:
      break;
  }
  cursor_.charsets[static_cast<std::size_t>(which)] = set;
}

// RIS: screen, cursor, modes, margins, tab stops, character sets and attributes as new.
void TComTerminal::ResetTerminal() {
  cursor_ = {};
  saved_ = {};
  appCursorKeys_ = insertMode_ = false;
  if (screenReverse_) {
    screenReverse_ = false;
    MarkAll();
  }
  wrapLines_ = wrapSetting_;
  topMargin_ = 1;
  bottomMargin_ = rows_;
  Reallocate();
  MoveCursor(1, 1);
}

void TComTerminal::SaveCursor(bool withAttributes) {
  if (withAttributes) {
    saved_ = cursor_;
  } else {
    saved_.col = cursor_.col;
    saved_.row = cursor_.row;
  }
}

void TComTerminal::RestoreCursor(bool withAttributes) {
  MoveCursor(saved_.col, saved_.row);
  if (withAttributes) {
    // The position as MoveCursor has clamped it, everything else as it was saved.
    CursorState restored = saved_;
    restored.col = cursor_.col;
    restored.row = cursor_.row;
    cursor_ = restored;
  }
}

// A shrunken grid must not leave the cursor, or the position it returns to, outside it.
void TComTerminal::ClampCursors() {
  cursor_.col = std::clamp(cursor_.col, 1, columns_);
  cursor_.row = std::clamp(cursor_.row, 1, rows_);
  saved_.col = std::min(saved_.col, columns_);
  saved_.row = std::min(saved_.row, rows_);
  if (bottomMargin_ > rows_ || topMargin_ >= bottomMargin_) {
    topMargin_ = 1;
    bottomMargin_ = rows_;
  }
}

void TComTerminal::Reallocate() {
  buffer_.Allocate(columns_, rows_);
  dirty_.assign(static_cast<std::size_t>(rows_), DirtySpan{});
  pendingScroll_ = 0;
  ClampCursors();
  MarkAll();
}

void TComTerminal::CreateCodec() {
  ++codecGeneration_;
  codec_.reset();
  switch (emulation_) {
    case teVT100orANSI:
      codec_ = std::make_unique<TEscapeCodesVT100>();
      break;
    case teVT52:
      codec_ = std::make_unique<TEscapeCodesVT52>();
      break;
    case teNone: {
      std::unique_ptr<TEscapeCodes> supplied;
      if (OnGetEscapeCodes) OnGetEscapeCodes(*this, supplied);
      codec_ = std::move(supplied);
      break;
    }
  }
}

// ---- properties -------------------------------------------------------------------------

void TComTerminal::SetColumns(int columns) {
  columns = std::clamp(columns, kMinColumns, kMaxColumns);
  if (columns == columns_) return;
  Batch batch(*this);
  columns_ = columns;
  Reallocate();
  ApplyAutoSize();
  UpdateScrollBars();
}

void TComTerminal::SetRows(int rows) {
  rows = std::clamp(rows, kMinRows, kMaxRows);
  if (rows == rows_) return;
  Batch batch(*this);
  rows_ = rows;
  topMargin_ = 1;
  bottomMargin_ = rows_;
  Reallocate();
  ApplyAutoSize();
  UpdateScrollBars();
}

void TComTerminal::SetEmulation(TTermEmulation emulation) {
  if (emulation == emulation_) return;
  emulation_ = emulation;
  CreateCodec();
}

void TComTerminal::SetCaret(TTermCaret caret) {
  if (caret == caret_) return;
  const bool recreate = caretExists_ || hasFocus();
  if (recreate) DestroyCaret();
  caret_ = caret;
  if (recreate) CreateCaret();
}

void TComTerminal::SetSmoothScroll(bool on) {
  smoothScroll_ = on;
  horizontalScrollBar()->setTracking(on);
  verticalScrollBar()->setTracking(on);
}

void TComTerminal::SetScrollBars(TScrollStyle style) {
  scrollBars_ = style;
  ApplyScrollBarPolicy();
  UpdateScrollBars();
}

void TComTerminal::ApplyScrollBarPolicy() {
  const bool horizontal = scrollBars_ == ssHorizontal || scrollBars_ == ssBoth;
  const bool vertical = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
  setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  // A bar that goes away must not leave the view panned with no way back.
  if (!horizontal) horizontalScrollBar()->setRange(0, 0);
  if (!vertical) verticalScrollBar()->setRange(0, 0);
}

void TComTerminal::SetBorderStyle(TBorderStyle style) {
  borderStyle_ = style;
  if (style == bsSingle) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  } else {
    setFrameStyle(QFrame::NoFrame);
  }
  ApplyAutoSize();
  UpdateScrollBars();
}

void TComTerminal::SetColor(const QColor& color) {
  color_ = color;
  colorRgb_ = ToRgb(color);
  QPalette palette = viewport()->palette();
  palette.setColor(QPalette::Base, color);
  palette.setColor(QPalette::Window, color);
  viewport()->setPalette(palette);
  viewport()->update();
  unpaintedUpdates_ = true;
}

void TComTerminal::SetAltColor(const QColor& color) {
  altColor_ = color;
  altColorRgb_ = ToRgb(color);
}

void TComTerminal::SetFontColor(const QColor& color) {
  fontColor_ = color;
  fontColorRgb_ = ToRgb(color);
}

void TComTerminal::SetAutoSize(bool on) {
  autoSize_ = on;
  ApplyAutoSize();
}

QSize TComTerminal::sizeHint() const {
  const int border = 2 * frameWidth();
  return {columns_ * cellWidth_ + border, rows_ * cellHeight_ + border};
}

// A terminal placed by a layout (as the main window's is) keeps the size it is given.
void TComTerminal::ApplyAutoSize() {
  updateGeometry();
  if (!autoSize_) return;
  if (!isWindow() && parentWidget() != nullptr && parentWidget()->layout() != nullptr) return;
  resize(sizeHint());
}

// ---- font -------------------------------------------------------------------------------

namespace {

// Advances of the printable 8-bit characters: the glyphs a cell can hold.
struct Advances {
  int widest = 0;
  bool asciiEqual = true;  // all of 32..126 alike: fixed-pitch as far as the terminal cares
};

Advances MeasureAdvances(const QFontMetrics& metrics) {
  Advances result;
  const int first = metrics.horizontalAdvance(QLatin1Char(' '));
  for (int code = 32; code <= 255; ++code) {
    if (code > 126 && code < 160) continue;
    const int advance = metrics.horizontalAdvance(QChar(static_cast<char16_t>(code)));
    result.widest = std::max(result.widest, advance);
    if (advance != first && code <= 126) result.asciiEqual = false;
  }
  return result;
}

bool IsFixedPitch(const QFont& font) {
  // fontconfig does not flag every monospaced face (Noto Sans Mono has a few wide glyphs
  // outside 8 bits), so the advances decide as well.
  return QFontInfo(font).fixedPitch() || MeasureAdvances(QFontMetrics(font)).asciiEqual;
}

}  // namespace

void TComTerminal::MeasureFont() {
  if (measuring_) return;
  QFont wanted = font();
  if (wanted.underline()) wanted.setUnderline(false);
  if (!IsFixedPitch(wanted)) {
    const QString family = DefaultTermFont().family();
    wanted.setFamilies({family});
    wanted.setFamily(family);
  }
  if (wanted != font()) {
    measuring_ = true;
    setFont(wanted);
    measuring_ = false;
  }
  const QFontMetrics metrics(font());
  const Advances advances = MeasureAdvances(metrics);
  cellHeight_ = std::max(metrics.height(), 1);
  cellWidth_ = std::max(advances.widest, 1);
  fontAscent_ = metrics.ascent();
  // Glyphs are placed cell by cell: advances of a scalable font are fractions of a pixel, so
  // text laid out in one piece would drift off the grid.
  rawFont_ = QRawFont::fromFont(font());
  for (int code = 0; code < 256; ++code) {
    const QList<quint32> glyph =
        rawFont_.isValid()
            ? rawFont_.glyphIndexesForString(QString(DisplayChar(static_cast<std::uint8_t>(code))))
            : QList<quint32>{};
    glyphs_[static_cast<std::size_t>(code)] = glyph.size() == 1 ? glyph[0] : 0;
  }
  for (std::size_t k = 0; k < graphicGlyphs_.size(); ++k) {
    const QChar shown(static_cast<char16_t>(DecGraphic(static_cast<std::uint8_t>(0x60 + k))));
    const QList<quint32> glyph =
        rawFont_.isValid() ? rawFont_.glyphIndexesForString(QString(shown)) : QList<quint32>{};
    graphicGlyphs_[k] = glyph.size() == 1 ? glyph[0] : 0;
  }
  cellImages_.clear();
  if (caretExists_) caretHeight_ = caret_ == tcBlock ? cellHeight_ : cellHeight_ / 8;
}

void TComTerminal::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange && !measuring_) {
    Batch batch(*this);
    MeasureFont();
    ApplyAutoSize();
    UpdateScrollBars();
    MarkAll();
  }
}

// ---- scroll bars ------------------------------------------------------------------------

void TComTerminal::UpdateScrollBars() {
  if (scrollBars_ == ssNone || updatingScrollBars_) return;
  updatingScrollBars_ = true;
  QScrollBar* hbar = horizontalScrollBar();
  QScrollBar* vbar = verticalScrollBar();
  const bool hasH = scrollBars_ == ssHorizontal || scrollBars_ == ssBoth;
  const bool hasV = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
  const int hExtent = hbar->sizeHint().height();
  const int vExtent = vbar->sizeHint().width();
  // The client area as it would be without bars.
  const QSize full = maximumViewportSize();

  // Qt shows and hides the bars later, so the client size each bar leaves is worked out here.
  auto hRangeFor = [&](int width) {
    const int visible = width / cellWidth_;
    return std::pair{visible, visible < columns_ ? columns_ - visible : 0};
  };
  int clientWidth = full.width();
  int clientHeight = full.height();
  auto [hVisible, hMax] = hRangeFor(clientWidth);
  if (hasH && hMax > 0) clientHeight -= hExtent;
  if (hasV) {
    const int vVisible = clientHeight / cellHeight_;
    const int vMax = vVisible < rows_ ? rows_ - vVisible : 0;
    vbar->setRange(0, vMax);
    vbar->setPageStep(std::max(vVisible, 1));
    if (vMax > 0) clientWidth -= vExtent;
  }
  if (hasH) {
    if (clientWidth != full.width()) std::tie(hVisible, hMax) = hRangeFor(clientWidth);
    hbar->setRange(0, hMax);
    hbar->setPageStep(std::max(hVisible, 1));
  }
  if (hasH) viewCol_ = hbar->value() + 1;
  if (hasV) viewRow_ = vbar->value() + 1;
  updatingScrollBars_ = false;
}

void TComTerminal::HandleScrollAction(Qt::Orientation orientation, int action) {
  QScrollBar* bar = orientation == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
  if (action == QAbstractSlider::SliderToMinimum || action == QAbstractSlider::SliderToMaximum) {
    bar->setSliderPosition(bar->value());
  }
}

void TComTerminal::scrollContentsBy(int dx, int dy) {
  const int oldCol = viewCol_;
  const int oldRow = viewRow_;
  if (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth) {
    viewCol_ = horizontalScrollBar()->value() + 1;
  }
  if (scrollBars_ == ssVertical || scrollBars_ == ssBoth) {
    viewRow_ = verticalScrollBar()->value() + 1;
  }
  dx = (oldCol - viewCol_) * cellWidth_;
  dy = (oldRow - viewRow_) * cellHeight_;
  if (dx == 0 && dy == 0) return;
  if (batchDepth_ > 0 || unpaintedUpdates_ || frameTimer_.isActive()) {
    MarkAll();
    if (batchDepth_ == 0) Flush();
    return;
  }
  viewport()->scroll(dx, dy);
  viewport()->update(caretPainted_.translated(dx, dy));
  viewport()->update(CaretRect());
  caretPainted_ = CaretRect();
  unpaintedUpdates_ = true;
}

// ---- repaint bookkeeping ----------------------------------------------------------------

void TComTerminal::MarkCells(int col1, int col2, int row) {
  if (dirtyAll_ || row < 1 || row > rows_) return;
  DirtySpan& span = dirty_[static_cast<std::size_t>(row - 1)];
  if (span.first == 0) {
    span = {col1, col2};
  } else {
    span.first = std::min(span.first, col1);
    span.last = std::max(span.last, col2);
  }
}

void TComTerminal::MarkRows(int row1, int row2) {
  for (int r = row1; r <= row2; ++r) MarkCells(1, columns_, r);
}

void TComTerminal::MarkAll() {
  dirtyAll_ = true;
}

QRect TComTerminal::CellsRect(int col1, int col2, int row1, int row2) const {
  const int left = std::max((col1 - viewCol_) * cellWidth_, 0);
  const int right = std::max((col2 - viewCol_ + 1) * cellWidth_, 0);
  const int top = std::max((row1 - viewRow_) * cellHeight_, 0);
  const int bottom = std::max((row2 - viewRow_ + 1) * cellHeight_, 0);
  return {QPoint(left, top), QPoint(right - 1, bottom - 1)};
}

QRect TComTerminal::CaretRect() const {
  if (!caretExists_) return {};
  return {(cursor_.col - viewCol_) * cellWidth_,
          (cursor_.row - viewRow_) * cellHeight_ + cellHeight_ - caretHeight_, cellWidth_,
          caretHeight_};
}

void TComTerminal::SetFrameInterval(int ms) {
  frameIntervalMs_ = std::max(ms, 0);
  if (frameIntervalMs_ == 0 && frameTimer_.isActive() && batchDepth_ == 0) Flush();
}

void TComTerminal::SetFrameClock(std::function<std::int64_t()> nowMs) {
  frameClock_ = std::move(nowMs);
}

void TComTerminal::FlushPaced() {
  if (frameIntervalMs_ > 0) {
    // The frame's flush takes these changes along.
    if (frameTimer_.isActive()) return;
    const std::int64_t since = FrameNow() - lastFrameMs_;
    if (framed_ && since >= 0 && since < frameIntervalMs_) {
      paintedWhileDeferred_ = false;
      frameTimer_.start(static_cast<int>(frameIntervalMs_ - since));
      return;
    }
  }
  Flush();
}

std::int64_t TComTerminal::FrameNow() const {
  if (frameClock_) return frameClock_();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TComTerminal::Flush() {
  frameTimer_.stop();
  if (frameIntervalMs_ > 0) {
    lastFrameMs_ = FrameNow();
    framed_ = true;
  }
  QWidget* view = viewport();
  const int visibleRows = std::max(view->height() / cellHeight_, 1);
  // A paint while the marks waited for their frame drew the buffer as it is now: its pixels
  // cannot be moved by the scroll the marks recorded.
  const bool paintedMeanwhile = std::exchange(paintedWhileDeferred_, false);
  const bool stalePixels = unpaintedUpdates_ || paintedMeanwhile;
  if (pendingScroll_ != 0 && (stalePixels || std::abs(pendingScroll_) >= visibleRows)) {
    // Pixels that have not been painted yet cannot be moved; a long scroll redraws anyway.
    dirtyAll_ = true;
  }
  if (dirtyAll_) {
    view->update();
  } else {
    if (pendingScroll_ != 0) {
      const int dy = -pendingScroll_ * cellHeight_;
      const QRect area(0, 0, std::min(view->width(), columns_ * cellWidth_),
                       std::min(view->height(), rows_ * cellHeight_));
      view->scroll(0, dy, area);
      view->update(caretPainted_.translated(0, dy));
    }
    // Rows with the same changed span are merged into one rectangle.
    for (int r = 1; r <= rows_;) {
      const DirtySpan span = dirty_[static_cast<std::size_t>(r - 1)];
      if (span.first == 0) {
        ++r;
        continue;
      }
      int last = r;
      while (last < rows_) {
        const DirtySpan next = dirty_[static_cast<std::size_t>(last)];
        if (next.first != span.first || next.last != span.last) break;
        ++last;
      }
      view->update(CellsRect(span.first, span.last, r, last));
      r = last + 1;
    }
    view->update(caretPainted_);
    view->update(CaretRect());
  }
  caretPainted_ = CaretRect();
  // Writing restarts the blink with the caret on, as a text caret does while typing.
  if (caretExists_) RestartBlink();
  std::fill(dirty_.begin(), dirty_.end(), DirtySpan{});
  pendingScroll_ = 0;
  dirtyAll_ = false;
  unpaintedUpdates_ = true;
  if (QAccessible::isActive()) NotifyTerminalChanged(*this);
}

// ---- painting ---------------------------------------------------------------------------

void TComTerminal::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QRect area = event->rect();
  const int firstCol = area.left() / cellWidth_ + 1;
  int lastCol = std::min(area.right() / cellWidth_ + 1, columns_);
  const int firstRow = area.top() / cellHeight_ + 1;
  int lastRow = std::min(area.bottom() / cellHeight_ + 1, rows_);
  lastCol = std::min(lastCol, columns_ - viewCol_ + 1);
  lastRow = std::min(lastRow, rows_ - viewRow_ + 1);

  // A reverse screen swaps the colours of every cell, blank ones included.
  if (screenReverse_) painter.fillRect(area, fontColor_);
  if (!CopyCells(painter, event->region(), firstCol, lastCol, firstRow, lastRow)) {
    for (int r = firstRow; r <= lastRow; ++r) {
      for (int c = firstCol; c <= lastCol; ++c) {
        const TTermCell& cell = buffer_.Cell(c + viewCol_ - 1, r + viewRow_ - 1);
        if (cell.Ch == 0) continue;
        DrawCell(painter, (c - 1) * cellWidth_, (r - 1) * cellHeight_, cell,
                 screenReverse_ ? cell.Back : cell.Fore, screenReverse_ ? cell.Fore : cell.Back);
      }
    }
  }

  if (caretExists_ && caretBlinkOn_) {
    const QRect caret = CaretRect();
    if (caret.intersects(area)) {
      painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      painter.fillRect(caret, Qt::white);
    }
  }
  unpaintedUpdates_ = false;
  if (frameTimer_.isActive()) paintedWhileDeferred_ = true;
}

void TComTerminal::DrawCell(QPainter& painter, int x, int y, const TTermCell& cell, TColor fore,
                            TColor back) const {
  painter.fillRect(x, y, cellWidth_, cellHeight_, FromRgb(back));
  painter.setPen(FromRgb(fore));
  const quint32 glyph = cell.Graphic ? graphicGlyphs_[cell.Ch - 0x60] : glyphs_[cell.Ch];
  if (glyph != 0) {
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes({glyph});
    run.setPositions({QPointF(0, fontAscent_)});
    painter.drawGlyphRun(QPointF(x, y), run);
  } else {
    painter.drawText(x, y + fontAscent_, QString(ShownChar(cell)));
  }
  if (cell.Underline) {
    const int underlineY = y + fontAscent_ + 1;
    painter.drawLine(x, underlineY, x + cellWidth_ - 1, underlineY);
  }
}

const QImage& TComTerminal::CellImage(const TTermCell& cell, TColor fore, TColor back,
                                      QImage::Format format) {
  if (format != cellImagesFormat_ || cellImages_.size() >= 4096) {
    cellImages_.clear();
    cellImagesFormat_ = format;
  }
  const std::uint64_t key = static_cast<std::uint64_t>(cell.Ch) |
                            static_cast<std::uint64_t>(cell.Graphic) << 8 |
                            static_cast<std::uint64_t>(cell.Underline) << 9 |
                            static_cast<std::uint64_t>(fore & 0xFFFFFF) << 10 |
                            static_cast<std::uint64_t>(back & 0xFFFFFF) << 34;
  auto [at, added] = cellImages_.try_emplace(key);
  if (added) {
    at->second = QImage(cellWidth_, cellHeight_, format);
    QPainter painter(&at->second);
    painter.setFont(font());
    DrawCell(painter, 0, 0, cell, fore, back);
  }
  return at->second;
}

bool TComTerminal::CopyCells(QPainter& painter, const QRegion& region, int firstCol, int lastCol,
                             int firstRow, int lastRow) {
  // Only an image of 32-bit pixels at one pixel a point, drawn on with no more than an
  // offset, takes copies; anything else (printing, a grab into a pixmap) is painted.
  QPaintDevice* device = painter.device();
  if (device == nullptr || device->devType() != QInternal::Image) return false;
  auto* image = static_cast<QImage*>(device);
  const QImage::Format format = image->format();
  if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) return false;
  if (image->devicePixelRatio() != 1.0) return false;
  const QTransform transform = painter.deviceTransform();
  if (transform.type() > QTransform::TxTranslate) return false;
  const int dx = static_cast<int>(transform.dx());
  const int dy = static_cast<int>(transform.dy());
  if (dx != transform.dx() || dy != transform.dy()) return false;
  // The painter writes straight into the image's pixels; so do these copies (no detach).
  auto* bits = const_cast<uchar*>(std::as_const(*image).constBits());
  const qsizetype stride = image->bytesPerLine();
  const QRect bounds = image->rect().translated(-dx, -dy);
  for (const QRect& part : region) {
    const QRect clip = part & bounds & viewport()->rect();
    if (clip.isEmpty()) continue;
    const int c1 = std::max(firstCol, clip.left() / cellWidth_ + 1);
    const int c2 = std::min(lastCol, clip.right() / cellWidth_ + 1);
    const int r1 = std::max(firstRow, clip.top() / cellHeight_ + 1);
    const int r2 = std::min(lastRow, clip.bottom() / cellHeight_ + 1);
    for (int r = r1; r <= r2; ++r) {
      const int row = r + viewRow_ - 1;
      for (int c = c1; c <= c2; ++c) {
        const TTermCell& cell = buffer_.Cell(c + viewCol_ - 1, row);
        if (cell.Ch == 0) continue;
        const QImage& look = screenReverse_ ? CellImage(cell, cell.Back, cell.Fore, format)
                                            : CellImage(cell, cell.Fore, cell.Back, format);
        const QRect cellRect((c - 1) * cellWidth_, (r - 1) * cellHeight_, cellWidth_, cellHeight_);
        const QRect shown = cellRect & clip;
        const auto bytes = static_cast<std::size_t>(shown.width()) * 4;
        for (int y = shown.top(); y <= shown.bottom(); ++y) {
          const uchar* from = look.constScanLine(y - cellRect.top()) +
                              static_cast<std::ptrdiff_t>(shown.left() - cellRect.left()) * 4;
          uchar* to = bits + static_cast<qsizetype>(y + dy) * stride +
                      static_cast<qsizetype>(shown.left() + dx) * 4;
          std::memcpy(to, from, bytes);
        }
      }
    }
  }
  return true;
}

void TComTerminal::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

// ---- focus, caret and keyboard ----------------------------------------------------------

void TComTerminal::CreateCaret() {
  if (caret_ == tcNone) return;
  caretExists_ = true;
  caretHeight_ = caret_ == tcBlock ? cellHeight_ : cellHeight_ / 8;
  RestartBlink();
  caretPainted_ = CaretRect();
  viewport()->update(caretPainted_);
  unpaintedUpdates_ = true;
}

void TComTerminal::RestartBlink() {
  caretBlinkOn_ = true;
  caretBlinkedMs_ = 0;
  caretTimer_.start();
}

void TComTerminal::DestroyCaret() {
  if (!caretExists_) return;
  caretExists_ = false;
  caretTimer_.stop();
  viewport()->update(caretPainted_);
  caretPainted_ = QRect();
  unpaintedUpdates_ = true;
}

void TComTerminal::ShowCaret(bool on) {
  if (on) {
    CreateCaret();
  } else {
    DestroyCaret();
  }
}

void TComTerminal::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  ShowCaret(true);
}

void TComTerminal::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  ShowCaret(false);
}

void TComTerminal::mousePressEvent(QMouseEvent* event) {
  if ((focusPolicy() & Qt::ClickFocus) != 0 && isEnabled()) setFocus(Qt::MouseFocusReason);
  QAbstractScrollArea::mousePressEvent(event);
}

bool TComTerminal::focusNextPrevChild(bool next) {
  if (wantTab_) return false;
  return QAbstractScrollArea::focusNextPrevChild(next);
}

void TComTerminal::keyPressEvent(QKeyEvent* event) {
  // A key shows the caret steady again, whether or not the line echoes it.
  if (caretExists_ && !caretBlinkOn_) viewport()->update(CaretRect());
  if (caretExists_) RestartBlink();
  TEscapeCode code = ecUnrecognised;
  switch (event->key()) {
    case Qt::Key_Home:
      code = ecHome;
      break;
    case Qt::Key_Left:
      code = ecLeft;
      break;
    case Qt::Key_Up:
      code = ecUp;
      break;
    case Qt::Key_Right:
      code = ecRight;
      break;
    case Qt::Key_Down:
      code = ecDown;
      break;
    default:
      break;
  }
  if (code != ecUnrecognised) {
    if (appCursorKeys_) {
      switch (code) {
        case ecUp:
          SendCode(ecAppUp, nullptr);
          break;
        case ecDown:
          SendCode(ecAppDown, nullptr);
          break;
        case ecLeft:
          SendCode(ecAppLeft, nullptr);
          break;
        case ecRight:
          SendCode(ecAppRight, nullptr);
          break;
        default:
          break;
      }
    } else if (arrowKeys_ == akTerminal) {
      SendCode(code, nullptr);
    } else {
      PerformAction(code, nullptr);
    }
    event->accept();
    return;
  }
  const QString text = event->text();
  if (text.isEmpty()) {
    event->ignore();
    return;
  }
  for (QChar ch : text) {
    if (const int byte = CodeOfChar(ch); byte >= 0) SendChar(static_cast<std::uint8_t>(byte));
  }
  event->accept();
}

}  // namespace kvel
