// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/Link.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

class QWebSocket;

// A browser on the stage: every binary message holds exactly one packet, in
// the bytes a desktop client sends, and every packet it is sent goes out as
// a message of its own. Anything else closes it: a text message, a message
// over MaxMessage or one that is not exactly one packet. A packet over the
// stage's own bound is the stage's to refuse, as from a desktop.
class WebSocketLink : public Link
{
    Q_OBJECT
public:
    // As long as a packet may run before the stage closes the stream: a
    // longer line is skipped with a word to its sender, as from a desktop.
    static constexpr quint64 MaxMessage = 64 * 1024;
    // Packets over its budget wait here, as a TCP client's wait in the
    // kernel; a browser that sends this much more than it may is closed.
    static constexpr qint64 MaxUnread = 2 * MaxMessage;
    static constexpr int PingIntervalMs = 30'000;
    static constexpr int PongTimeoutMs = 60'000;
    // Unsent bytes, the pongs Qt writes by itself included, past which a peer
    // that does not read is closed, as a TCP client is.
    static constexpr qint64 MaxUnsent = 1 << 20;

    // `transport` is the socket the WebSocket runs on, when known: what it
    // holds unsent and how much of it the peer's pings caused are watched.
    explicit WebSocketLink(std::unique_ptr<QWebSocket> socket, QTcpSocket *transport = nullptr,
                           QObject *parent = nullptr);
    ~WebSocketLink() override;

    QHostAddress peerAddress() const override;
    quint16 peerPort() const override;
    QString kind() const override { return QStringLiteral("ws"); }
    QByteArray read(qint64 max) override;
    qint64 bytesAvailable() const override { return m_unread.size(); }
    void write(const QByteArray &packets) override;
    qint64 bytesToWrite() const override;
    bool isOpen() const override;
    void abort() override;
    void closeAfter(const QByteArray &farewell) override;

    // Whether a message is one packet: it ends with the terminator and holds no other.
    static bool isOnePacket(const QByteArray &message);

private:
    void take(const QByteArray &message);
    void refuse(const QString &why);
    void ping();
    // After Qt has answered what came in: the pongs it wrote spend the
    // peer's budget, and a peer that does not read is closed.
    void checkAnswers();
    void pongCame();
    // Everything queued on the transport so far, written out or not.
    qint64 queued() const;
    // Runs one of our own writes, counting what it queued as ours.
    template <typename Write> void own(Write write);

    std::unique_ptr<QWebSocket> m_socket;
    QByteArray m_unread;
    QTimer m_pinger;
    QElapsedTimer m_sincePong;
    QPointer<QTcpSocket> m_transport;
    // Of the bytes queued on the transport: written out so far, queued by
    // our own writes, and answers of Qt's already paid for. The rest are
    // answers not paid for yet.
    qint64 m_written = 0;
    qint64 m_own = 0;
    qint64 m_paid = 0;
    bool m_pingOwed = false; // a pong is due for our own ping, and free
    bool m_closed = false;
};
