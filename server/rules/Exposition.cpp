// SPDX-License-Identifier: MIT
#include "server/rules/Exposition.h"

#include <cmath>

void Exposition::family(QByteArrayView name, Type type, QByteArrayView help)
{
    m_name = name.toByteArray();
    m_text += "# HELP " + m_name + ' ' + escapedHelp(help) + '\n';
    m_text += "# TYPE " + m_name + (type == Type::Counter ? " counter\n" : " gauge\n");
}

void Exposition::sample(const Labels &labels, double value)
{
    m_text += m_name;
    if (!labels.empty()) {
        m_text += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0)
                m_text += ',';
            m_text += labels[i].first + "=\"" + escapedLabel(labels[i].second) + '"';
        }
        m_text += '}';
    }
    m_text += ' ' + number(value) + '\n';
}

QByteArray Exposition::escapedHelp(QByteArrayView help)
{
    QByteArray out;
    out.reserve(help.size());
    for (const char c : help) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray Exposition::escapedLabel(QByteArrayView value)
{
    QByteArray out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray Exposition::number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // Counters of bytes pass 2^31 soon; every integer below 2^53 is exact.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return QByteArray::number(qint64(value));
    return QByteArray::number(value, 'g', 17);
}
