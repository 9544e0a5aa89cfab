// SPDX-License-Identifier: MIT
#include "net/PositionText.h"

QString PositionText::format(float value)
{
    if (value == 0.0f)
        return QStringLiteral("0"); // never "-0"
    return QString::number(double(value), 'g', 7);
}

std::optional<float> PositionText::parse(QStringView text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    qsizetype digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9')
            ++digits;
        else if (text[i] == u'.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    if (!point && digits <= 9) { // the usual case, without the cost of a locale-aware parse
        int value = 0;
        for (QChar c : text) {
            if (c >= u'0' && c <= u'9')
                value = value * 10 + (c.unicode() - u'0');
        }
        return float(text.front() == u'-' ? -value : value);
    }
    bool ok = false;
    const float value = text.toFloat(&ok);
    return ok ? std::optional<float>(value) : std::nullopt;
}
