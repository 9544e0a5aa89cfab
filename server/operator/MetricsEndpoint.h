// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <deque>
#include <functional>

class QTcpSocket;

// Serves the figures of the moment at /metrics over plain HTTP, for a
// monitor such as Prometheus, on an address of the operator's choosing
// (loopback unless the monitor is elsewhere). Bounded whoever connects: a
// few connections at a time (a newcomer closes the oldest), a request of a
// few KiB, a few seconds to send it, one answer a connection.
class MetricsEndpoint : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 8;
    static constexpr qint64 MaxRequest = 8 * 1024;
    static constexpr int TimeoutMs = 5'000;

    // The figures as they are when a request comes, in the exposition format.
    using Figures = std::function<QByteArray()>;

    explicit MetricsEndpoint(Figures figures, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port)
    {
        return m_server.listen(address, port);
    }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

private:
    void accept();
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &body,
                const QByteArray &headers = {});
    void forget(QTcpSocket *socket);

    QTcpServer m_server;
    Figures m_figures;
    std::deque<QTcpSocket *> m_open; // oldest first
};
