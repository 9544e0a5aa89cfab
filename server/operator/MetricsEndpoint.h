// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/HostPolicy.h"
#include "server/rules/HttpRequest.h"

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <deque>
#include <functional>
#include <unordered_map>

class QTcpSocket;

// Serves the figures of the moment at /metrics over plain HTTP, for a
// monitor such as Prometheus, on an address of the operator's choosing
// (loopback unless the monitor is elsewhere); and an orchestrator's probes:
// /healthz (the process serves) and /readyz (the stage takes joins), so
// that they spend nothing of the stage's budgets. Bounded whoever connects: a
// few connections at a time (a newcomer closes the oldest), a request of a
// few KiB, a few seconds to send it, one answer a connection.
class MetricsEndpoint : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 8;
    static constexpr qint64 MaxRequest = 8 * 1024;
    static constexpr int DefaultTimeoutMs = 5'000;

    // The figures as they are when a request comes, in the exposition format.
    using Figures = std::function<QByteArray()>;

    // A connection is closed `timeoutMs` after it opened, answered or not.
    explicit MetricsEndpoint(Figures figures, int timeoutMs = DefaultTimeoutMs,
                             QObject *parent = nullptr);
    int openConnections() const { return int(m_open.size()); }
    bool listen(const QHostAddress &address, quint16 port)
    {
        return m_server.listen(address, port);
    }
    quint16 port() const { return m_server.serverPort(); }
    // The names it answers to; a request naming another host in its Host
    // header is answered 421. Empty: any name.
    void setHostNames(const QStringList &names) { m_hosts.setHostNames(names); }
    QString errorString() const { return m_server.errorString(); }
    // Why the stage takes no joins now; empty when it does.
    using Readiness = std::function<QString()>;
    void setReadiness(Readiness readiness) { m_readiness = std::move(readiness); }

private:
    void accept();
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &body,
                const QByteArray &headers = {});
    // Closes it at once, if it is still open, and lets it go.
    void close(QTcpSocket *socket);

    QTcpServer m_server;
    Figures m_figures;
    Readiness m_readiness;
    const int m_timeoutMs;
    std::deque<QTcpSocket *> m_open; // oldest first
    // The request of each connection not answered yet.
    std::unordered_map<QTcpSocket *, HttpRequestReader> m_readers;
    HostPolicy m_hosts;
};
