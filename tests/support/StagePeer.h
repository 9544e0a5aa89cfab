// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

// A raw stage client for tests against the server: joins, sends packets as
// a client would (or would not) and collects what the server sends, packet
// by packet.
class StagePeer
{
public:
    // Connects from `from` (any loopback address) when given.
    explicit StagePeer(quint16 port, const QHostAddress &from = {});

    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Sends the join packet and waits for the number; -1 if none came.
    int join(const QByteArray &name);
    // 0x02 body 0x00.
    void send(const QByteArray &body);
    void write(const QByteArray &bytes);
    // Waits until `count` packets (in all) have come in after the number.
    bool waitForPackets(qsizetype count, int ms = 5000);
    // Waits until the server has closed the connection.
    bool waitForClose(int ms = 5000);
    // Every packet since the number, without terminators.
    const QList<QByteArray> &packets();
    QTcpSocket &socket() { return m_socket; }

private:
    void take();

    QTcpSocket m_socket;
    QByteArray m_buffer;
    QList<QByteArray> m_packets;
    bool m_numbered = false;
};
