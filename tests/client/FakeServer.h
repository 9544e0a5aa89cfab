// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

// A scripted stage server on loopback: it takes a client at a time, records every
// byte it sends and writes whatever the test tells it to. Every wait fails
// the running test when what it waits for does not come within 3 s.
class FakeServer : public QObject
{
    Q_OBJECT
public:
    FakeServer();

    quint16 port() const { return m_server.serverPort(); }
    bool waitForClient();
    bool hasClient() const { return m_peer != nullptr; }
    // Connections taken so far; the newest is the one it speaks with.
    int connections() const { return m_connections; }
    // Waits until at least `size` bytes have come in.
    bool waitForBytes(qsizetype size);
    // The next `size` bytes the client sent, taken off what came in.
    QByteArray take(qsizetype size);
    void send(const QByteArray &bytes);
    void closeClient();
    bool clientGone() const;
    QByteArray received;

private:
    QTcpServer m_server;
    QTcpSocket *m_peer = nullptr;
    int m_connections = 0;
};
