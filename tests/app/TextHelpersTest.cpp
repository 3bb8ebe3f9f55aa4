#include <gtest/gtest.h>

#include <string>

#include "KVEL_RepTime.h"
#include "KVEL_Text.h"
#include "ui/Convert.h"

namespace {

struct TextRow {
  std::string input;
  std::string expected;
};

class FilterPrintableTest : public ::testing::TestWithParam<TextRow> {};
TEST_P(FilterPrintableTest, KeepsOnlyBlankToLowercaseZ) {
  EXPECT_EQ(FilterPrintable(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, FilterPrintableTest,
                         ::testing::Values(TextRow{"L48=100\r\n", "L48=100"},
                                           TextRow{"az{|}~", "az"}, TextRow{" \x1f\x7f", " "},
                                           TextRow{std::string("a\0b\xE9", 4), "ab"}));

class TrimTrailingSpacesTest : public ::testing::TestWithParam<TextRow> {};
TEST_P(TrimTrailingSpacesTest, CutsTo255AndDropsTrailingBlanks) {
  EXPECT_EQ(TrimTrailingSpaces(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, TrimTrailingSpacesTest,
    ::testing::Values(TextRow{" a b  ", " a b"}, TextRow{"   ", ""}, TextRow{"x\t ", "x\t"},
                      TextRow{std::string(254, 'x') + "  y", std::string(254, 'x')},
                      TextRow{std::string(300, 'x'), std::string(255, 'x')}));

class ExpandMacroTest : public ::testing::TestWithParam<TextRow> {};
TEST_P(ExpandMacroTest, ReplacesUpperCaseTokensOnly) {
  EXPECT_EQ(ExpandMacro(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, ExpandMacroTest,
                         ::testing::Values(TextRow{"L48 20 H14", "L48 20 H14"},
                                           TextRow{"ESCREV", "\033REV"}, TextRow{"H23CR", "H23\r"},
                                           TextRow{"LFCRESC", "\n\r\033"},
                                           TextRow{"CLEF cr lf esc", "CLEF cr lf esc"},
                                           TextRow{"ESESCC", "ES\033C"}));

class UnitAddressTest : public ::testing::TestWithParam<TextRow> {};
TEST_P(UnitAddressTest, DigitsAfterTheHashBlanksIgnored) {
  EXPECT_EQ(UnitAddressOf(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, UnitAddressTest,
                         ::testing::Values(TextRow{"# 3 = XMU", "<3"}, TextRow{"# 12 = X", "<12"},
                                           TextRow{"#1 2=", "<12"}, TextRow{"Units ", "<"},
                                           TextRow{"# 7=8", "<7"}));

TEST(HexByteTest, DollarAndTwoUpperCaseDigits) {
  EXPECT_EQ(HexByte(0x0D), "$0D");
  EXPECT_EQ(HexByte(0x00), "$00");
  EXPECT_EQ(HexByte(0xAF), "$AF");
  EXPECT_EQ(HexByte(0xFF), "$FF");
}

TEST(HexDisplayTest, ControlBytesSpelledOutAndLineFeedBreaksTheLine) {
  EXPECT_EQ(HexDisplayText("A\r\nB"), "A <$0D> <$0A>\n\rB");
  EXPECT_EQ(HexDisplayText("\x1e\x1f"), " <$1E>\x1f");
  EXPECT_EQ(HexDisplayText(std::string("\0\xff", 2)), std::string(" <$00>\xff"));
}

TEST(RepeatDelayTest, RefusesWhatSixteenBitsCannotHold) {
  EXPECT_EQ(RepeatDelayFromText("0"), 0);
  EXPECT_EQ(RepeatDelayFromText("65535"), 65535);
  EXPECT_THROW(RepeatDelayFromText("65536"), std::range_error);
  EXPECT_THROW(RepeatDelayFromText("-1"), std::range_error);
  EXPECT_THROW(RepeatDelayFromText(""), kvel::EConvertError);
  EXPECT_THROW(RepeatDelayFromText("99999999999"), kvel::EConvertError);
}

}  // namespace
