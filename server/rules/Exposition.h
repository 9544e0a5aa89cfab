// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <utility>
#include <vector>

// Figures in Prometheus's text exposition format (version 0.0.4): families
// of samples, each family with one HELP and one TYPE line before its samples.
class Exposition
{
public:
    static constexpr char ContentType[] = "text/plain; version=0.0.4; charset=utf-8";

    enum class Type
    {
        Counter,
        Gauge
    };
    using Labels = std::vector<std::pair<QByteArray, QByteArray>>; // name, value

    // Starts a family; a counter's name ends in "_total".
    void family(QByteArrayView name, Type type, QByteArrayView help);
    // A sample of the family last started.
    void sample(const Labels &labels, double value);
    QByteArray text() const { return m_text; }

    // Help text with backslash and line feed escaped.
    static QByteArray escapedHelp(QByteArrayView help);
    // A label value with backslash, double quote and line feed escaped.
    static QByteArray escapedLabel(QByteArrayView value);
    // Whole numbers without a fraction or exponent, others as Go parses them.
    static QByteArray number(double value);

private:
    QByteArray m_name;
    QByteArray m_text;
};
