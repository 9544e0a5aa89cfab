// SPDX-License-Identifier: MIT
#include "server/stage/StageLog.h"

#include "server/rules/AddressGroups.h"

StageLog::StageLog(AddressGroups &groups, int summaryIntervalMs)
    : m_groups(groups), m_intervalMs(summaryIntervalMs),
      m_budget(LinesPerSecond, LinesPerSecond, groups.nowNs()), m_sink([](const QString &) {})
{
    m_summary.setInterval(summaryIntervalMs);
    QObject::connect(&m_summary, &QTimer::timeout, &m_summary, [this] { summarize(); });
    m_summary.start();
}

void StageLog::budgeted(const QString &line)
{
    if (m_budget.tryTake(m_groups.nowNs()))
        m_sink(line);
    else
        ++m_leftOut;
}

void StageLog::summarize()
{
    const AddressGroups::Refusals refused = m_groups.takeRefusals();
    const double seconds = m_intervalMs / 1000.0;
    if (refused.groups == 1)
        m_sink(QStringLiteral("%1 connections refused from %2 in %3 s")
                   .arg(refused.connections)
                   .arg(refused.busiest)
                   .arg(seconds));
    else if (refused.groups > 1)
        m_sink(QStringLiteral("%1 connections refused from %2 address groups in %3 s, %4 from %5")
                   .arg(refused.connections)
                   .arg(refused.groups)
                   .arg(seconds)
                   .arg(refused.most)
                   .arg(refused.busiest));
    if (m_leftOut > 0) {
        m_sink(QStringLiteral("%1 log lines left out in %2 s: the log takes %3 a second")
                   .arg(m_leftOut)
                   .arg(seconds)
                   .arg(LinesPerSecond));
        m_leftOut = 0;
    }
}
