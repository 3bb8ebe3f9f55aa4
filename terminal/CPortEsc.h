#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvel {

// Action codes of the escape sequences; the ordinal values are reported to handlers.
enum TEscapeCode {
  ecUnrecognised,
  ecIncomplete,
  ecUp,
  ecDown,
  ecLeft,
  ecRight,
  ecHome,
  ecGoto,
  ecReverseIndex,
  ecAppLeft,
  ecAppRight,
  ecAppUp,
  ecAppDown,
  ecClearToLineEnd,
  ecClearToScreenEnd,
  ecClearLine,
  ecClearScreen,
  ecTabSet,
  ecTabClear,
  ecTabClearAll,
  ecIdentifyQuery,
  ecIdentifyReply,
  ecStatusQuery,
  ecStatusOk,
  ecStatusFault,
  ecPositionQuery,
  ecPositionReport,
  ecCharAttributes,
  ecModeSet,
  ecModeReset,
  ecResetTerminal,
  ecSaveCursorAttr,
  ecRestoreCursorAttr,
  ecSaveCursor,
  ecRestoreCursor,
  ecAlignmentTest
};

// What one fed byte turned out to be.
enum TFeedResult { frCharacter, frCode, frAbsorbed };

// Parameter texts of a control sequence, in order.
using TParamList = std::vector<std::string>;

// Turns received bytes into characters and action codes, and codes back into the text a
// terminal of this kind sends. Knows nothing of the screen.
class TEscapeCodes {
 public:
  // An open sequence that reaches this length completes as ecUnrecognised, so a stream
  // that never ends a sequence cannot swallow everything after it or grow without bound.
  static constexpr std::size_t kMaxSequenceLength = 256;

  TEscapeCodes() = default;
  TEscapeCodes(const TEscapeCodes&) = delete;
  TEscapeCodes& operator=(const TEscapeCodes&) = delete;
  virtual ~TEscapeCodes() = default;

  virtual TFeedResult FeedByte(std::uint8_t byte) = 0;
  // Empty text when this kind of terminal has no encoding for the code.
  virtual std::string CodeToText(TEscapeCode code, const TParamList* params) const = 0;

  // Parameter n (1-based) as an integer; 1 when missing or not an integer.
  static int GetParam(int n, const TParamList* params);
  // Splits the parameter text of a control sequence at ";" (see the .cpp for the rules).
  static TParamList SplitParams(const std::string& text);
  // The same, into `list` (emptied first), which keeps its storage from one sequence to the next.
  static void SplitParams(const char* text, std::size_t length, TParamList& list);

  std::uint8_t Character() const { return character_; }
  TEscapeCode Code() const { return code_; }
  const std::string& Data() const { return data_; }
  TParamList& Params() { return params_; }
  const TParamList& Params() const { return params_; }
  bool InSequence() const { return inSequence_; }

 protected:
  // The frame shared by both codecs; `decode` looks at data_ after each appended byte.
  template <class Decode>
  TFeedResult Feed(std::uint8_t byte, Decode decode) {
    if (!inSequence_) {
      if (byte != 27) {
        character_ = byte;
        return frCharacter;
      }
      data_.clear();
      params_.clear();
      inSequence_ = true;
      return frAbsorbed;
    }
    data_.push_back(static_cast<char>(byte));
    TEscapeCode result = decode();
    if (result == ecIncomplete) {
      if (data_.size() < kMaxSequenceLength) return frAbsorbed;
      result = ecUnrecognised;
      params_.clear();
    }
    code_ = result;
    inSequence_ = false;
    EndSequence();
    return frCode;
  }
  virtual void EndSequence() {}

  std::string data_;
  TParamList params_;

 private:
  std::uint8_t character_ = 0;
  TEscapeCode code_ = ecUnrecognised;
  bool inSequence_ = false;
};

// The VT100 / ANSI codec.
class TEscapeCodesVT100 : public TEscapeCodes {
 public:
  TFeedResult FeedByte(std::uint8_t byte) override;
  std::string CodeToText(TEscapeCode code, const TParamList* params) const override;
  bool InControlSequence() const { return inControl_; }

 private:
  TEscapeCode Decode();
  TEscapeCode DecodeControl(char final);
  void EndSequence() override { inControl_ = false; }
  bool inControl_ = false;
};

// The VT52 codec.
class TEscapeCodesVT52 : public TEscapeCodes {
 public:
  TFeedResult FeedByte(std::uint8_t byte) override;
  std::string CodeToText(TEscapeCode code, const TParamList* params) const override;

 private:
  TEscapeCode Decode();
};

}  // namespace kvel
