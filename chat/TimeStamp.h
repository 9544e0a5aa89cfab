// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Local time and date as the user's regional settings write them.
namespace TimeStamp {

// Time of day with seconds, without a time zone.
QString timeText(const QTime &time, const QLocale &locale);
QString dateText(const QDate &date, const QLocale &locale);
// "It is <time> on <date>" CR LF
QString line(const QDateTime &now, const QLocale &locale);
// "Connected to the server at <time>" CR LF
// "Connected to the server at 10:52:40", and ", encrypted" when it is.
QString connectedLine(const QDateTime &now, const QLocale &locale, bool encrypted = false);

} // namespace TimeStamp
