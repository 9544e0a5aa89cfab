// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

// A scripted stage server on loopback: it takes one client, records every
// byte it sends and writes whatever the test tells it to.
class FakeServer : public QObject
{
    Q_OBJECT
public:
    FakeServer();

    quint16 port() const { return m_server.serverPort(); }
    bool waitForClient();
    // Waits until at least `size` bytes have come in.
    bool waitForBytes(qsizetype size);
    // What came in since the last call, once at least `atLeast` bytes are in
    // (or a short while has passed).
    QByteArray take(qsizetype atLeast);
    void send(const QByteArray &bytes);
    void closeClient();
    bool clientGone() const;
    QByteArray received;

private:
    QTcpServer m_server;
    QTcpSocket *m_peer = nullptr;
};
