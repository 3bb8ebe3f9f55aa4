#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
  ecAlignmentTest,
  // The VT102 screen's codes; params hold the counts, margins or the designated set.
  ecClearToLineStart,
  ecClearToScreenStart,
  ecInsertLines,
  ecDeleteLines,
  ecInsertChars,
  ecDeleteChars,
  ecEraseChars,
  ecScrollRegion,
  ecIndex,
  ecNextLine,
  ecDesignateG0,
  ecDesignateG1
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
  // Parameter n as an integer; `fallback` when it is missing, empty or not an integer.
  static int ParamOr(int n, const TParamList* params, int fallback);
  // Splits the parameter text of a control sequence at every ";"; an empty text gives no
  // parameters, an empty field gives an empty parameter (which then takes its default).
  static TParamList SplitParams(const std::string& text);
  // The same, into `list` (emptied first), which keeps its storage from one sequence to the next.
  static void SplitParams(const char* text, std::size_t length, TParamList& list);

  std::uint8_t Character() const { return character_; }
  TEscapeCode Code() const { return code_; }
  // The bytes of the last sequence after its ESC.
  std::string Data() const { return std::string(data_.data(), data_.size()); }
  TParamList& Params() { return params_; }
  const TParamList& Params() const { return params_; }
  bool InSequence() const { return inSequence_; }

 protected:
  // The frame shared by both codecs, as the DEC terminals parse: a control character inside
  // a sequence is carried out where it stands (handed out as a character while the sequence
  // stays open), CAN and SUB abort the sequence, ESC starts a new one and DEL is ignored
  // everywhere. Every other byte is appended to data_ and `decode` looks at it.
  // The common case of Feed, for a codec's own fast path: a printable byte outside a sequence.
  bool FeedPlain(std::uint8_t byte) {
    if (inSequence_ || byte < 32 || byte == 127) return false;
    character_ = byte;
    return true;
  }

  template <class Decode>
  TFeedResult Feed(std::uint8_t byte, Decode decode) {
    if (!inSequence_ && byte >= 32 && byte != 127) {
      character_ = byte;
      return frCharacter;
    }
    if (byte < 32 || byte == 127) {
      if (byte == 27) return Start();
      if (byte == 127) return frAbsorbed;
      if (inSequence_ && (byte == 24 || byte == 26)) {
        inSequence_ = false;
        state_ = 0;
        params_.clear();
        return frAbsorbed;
      }
      character_ = byte;
      return frCharacter;
    }
    if (!inSequence_) {
      character_ = byte;
      return frCharacter;
    }
    data_.push_back(static_cast<char>(byte));
    TEscapeCode result = decode(byte);
    if (result == ecIncomplete) {
      if (data_.size() < kMaxSequenceLength) return frAbsorbed;
      result = ecUnrecognised;
      params_.clear();
    }
    return Complete(result);
  }

  // ESC: a new sequence begins, whatever was open is dropped.
  TFeedResult Start() {
    data_.clear();
    params_.clear();
    inSequence_ = true;
    state_ = 0;
    return frAbsorbed;
  }

  // Ends the open sequence with its code.
  TFeedResult Complete(TEscapeCode result) {
    code_ = result;
    inSequence_ = false;
    state_ = 0;
    return frCode;
  }

  // The bytes of the open sequence, in a fixed array: Feed completes a sequence before it
  // outgrows kMaxSequenceLength, and appending is then a store and an increment.
  class SequenceBytes {
   public:
    void clear() { size_ = 0; }
    void push_back(char c) { bytes_[size_++] = c; }
    std::size_t size() const { return size_; }
    const char* data() const { return bytes_.data(); }
    char operator[](std::size_t i) const { return bytes_[i]; }
    bool operator==(std::string_view text) const {
      return std::string_view(bytes_.data(), size_) == text;
    }

   private:
    std::array<char, kMaxSequenceLength> bytes_{};
    std::size_t size_ = 0;
  };

  SequenceBytes data_;
  TParamList params_;
  std::uint8_t state_ = 0;  // the codec's own flags within a sequence, 0 at its start

 private:
  std::uint8_t character_ = 0;
  TEscapeCode code_ = ecUnrecognised;
  bool inSequence_ = false;
};

// The VT100 / ANSI codec: ESC, intermediates 0x20..0x2F, a final 0x30..0x7E; control
// sequences ESC [ with parameters 0x30..0x3F, intermediates 0x20..0x2F and any final
// 0x40..0x7E (one this codec does not know completes as ecUnrecognised).
class TEscapeCodesVT100 final : public TEscapeCodes {
 public:
  // The bytes that make up most of a stream are decided here, inline for a caller that knows
  // the codec's type: a printable byte outside a sequence, ESC and the "[" after it, a
  // parameter digit or separator of a well-formed control sequence, and its final byte.
  // Everything else is out of line.
  TFeedResult FeedByte(std::uint8_t byte) override {
    if (FeedPlain(byte)) return frCharacter;
    if (byte == 27) return Start();
    if (state_ == 0 && byte == '[' && data_.size() == 0 && InSequence()) {
      data_.push_back('[');
      state_ = kControl;
      return frAbsorbed;
    }
    if ((state_ & ~kPrivate) == kControl) {
      // The room check keeps an open sequence below the bound, where Feed would end it.
      if (static_cast<unsigned>(byte - '0') < 12u && byte != ':' &&
          data_.size() + 1 < kMaxSequenceLength) {
        data_.push_back(static_cast<char>(byte));
        return frAbsorbed;
      }
      if (byte >= 0x40 && byte <= 0x7E) {
        data_.push_back(static_cast<char>(byte));
        return Complete(DecodeControl(static_cast<char>(byte)));
      }
    }
    return FeedRest(byte);
  }
  std::string CodeToText(TEscapeCode code, const TParamList* params) const override;
  bool InControlSequence() const { return (state_ & kControl) != 0; }

 private:
  // Everything but the fast paths of FeedByte, kept out of line so that those stay short.
  TFeedResult FeedRest(std::uint8_t byte);
  TEscapeCode Decode(std::uint8_t byte);
  TEscapeCode DecodeEscape(std::uint8_t byte);
  TEscapeCode DecodeControl(char final);
  static constexpr std::uint8_t kControl = 1;       // after ESC [
  static constexpr std::uint8_t kSs3 = 2;           // after ESC O: one more byte names the key
  static constexpr std::uint8_t kIntermediate = 4;  // a parameter after it is malformed
  static constexpr std::uint8_t kMalformed = 8;     // ignored whole at the final byte
  static constexpr std::uint8_t kPrivate = 16;      // "?" led the parameters
};

// The VT52 codec.
class TEscapeCodesVT52 final : public TEscapeCodes {
 public:
  TFeedResult FeedByte(std::uint8_t byte) override {
    if (FeedPlain(byte)) return frCharacter;
    return FeedRest(byte);
  }
  std::string CodeToText(TEscapeCode code, const TParamList* params) const override;

 private:
  TFeedResult FeedRest(std::uint8_t byte);
  TEscapeCode Decode();
};

}  // namespace kvel
