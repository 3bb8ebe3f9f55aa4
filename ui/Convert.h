#pragma once

#include <stdexcept>
#include <string>

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

// The user's short date format, long time format, and both joined by one blank.
std::string ShortDateText();
std::string LongTimeText();
std::string DateTimeStamp();

}  // namespace kvel
