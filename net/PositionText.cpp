// SPDX-License-Identifier: MIT
#include "net/PositionText.h"

#include "net/Digits.h"

QString PositionText::format(float value)
{
    if (value == 0.0f)
        return QStringLiteral("0"); // never "-0"
    return QString::number(double(value), 'g', 7);
}

std::optional<float> PositionText::parse(QStringView text)
{
    const bool sign = !text.isEmpty() && (text.front() == u'-' || text.front() == u'+');
    const QStringView magnitude = text.mid(sign ? 1 : 0);
    // The usual case, a whole number, without the cost of a locale-aware parse.
    if (const auto whole = Digits::value(magnitude))
        return float(text.front() == u'-' ? -*whole : *whole);
    // Otherwise digits with at most one point: no exponent, blanks or group separators.
    qsizetype digits = 0;
    bool point = false;
    for (QChar c : magnitude) {
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const float value = text.toFloat(&ok);
    return ok ? std::optional<float>(value) : std::nullopt;
}
