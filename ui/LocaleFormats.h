#pragma once

#include <QLocale>
#include <QString>

namespace kvel {

// The date and time formats behind the time stamps of the logs, taken from a locale:
// its short date with a four-digit year, and its long time without the time zone.
// The C locale (no user preference set) gives "dd/MM/yyyy" and "HH:mm:ss".
QString ShortDateFormat(const QLocale& locale);
QString LongTimeFormat(const QLocale& locale);

}  // namespace kvel
