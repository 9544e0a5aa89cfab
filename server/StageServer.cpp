#include "server/StageServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

constexpr char JoinMarker = 0x0A;
constexpr char RelayMarker = 0x02;
constexpr qint64 ReadChunk = 64 * 1024;

// A peer that vanished without a word (cable pulled, machine off) is found by
// keepalive probes after about a minute and a half instead of hours.
void probeForVanishedPeers(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const auto fd = int(socket->socketDescriptor());
    const int idle = 60, interval = 10, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

// A user name as it may safely stand in a log line.
QString printable(const QByteArray &name)
{
    QString out;
    for (char c : name.left(64)) {
        const auto b = static_cast<unsigned char>(c);
        out += (b >= 0x20 && b != 0x7F) ? QChar(b) : QChar(u'?');
    }
    return out;
}

} // namespace

StageServer::StageServer(QObject *parent)
    : QObject(parent),
      m_log([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); })
{
    connect(&m_server, &QTcpServer::newConnection, this, &StageServer::onNewConnection);
}

StageServer::~StageServer()
{
    for (auto &client : m_clients) {
        if (!client->gone)
            client->socket->disconnect(this);
    }
}

bool StageServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

int StageServer::connectionCount() const
{
    int n = 0;
    for (const auto &client : m_clients)
        n += client->gone ? 0 : 1;
    return n;
}

int StageServer::joinedCount() const
{
    int n = 0;
    for (const Client *client : m_numbers)
        n += client ? 1 : 0;
    return n;
}

void StageServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer =
            socket->peerAddress().toString() + u':' + QString::number(socket->peerPort());
        if (connectionCount() >= MaxClients) {
            m_log(QStringLiteral("refused %1: the stage is full").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->peer = peer;
        socket->setParent(this);
        socket->setReadBufferSize(ReadChunk);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        probeForVanishedPeers(socket);
        Client *raw = client.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, raw] { leaveLater(raw, QStringLiteral("disconnected")); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, raw] {
            if (raw->socket->error() != QAbstractSocket::RemoteHostClosedError)
                leaveLater(raw, raw->socket->errorString());
        });
        m_clients.push_back(std::move(client));
        m_log(QStringLiteral("connect %1").arg(peer));
    }
}

void StageServer::onReadyRead(Client *client)
{
    while (!client->gone && client->socket->bytesAvailable() > 0) {
        client->framer.append(client->socket->read(ReadChunk));
        while (!client->gone) {
            const auto packet = client->framer.next();
            if (!packet)
                break;
            handlePacket(client, *packet);
        }
        if (!client->gone && client->framer.overflowed())
            drop(client, QStringLiteral("packet longer than %1 bytes").arg(MaxPacket));
    }
}

void StageServer::handlePacket(Client *client, const QByteArray &packet)
{
    if (packet.isEmpty())
        return;
    if (packet.front() == JoinMarker && client->number < 0)
        join(client, packet.mid(1));
    else if (packet.front() == RelayMarker && client->number >= 0)
        relay(packet.mid(1) + '\0');
    // Anything else (unknown markers, packets before the join, a second join) is dropped.
}

void StageServer::join(Client *client, const QByteArray &name)
{
    int number = 0;
    while (number < MaxClients && m_numbers[number])
        ++number;
    if (number == MaxClients) { // cannot happen with the connection bound, but never index past it
        drop(client, QStringLiteral("no free client number"));
        return;
    }
    const QByteArray newUser = QByteArrayLiteral("NewUser") + '\0';
    for (Client *other : m_numbers) {
        if (other && !other->gone)
            send(other, newUser);
    }
    client->number = number;
    m_numbers[number] = client;
    m_log(
        QStringLiteral("join %1 as %2 \"%3\"").arg(client->peer).arg(number).arg(printable(name)));
    send(client, QByteArrayLiteral("ClientNumber") + char('0' + number));
}

void StageServer::relay(const QByteArray &packet)
{
    for (Client *client : m_numbers) {
        if (client && !client->gone)
            send(client, packet);
    }
}

void StageServer::send(Client *client, const QByteArray &bytes)
{
    if (client->gone || !client->leaving.isEmpty())
        return;
    client->socket->write(bytes);
    client->socket->flush(); // each packet goes out on its own
    if (client->socket->bytesToWrite() > MaxPendingOutput)
        leaveLater(client,
                   QStringLiteral("not reading: more than %1 bytes unsent").arg(MaxPendingOutput));
}

void StageServer::leaveLater(Client *client, const QString &why)
{
    if (client->gone || !client->leaving.isEmpty())
        return;
    client->leaving = why;
    if (!m_leaveQueued) {
        m_leaveQueued = true;
        QTimer::singleShot(0, this, &StageServer::finishLeaving);
    }
}

void StageServer::finishLeaving()
{
    m_leaveQueued = false;
    // By index: dropping only marks clients, and nobody connects meanwhile.
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Client *client = m_clients[i].get();
        if (client->gone || client->leaving.isEmpty())
            continue;
        onReadyRead(client);
        drop(client, client->leaving);
    }
}

void StageServer::drop(Client *client, const QString &why)
{
    if (client->gone)
        return;
    client->gone = true;
    if (client->number >= 0) {
        m_numbers[client->number] = nullptr;
        m_log(QStringLiteral("leave %1 number %2: %3")
                  .arg(client->peer)
                  .arg(client->number)
                  .arg(why));
    } else {
        m_log(QStringLiteral("leave %1: %2").arg(client->peer, why));
    }
    client->socket->disconnect(this);
    client->socket->abort();
    client->socket->deleteLater();
    if (!m_purgeQueued) {
        m_purgeQueued = true;
        QTimer::singleShot(0, this, &StageServer::purge);
    }
}

void StageServer::purge()
{
    m_purgeQueued = false;
    std::erase_if(m_clients, [](const auto &client) { return client->gone; });
}
