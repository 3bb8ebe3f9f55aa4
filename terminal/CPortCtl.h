#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRawFont>
#include <QTimer>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "CPortCtlBuffer.h"
#include "CPortEsc.h"

#include "CPort.h"

namespace kvel {

enum TTermEmulation { teVT100orANSI, teVT52, teNone };
enum TTermCaret { tcBlock, tcUnderline, tcNone };
enum TArrowKeys { akTerminal, akWindows };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TBorderStyle { bsNone, bsSingle };

// The character-cell terminal: keeps a TComTermBuffer, interprets written bytes through an
// escape codec, paints the cells with a caret and pans a larger grid with its scroll bars.
class TComTerminal : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TComTerminal(QWidget* parent = nullptr);
  ~TComTerminal() override;

  // ---- writing ----
  void PutText(const std::string& text);
  void PutBytes(const std::uint8_t* bytes, std::size_t count);
  void PutChar(std::uint8_t ch);
  void ClearScreen();
  void MoveCursor(int col, int row);
  void WriteScreenText(std::ostream& out) const;
  // Carries out a decoded code; false when the code has no action. Queries replace `params`.
  bool PerformAction(TEscapeCode code, TParamList* params);

  // ---- the bound port: sending, and receiving through the port's link ----
  void SendChar(std::uint8_t ch);
  void SendCode(TEscapeCode code, TParamList* params);
  void SendReply(TEscapeCode code, TParamList* params);
  void ReceiveBlock(TCustomComPort& sender, const std::uint8_t* bytes, std::int32_t count);

  // Runs the modal setup dialog on this terminal; OK writes its settings back.
  void RunSetupDialog();

  // ---- properties ----
  int Columns() const { return columns_; }
  void SetColumns(int columns);
  int Rows() const { return rows_; }
  void SetRows(int rows);
  TTermEmulation Emulation() const { return emulation_; }
  void SetEmulation(TTermEmulation emulation);
  TTermCaret Caret() const { return caret_; }
  void SetCaret(TTermCaret caret);
  TArrowKeys ArrowKeys() const { return arrowKeys_; }
  void SetArrowKeys(TArrowKeys keys) { arrowKeys_ = keys; }
  bool LocalEcho() const { return localEcho_; }
  void SetLocalEcho(bool on) { localEcho_ = on; }
  bool SendLF() const { return sendLF_; }
  void SetSendLF(bool on) { sendLF_ = on; }
  bool AppendLF() const { return appendLF_; }
  void SetAppendLF(bool on) { appendLF_ = on; }
  bool Force7Bit() const { return force7Bit_; }
  void SetForce7Bit(bool on) { force7Bit_ = on; }
  bool WrapLines() const { return wrapLines_; }
  // The setting; the host's auto-wrap mode changes the current value until a reset.
  void SetWrapLines(bool on) { wrapLines_ = wrapSetting_ = on; }
  bool SmoothScroll() const { return smoothScroll_; }
  void SetSmoothScroll(bool on);
  bool WantTab() const { return wantTab_; }
  void SetWantTab(bool on) { wantTab_ = on; }
  QColor AltColor() const { return altColor_; }
  void SetAltColor(const QColor& color);
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle style);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle style);
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  // The colour of unattributed text (a Qt font has no colour of its own).
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  QFont TermFont() const { return font(); }
  void SetTermFont(const QFont& font) { setFont(font); }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool on);
  ::TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(::TCustomComPort* port);
  bool Connected() const { return comPort_ != nullptr && comPort_->Connected(); }
  void SetConnected(bool on);

  // ---- state ----
  int CursorCol() const { return cursor_.col; }
  int CursorRow() const { return cursor_.row; }
  int ViewCol() const { return viewCol_; }
  int ViewRow() const { return viewRow_; }
  int CellWidth() const { return cellWidth_; }
  int CellHeight() const { return cellHeight_; }
  bool AppCursorKeys() const { return appCursorKeys_; }
  bool InsertMode() const { return insertMode_; }
  bool OriginMode() const { return cursor_.origin; }
  // DECSCNM: the screen is shown in reverse video (the cells keep their colours).
  bool ScreenReverse() const { return screenReverse_; }
  // A character went into the last column: the wrap waits for the next printable one.
  bool WrapPending() const { return cursor_.wrapPending; }
  int TopMargin() const { return topMargin_; }
  int BottomMargin() const { return bottomMargin_; }
  bool Bold() const { return cursor_.bold; }
  bool Reverse() const { return cursor_.reverse; }
  bool Underline() const { return cursor_.underline; }
  const TComTermBuffer& Buffer() const { return buffer_; }
  const TEscapeCodes* EscapeCodes() const { return codec_.get(); }
  // Whether the caret currently exists (the control has the focus and Caret is not tcNone).
  bool HasCaret() const { return caretExists_; }
  // The caret blinks for a while after the last key, output or focus change, then stays on,
  // so that a window nobody uses does not wake twice a second for it.
  bool CaretBlinking() const { return caretTimer_.isActive(); }
  bool CaretBlinkOn() const { return caretBlinkOn_; }
  static constexpr int kCaretBlinkTimeoutMs = 5000;
  void SetCaretBlinkTimeout(int ms) { caretBlinkTimeoutMs_ = ms; }

  // While text keeps coming, paints at most one frame every `ms`: text after a quiet spell
  // is painted at once, what follows within the frame together at its end. 0 (the default)
  // paints every write at once. The buffer itself always changes at once.
  void SetFrameInterval(int ms);
  int FrameInterval() const { return frameIntervalMs_; }
  // The monotonic milliseconds the frame pace is measured with (a steady clock by default).
  void SetFrameClock(std::function<std::int64_t()> nowMs);
  // Whether written text waits for the end of its frame to be painted.
  bool FramePending() const { return frameTimer_.isActive(); }

  void UpdateScrollBars();
  QSize sizeHint() const override;

  // The character a byte shows as: the program's texts are in the Windows-1252 code page.
  static QChar DisplayChar(std::uint8_t ch);
  // The byte a typed character stands for in that code page, -1 for none.
  static int CodeOfChar(QChar ch);

  // The font every terminal starts with, and whose face replaces a font that is not
  // fixed-pitch: the platform's fixed-width system font at 9 points.
  static QFont DefaultTermFont();

  // ---- events ----
  std::function<void(TComTerminal& sender, std::uint8_t ch)> OnChar;
  std::function<void(TComTerminal& sender, std::unique_ptr<TEscapeCodes>& codes)> OnGetEscapeCodes;
  std::function<void(TComTerminal& sender, std::string& text)> OnStrRecieved;
  std::function<void(TComTerminal& sender, TEscapeCode code, const std::string& data)>
      OnUnhandledCode;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  class Batch;
  friend class Batch;

  // Character sets that G0 and G1 can hold.
  enum Charset : std::uint8_t { csAscii, csUk, csGraphics };

  void WriteChar(std::uint8_t ch);
  template <class Codec, bool Framed>
  std::size_t FeedBytes(Codec* codec, const std::uint8_t* bytes, std::size_t from,
                        std::size_t count);
  // Writes the printable bytes (32 and up) at the start of `bytes` as WriteChar would, one
  // row at a time; returns how many it took (at least one when the first is printable).
  std::size_t PutPrintableRun(const std::uint8_t* bytes, std::size_t count);
  void CreateCodec();
  void Reallocate();
  void MeasureFont();
  void ApplyAutoSize();
  void CarriageReturn();
  void LineFeed();
  void ReverseLineFeed();
  void Tab();
  void Backspace();
  // Scrolls the rows from `top` to the bottom margin by n rows: up for n > 0, down for n < 0.
  void ScrollRegion(int top, int n);
  void EraseLineFrom(int col, int row);
  void EraseScreenFrom(int col, int row);
  void SetMargins(const TParamList* params);
  void MoveRelative(int dcol, int drow);
  void HomeCursor();
  void ResetTerminal();
  void SetCharset(int which, const TParamList* params);
  void FillScreen(std::uint8_t ch);
  void SetAttributes(const TParamList* params);
  void SetMode(const TParamList* params, bool on);
  void SetOneMode(bool isPrivate, int mode, bool on);
  void SaveCursor(bool withAttributes);
  void RestoreCursor(bool withAttributes);
  void ClampCursors();
  void ApplyScrollBarPolicy();
  void HandleScrollAction(Qt::Orientation orientation, int action);

  // Repaint bookkeeping: changes are collected per buffer row while a batch is open and
  // turned into update() rectangles and at most one pixel scroll when it closes.
  void MarkCells(int col1, int col2, int row);
  void MarkRows(int row1, int row2);
  void MarkAll();
  void MarkScreenScrolled(int by);
  void Flush();
  // Flush, or leave it to the end of the frame while text keeps coming.
  void FlushPaced();
  std::int64_t FrameNow() const;
  QRect CellsRect(int col1, int col2, int row1, int row2) const;
  QRect CaretRect() const;
  void ShowCaret(bool on);
  void CreateCaret();
  void DestroyCaret();
  void RestartBlink();
  // Draws one cell (glyph or fallback text, underline) at (x, y) in the cell's own colours.
  void DrawCell(QPainter& painter, int x, int y, const TTermCell& cell, TColor fore,
                TColor back) const;
  const QImage& CellImage(const TTermCell& cell, TColor fore, TColor back, QImage::Format format);
  // Copies the non-blank cells of the window cells given into the painter's image, clipped
  // to `region`; false (nothing drawn) when the painter does not draw on a plain image.
  bool CopyCells(QPainter& painter, const QRegion& region, int firstCol, int lastCol, int firstRow,
                 int lastRow);

  // Where the cursor stands and what it writes with: the live state, and the copy that
  // save cursor keeps (all of it, or the position alone) for restore cursor.
  struct CursorState {
    int col = 1;
    int row = 1;
    bool reverse = false;
    bool bold = false;
    bool underline = false;
    bool origin = false;  // rows count from the top margin
    bool wrapPending = false;
    std::array<Charset, 2> charsets{csAscii, csAscii};
    int shift = 0;  // 0: G0 is in use (SI), 1: G1 (SO)
  };

  struct DirtySpan {
    int first = 0;  // 0 = clean
    int last = 0;
  };

  TComTermBuffer buffer_;
  std::unique_ptr<TEscapeCodes> codec_;
  std::uint32_t codecGeneration_ = 0;  // counts the codecs made, so a replaced one is noticed
  ::TCustomComPort* comPort_ = nullptr;
  TComLink link_;

  int columns_ = 80;
  int rows_ = 24;
  TTermEmulation emulation_ = teVT100orANSI;
  TTermCaret caret_ = tcBlock;
  TArrowKeys arrowKeys_ = akTerminal;
  bool localEcho_ = false;
  bool sendLF_ = false;
  bool appendLF_ = false;
  bool force7Bit_ = false;
  bool wrapLines_ = false;
  bool smoothScroll_ = false;
  bool wantTab_ = false;
  bool autoSize_ = false;
  QColor altColor_{166, 166, 166};
  TScrollStyle scrollBars_ = ssBoth;
  TBorderStyle borderStyle_ = bsSingle;
  QColor color_{0, 0, 0};
  QColor fontColor_{255, 255, 255};
  TColor colorRgb_ = 0x000000;
  TColor fontColorRgb_ = 0xFFFFFF;
  TColor altColorRgb_ = 0xA6A6A6;

  int viewCol_ = 1;
  int viewRow_ = 1;
  int cellWidth_ = 8;
  int cellHeight_ = 16;
  int fontAscent_ = 12;
  QRawFont rawFont_;
  std::array<quint32, 256> glyphs_{};        // glyph of each byte in rawFont_, 0 when it has none
  std::array<quint32, 31> graphicGlyphs_{};  // the same for the special graphics 0x60..0x7E
  // Each cell look (character, colours, underline) drawn once into an image of the window's
  // pixel format: painting a screen then copies pixels instead of blending every glyph.
  std::unordered_map<std::uint64_t, QImage> cellImages_;
  QImage::Format cellImagesFormat_ = QImage::Format_Invalid;
  CursorState cursor_;
  CursorState saved_;
  bool appCursorKeys_ = false;
  bool wrapSetting_ = false;
  bool insertMode_ = false;
  bool screenReverse_ = false;
  int topMargin_ = 1;
  int bottomMargin_ = 24;

  bool caretExists_ = false;
  int caretHeight_ = 0;
  bool caretShown_ = false;
  bool caretBlinkOn_ = true;
  int caretBlinkTimeoutMs_ = kCaretBlinkTimeoutMs;
  int caretBlinkedMs_ = 0;  // since the blink last started
  QRect caretPainted_;
  QTimer caretTimer_;

  int batchDepth_ = 0;
  bool batchPaced_ = false;  // the open batch only writes text: its flush may wait a frame
  int frameIntervalMs_ = 0;
  std::function<std::int64_t()> frameClock_;
  std::int64_t lastFrameMs_ = 0;
  bool framed_ = false;  // lastFrameMs_ holds a frame
  QTimer frameTimer_;
  bool paintedWhileDeferred_ = false;  // pixels newer than the marks: no pixel scroll
  std::vector<DirtySpan> dirty_;
  int pendingScroll_ = 0;  // net rows scrolled up in the open batch
  bool scrollMixed_ = false;
  bool dirtyAll_ = false;
  bool unpaintedUpdates_ = false;
  bool updatingScrollBars_ = false;
  bool measuring_ = false;
};

}  // namespace kvel
