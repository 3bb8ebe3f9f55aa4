#include "Convert.h"

#include <QDateTime>
#include <cstdint>

#include "LocaleFormats.h"

namespace kvel {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal numbers must fit a signed 32-bit value; hex numbers ("$1F", also "0x1F") may
// use all 32 bits and are taken as the two's complement ("$FFFFFFFF" is -1), as the
// classic reader does. Only blanks may precede the number; nothing may follow it.
bool Parse(const std::string& text, int* value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;
  const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  const int base = hex ? 16 : 10;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || digit >= base) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (magnitude > limit) return false;
  }
  auto bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = ~bits + 1u;
  *value = static_cast<int>(bits);
  return true;
}

// Removes the format letters `letter` that stand outside quoted literal text.
QString RemoveField(const QString& format, QChar letter) {
  QString result;
  bool quoted = false;
  for (QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == letter) continue;
    result += c;
  }
  return result.simplified();
}

// Widens a two-letter year field to four letters; "yyyy" stays as it is.
QString WidenYear(const QString& format) {
  QString result;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size();) {
    const QChar c = format[i];
    if (c == u'\'') quoted = !quoted;
    if (quoted || c != u'y') {
      result += c;
      ++i;
      continue;
    }
    qsizetype run = 0;
    while (i + run < format.size() && format[i + run] == u'y') ++run;
    result += QString(run == 2 ? 4 : run, u'y');
    i += run;
  }
  return result;
}

std::string Format(const QString& format, bool date) {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  return (date ? locale.toString(now.date(), format) : locale.toString(now.time(), format))
      .toStdString();
}

}  // namespace

int StrToInt(const std::string& text) {
  int value = 0;
  if (!Parse(text, &value)) throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

int StrToIntDef(const std::string& text, int fallback) {
  int value = 0;
  return Parse(text, &value) ? value : fallback;
}

bool TryStrToInt(const std::string& text, int* value) {
  int parsed = 0;
  if (!Parse(text, &parsed)) return false;
  *value = parsed;
  return true;
}

QString ShortDateFormat(const QLocale& locale) {
  if (locale.language() == QLocale::C) return QStringLiteral("dd/MM/yyyy");
  return WidenYear(locale.dateFormat(QLocale::ShortFormat));
}

QString LongTimeFormat(const QLocale& locale) {
  if (locale.language() == QLocale::C) return QStringLiteral("HH:mm:ss");
  return RemoveField(locale.timeFormat(QLocale::LongFormat), u't');
}

std::string ShortDateText() {
  return Format(ShortDateFormat(QLocale::system()), true);
}

std::string LongTimeText() {
  return Format(LongTimeFormat(QLocale::system()), false);
}

std::string DateTimeStamp() {
  // One reading of the clock for both halves, so the stamp cannot straddle midnight.
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  return (locale.toString(now.date(), ShortDateFormat(locale)) + u' ' +
          locale.toString(now.time(), LongTimeFormat(locale)))
      .toStdString();
}

}  // namespace kvel
