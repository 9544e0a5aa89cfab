// SPDX-License-Identifier: MIT
#include "server/carriers/WebSocketLink.h"

#include <QWebSocket>

namespace {

constexpr qint64 ReadBatch = 16 * 1024;

} // namespace

WebSocketLink::WebSocketLink(std::unique_ptr<QWebSocket> socket, QTcpSocket *transport,
                             QObject *parent)
    : Link(parent), m_socket(std::move(socket)), m_transport(transport)
{
    if (m_transport) {
        // Qt reads and answers what came in at most this much at a time: a
        // flood of pings is taken a bounded batch after another, each batch
        // checked below before the next.
        m_transport->setReadBufferSize(ReadBatch);
        // Queued, so that it runs after Qt has read and answered what came.
        connect(m_transport, &QTcpSocket::readyRead, this, &WebSocketLink::checkAnswers,
                Qt::QueuedConnection);
        connect(m_transport, &QTcpSocket::bytesWritten, this,
                [this](qint64 bytes) { m_written += bytes; });
        m_own = queued();
    }
    m_socket->setMaxAllowedIncomingMessageSize(MaxMessage);
    m_socket->setMaxAllowedIncomingFrameSize(MaxMessage);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, &WebSocketLink::take);
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this,
            [this] { refuse(QStringLiteral("sent a text message")); });
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] {
        m_closed = true;
        m_pinger.stop();
        emit closed();
    });
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const auto errorSignal = &QWebSocket::errorOccurred;
#else
    const auto errorSignal = qOverload<QAbstractSocket::SocketError>(&QWebSocket::error);
#endif
    connect(m_socket.get(), errorSignal, this, [this] {
        if (m_socket->error() != QAbstractSocket::RemoteHostClosedError)
            emit failed(Failure::Broken, m_socket->errorString());
    });
    connect(m_socket.get(), &QWebSocket::pong, this, &WebSocketLink::pongCame);
    m_sincePong.start();
    m_pinger.setInterval(PingIntervalMs);
    connect(&m_pinger, &QTimer::timeout, this, &WebSocketLink::ping);
    m_pinger.start();
}

WebSocketLink::~WebSocketLink()
{
    m_socket->disconnect(this);
}

bool WebSocketLink::isOnePacket(const QByteArray &message)
{
    return !message.isEmpty() && message.indexOf('\0') == message.size() - 1;
}

void WebSocketLink::take(const QByteArray &message)
{
    if (m_closed)
        return;
    if (!isOnePacket(message)) {
        refuse(QStringLiteral("sent a message that is not one packet"));
        return;
    }
    if (m_unread.size() + message.size() > MaxUnread) {
        refuse(QStringLiteral("sent more than %1 bytes over its budget").arg(MaxUnread));
        return;
    }
    m_unread += message;
    emit readyRead();
}

void WebSocketLink::refuse(const QString &why)
{
    m_unread.clear();
    emit failed(Failure::Misbehaved, why);
    m_socket->close(QWebSocketProtocol::CloseCodePolicyViolated, why);
}

qint64 WebSocketLink::queued() const
{
    return m_transport ? m_written + m_transport->bytesToWrite() : 0;
}

template <typename Write> void WebSocketLink::own(Write write)
{
    const qint64 before = queued();
    write();
    m_own += queued() - before;
}

void WebSocketLink::checkAnswers()
{
    if (m_closed || !m_transport)
        return;
    const qint64 answers = queued() - m_own - m_paid;
    m_paid += std::max<qint64>(0, answers);
    if (m_transport->bytesToWrite() > MaxUnsent) {
        emit failed(Failure::Misbehaved,
                    QStringLiteral("not reading: more than %1 bytes unsent").arg(MaxUnsent));
        abort();
        return;
    }
    // Every pong is at least two bytes: a ping flood pays at least a packet
    // for each ping, and every byte it makes the server write.
    if (answers > 0 && !spend(int(std::max<qint64>(1, answers / 2)), answers)) {
        emit failed(Failure::Misbehaved, QStringLiteral("sent pings over its budget"));
        abort();
    }
}

void WebSocketLink::pongCame()
{
    m_sincePong.start();
    // The answer to our own ping is free; any other pong spends a packet.
    if (std::exchange(m_pingOwed, false))
        return;
    if (!spend(1, 0)) {
        emit failed(Failure::Misbehaved, QStringLiteral("sent pongs over its budget"));
        // Not from inside Qt's own reading, which goes on after this returns.
        QMetaObject::invokeMethod(this, &WebSocketLink::abort, Qt::QueuedConnection);
    }
}

void WebSocketLink::ping()
{
    // A browser answers pings by itself; one that has not for this long is gone.
    if (m_sincePong.elapsed() > PongTimeoutMs) {
        emit failed(Failure::Broken,
                    QStringLiteral("no answer to pings for %1 s").arg(PongTimeoutMs / 1000));
        m_socket->abort();
        return;
    }
    m_pingOwed = true;
    own([this] { m_socket->ping(); });
}

QHostAddress WebSocketLink::peerAddress() const
{
    return m_socket->peerAddress();
}

quint16 WebSocketLink::peerPort() const
{
    return m_socket->peerPort();
}

QByteArray WebSocketLink::read(qint64 max)
{
    const QByteArray out = m_unread.left(max);
    m_unread.remove(0, out.size());
    return out;
}

void WebSocketLink::write(const QByteArray &packets)
{
    own([&] {
        // A message a packet: everything up to and with each terminator, and
        // what follows the last one (the client number, which has none) on
        // its own.
        qsizetype start = 0;
        while (start < packets.size()) {
            const qsizetype end = packets.indexOf('\0', start);
            const qsizetype length = end < 0 ? packets.size() - start : end + 1 - start;
            m_socket->sendBinaryMessage(packets.sliced(start, length));
            start += length;
        }
        m_socket->flush();
    });
}

qint64 WebSocketLink::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

bool WebSocketLink::isOpen() const
{
    return !m_closed && m_socket->state() == QAbstractSocket::ConnectedState;
}

void WebSocketLink::abort()
{
    m_pinger.stop();
    m_socket->abort();
}

void WebSocketLink::closeAfter(const QByteArray &farewell)
{
    write(farewell);
    own([this] { m_socket->close(); });
}
