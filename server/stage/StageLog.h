// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/TokenBucket.h"

#include <QByteArrayView>
#include <QString>
#include <QTimer>
#include <functional>

class AddressGroups;
class StageClient;

// The stage's log. What peers cause goes through a budget of lines a second,
// so that no crowd can flood the log; what is left out is counted. Every so
// often one line sums up the connections refused, by address group, and the
// lines left out.
class StageLog
{
public:
    static constexpr double LinesPerSecond = 50;
    // How often failed TLS handshakes from one address group are logged.
    static constexpr qint64 HandshakeFailureLogIntervalMs = 10'000;
    // How often one client's packets that are not relayed are logged.
    static constexpr qint64 NotRelayedLogIntervalMs = 10'000;

    using Sink = std::function<void(const QString &line)>;

    StageLog(AddressGroups &groups, int summaryIntervalMs);

    // Where the lines go; nowhere unless set.
    void setSink(Sink sink) { m_sink = std::move(sink); }
    // A line, unless the log is already busy this second.
    void budgeted(const QString &line);
    // A line the stage itself decided to write, as joins and leaves are.
    void always(const QString &line) { m_sink(line); }

    // A packet of the client's that is not one of its own: counted, and
    // logged with an example once in a while.
    void notRelayed(StageClient &client, QByteArrayView body, qint64 nowMs);
    // A joined client left its place.
    void left(const StageClient &client, const QString &why);
    // A client that never joined went; failed TLS handshakes sparingly.
    void dropped(const StageClient &client, const QString &why, qint64 nowMs);

    // Lines left out since the stage started.
    qint64 leftOutInAll() const { return m_leftOutInAll; }

private:
    void summarize();

    AddressGroups &m_groups;
    const int m_intervalMs;
    TokenBucket m_budget;
    qint64 m_leftOut = 0; // since the last summary
    qint64 m_leftOutInAll = 0;
    QTimer m_summary;
    Sink m_sink;
};
