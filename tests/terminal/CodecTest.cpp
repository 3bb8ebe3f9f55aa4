#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "CPortEsc.h"

namespace kvel {
namespace {

// Everything one byte stream decodes to, in order.
struct Decoded {
  std::string chars;
  std::vector<TEscapeCode> codes;
  std::vector<TParamList> params;
  std::vector<std::string> data;
};

Decoded Feed(TEscapeCodes& codec, const std::string& bytes) {
  Decoded out;
  for (char c : bytes) {
    switch (codec.FeedByte(static_cast<std::uint8_t>(c))) {
      case frCharacter:
        out.chars.push_back(static_cast<char>(codec.Character()));
        break;
      case frCode:
        out.codes.push_back(codec.Code());
        out.params.push_back(codec.Params());
        out.data.push_back(codec.Data());
        codec.Params().clear();
        break;
      case frAbsorbed:
        break;
    }
  }
  return out;
}

struct SequenceRow {
  const char* bytes;
  TEscapeCode code;
  TParamList params;
  const char* trailingChars;
};

void PrintTo(const SequenceRow& row, std::ostream* os) {
  std::string shown;
  for (const char* p = row.bytes; *p; ++p)
    shown += *p == 27 ? std::string("ESC") : std::string(1, *p);
  *os << shown;
}

class Vt100Decoding : public ::testing::TestWithParam<SequenceRow> {};

TEST_P(Vt100Decoding, GivesOneCodeWithItsParameters) {
  const SequenceRow& row = GetParam();
  TEscapeCodesVT100 codec;
  const Decoded d = Feed(codec, row.bytes);
  ASSERT_EQ(d.codes.size(), 1u);
  EXPECT_EQ(d.codes[0], row.code);
  EXPECT_EQ(d.params[0], row.params);
  EXPECT_EQ(d.chars, row.trailingChars);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Vt100Decoding,
    ::testing::Values(
        SequenceRow{"\033[5;10H", ecHome, {"5", "10"}, ""}, SequenceRow{"\033[H", ecHome, {}, ""},
        SequenceRow{"\033[10;5f", ecGoto, {"10", "5"}, ""},
        SequenceRow{"\033[2J", ecClearScreen, {}, ""},
        SequenceRow{"\033[J", ecClearToScreenEnd, {}, ""},
        SequenceRow{"\033[0J", ecClearToScreenEnd, {}, ""},
        SequenceRow{"\033[1J", ecClearToScreenStart, {}, ""},
        SequenceRow{"\033[20J", ecUnrecognised, {}, ""},
        SequenceRow{"\033[K", ecClearToLineEnd, {}, ""},
        SequenceRow{"\033[2K", ecClearLine, {}, ""},
        SequenceRow{"\033[1K", ecClearToLineStart, {}, ""},
        SequenceRow{"\033[g", ecTabClear, {}, ""}, SequenceRow{"\033[0g", ecTabClear, {}, ""},
        SequenceRow{"\033[3g", ecTabClearAll, {}, ""},
        SequenceRow{"\033[2g", ecUnrecognised, {}, ""},
        SequenceRow{"\033[n", ecUnrecognised, {}, ""},
        SequenceRow{"\033[5n", ecStatusQuery, {}, ""},
        SequenceRow{"\033[6n", ecPositionQuery, {}, ""}, SequenceRow{"\033[0n", ecStatusOk, {}, ""},
        SequenceRow{"\033[3n", ecStatusFault, {}, ""},
        SequenceRow{"\033[7n", ecUnrecognised, {}, ""},
        SequenceRow{"\033[?1h", ecModeSet, {"?1"}, ""},
        SequenceRow{"\033[?3l", ecModeReset, {"?3"}, ""},
        SequenceRow{"\033[0;1;4m", ecCharAttributes, {"0", "1", "4"}, ""},
        SequenceRow{"\033[m", ecCharAttributes, {}, ""},
        SequenceRow{"\033[c", ecIdentifyQuery, {}, ""},
        SequenceRow{"\033[0c", ecIdentifyQuery, {"0"}, ""},
        SequenceRow{"\033[1c", ecUnrecognised, {"1"}, ""},
        SequenceRow{"\033[?1;2c", ecIdentifyReply, {"?1", "2"}, ""},
        SequenceRow{"\033[?1;2;3c", ecUnrecognised, {"?1", "2", "3"}, ""},
        SequenceRow{"\033[3;7R", ecPositionReport, {"3", "7"}, ""},
        SequenceRow{"\033[s", ecSaveCursor, {}, ""}, SequenceRow{"\033[u", ecRestoreCursor, {}, ""},
        SequenceRow{"\033[4A", ecUp, {"4"}, ""}, SequenceRow{"\033[B", ecDown, {}, ""},
        SequenceRow{"\033[C", ecRight, {}, ""}, SequenceRow{"\033[D", ecLeft, {}, ""},
        SequenceRow{"\033[5z", ecUnrecognised, {"5"}, ""},
        SequenceRow{"\033[\r\nA", ecUp, {}, "\r\n"}, SequenceRow{"\033[1\033[2A", ecUp, {"2"}, ""},
        SequenceRow{"\0337", ecSaveCursorAttr, {}, ""},
        SequenceRow{"\0338", ecRestoreCursorAttr, {}, ""}, SequenceRow{"\033H", ecTabSet, {}, ""},
        SequenceRow{"\033c", ecResetTerminal, {}, ""},
        SequenceRow{"\033#8", ecAlignmentTest, {}, ""},
        SequenceRow{"\033#5x", ecUnrecognised, {}, "x"}, SequenceRow{"\033OA", ecAppUp, {}, ""},
        SequenceRow{"\033OB", ecAppDown, {}, ""}, SequenceRow{"\033OC", ecAppRight, {}, ""},
        SequenceRow{"\033OD", ecAppLeft, {}, ""}, SequenceRow{"\033OEx", ecUnrecognised, {}, "x"},
        SequenceRow{"\033Zx", ecUnrecognised, {}, "x"}, SequenceRow{"\033\033[A", ecUp, {}, ""}));

// Sequences as ECMA-48 and the DEC terminals frame them: any final byte 0x40..0x7E ends a
// control sequence, an unknown one is ignored whole, empty parameters stay in place so that
// they take their defaults, character-set designations are consumed.
INSTANTIATE_TEST_SUITE_P(Framing, Vt100Decoding,
                         ::testing::Values(SequenceRow{"\033[2@X", ecInsertChars, {"2"}, "X"},
                                           SequenceRow{"\033[5~x", ecUnrecognised, {"5"}, "x"},
                                           SequenceRow{"\033[`x", ecUnrecognised, {}, "x"},
                                           SequenceRow{"\033[{x", ecUnrecognised, {}, "x"},
                                           SequenceRow{"\033(BX", ecDesignateG0, {"B"}, "X"},
                                           SequenceRow{"\033)0X", ecDesignateG1, {"0"}, "X"},
                                           SequenceRow{"\033(%5X", ecUnrecognised, {}, "X"},
                                           SequenceRow{"\033 Fx", ecUnrecognised, {}, "x"},
                                           SequenceRow{"\033[;4m", ecCharAttributes, {"", "4"}, ""},
                                           SequenceRow{"\033[1;m", ecCharAttributes, {"1", ""}, ""},
                                           SequenceRow{"\033[;H", ecHome, {"", ""}, ""},
                                           SequenceRow{"\033[0A", ecUp, {"0"}, ""},
                                           SequenceRow{"\033[1 qZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[1 2AZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[?5AZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[>0cZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[1?2hZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[4:3mZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[1\3012AZ", ecUnrecognised, {}, "Z"},
                                           SequenceRow{"\033[?1;7h", ecModeSet, {"?1", "7"}, ""},
                                           SequenceRow{"\033[L", ecInsertLines, {}, ""},
                                           SequenceRow{"\033[3M", ecDeleteLines, {"3"}, ""},
                                           SequenceRow{"\033[2P", ecDeleteChars, {"2"}, ""},
                                           SequenceRow{"\033[4X", ecEraseChars, {"4"}, ""},
                                           SequenceRow{
                                               "\033[2;20r", ecScrollRegion, {"2", "20"}, ""},
                                           SequenceRow{"\033[r", ecScrollRegion, {}, ""},
                                           SequenceRow{"\033D", ecIndex, {}, ""},
                                           SequenceRow{"\033E", ecNextLine, {}, ""},
                                           SequenceRow{"\033M", ecReverseIndex, {}, ""},
                                           SequenceRow{"\033[2J", ecClearScreen, {}, ""},
                                           SequenceRow{"\033[\1772A", ecUp, {"2"}, ""}));

// Control characters inside a sequence are carried out where they stand; CAN and SUB abort
// the sequence; DEL is ignored everywhere.
TEST(CodecControls, InsideASequenceTheyActAndCanOrSubAbort) {
  struct Row {
    const char* bytes;
    const char* chars;
    std::vector<TEscapeCode> codes;
    std::vector<TParamList> params;
  };
  const Row vt100Rows[] = {
      {"\033[2\rA", "\r", {ecUp}, {{"2"}}},
      {"\033[1;\b5H", "\b", {ecHome}, {{"1", "5"}}},
      {"\033(\nB", "\n", {ecDesignateG0}, {{"B"}}},
      {"ab\033[2\030C", "abC", {}, {}},
      {"ab\033[2\032C", "abC", {}, {}},
      {"\033#\0308", "8", {}, {}},
      {"a\177b\177", "ab", {}, {}},
      {"\033\177[2A", "", {ecUp}, {{"2"}}},
      {"\030\032x", "\030\032x", {}, {}},
  };
  for (const Row& row : vt100Rows) {
    TEscapeCodesVT100 codec;
    const Decoded d = Feed(codec, row.bytes);
    EXPECT_EQ(d.chars, row.chars) << row.bytes;
    EXPECT_EQ(d.codes, row.codes) << row.bytes;
    EXPECT_EQ(d.params, row.params) << row.bytes;
    EXPECT_FALSE(codec.InSequence()) << row.bytes;
  }
  const Row vt52Rows[] = {
      {"\033Y\r%*", "\r", {ecGoto}, {{"6", "11"}}},
      {"\033Y%\030*", "*", {}, {}},
      {"\033\rA", "\r", {ecUp}, {{}}},
      {"a\177b", "ab", {}, {}},
  };
  for (const Row& row : vt52Rows) {
    TEscapeCodesVT52 codec;
    const Decoded d = Feed(codec, row.bytes);
    EXPECT_EQ(d.chars, row.chars) << row.bytes;
    EXPECT_EQ(d.codes, row.codes) << row.bytes;
    EXPECT_EQ(d.params, row.params) << row.bytes;
  }
}

class Vt52Decoding : public ::testing::TestWithParam<SequenceRow> {};

TEST_P(Vt52Decoding, GivesOneCodeWithItsParameters) {
  const SequenceRow& row = GetParam();
  TEscapeCodesVT52 codec;
  const Decoded d = Feed(codec, row.bytes);
  ASSERT_EQ(d.codes.size(), 1u);
  EXPECT_EQ(d.codes[0], row.code);
  EXPECT_EQ(d.params[0], row.params);
  EXPECT_EQ(d.chars, row.trailingChars);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Vt52Decoding,
                         ::testing::Values(SequenceRow{"\033A", ecUp, {}, ""},
                                           SequenceRow{"\033B", ecDown, {}, ""},
                                           SequenceRow{"\033C", ecRight, {}, ""},
                                           SequenceRow{"\033D", ecLeft, {}, ""},
                                           SequenceRow{"\033H", ecHome, {}, ""},
                                           SequenceRow{"\033I", ecReverseIndex, {}, ""},
                                           SequenceRow{"\033J", ecClearToScreenEnd, {}, ""},
                                           SequenceRow{"\033K", ecClearToLineEnd, {}, ""},
                                           SequenceRow{"\033Z", ecIdentifyQuery, {}, ""},
                                           SequenceRow{"\033Y%*", ecGoto, {"6", "11"}, ""},
                                           SequenceRow{"\033Y !", ecGoto, {"1", "2"}, ""},
                                           SequenceRow{"\033Y\033A", ecUp, {}, ""},
                                           SequenceRow{"\033/Z", ecIdentifyReply, {}, ""},
                                           SequenceRow{"\033/A", ecUnrecognised, {}, ""},
                                           SequenceRow{"\033OA", ecUnrecognised, {}, "A"},
                                           SequenceRow{"\033[A", ecUnrecognised, {}, "A"},
                                           SequenceRow{"\033\033A", ecUp, {}, ""}));

// A sequence split over reads must decode exactly as when it arrives in one piece.
TEST(CodecSplitting, ByteByByteEqualsWhole) {
  const std::string stream =
      "ab\033[5;10Hxy\033[2J\033[?1;2c\r\n\033OA\033#8\0337\033[0;1;4mZ\033[\r\nA"
      "\033\033q\033[20Jtail";
  for (int kind = 0; kind < 2; ++kind) {
    auto make = [kind]() -> std::unique_ptr<TEscapeCodes> {
      if (kind == 0) return std::make_unique<TEscapeCodesVT100>();
      return std::make_unique<TEscapeCodesVT52>();
    };
    auto whole = make();
    const Decoded expected = Feed(*whole, stream);
    Decoded pieces;
    auto split = make();
    for (char c : stream) {
      const Decoded one = Feed(*split, std::string(1, c));
      pieces.chars += one.chars;
      pieces.codes.insert(pieces.codes.end(), one.codes.begin(), one.codes.end());
      pieces.params.insert(pieces.params.end(), one.params.begin(), one.params.end());
    }
    EXPECT_EQ(pieces.chars, expected.chars) << kind;
    EXPECT_EQ(pieces.codes, expected.codes) << kind;
    EXPECT_EQ(pieces.params, expected.params) << kind;
  }
  TEscapeCodesVT100 vt100;
  const Decoded d = Feed(vt100, stream);
  EXPECT_EQ(d.chars, "abxy\r\nZ\r\ntail");
  EXPECT_EQ(d.codes.size(), 10u);
}

TEST(CodecData, HoldsTheSequenceWithoutEsc) {
  TEscapeCodesVT100 codec;
  const Decoded d = Feed(codec, "\033[1J\033Q");
  ASSERT_EQ(d.data.size(), 2u);
  EXPECT_EQ(d.data[0], "[1J");
  EXPECT_EQ(d.data[1], "Q");
}

// An open sequence that never ends used to swallow the whole rest of the stream.
TEST(CodecBound, EndlessSequenceCompletesAtTheBoundAndTextFollows) {
  for (int kind = 0; kind < 2; ++kind) {
    std::unique_ptr<TEscapeCodes> codec;
    std::string body;
    if (kind == 0) {
      codec = std::make_unique<TEscapeCodesVT100>();
      body = "[" + std::string(10000, '7');
    } else {
      codec = std::make_unique<TEscapeCodesVT100>();
      body = "[?" + std::string(10000, ';');
    }
    const Decoded d = Feed(*codec, "\033" + body + "\r\nok");
    ASSERT_GE(d.codes.size(), 1u) << kind;
    EXPECT_EQ(d.codes[0], ecUnrecognised);
    EXPECT_EQ(d.data[0].size(), TEscapeCodes::kMaxSequenceLength);
    EXPECT_TRUE(d.params[0].empty());
    EXPECT_EQ(d.chars.substr(d.chars.size() - 4), "\r\nok");
  }
  // A real sequence just under the bound still completes normally; its final byte may be
  // the one that reaches the bound, and one parameter byte more completes it unrecognised.
  for (std::size_t length :
       {TEscapeCodes::kMaxSequenceLength - 3, TEscapeCodes::kMaxSequenceLength - 2}) {
    TEscapeCodesVT100 codec;
    const std::string params(length, '1');
    const Decoded d = Feed(codec, "\033[" + params + "A");
    ASSERT_EQ(d.codes.size(), 1u) << length;
    EXPECT_EQ(d.codes[0], ecUp);
    EXPECT_EQ(d.params[0], TParamList{params});
  }
  TEscapeCodesVT100 codec;
  const Decoded d =
      Feed(codec, "\033[" + std::string(TEscapeCodes::kMaxSequenceLength - 1, '1') + "Ax");
  ASSERT_EQ(d.codes.size(), 1u);
  EXPECT_EQ(d.codes[0], ecUnrecognised);
  EXPECT_EQ(d.chars, "Ax");
}

// Parameter bytes are collected without looking at them; what they were is decided at the
// final byte. Long lists, markers out of place and values past any key must still come out
// as they would byte by byte.
TEST(CodecParams, LongListsMarkersAndSelectingValues) {
  std::string text;
  TParamList expected;
  for (int n = 1; n <= 60; ++n) {
    text += (n > 1 ? ";" : "") + std::to_string(n);
    expected.push_back(std::to_string(n));
  }
  const std::string empties(200, ';');
  struct Row {
    std::string bytes;
    TEscapeCode code;
    TParamList params;
  };
  const Row rows[] = {
      {"\033[" + text + "m", ecCharAttributes, expected},
      {"\033[" + empties + "m", ecCharAttributes, TParamList(201)},
      {"\033[?" + text + "h", ecModeSet,
       [&] {
         TParamList marked = expected;
         marked[0] = "?1";
         return marked;
       }()},
      {"\033[?;5h", ecModeSet, {"?", "5"}},
      {"\033[1;?2h", ecUnrecognised, {}},
      {"\033[?1;2:3h", ecUnrecognised, {}},
      {"\033[=1h", ecUnrecognised, {}},
      {"\033[?2J", ecUnrecognised, {}},
      {"\033[002J", ecClearScreen, {}},
      {"\033[2;5J", ecClearScreen, {}},
      {"\033[;2J", ecClearToScreenEnd, {}},
      {"\033[99999999999J", ecUnrecognised, {}},
      {"\033[10000000002K", ecUnrecognised, {}},
      {"\033[1K", ecClearToLineStart, {}},
      {"\033[03g", ecTabClearAll, {}},
      {"\033[;n", ecStatusOk, {}},
      {"\033[6;1n", ecPositionQuery, {}},
      {"\033[1 5J", ecUnrecognised, {}},
  };
  for (const Row& row : rows) {
    TEscapeCodesVT100 whole;
    const Decoded d = Feed(whole, row.bytes + "x");
    ASSERT_EQ(d.codes.size(), 1u) << row.bytes;
    EXPECT_EQ(d.codes[0], row.code) << row.bytes;
    EXPECT_EQ(d.params[0], row.params) << row.bytes;
    EXPECT_EQ(d.chars, "x") << row.bytes;
    // The same through the general interface, one byte per call.
    TEscapeCodesVT100 vt100;
    TEscapeCodes& general = vt100;
    Decoded pieces;
    for (char c : row.bytes) {
      const Decoded one = Feed(general, std::string(1, c));
      pieces.codes.insert(pieces.codes.end(), one.codes.begin(), one.codes.end());
      pieces.params.insert(pieces.params.end(), one.params.begin(), one.params.end());
    }
    EXPECT_EQ(pieces.codes, d.codes) << row.bytes;
    EXPECT_EQ(pieces.params, d.params) << row.bytes;
  }
}

TEST(CodecParams, SplittingRules) {
  EXPECT_EQ(TEscapeCodes::SplitParams("5;10"), (TParamList{"5", "10"}));
  EXPECT_EQ(TEscapeCodes::SplitParams(""), TParamList{});
  EXPECT_EQ(TEscapeCodes::SplitParams("?1"), TParamList{"?1"});
  EXPECT_EQ(TEscapeCodes::SplitParams(";5"), (TParamList{"", "5"}));
  EXPECT_EQ(TEscapeCodes::SplitParams("5;;3"), (TParamList{"5", "", "3"}));
  EXPECT_EQ(TEscapeCodes::SplitParams("5;"), (TParamList{"5", ""}));
  EXPECT_EQ(TEscapeCodes::SplitParams(";;"), (TParamList{"", "", ""}));
}

TEST(CodecParams, ParamOrGivesTheDefaultForMissingAndEmptyFields) {
  const TParamList list{"", "0", "12", "x", "99999999999"};
  EXPECT_EQ(TEscapeCodes::ParamOr(1, &list, 7), 7);
  EXPECT_EQ(TEscapeCodes::ParamOr(2, &list, 7), 0);
  EXPECT_EQ(TEscapeCodes::ParamOr(3, &list, 7), 12);
  EXPECT_EQ(TEscapeCodes::ParamOr(4, &list, 7), 7);
  EXPECT_EQ(TEscapeCodes::ParamOr(5, &list, 7), INT_MAX);
  EXPECT_EQ(TEscapeCodes::ParamOr(6, &list, 7), 7);
  EXPECT_EQ(TEscapeCodes::ParamOr(1, nullptr, 3), 3);
}

TEST(CodecParams, GetParamReadsIntegersAndDefaultsToOne) {
  const TParamList list{"5", ";5", "", "x", "-3", "007", "99999999999", "+4", "4 "};
  EXPECT_EQ(TEscapeCodes::GetParam(1, nullptr), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(1, &list), 5);
  EXPECT_EQ(TEscapeCodes::GetParam(2, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(3, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(4, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(5, &list), -3);
  EXPECT_EQ(TEscapeCodes::GetParam(6, &list), 7);
  EXPECT_EQ(TEscapeCodes::GetParam(7, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(8, &list), 4);
  EXPECT_EQ(TEscapeCodes::GetParam(9, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(10, &list), 1);
  EXPECT_EQ(TEscapeCodes::GetParam(0, &list), 1);
}

struct EncodingRow {
  TEscapeCode code;
  TParamList params;
  bool withList;
  const char* vt100;
  const char* vt52;
};

void PrintTo(const EncodingRow& row, std::ostream* os) {
  *os << "code " << row.code;
}

class Encoding : public ::testing::TestWithParam<EncodingRow> {};

TEST_P(Encoding, GivesTheTerminalsText) {
  const EncodingRow& row = GetParam();
  const TParamList* list = row.withList ? &row.params : nullptr;
  EXPECT_EQ(TEscapeCodesVT100().CodeToText(row.code, list), row.vt100);
  EXPECT_EQ(TEscapeCodesVT52().CodeToText(row.code, list), row.vt52);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Encoding,
    ::testing::Values(EncodingRow{ecUp, {}, false, "\033[A", "\033A"},
                      EncodingRow{ecDown, {}, false, "\033[B", "\033B"},
                      EncodingRow{ecLeft, {}, false, "\033[D", "\033D"},
                      EncodingRow{ecRight, {}, false, "\033[C", "\033C"},
                      EncodingRow{ecHome, {}, false, "\033[H", "\033H"},
                      EncodingRow{ecGoto, {"6", "11"}, true, "\033[6;11f", "\033Y%*"},
                      EncodingRow{ecGoto, {}, false, "\033[1;1f", "\033Y  "},
                      EncodingRow{ecReverseIndex, {}, false, "", "\033I"},
                      EncodingRow{ecAppLeft, {}, false, "\033OD", ""},
                      EncodingRow{ecAppRight, {}, false, "\033OC", ""},
                      EncodingRow{ecAppUp, {}, false, "\033OA", ""},
                      EncodingRow{ecAppDown, {}, false, "\033OB", ""},
                      EncodingRow{ecClearToLineEnd, {}, false, "\033[K", "\033K"},
                      EncodingRow{ecClearToScreenEnd, {}, false, "\033[J", "\033J"},
                      EncodingRow{ecClearLine, {}, false, "\033[2K", ""},
                      EncodingRow{ecClearScreen, {}, false, "\033[2J", ""},
                      EncodingRow{ecTabSet, {}, false, "\033H", ""},
                      EncodingRow{ecTabClear, {}, false, "\033[g", ""},
                      EncodingRow{ecTabClearAll, {}, false, "\033[3g", ""},
                      EncodingRow{ecIdentifyQuery, {}, false, "\033[c", "\033Z"},
                      EncodingRow{ecIdentifyReply, {"2"}, true, "\033[?1;2c", "\033/Z"},
                      EncodingRow{ecStatusQuery, {}, false, "\033[5n", ""},
                      EncodingRow{ecStatusOk, {}, false, "\033[0n", ""},
                      EncodingRow{ecStatusFault, {}, false, "\033[3n", ""},
                      EncodingRow{ecPositionQuery, {}, false, "\033[6n", ""},
                      EncodingRow{ecPositionReport, {"3", "7"}, true, "\033[3;7R", ""},
                      EncodingRow{ecCharAttributes, {"1"}, true, "\033[m", ""},
                      EncodingRow{ecModeSet, {"?1"}, true, "\033[h", ""},
                      EncodingRow{ecModeReset, {}, false, "\033[l", ""},
                      EncodingRow{ecResetTerminal, {}, false, "\033c", ""},
                      EncodingRow{ecSaveCursorAttr, {}, false, "\0337", ""},
                      EncodingRow{ecRestoreCursorAttr, {}, false, "\0338", ""},
                      EncodingRow{ecSaveCursor, {}, false, "\033[s", ""},
                      EncodingRow{ecRestoreCursor, {}, false, "\033[u", ""},
                      EncodingRow{ecAlignmentTest, {}, false, "\033#8", ""},
                      EncodingRow{ecUnrecognised, {}, false, "", ""},
                      EncodingRow{ecIncomplete, {}, false, "", ""}));

// What the encoder writes, the decoder of the same kind reads back as the same code.
TEST(Encoding, RoundTripsThroughTheDecoder) {
  const TParamList goto52{"6", "11"};
  TEscapeCodesVT52 vt52;
  const Decoded d52 = Feed(vt52, vt52.CodeToText(ecGoto, &goto52));
  ASSERT_EQ(d52.codes.size(), 1u);
  EXPECT_EQ(d52.codes[0], ecGoto);
  EXPECT_EQ(d52.params[0], goto52);

  const TParamList report{"12", "40"};
  TEscapeCodesVT100 vt100;
  const Decoded d = Feed(vt100, vt100.CodeToText(ecPositionReport, &report));
  ASSERT_EQ(d.codes.size(), 1u);
  EXPECT_EQ(d.codes[0], ecPositionReport);
  EXPECT_EQ(d.params[0], report);
}

// Random bytes, seeded: every byte is accounted for, nothing grows past the bound.
TEST(CodecRandomInput, StaysBoundedAndAccountsForEveryByte) {
  std::mt19937 random(20240611u);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pick(0, 9);
  TEscapeCodesVT100 vt100;
  TEscapeCodesVT52 vt52;
  const std::string alphabet = "\033[;?0123456789#OY/ZHJKABCDfmhlnc\r\n";
  for (int i = 0; i < 4'000'000; ++i) {
    // Mostly bytes that keep sequences going, so long and odd sequences are common.
    const int value = pick(random) < 7
                          ? static_cast<unsigned char>(
                                alphabet[static_cast<std::size_t>(byte(random)) % alphabet.size()])
                          : byte(random);
    for (TEscapeCodes* codec :
         {static_cast<TEscapeCodes*>(&vt100), static_cast<TEscapeCodes*>(&vt52)}) {
      const TFeedResult result = codec->FeedByte(static_cast<std::uint8_t>(value));
      ASSERT_LE(codec->Data().size(), TEscapeCodes::kMaxSequenceLength);
      if (result == frCharacter) {
        ASSERT_EQ(codec->Character(), value);
      }
      if (result == frCode) {
        ASSERT_NE(codec->Code(), ecIncomplete);
        (void)TEscapeCodes::GetParam(1, &codec->Params());
        codec->Params().clear();
      }
    }
  }
}

}  // namespace
}  // namespace kvel
