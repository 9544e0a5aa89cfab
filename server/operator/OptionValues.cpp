// SPDX-License-Identifier: MIT
#include "server/operator/OptionValues.h"

#include "net/Digits.h"

#include <QString>

namespace OptionValues {

std::optional<qint64> count(QStringView text, qint64 min, qint64 max)
{
    if (text.isEmpty() || text.size() > 18 || Digits::leading(text) != text.size())
        return std::nullopt;
    const qint64 value = text.toLongLong();
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> decimal(QStringView text, double min, double max)
{
    const qsizetype whole = Digits::leading(text);
    qsizetype end = whole;
    qsizetype fraction = 0;
    if (end < text.size() && text[end] == u'.') {
        fraction = Digits::leading(text.mid(end + 1));
        end += 1 + fraction;
    }
    if (whole + fraction == 0 || end != text.size() || text.size() > 30)
        return std::nullopt;
    bool ok = false;
    const double value = text.toString().toDouble(&ok); // C locale: "." is the point
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace OptionValues
