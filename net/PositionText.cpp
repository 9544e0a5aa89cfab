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
    bool ok = false;
    const float value = text.toFloat(&ok);
    return ok ? std::optional<float>(value) : std::nullopt;
}
