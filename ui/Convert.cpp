#include "Convert.h"

#include <QDateTime>
#include <cstdint>

#include "LocaleFormats.h"

namespace kvel {
namespace {

// Windows-1252 in 0x80..0x9F, where Latin-1 has control characters; the rest of the code
// page is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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
  bool negative = false;
  std::size_t i = NumberStart(text, &negative);
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

QChar CharOfByte(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return QChar(kCp1252High[byte - 0x80]);
  return QChar(static_cast<char16_t>(byte));
}

int ByteOfChar(QChar ch) {
  const char16_t unicode = ch.unicode();
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == unicode) return 0x80 + i;
  }
  // Latin-1 as it stands, its controls 0x80..0x9F included: texts once stored as Latin-1
  // read back as the same bytes.
  if (unicode <= 0xFF) return unicode;
  return -1;
}

QString ToQt(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes) *out++ = CharOfByte(static_cast<std::uint8_t>(c));
  return text;
}

std::string FromQt(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (const QChar ch : text) {
    const int byte = ByteOfChar(ch);
    bytes += static_cast<char>(byte < 0 ? '?' : byte);
  }
  return bytes;
}

std::size_t NumberStart(const std::string& text, bool* negative) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

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
