#include <gtest/gtest.h>

#include <QLocale>
#include <climits>
#include <cstdint>
#include <ostream>
#include <regex>
#include <string>

#include "Convert.h"
#include "LocaleFormats.h"

namespace kvel {
namespace {

struct GoodRow {
  std::string text;
  int value;
};
void PrintTo(const GoodRow& row, std::ostream* out) {
  *out << '"' << row.text << '"';
}

class StrToIntValid : public testing::TestWithParam<GoodRow> {};

TEST_P(StrToIntValid, Converts) {
  EXPECT_EQ(StrToInt(GetParam().text), GetParam().value);
  int value = 0;
  EXPECT_TRUE(TryStrToInt(GetParam().text, &value));
  EXPECT_EQ(value, GetParam().value);
  EXPECT_EQ(StrToIntDef(GetParam().text, 4711), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Rows, StrToIntValid,
                         testing::Values(GoodRow{"0", 0}, GoodRow{"9600", 9600}, GoodRow{"  4", 4},
                                         GoodRow{"+17", 17}, GoodRow{"-17", -17}, GoodRow{" -0", 0},
                                         GoodRow{"0000000000012", 12},
                                         GoodRow{"2147483647", INT_MAX},
                                         GoodRow{"-2147483648", INT_MIN}, GoodRow{"$1F", 31},
                                         GoodRow{"$1f", 31}, GoodRow{"-$10", -16},
                                         GoodRow{"0x7fffffff", INT_MAX}, GoodRow{"$FFFFFFFF", -1},
                                         GoodRow{"$80000000", INT_MIN}));

class StrToIntInvalid : public testing::TestWithParam<std::string> {};

TEST_P(StrToIntInvalid, RaisesTheConversionError) {
  const std::string& text = GetParam();
  try {
    StrToInt(text);
    ADD_FAILURE() << "no error for '" << text << "'";
  } catch (const EConvertError& error) {
    EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid integer value");
  }
  int value = 99;
  EXPECT_FALSE(TryStrToInt(text, &value));
  EXPECT_EQ(value, 99);
  EXPECT_EQ(StrToIntDef(text, -5), -5);
}

INSTANTIATE_TEST_SUITE_P(Rows, StrToIntInvalid,
                         testing::Values("", " ", "-", "+", "$", "0x", "12 ", "1 2", "12a", "a12",
                                         "\t12", "--1", "+-1", "1.0", "1e3", "$G", "2147483648",
                                         "-2147483649", "99999999999999999999", "$100000000"));

TEST(StrToInt, EmbeddedNulIsNotTheEndOfTheText) {
  int value = 0;
  EXPECT_FALSE(TryStrToInt(std::string("12\0", 3), &value));
  EXPECT_THROW(StrToInt(std::string("12\0", 3)), EConvertError);
}

struct FormatRow {
  const char* locale;
  const char* date;
  const char* time;
};
void PrintTo(const FormatRow& row, std::ostream* out) {
  *out << row.locale;
}

class LocaleFormat : public testing::TestWithParam<FormatRow> {};

TEST_P(LocaleFormat, ShortDateWithFullYearAndLongTimeWithoutZone) {
  const QLocale locale(QString::fromLatin1(GetParam().locale));
  EXPECT_EQ(ShortDateFormat(locale).toStdString(), GetParam().date);
  EXPECT_EQ(LongTimeFormat(locale).toStdString(), GetParam().time);
}

INSTANTIATE_TEST_SUITE_P(Rows, LocaleFormat,
                         testing::Values(FormatRow{"C", "dd/MM/yyyy", "HH:mm:ss"},
                                         FormatRow{"en_GB", "dd/MM/yyyy", "HH:mm:ss"},
                                         FormatRow{"en_US", "M/d/yyyy", "h:mm:ss AP"},
                                         FormatRow{"de_DE", "dd.MM.yyyy", "HH:mm:ss"},
                                         FormatRow{"zh_CN", "yyyy/M/d", "HH:mm:ss"}));

TEST(TimeStamp, IsDateAndTimeJoinedByOneBlank) {
  const std::string date = ShortDateText();
  const std::string stamp = DateTimeStamp();
  ASSERT_GT(stamp.size(), date.size());
  // The date part may only differ if midnight passed between the two calls.
  EXPECT_EQ(stamp.substr(0, date.size()), date);
  EXPECT_EQ(stamp[date.size()], ' ');
  if (QLocale::system().language() == QLocale::C) {
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << stamp;
  }
}

// The program's 8-bit texts and Qt: Windows-1252, one character per byte.
struct CodePageRow {
  std::uint8_t byte;
  char16_t shown;
};

class CodePage : public ::testing::TestWithParam<CodePageRow> {};

TEST_P(CodePage, ByteAndCharacterMapBothWays) {
  const CodePageRow row = GetParam();
  EXPECT_EQ(CharOfByte(row.byte).unicode(), row.shown);
  EXPECT_EQ(ByteOfChar(QChar(row.shown)), row.byte);
  const std::string bytes(1, static_cast<char>(row.byte));
  EXPECT_EQ(ToQt(bytes), QString(QChar(row.shown)));
  EXPECT_EQ(FromQt(QString(QChar(row.shown))), bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, CodePage,
                         ::testing::Values(CodePageRow{0x41, u'A'}, CodePageRow{0x80, 0x20AC},
                                           CodePageRow{0x8A, 0x0160}, CodePageRow{0x99, 0x2122},
                                           CodePageRow{0x9F, 0x0178},
                                           // left unassigned: they stand for themselves
                                           CodePageRow{0x81, 0x0081}, CodePageRow{0x8D, 0x008D},
                                           CodePageRow{0x8F, 0x008F}, CodePageRow{0x90, 0x0090},
                                           CodePageRow{0x9D, 0x009D}, CodePageRow{0xA0, 0x00A0},
                                           CodePageRow{0xB5, 0x00B5}, CodePageRow{0xFF, 0x00FF}));

TEST(CodePage, EveryByteComesBackUnchanged) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const QString shown = ToQt(all);
  ASSERT_EQ(shown.size(), 256);
  EXPECT_EQ(FromQt(shown), all);
  // No two bytes share a character.
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(shown.indexOf(shown[b]), b) << b;
  }
}

TEST(CodePage, LatinControlsReadAsTheirBytesAndForeignCharactersAsQuestionMarks) {
  // A text stored as Latin-1 before (U+0080 for byte 0x80) still reads as the same byte.
  EXPECT_EQ(FromQt(QString(QChar(0x0080))), "\x80");
  EXPECT_EQ(FromQt(QString(QChar(0x009E))), "\x9E");
  EXPECT_EQ(ByteOfChar(QChar(0x0100)), -1);
  EXPECT_EQ(FromQt(QStringLiteral("a\u0100b\u20AC")), "a?b\x80");
  EXPECT_EQ(ToQt(std::string_view("\0x", 2)), QString(QChar(0)) + u'x');
}

}  // namespace
}  // namespace kvel
