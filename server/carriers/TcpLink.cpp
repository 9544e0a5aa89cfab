// SPDX-License-Identifier: MIT
#include "server/carriers/TcpLink.h"

#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// Bounds what one client's unread bytes hold in memory; the rest waits in
// the kernel, which then slows the sender down.
constexpr qint64 ReadChunk = 64 * 1024;

// A peer that vanished without a word (cable pulled, machine off) is found by
// keepalive probes after about a minute and a half instead of hours, and one
// that stops taking what it is sent within a minute instead of after the
// kernel's retransmissions (about 15 minutes).
void probeForVanishedPeers(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const auto fd = int(socket->socketDescriptor());
    const int idle = 60, interval = 10, count = 3;
    const unsigned int unacknowledgedMs = 60'000;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs, sizeof unacknowledgedMs);
#endif
}

} // namespace

TcpLink::TcpLink(QTcpSocket *socket, QObject *parent) : Link(parent), m_socket(socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(ReadChunk);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    probeForVanishedPeers(socket);
    connect(socket, &QTcpSocket::readyRead, this, &Link::readyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Link::closed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->error() == QAbstractSocket::SslHandshakeFailedError)
            emit failed(Failure::HandshakeFailed,
                        QStringLiteral("TLS handshake failed: ") + m_socket->errorString());
        else if (m_socket->error() != QAbstractSocket::RemoteHostClosedError)
            emit failed(Failure::Broken, m_socket->errorString());
    });
}

QHostAddress TcpLink::peerAddress() const
{
    return m_socket->peerAddress();
}

quint16 TcpLink::peerPort() const
{
    return m_socket->peerPort();
}

QByteArray TcpLink::read(qint64 max)
{
    return m_socket->read(max);
}

qint64 TcpLink::bytesAvailable() const
{
    return m_socket->bytesAvailable();
}

void TcpLink::write(const QByteArray &packets)
{
    m_socket->write(packets);
    m_socket->flush(); // each packet goes out on its own
}

qint64 TcpLink::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

bool TcpLink::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void TcpLink::abort()
{
    m_socket->abort();
}

void TcpLink::closeAfter(const QByteArray &farewell)
{
    m_socket->write(farewell);
    m_socket->disconnectFromHost();
}
