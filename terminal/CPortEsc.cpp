#include "CPortEsc.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace kvel {

namespace {

std::string Esc(const char* rest) {
  return std::string("\033") + rest;
}

}  // namespace

int TEscapeCodes::GetParam(int n, const TParamList* params) {
  if (params == nullptr || n < 1 || static_cast<std::size_t>(n) > params->size()) return 1;
  const std::string& text = (*params)[static_cast<std::size_t>(n - 1)];
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  int value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return 1;
  return value;
}

int TEscapeCodes::ParamOr(int n, const TParamList* params, int fallback) {
  if (params == nullptr || n < 1 || static_cast<std::size_t>(n) > params->size()) return fallback;
  const std::string& text = (*params)[static_cast<std::size_t>(n - 1)];
  if (text.empty()) return fallback;
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) return INT_MAX;
  if (error != std::errc() || end != text.data() + text.size()) return fallback;
  return value;
}

TParamList TEscapeCodes::SplitParams(const std::string& text) {
  TParamList list;
  SplitParams(text.data(), text.size(), list);
  return list;
}

void TEscapeCodes::SplitParams(const char* text, std::size_t length, TParamList& list) {
  list.clear();
  if (length == 0) return;
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == ';') {
      list.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  list.emplace_back(text + start, length - start);
}

// ---- VT100
// -------------------------------------------------------------------------------

[[gnu::noinline]] TFeedResult TEscapeCodesVT100::FeedRest(std::uint8_t byte) {
  return Feed(byte, [this](std::uint8_t b) { return Decode(b); });
}

TEscapeCode TEscapeCodesVT100::Decode(std::uint8_t byte) {
  if ((state_ & kControl) != 0) {
    if (byte >= 0x40 && byte <= 0x7E) return DecodeControl(static_cast<char>(byte));
    if (byte >= 0x30 && byte <= 0x3F) {
      // A private marker may only lead ("?" is kept on the first parameter,
      // "?1"); ":" and the other markers make the sequence one this terminal
      // ignores.
      if ((state_ & kIntermediate) != 0 || byte == ':') {
        state_ |= kMalformed;
      } else if (byte >= 0x3C) {
        state_ |= data_.size() == 2 && byte == '?' ? kPrivate : kMalformed;
      }
    } else if (byte >= 0x20 && byte <= 0x2F) {
      state_ |= kIntermediate;
    } else {
      state_ |= kMalformed;  // an 8-bit byte has no place in a control sequence
    }
    return ecIncomplete;
  }
  if ((state_ & kSs3) != 0) {
    switch (byte) {
      case 'A':
        return ecAppUp;
      case 'B':
        return ecAppDown;
      case 'C':
        return ecAppRight;
      case 'D':
        return ecAppLeft;
      default:
        return ecUnrecognised;
    }
  }
  return DecodeEscape(byte);
}

// After ESC: intermediates 0x20..0x2F, then one final byte.
TEscapeCode TEscapeCodesVT100::DecodeEscape(std::uint8_t byte) {
  if (byte >= 0x20 && byte <= 0x2F) return ecIncomplete;
  if (byte >= 0x7F) return ecUnrecognised;
  const std::size_t size = data_.size();
  if (size == 1) {
    switch (byte) {
      case '[':
        state_ |= kControl;
        return ecIncomplete;
      case 'O':
        state_ |= kSs3;
        return ecIncomplete;
      case '7':
        return ecSaveCursorAttr;
      case '8':
        return ecRestoreCursorAttr;
      case 'H':
        return ecTabSet;
      case 'c':
        return ecResetTerminal;
      case 'D':
        return ecIndex;
      case 'E':
        return ecNextLine;
      case 'M':
        return ecReverseIndex;
      default:
        return ecUnrecognised;
    }
  }
  if (size != 2) return ecUnrecognised;
  switch (data_[0]) {
    case '#':
      return byte == '8' ? ecAlignmentTest : ecUnrecognised;
    case '(':
    case ')':
      params_.assign(1, std::string(1, static_cast<char>(byte)));
      return data_[0] == '(' ? ecDesignateG0 : ecDesignateG1;
    default:
      return ecUnrecognised;
  }
}

TEscapeCode TEscapeCodesVT100::DecodeControl(char final) {
  if ((state_ & (kMalformed | kIntermediate)) != 0) return ecUnrecognised;
  if ((state_ & kPrivate) != 0 && final != 'h' && final != 'l' && final != 'c') {
    return ecUnrecognised;
  }
  const char* text = data_.data() + 1;
  const std::size_t length = data_.size() - 2;
  // For J, K, g and n the value of the first parameter selects the code and no
  // list is handed on: it is read where it stands. Only digits and ";" are left
  // in the text here; a value too large for any key stays too large.
  if (final == 'J' || final == 'K' || final == 'g' || final == 'n') {
    int value = 0;
    for (std::size_t i = 0; i < length && text[i] != ';'; ++i) {
      value = std::min(value * 10 + (text[i] - '0'), 1000);
    }
    switch (final) {
      case 'J':
        return value == 0   ? ecClearToScreenEnd
               : value == 1 ? ecClearToScreenStart
               : value == 2 ? ecClearScreen
                            : ecUnrecognised;
      case 'K':
        return value == 0   ? ecClearToLineEnd
               : value == 1 ? ecClearToLineStart
               : value == 2 ? ecClearLine
                            : ecUnrecognised;
      case 'g':
        return value == 0 ? ecTabClear : value == 3 ? ecTabClearAll : ecUnrecognised;
      default:
        if (length == 0) return ecUnrecognised;
        return value == 5   ? ecStatusQuery
               : value == 6 ? ecPositionQuery
               : value == 0 ? ecStatusOk
               : value == 3 ? ecStatusFault
                            : ecUnrecognised;
    }
  }
  SplitParams(text, length, params_);
  switch (final) {
    case 'A':
      return ecUp;
    case 'B':
      return ecDown;
    case 'C':
      return ecRight;
    case 'D':
      return ecLeft;
    case 'H':
      return ecHome;
    case 'f':
      return ecGoto;
    case 'R':
      return ecPositionReport;
    case 'h':
      return ecModeSet;
    case 'l':
      return ecModeReset;
    case 'm':
      return ecCharAttributes;
    case 's':
      return ecSaveCursor;
    case 'u':
      return ecRestoreCursor;
    case 'L':
      return ecInsertLines;
    case 'M':
      return ecDeleteLines;
    case '@':
      return ecInsertChars;
    case 'P':
      return ecDeleteChars;
    case 'X':
      return ecEraseChars;
    case 'r':
      return ecScrollRegion;
    case 'c':
      if (params_.empty() || (params_.size() == 1 && params_[0] == "0")) return ecIdentifyQuery;
      if (params_.size() == 2 && params_[0] == "?1") return ecIdentifyReply;
      return ecUnrecognised;
    default:
      return ecUnrecognised;
  }
}

namespace {

// The codes whose text has no parameters in it, with that text after its ESC.
struct FixedText {
  TEscapeCode code;
  const char* text;
};

constexpr FixedText kVt100Texts[] = {
    {ecUp, "[A"},
    {ecDown, "[B"},
    {ecLeft, "[D"},
    {ecRight, "[C"},
    {ecHome, "[H"},
    {ecAppLeft, "OD"},
    {ecAppRight, "OC"},
    {ecAppUp, "OA"},
    {ecAppDown, "OB"},
    {ecClearToLineEnd, "[K"},
    {ecClearToScreenEnd, "[J"},
    {ecClearLine, "[2K"},
    {ecClearScreen, "[2J"},
    {ecTabSet, "H"},
    {ecTabClear, "[g"},
    {ecTabClearAll, "[3g"},
    {ecIdentifyQuery, "[c"},
    {ecStatusQuery, "[5n"},
    {ecStatusOk, "[0n"},
    {ecStatusFault, "[3n"},
    {ecPositionQuery, "[6n"},
    {ecCharAttributes, "[m"},
    {ecModeSet, "[h"},
    {ecModeReset, "[l"},
    {ecResetTerminal, "c"},
    {ecSaveCursorAttr, "7"},
    {ecRestoreCursorAttr, "8"},
    {ecSaveCursor, "[s"},
    {ecRestoreCursor, "[u"},
    {ecAlignmentTest, "#8"},
    {ecClearToLineStart, "[1K"},
    {ecClearToScreenStart, "[1J"},
    {ecScrollRegion, "[r"},
    {ecIndex, "D"},
    {ecNextLine, "E"},
};

constexpr FixedText kVt52Texts[] = {
    {ecUp, "A"},
    {ecDown, "B"},
    {ecLeft, "D"},
    {ecRight, "C"},
    {ecHome, "H"},
    {ecReverseIndex, "I"},
    {ecClearToLineEnd, "K"},
    {ecClearToScreenEnd, "J"},
    {ecIdentifyQuery, "Z"},
    {ecIdentifyReply, "/Z"},
};

// ESC and the code's text from the table; empty text for a code the table does
// not have.
template <std::size_t N>
std::string TextOf(const FixedText (&table)[N], TEscapeCode code) {
  for (const FixedText& entry : table) {
    if (entry.code == code) return Esc(entry.text);
  }
  return {};
}

}  // namespace

std::string TEscapeCodesVT100::CodeToText(TEscapeCode code, const TParamList* params) const {
  auto p = [params](int n) { return std::to_string(GetParam(n, params)); };
  switch (code) {
    case ecGoto:
      return Esc("[") + p(1) + ";" + p(2) + "f";
    case ecIdentifyReply:
      return Esc("[?1;") + p(1) + "c";
    case ecPositionReport:
      return Esc("[") + p(1) + ";" + p(2) + "R";
    case ecInsertLines:
      return Esc("[") + p(1) + "L";
    case ecDeleteLines:
      return Esc("[") + p(1) + "M";
    case ecInsertChars:
      return Esc("[") + p(1) + "@";
    case ecDeleteChars:
      return Esc("[") + p(1) + "P";
    case ecEraseChars:
      return Esc("[") + p(1) + "X";
    default:
      return TextOf(kVt100Texts, code);
  }
}

// ---- VT52
// --------------------------------------------------------------------------------

[[gnu::noinline]] TFeedResult TEscapeCodesVT52::FeedRest(std::uint8_t byte) {
  return Feed(byte, [this](std::uint8_t) { return Decode(); });
}

TEscapeCode TEscapeCodesVT52::Decode() {
  switch (data_[0]) {
    case 'Y':
      if (data_.size() < 3) return ecIncomplete;
      // Row and column travel as one byte each, offset by 31 so that 1 is a
      // blank.
      params_ = {std::to_string(static_cast<std::uint8_t>(data_[1]) - 31),
                 std::to_string(static_cast<std::uint8_t>(data_[2]) - 31)};
      return ecGoto;
    case '/':
      if (data_.size() < 2) return ecIncomplete;
      return data_ == "/Z" ? ecIdentifyReply : ecUnrecognised;
    default:
      // A one-letter sequence is the code this terminal sends with that letter.
      for (const FixedText& entry : kVt52Texts) {
        if (entry.text[0] == data_[0] && entry.text[1] == 0) return entry.code;
      }
      return ecUnrecognised;
  }
}

std::string TEscapeCodesVT52::CodeToText(TEscapeCode code, const TParamList* params) const {
  if (code != ecGoto) return TextOf(kVt52Texts, code);
  std::string text = Esc("Y");
  // Only the low byte goes out; unsigned, so no parameter overflows.
  text.push_back(static_cast<char>(static_cast<unsigned>(GetParam(1, params)) + 31u));
  text.push_back(static_cast<char>(static_cast<unsigned>(GetParam(2, params)) + 31u));
  return text;
}

}  // namespace kvel
