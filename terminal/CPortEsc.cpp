#include "CPortEsc.h"

#include <charconv>

namespace kvel {

namespace {

std::string Esc(const char* rest) {
  return std::string("\033") + rest;
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
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

// A ";" ends a non-empty token; a ";" that meets an empty token starts it instead, so
// "5;;3" gives "5" and ";3" and ";5" stays one (non-numeric) parameter.
TParamList TEscapeCodes::SplitParams(const std::string& text) {
  TParamList list;
  SplitParams(text.data(), text.size(), list);
  return list;
}

void TEscapeCodes::SplitParams(const char* text, std::size_t length, TParamList& list) {
  list.clear();
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == ';' && i > start) {
      list.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  if (length > start) list.emplace_back(text + start, length - start);
}

// ---- VT100 -------------------------------------------------------------------------------

TFeedResult TEscapeCodesVT100::FeedByte(std::uint8_t byte) {
  return Feed(byte, [this] { return Decode(); });
}

TEscapeCode TEscapeCodesVT100::Decode() {
  if (inControl_) {
    const char last = data_.back();
    return IsLetter(last) ? DecodeControl(last) : ecIncomplete;
  }
  if (data_.size() == 1) {
    switch (data_[0]) {
      case '[':
        inControl_ = true;
        return ecIncomplete;
      case '#':
      case 'O':
        return ecIncomplete;
      case '7':
        return ecSaveCursorAttr;
      case '8':
        return ecRestoreCursorAttr;
      case 'H':
        return ecTabSet;
      case 'c':
        return ecResetTerminal;
      default:
        return ecUnrecognised;
    }
  }
  if (data_ == "#8") return ecAlignmentTest;
  if (data_[0] == 'O') {
    switch (data_[1]) {
      case 'A':
        return ecAppUp;
      case 'B':
        return ecAppDown;
      case 'C':
        return ecAppRight;
      case 'D':
        return ecAppLeft;
      default:
        break;
    }
  }
  return ecUnrecognised;
}

TEscapeCode TEscapeCodesVT100::DecodeControl(char final) {
  SplitParams(data_.data() + 1, data_.size() - 2, params_);
  // For these four only the first character of the first parameter selects the code.
  auto byFirst = [this](TEscapeCode none, char a, TEscapeCode codeA, char b, TEscapeCode codeB) {
    TEscapeCode result = ecUnrecognised;
    if (params_.empty()) {
      result = none;
    } else if (params_[0][0] == a) {
      result = codeA;
    } else if (params_[0][0] == b) {
      result = codeB;
    }
    params_.clear();
    return result;
  };
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
    case 'J':
      return byFirst(ecClearToScreenEnd, '0', ecClearToScreenEnd, '2', ecClearScreen);
    case 'K':
      return byFirst(ecClearToLineEnd, '0', ecClearToLineEnd, '2', ecClearLine);
    case 'g':
      return byFirst(ecTabClear, '0', ecTabClear, '3', ecTabClearAll);
    case 'n': {
      TEscapeCode result = ecUnrecognised;
      if (!params_.empty()) {
        switch (params_[0][0]) {
          case '5':
            result = ecStatusQuery;
            break;
          case '6':
            result = ecPositionQuery;
            break;
          case '0':
            result = ecStatusOk;
            break;
          case '3':
            result = ecStatusFault;
            break;
          default:
            break;
        }
      }
      params_.clear();
      return result;
    }
    case 'c':
      if (params_.empty() || (params_.size() == 1 && params_[0] == "0")) return ecIdentifyQuery;
      if (params_.size() == 2 && params_[0] == "?1") return ecIdentifyReply;
      return ecUnrecognised;
    default:
      return ecUnrecognised;
  }
}

std::string TEscapeCodesVT100::CodeToText(TEscapeCode code, const TParamList* params) const {
  auto p = [params](int n) { return std::to_string(GetParam(n, params)); };
  switch (code) {
    case ecUp:
      return Esc("[A");
    case ecDown:
      return Esc("[B");
    case ecLeft:
      return Esc("[D");
    case ecRight:
      return Esc("[C");
    case ecHome:
      return Esc("[H");
    case ecGoto:
      return Esc("[") + p(1) + ";" + p(2) + "f";
    case ecAppLeft:
      return Esc("OD");
    case ecAppRight:
      return Esc("OC");
    case ecAppUp:
      return Esc("OA");
    case ecAppDown:
      return Esc("OB");
    case ecClearToLineEnd:
      return Esc("[K");
    case ecClearToScreenEnd:
      return Esc("[J");
    case ecClearLine:
      return Esc("[2K");
    case ecClearScreen:
      return Esc("[2J");
    case ecTabSet:
      return Esc("H");
    case ecTabClear:
      return Esc("[g");
    case ecTabClearAll:
      return Esc("[3g");
    case ecIdentifyQuery:
      return Esc("[c");
    case ecIdentifyReply:
      return Esc("[?1;") + p(1) + "c";
    case ecStatusQuery:
      return Esc("[5n");
    case ecStatusOk:
      return Esc("[0n");
    case ecStatusFault:
      return Esc("[3n");
    case ecPositionQuery:
      return Esc("[6n");
    case ecPositionReport:
      return Esc("[") + p(1) + ";" + p(2) + "R";
    case ecCharAttributes:
      return Esc("[m");
    case ecModeSet:
      return Esc("[h");
    case ecModeReset:
      return Esc("[l");
    case ecResetTerminal:
      return Esc("c");
    case ecSaveCursorAttr:
      return Esc("7");
    case ecRestoreCursorAttr:
      return Esc("8");
    case ecSaveCursor:
      return Esc("[s");
    case ecRestoreCursor:
      return Esc("[u");
    case ecAlignmentTest:
      return Esc("#8");
    case ecUnrecognised:
    case ecIncomplete:
    case ecReverseIndex:
      return {};
  }
  return {};
}

// ---- VT52 --------------------------------------------------------------------------------

TFeedResult TEscapeCodesVT52::FeedByte(std::uint8_t byte) {
  return Feed(byte, [this] { return Decode(); });
}

TEscapeCode TEscapeCodesVT52::Decode() {
  switch (data_[0]) {
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
    case 'I':
      return ecReverseIndex;
    case 'J':
      return ecClearToScreenEnd;
    case 'K':
      return ecClearToLineEnd;
    case 'Z':
      return ecIdentifyQuery;
    case 'Y':
      if (data_.size() < 3) return ecIncomplete;
      // Row and column travel as one byte each, offset by 31 so that 1 is a blank.
      params_ = {std::to_string(static_cast<std::uint8_t>(data_[1]) - 31),
                 std::to_string(static_cast<std::uint8_t>(data_[2]) - 31)};
      return ecGoto;
    case '/':
      if (data_.size() < 2) return ecIncomplete;
      return data_ == "/Z" ? ecIdentifyReply : ecUnrecognised;
    default:
      return ecUnrecognised;
  }
}

std::string TEscapeCodesVT52::CodeToText(TEscapeCode code, const TParamList* params) const {
  switch (code) {
    case ecUp:
      return Esc("A");
    case ecDown:
      return Esc("B");
    case ecLeft:
      return Esc("D");
    case ecRight:
      return Esc("C");
    case ecHome:
      return Esc("H");
    case ecGoto: {
      std::string text = Esc("Y");
      // Only the low byte goes out; unsigned, so no parameter overflows.
      text.push_back(static_cast<char>(static_cast<unsigned>(GetParam(1, params)) + 31u));
      text.push_back(static_cast<char>(static_cast<unsigned>(GetParam(2, params)) + 31u));
      return text;
    }
    case ecReverseIndex:
      return Esc("I");
    case ecClearToLineEnd:
      return Esc("K");
    case ecClearToScreenEnd:
      return Esc("J");
    case ecIdentifyQuery:
      return Esc("Z");
    case ecIdentifyReply:
      return Esc("/Z");
    default:
      return {};
  }
}

}  // namespace kvel
