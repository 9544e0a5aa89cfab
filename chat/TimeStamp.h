#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Local time and date as the user's regional settings write them.
class TimeStamp
{
public:
    // Time of day with seconds, without a time zone.
    static QString timeText(const QTime &time, const QLocale &locale);
    static QString dateText(const QDate &date, const QLocale &locale);
    // "It is <time> on <date>" CR LF
    static QString line(const QDateTime &now, const QLocale &locale);
    // "Connected to the server at <time>" CR LF
    static QString connectedLine(const QDateTime &now, const QLocale &locale);
};
