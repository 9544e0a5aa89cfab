// SPDX-License-Identifier: MIT
#include "server/rules/LogText.h"

#include "net/Cp1252.h"

#include <algorithm>

namespace LogText {

QString escaped(QByteArrayView bytes, qsizetype max)
{
    const QString text = Cp1252::decode(bytes.first(std::min(bytes.size(), max)));
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0xA0 || u == 0xAD)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == u'\\' || u == u'"')
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    if (bytes.size() > max)
        out += QStringLiteral("...");
    return out;
}

QString quoted(QByteArrayView name)
{
    return u'"' + escaped(name) + u'"';
}

} // namespace LogText
