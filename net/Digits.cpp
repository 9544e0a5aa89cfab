// SPDX-License-Identifier: MIT
#include "net/Digits.h"

qsizetype Digits::leading(QStringView text)
{
    qsizetype n = 0;
    while (n < text.size() && text[n] >= u'0' && text[n] <= u'9')
        ++n;
    return n;
}

std::optional<int> Digits::value(QStringView text)
{
    if (text.isEmpty() || text.size() > 9 || leading(text) != text.size())
        return std::nullopt;
    int n = 0;
    for (QChar c : text)
        n = n * 10 + (c.unicode() - u'0');
    return n;
}
