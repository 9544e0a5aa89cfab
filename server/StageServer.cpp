// SPDX-License-Identifier: MIT
#include "server/StageServer.h"

#include "net/Protocol.h"
#include "server/LogText.h"
#include "server/RelayRules.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

constexpr qint64 ReadChunk = 64 * 1024;
// A refused or dismissed peer that does not take its farewell is cut after this.
constexpr int FarewellMs = 5000;

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

// The kernel's own ceiling for the accept queue, so that a burst of connects
// waits there instead of being turned away.
int systemBacklog()
{
    QFile somaxconn(QStringLiteral("/proc/sys/net/core/somaxconn"));
    if (somaxconn.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int value = somaxconn.readAll().trimmed().toInt(&ok);
        if (ok && value > 0)
            return value;
    }
    return 4096;
}

QString quoted(const QByteArray &name)
{
    return u'"' + LogText::escaped(name) + u'"';
}

} // namespace

StageServer::StageServer(const ServerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_log([](const QString &) {})
{
    m_clock.start();
    m_server.setListenBacklogSize(systemBacklog());
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
        const QHostAddress address = socket->peerAddress();
        const QString peer = address.toString() + u':' + QString::number(socket->peerPort());
        const QString group =
            RelayRules::isExemptAddress(address) ? QString() : RelayRules::addressGroup(address);
        if (connectionCount() >= MaxClients) {
            refuse(socket, peer,
                   QStringLiteral("The stage is full: %1 of %1 places are taken")
                       .arg(MaxClients)
                       .toLatin1(),
                   QStringLiteral("the stage is full"));
            continue;
        }
        if (!group.isEmpty() && m_settings.maxPerAddress > 0 &&
            m_perGroup.value(group) >= m_settings.maxPerAddress) {
            refuse(socket, peer, QByteArrayLiteral("Too many connections from your address"),
                   QStringLiteral("%1 connections from %2 already")
                       .arg(m_perGroup.value(group))
                       .arg(group));
            continue;
        }
        auto client = std::make_unique<Client>(
            socket, TokenBucket(m_settings.rate, m_settings.burst, m_clock.nsecsElapsed()));
        Client *raw = client.get();
        raw->peer = peer;
        raw->group = group;
        if (!group.isEmpty())
            ++m_perGroup[group];
        socket->setParent(this);
        socket->setReadBufferSize(ReadChunk);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        probeForVanishedPeers(socket);
        raw->resume = timerFor(raw, 0, &StageServer::readFrom);
        raw->deadline = timerFor(raw, m_settings.joinTimeoutMs, &StageServer::joinDeadline);
        raw->quietEnd = timerFor(raw, NewcomerQuietMs, &StageServer::endQuiet);
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, raw] { leaveLater(raw, QStringLiteral("disconnected")); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, raw] {
            if (raw->socket->error() != QAbstractSocket::RemoteHostClosedError)
                leaveLater(raw, raw->socket->errorString());
        });
        raw->deadline->start();
        m_clients.push_back(std::move(client));
        m_log(QStringLiteral("connect %1").arg(peer));
    }
}

QTimer *StageServer::timerFor(Client *client, int ms, void (StageServer::*slot)(Client *))
{
    auto *timer = new QTimer(client->socket);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(ms);
    connect(timer, &QTimer::timeout, this, [this, client, slot] { (this->*slot)(client); });
    return timer;
}

void StageServer::joinDeadline(Client *client)
{
    if (client->number < 0 && client->leaving.isEmpty())
        drop(client, QStringLiteral("no join within %1 s").arg(m_settings.joinTimeoutMs / 1000.0));
}

void StageServer::refuse(QTcpSocket *socket, const QString &peer, const QByteArray &notice,
                         const QString &why)
{
    m_log(QStringLiteral("refused %1: %2").arg(peer, why));
    socket->setParent(this);
    closeGently(socket, RelayRules::notice(notice));
}

void StageServer::closeGently(QTcpSocket *socket, const QByteArray &farewell)
{
    // Closing after the farewell is written; a peer that does not take it in
    // time is cut, so a refused connection cannot linger.
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(FarewellMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(farewell);
    socket->disconnectFromHost();
}

void StageServer::readFrom(Client *client)
{
    while (!client->gone) {
        if (!client->waiting)
            client->waiting = client->framer.next();
        if (client->waiting) {
            const qint64 now = m_clock.nsecsElapsed();
            if (!client->budget.tryTake(now)) {
                // Over budget: the packet and what follows wait, the rest in
                // its own socket, until the budget refills; nothing is lost
                // and nobody else waits for it.
                if (!client->resume->isActive())
                    client->resume->start(int(client->budget.nsUntilNext(now) / 1'000'000) + 1);
                return;
            }
            handlePacket(client, *std::exchange(client->waiting, std::nullopt));
            continue;
        }
        if (client->framer.overflowed()) {
            drop(client, QStringLiteral("packet longer than %1 bytes").arg(MaxPacket));
            return;
        }
        if (client->socket->bytesAvailable() <= 0)
            break;
        client->framer.append(client->socket->read(ReadChunk));
    }
    if (!client->gone && !client->leaving.isEmpty())
        drop(client, client->leaving);
}

void StageServer::handlePacket(Client *client, const QByteArray &packet)
{
    if (packet.isEmpty())
        return;
    if (packet.front() == char(Protocol::JoinMarker) && client->number < 0) {
        join(client, packet.mid(1));
    } else if (packet.front() == char(Protocol::RelayMarker) && client->number >= 0) {
        const QByteArray body = packet.mid(1);
        if (RelayRules::isOwnPacket(body, client->number, client->name))
            relay(body + '\0');
        else
            notRelayed(client, body);
    }
    // Anything else (unknown markers, packets before the join, a second join) is dropped.
}

void StageServer::join(Client *client, const QByteArray &name)
{
    if (RelayRules::isReservedName(name)) {
        drop(client, QStringLiteral("the name %1 is reserved").arg(quoted(name)),
             RelayRules::notice("That name is kept for the stage's own notices: "
                                "please connect under another one"));
        return;
    }
    int number = 0;
    while (number < MaxClients && m_numbers[number])
        ++number;
    if (number == MaxClients) { // cannot happen with the connection bound, but never index past it
        drop(client, QStringLiteral("no free client number"));
        return;
    }
    const QByteArray newUser = QByteArrayLiteral("NewUser") + '\0';
    const QByteArray joinedNotice =
        RelayRules::notice(RelayRules::noticeName(name) + " joined the stage");
    for (Client *other : m_numbers) {
        if (!other)
            continue;
        send(other, newUser);
        if (m_settings.notices)
            send(other, joinedNotice);
    }
    client->number = number;
    client->name = name;
    m_numbers[number] = client;
    m_log(QStringLiteral("join %1 as %2 %3").arg(client->peer).arg(number).arg(quoted(name)));
    send(client, QByteArrayLiteral("ClientNumber") + char('0' + number));
    client->quiet = true;
    client->quietEnd->start();
}

void StageServer::endQuiet(Client *client)
{
    client->quiet = false;
    if (client->held.isEmpty())
        return;
    send(client, std::exchange(client->held, {}));
}

void StageServer::notRelayed(Client *client, const QByteArray &body)
{
    ++client->notRelayed;
    const qint64 now = m_clock.elapsed();
    if (client->notRelayedLoggedMs >= 0 &&
        now - client->notRelayedLoggedMs < NotRelayedLogIntervalMs)
        return;
    m_log(QStringLiteral("not relayed from %1 number %2: %3 packet(s) not its own, such as %4")
              .arg(client->peer)
              .arg(client->number)
              .arg(client->notRelayed)
              .arg(quoted(body)));
    client->notRelayed = 0;
    client->notRelayedLoggedMs = now;
}

void StageServer::relay(const QByteArray &packet)
{
    for (Client *client : m_numbers) {
        if (client)
            send(client, packet);
    }
}

void StageServer::send(Client *client, const QByteArray &bytes)
{
    if (client->gone || !client->leaving.isEmpty())
        return;
    qint64 unsent;
    if (client->quiet) {
        client->held += bytes;
        unsent = client->held.size();
    } else {
        client->socket->write(bytes);
        client->socket->flush(); // each packet goes out on its own
        unsent = client->socket->bytesToWrite();
    }
    if (unsent > MaxPendingOutput)
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
        if (client->socket->state() == QAbstractSocket::ConnectedState) {
            // Still open but leaving for its own fault: nothing more of it is read.
            drop(client, client->leaving);
            continue;
        }
        // Closed: what it sent before it went is relayed within its budget,
        // and it is dropped when that is done.
        readFrom(client);
    }
}

void StageServer::drop(Client *client, const QString &why, const QByteArray &farewell)
{
    if (client->gone)
        return;
    client->gone = true;
    if (!client->group.isEmpty() && --m_perGroup[client->group] <= 0)
        m_perGroup.remove(client->group);
    const QString unrelayed =
        client->notRelayed > 0
            ? QStringLiteral(" (%1 more packet(s) not relayed)").arg(client->notRelayed)
            : QString();
    if (client->number >= 0) {
        m_numbers[client->number] = nullptr;
        m_log(QStringLiteral("leave %1 number %2: %3%4")
                  .arg(client->peer)
                  .arg(client->number)
                  .arg(why, unrelayed));
        if (m_settings.notices)
            relay(RelayRules::notice(RelayRules::noticeName(client->name) + " left the stage"));
    } else {
        m_log(QStringLiteral("leave %1: %2").arg(client->peer, why));
    }
    client->socket->disconnect(this);
    for (QTimer *timer : {client->resume, client->deadline, client->quietEnd})
        timer->stop();
    if (farewell.isEmpty() || client->socket->state() != QAbstractSocket::ConnectedState) {
        client->socket->abort();
        client->socket->deleteLater();
    } else {
        closeGently(client->socket, farewell);
    }
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
