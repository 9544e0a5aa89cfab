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

namespace {

// Backslash and line feed always; the double quote where a value is quoted.
QByteArray escaped(QByteArrayView text, bool quoted)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\\' || (quoted && c == '"'))
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

QByteArray Exposition::escapedHelp(QByteArrayView help)
{
    return escaped(help, false);
}

QByteArray Exposition::escapedLabel(QByteArrayView value)
{
    return escaped(value, true);
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
