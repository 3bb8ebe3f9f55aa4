#pragma once

#include <QChar>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kvel {

// The conversion error: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal (optionally signed, optionally "$"-prefixed hex) 32-bit integer, as the
// classic StrToInt reads it; leading blanks are allowed, anything else raises EConvertError.
int StrToInt(const std::string& text);
// The same without raising: `fallback` when the text is not an integer.
int StrToIntDef(const std::string& text, int fallback);
bool TryStrToInt(const std::string& text, int* value);
// Where the digits of a number in `text` begin: after leading blanks and one sign, which
// sets `negative`.
std::size_t NumberStart(const std::string& text, bool* negative);

// The program's 8-bit texts (macros, settings, line texts) are Windows-1252, as the terminal
// draws them. The five codes the code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// stand for themselves, so every byte has a character and comes back unchanged.
QChar CharOfByte(std::uint8_t byte);
// The byte of a character, also of a Latin-1 control character 0x80..0x9F; -1 for a
// character the code page does not have.
int ByteOfChar(QChar ch);
// A program text as Qt shows it, one character per byte.
QString ToQt(std::string_view bytes);
// A Qt text as the program stores and sends it; characters without a byte become "?".
std::string FromQt(const QString& text);

// The user's short date format, long time format, and both joined by one blank.
std::string ShortDateText();
std::string LongTimeText();
std::string DateTimeStamp();

}  // namespace kvel
