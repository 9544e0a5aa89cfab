// SPDX-License-Identifier: MIT
#include "server/stage/StageLog.h"

#include "server/rules/AddressGroups.h"
#include "server/rules/LogText.h"
#include "server/stage/StageClient.h"

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
    else {
        ++m_leftOut;
        ++m_leftOutInAll;
    }
}

void StageLog::notRelayed(StageClient &client, QByteArrayView body, qint64 nowMs)
{
    const std::optional<int> count = client.countNotRelayed(nowMs, NotRelayedLogIntervalMs);
    if (!count)
        return;
    budgeted(QStringLiteral("not relayed from %1 number %2: %3 packet(s) not its own, such as %4")
                 .arg(client.peer())
                 .arg(client.number())
                 .arg(*count)
                 .arg(LogText::quoted(body)));
}

void StageLog::left(const StageClient &client, const QString &why)
{
    const QString unrelayed =
        client.notRelayedSinceLogged() > 0
            ? QStringLiteral(" (%1 more packet(s) not relayed)").arg(client.notRelayedSinceLogged())
            : QString();
    always(QStringLiteral("leave %1 number %2: %3%4")
               .arg(client.peer())
               .arg(client.number())
               .arg(why, unrelayed));
}

void StageLog::dropped(const StageClient &client, const QString &why, qint64 nowMs)
{
    AddressGroup &group = client.group();
    if (client.failure() == Link::Failure::HandshakeFailed) {
        // A scanner tries every port: one line a group every 10 s is enough.
        if (group.handshakeFailureLoggedMs >= 0 &&
            nowMs - group.handshakeFailureLoggedMs < HandshakeFailureLogIntervalMs)
            return;
        group.handshakeFailureLoggedMs = nowMs;
    }
    budgeted(QStringLiteral("leave %1: %2").arg(client.peer(), why));
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
