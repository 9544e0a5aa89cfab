// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/TokenBucket.h"

#include <QString>
#include <QTimer>
#include <functional>

class AddressGroups;

// The stage's log. What peers cause goes through a budget of lines a second,
// so that no crowd can flood the log; what is left out is counted. Every so
// often one line sums up the connections refused, by address group, and the
// lines left out.
class StageLog
{
public:
    static constexpr double LinesPerSecond = 50;

    using Sink = std::function<void(const QString &line)>;

    StageLog(AddressGroups &groups, int summaryIntervalMs);

    // Where the lines go; nowhere unless set.
    void setSink(Sink sink) { m_sink = std::move(sink); }
    // A line, unless the log is already busy this second.
    void budgeted(const QString &line);
    // A line the stage itself decided to write, as joins and leaves are.
    void always(const QString &line) { m_sink(line); }

private:
    void summarize();

    AddressGroups &m_groups;
    const int m_intervalMs;
    TokenBucket m_budget;
    qint64 m_leftOut = 0;
    QTimer m_summary;
    Sink m_sink;
};
