// SPDX-License-Identifier: MIT
#include "chat/TimeStamp.h"

#include <QRegularExpression>

QString TimeStamp::timeText(const QTime &time, const QLocale &locale)
{
    // The long format has the seconds; drop its time-zone field ("t"/"tttt")
    // and the blank or bracket around it.
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?\\bt+\\b\\)?"));
    format.remove(zone);
    return locale.toString(time, format.trimmed());
}

QString TimeStamp::dateText(const QDate &date, const QLocale &locale)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString TimeStamp::line(const QDateTime &now, const QLocale &locale)
{
    return QStringLiteral("It is ") + timeText(now.time(), locale) + QStringLiteral(" on ") +
           dateText(now.date(), locale) + QStringLiteral("\r\n");
}

QString TimeStamp::connectedLine(const QDateTime &now, const QLocale &locale, bool encrypted)
{
    return QStringLiteral("Connected to the server at ") + timeText(now.time(), locale) +
           (encrypted ? QStringLiteral(", encrypted\r\n") : QStringLiteral("\r\n"));
}
