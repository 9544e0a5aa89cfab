// SPDX-License-Identifier: MIT
#include "server/StageServer.h"

#include "net/Protocol.h"
#include "server/LogText.h"
#include "server/NameRules.h"
#include "server/RelayRules.h"
#include "server/TcpLink.h"

#include <QFile>
#include <QNetworkInterface>
#include <QTcpSocket>

namespace {

constexpr qint64 ReadChunk = 64 * 1024;
// A refused or dismissed peer that does not take its farewell is cut after this.
constexpr qint64 FarewellMs = 5000;
// At most this many log lines a second; the rest are counted.
constexpr double LogLinesPerSecond = 50;

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

// "192.0.2.7" or "[2001:db8::7]", as a browser writes them.
QString hostText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : u'[' + address.toString() + u']';
}

QString peerText(const QHostAddress &address, quint16 port)
{
    return hostText(address) + u':' + QString::number(port);
}

} // namespace

StageServer::Group::Group(const ServerSettings &s, qint64 nowNs)
    : packets(s.rate, s.burst, nowNs), bytes(s.byteRate, s.byteBurst, nowNs),
      joins(s.joinRate, s.joinBurst, nowNs), connects(s.connectRate, s.connectBurst, nowNs)
{}

StageServer::StageServer(const ServerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_logBudget(LogLinesPerSecond, LogLinesPerSecond, 0),
      m_log([](const QString &) {})
{
    m_clock.start();
    m_ownAddresses = QNetworkInterface::allAddresses();
    for (AdmittingServer *server : {&m_server, &m_tlsServer}) {
        server->setListenBacklogSize(systemBacklog());
        server->setAdmit([this](const QHostAddress &peer) { return admit(peer); });
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { takeConnections(*server); });
    }
    m_farewellSweep.setInterval(500);
    connect(&m_farewellSweep, &QTimer::timeout, this, &StageServer::sweepFarewells);
    m_summary.setInterval(m_settings.summaryIntervalMs);
    connect(&m_summary, &QTimer::timeout, this, &StageServer::summarize);
    m_summary.start();
    m_noticeFlush.setSingleShot(true);
    connect(&m_noticeFlush, &QTimer::timeout, this, &StageServer::flushNotices);
}

StageServer::~StageServer()
{
    for (auto &client : m_clients) {
        if (!client->gone)
            client->link->disconnect(this);
    }
}

bool StageServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

bool StageServer::listenTls(const QHostAddress &address, quint16 port,
                            const QSslConfiguration &configuration)
{
    m_tlsServer.setTls(configuration);
    return m_tlsServer.listen(address, port);
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

void StageServer::log(const QString &line)
{
    if (m_logBudget.tryTake(m_clock.nsecsElapsed()))
        m_log(line);
    else
        ++m_logSuppressed;
}

std::shared_ptr<StageServer::Group> StageServer::groupFor(const QString &key)
{
    const qint64 now = m_clock.nsecsElapsed();
    if (key.isEmpty())
        return std::make_shared<Group>(m_settings, now);
    if (auto found = m_groups.find(key); found != m_groups.end())
        return found->second;
    if (m_groups.size() >= MaxRememberedGroups) {
        // Addresses without end (a whole IPv6 prefix): the groups with no
        // connection are forgotten early rather than memory spent on them.
        std::erase_if(m_groups, [](const auto &entry) {
            return entry.second->connections == 0 && entry.second.use_count() == 1;
        });
    }
    auto group = std::make_shared<Group>(m_settings, now);
    group->emptySinceMs = nowMs();
    m_groups.emplace(key, group);
    return group;
}

bool StageServer::admit(const QHostAddress &peer)
{
    if (m_bans.bansAddress(peer)) {
        log(QStringLiteral("refused %1: banned").arg(hostText(peer)));
        return false;
    }
    if (RelayRules::isExemptAddress(peer))
        return true;
    Group &group = *groupFor(RelayRules::addressGroup(peer, m_ownAddresses));
    if (group.connects.tryTake(m_clock.nsecsElapsed()))
        return true;
    // A flood: closed at once, nothing kept but the count for the summary.
    ++group.refused;
    return false;
}

void StageServer::takeConnections(AdmittingServer &server)
{
    while (QTcpSocket *socket = server.nextPendingConnection())
        adopt(new TcpLink(socket));
}

void StageServer::adopt(Link *link)
{
    link->setParent(this);
    const QHostAddress address = link->peerAddress();
    const bool exempt = RelayRules::isExemptAddress(address);
    const QString key = exempt ? QString() : RelayRules::addressGroup(address, m_ownAddresses);
    std::shared_ptr<Group> group = groupFor(key);
    QString peer = peerText(address, link->peerPort());
    if (!link->kind().isEmpty())
        peer.prepend(link->kind() + u' ');
    if (!exempt && m_settings.maxPerAddress > 0 && group->connections >= m_settings.maxPerAddress) {
        refuse(link, *group, peer, "Too many connections from your address",
               QStringLiteral("%1 connections from %2 already").arg(group->connections).arg(key));
        return;
    }
    if (!exempt && group->unjoined >= MaxUnjoinedPerGroup) {
        refuse(link, *group, peer, "Too many connections from your address",
               QStringLiteral("%1 connections from %2 waiting to join already")
                   .arg(group->unjoined)
                   .arg(key));
        return;
    }
    if (m_unjoined >= MaxUnjoined)
        closeOldestUnjoined();

    auto client = std::make_unique<Client>();
    Client *raw = client.get();
    raw->link = link;
    raw->group = group;
    raw->peer = peer;
    ++group->connections;
    ++group->unjoined;
    ++m_unjoined;
    raw->resume = timerFor(raw, 0, &StageServer::readFrom);
    raw->deadline = timerFor(raw, m_settings.joinTimeoutMs, &StageServer::joinDeadline);
    raw->quietEnd = timerFor(raw, NewcomerQuietMs, &StageServer::endQuiet);
    raw->newUserDue = timerFor(raw, 0, &StageServer::sendNewUser);
    connect(link, &Link::readyRead, this, [this, raw] { readFrom(raw); });
    connect(link, &Link::closed, this,
            [this, raw] { leaveLater(raw, QStringLiteral("disconnected")); });
    connect(link, &Link::failed, this, [this, raw](const QString &why) { leaveLater(raw, why); });
    raw->deadline->start();
    m_clients.push_back(std::move(client));
    log(QStringLiteral("connect %1").arg(peer));
    // What came with the upgrade already waits.
    if (link->bytesAvailable() > 0)
        raw->resume->start();
}

QTimer *StageServer::timerFor(Client *client, int ms, void (StageServer::*slot)(Client *))
{
    auto *timer = new QTimer(client->link);
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

void StageServer::closeOldestUnjoined()
{
    for (const auto &client : m_clients) {
        if (!client->gone && client->number < 0) {
            drop(client.get(), QStringLiteral("the waiting places are full; the oldest goes"));
            return;
        }
    }
}

void StageServer::refuse(Link *link, Group &group, const QString &peer, const QByteArray &notice,
                         const QString &why)
{
    ++group.refused;
    log(QStringLiteral("refused %1: %2").arg(peer, why));
    closeGently(link, RelayRules::notice(notice));
}

void StageServer::closeGently(Link *link, const QByteArray &farewell)
{
    while (!m_farewells.empty() && !m_farewells.front().first)
        m_farewells.pop_front();
    if (m_farewells.size() >= MaxFarewells) {
        // Too many peers that do not take their farewell: no more are written.
        link->abort();
        link->deleteLater();
        return;
    }
    // Closing after the farewell is written; a peer that does not take it in
    // time is cut by the sweep, so a refused connection cannot linger.
    QObject::connect(link, &Link::closed, link, &QObject::deleteLater);
    m_farewells.emplace_back(link, nowMs() + FarewellMs);
    if (!m_farewellSweep.isActive())
        m_farewellSweep.start();
    link->closeAfter(farewell);
}

void StageServer::sweepFarewells()
{
    const qint64 now = nowMs();
    while (!m_farewells.empty() &&
           (!m_farewells.front().first || m_farewells.front().second <= now)) {
        if (Link *link = m_farewells.front().first) {
            link->abort();
            link->deleteLater();
        }
        m_farewells.pop_front();
    }
    if (m_farewells.empty())
        m_farewellSweep.stop();
}

void StageServer::summarize()
{
    int refused = 0;
    int groups = 0;
    QString busiest;
    int most = 0;
    const qint64 now = nowMs();
    for (auto it = m_groups.begin(); it != m_groups.end();) {
        Group &group = *it->second;
        if (group.refused > 0) {
            refused += group.refused;
            ++groups;
            if (group.refused > most) {
                most = group.refused;
                busiest = it->first;
            }
            group.refused = 0;
        }
        // A group that has been gone long enough starts afresh next time.
        if (group.connections == 0 && group.emptySinceMs >= 0 &&
            now - group.emptySinceMs >= RememberGroupMs && it->second.use_count() == 1)
            it = m_groups.erase(it);
        else
            ++it;
    }
    const double seconds = m_settings.summaryIntervalMs / 1000.0;
    if (groups == 1)
        m_log(QStringLiteral("%1 connections refused from %2 in %3 s")
                  .arg(refused)
                  .arg(busiest)
                  .arg(seconds));
    else if (groups > 1)
        m_log(QStringLiteral("%1 connections refused from %2 address groups in %3 s, %4 from %5")
                  .arg(refused)
                  .arg(groups)
                  .arg(seconds)
                  .arg(most)
                  .arg(busiest));
    if (m_logSuppressed > 0) {
        m_log(QStringLiteral("%1 log lines left out in %2 s: the log takes %3 a second")
                  .arg(m_logSuppressed)
                  .arg(seconds)
                  .arg(LogLinesPerSecond));
        m_logSuppressed = 0;
    }
}

void StageServer::readFrom(Client *client)
{
    while (!client->gone) {
        if (!client->waiting)
            client->waiting = client->framer.next();
        if (client->waiting) {
            if (!withinBudget(client, *client->waiting))
                return;
            handlePacket(client, *std::exchange(client->waiting, std::nullopt));
            continue;
        }
        if (client->framer.overflowed()) {
            drop(client, QStringLiteral("packet longer than %1 bytes").arg(MaxPacket));
            return;
        }
        if (client->link->bytesAvailable() <= 0)
            break;
        client->framer.append(client->link->read(ReadChunk));
    }
    if (!client->gone && !client->leaving.isEmpty())
        drop(client, client->leaving);
}

bool StageServer::withinBudget(Client *client, const QByteArray &packet)
{
    // The presence answer a "NewUser" asks for is free: a crowd coming and
    // going cannot spend the budgets of those already on the stage.
    if (client->freeAnswers > 0 && client->number >= 0 &&
        packet.startsWith(char(Protocol::RelayMarker)) &&
        RelayRules::isPresenceAnswer(QByteArrayView(packet).sliced(1))) {
        --client->freeAnswers;
        return true;
    }
    Group &group = *client->group;
    const qint64 now = m_clock.nsecsElapsed();
    const double bytes = double(packet.size() + 1);
    const bool joining = client->number < 0 && packet.startsWith(char(Protocol::JoinMarker));
    qint64 wait = std::max(group.packets.nsUntil(now), group.bytes.nsUntil(now, bytes));
    if (joining)
        wait = std::max(wait, group.joins.nsUntil(now));
    if (wait > 0) {
        // Over budget: the packet and what follows wait, the rest in its own
        // socket, until the budget refills; nothing is lost and nobody else
        // waits for it.
        if (!client->resume->isActive())
            client->resume->start(int(wait / 1'000'000) + 1);
        return false;
    }
    group.packets.tryTake(now);
    group.bytes.tryTake(now, bytes);
    if (joining)
        group.joins.tryTake(now);
    return true;
}

void StageServer::handlePacket(Client *client, const QByteArray &packet)
{
    if (packet.isEmpty())
        return;
    if (packet.front() == char(Protocol::JoinMarker) && client->number < 0) {
        join(client, packet.mid(1));
        return;
    }
    if (packet.front() != char(Protocol::RelayMarker) || client->number < 0)
        return; // unknown markers, packets before the join, a second join
    const QByteArray body = packet.mid(1);
    const RelayRules::Verdict verdict = RelayRules::judge(body, client->number, client->name);
    switch (verdict.kind) {
    case RelayRules::Verdict::Relay:
        // A closed client's last steps go out only while nobody else has its number.
        if (!client->vacated || !body.startsWith("Action") || !m_numbers[client->number])
            relay(body + '\0');
        break;
    case RelayRules::Verdict::Refused:
        send(client, RelayRules::notice(verdict.reason));
        break;
    case RelayRules::Verdict::NotOwn:
        notRelayed(client, body);
        break;
    }
}

void StageServer::join(Client *client, const QByteArray &name)
{
    const QString look = NameRules::lookAlike(name);
    std::optional<QByteArray> refusal = NameRules::refusal(name);
    if (!refusal) {
        for (const Client *other : m_numbers) {
            if (other && other->lookAlike == look)
                refusal = "The name " + RelayRules::noticeName(name) + " is already on the stage";
        }
    }
    if (!refusal && m_bans.bansName(look))
        refusal = "You cannot join this stage";
    if (!refusal && joinedCount() >= MaxClients)
        refusal = "The stage is full: " + QByteArray::number(MaxClients) + " of " +
                  QByteArray::number(MaxClients) + " places are taken";
    if (refusal) {
        drop(client,
             QStringLiteral("refused name %1: %2").arg(quoted(name), QString::fromLatin1(*refusal)),
             RelayRules::notice(*refusal));
        return;
    }
    int number = 0;
    while (number < MaxClients && m_numbers[number])
        ++number;
    --client->group->unjoined;
    --m_unjoined;
    client->deadline->stop();
    client->number = number;
    client->name = name;
    client->lookAlike = look;
    m_numbers[number] = client;
    for (Client *other : m_numbers) {
        if (other && other != client)
            announceNewcomer(other);
    }
    noticeJoin(client);
    m_log(QStringLiteral("join %1 as %2 %3").arg(client->peer).arg(number).arg(quoted(name)));
    send(client, Protocol::ClientNumber.toLatin1() + char('0' + number));
    client->quiet = true;
    client->quietEnd->start();
}

void StageServer::setBans(BanList bans)
{
    m_bans = std::move(bans);
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Client *client = m_clients[i].get();
        if (client->gone)
            continue;
        const bool byAddress = m_bans.bansAddress(client->link->peerAddress());
        if (byAddress || (client->number >= 0 && m_bans.bansName(client->lookAlike))) {
            client->removed = true;
            drop(client, byAddress ? QStringLiteral("removed: its address is banned")
                                   : QStringLiteral("removed: its name is banned"));
        }
    }
}

void StageServer::announceNewcomer(Client *to)
{
    if (to->newUserDue->isActive())
        return; // the one already due answers for this newcomer too
    const qint64 since = nowMs() - to->lastNewUserMs;
    if (since >= NewUserGapMs)
        sendNewUser(to);
    else
        to->newUserDue->start(int(NewUserGapMs - since));
}

void StageServer::sendNewUser(Client *to)
{
    if (to->gone || to->vacated)
        return;
    to->lastNewUserMs = nowMs();
    to->freeAnswers = std::min(to->freeAnswers + 1, 2);
    send(to, Protocol::NewUser.toLatin1() + '\0');
}

void StageServer::noticeJoin(Client *newcomer)
{
    if (!m_settings.notices)
        return;
    if (auto line = m_joinNotices.add(RelayRules::noticeName(newcomer->name), nowMs())) {
        const QByteArray notice = RelayRules::notice(*line);
        for (Client *other : m_numbers) {
            if (other && other != newcomer)
                send(other, notice);
        }
    }
    if (!m_noticeFlush.isActive() && m_joinNotices.dueMs() >= 0)
        m_noticeFlush.start(int(std::max<qint64>(0, m_joinNotices.dueMs() - nowMs())));
}

void StageServer::noticeLeave(const QByteArray &name)
{
    if (!m_settings.notices)
        return;
    if (auto line = m_leaveNotices.add(RelayRules::noticeName(name), nowMs()))
        relay(RelayRules::notice(*line));
    if (!m_noticeFlush.isActive() && m_leaveNotices.dueMs() >= 0)
        m_noticeFlush.start(int(std::max<qint64>(0, m_leaveNotices.dueMs() - nowMs())));
}

void StageServer::flushNotices()
{
    const qint64 now = nowMs();
    for (NoticeBatch *batch : {&m_joinNotices, &m_leaveNotices}) {
        if (batch->dueMs() < 0 || batch->dueMs() > now)
            continue;
        // One who joined is not told of itself.
        const auto alone = batch == &m_joinNotices ? batch->singleWaiting() : std::nullopt;
        if (auto line = batch->flush()) {
            const QByteArray notice = RelayRules::notice(*line);
            for (Client *client : m_numbers) {
                if (client && (!alone || RelayRules::noticeName(client->name) != *alone))
                    send(client, notice);
            }
        }
    }
    qint64 next = -1;
    for (const NoticeBatch *batch : {&m_joinNotices, &m_leaveNotices}) {
        if (batch->dueMs() >= 0 && (next < 0 || batch->dueMs() < next))
            next = batch->dueMs();
    }
    if (next >= 0)
        m_noticeFlush.start(int(std::max<qint64>(0, next - now)));
}

void StageServer::endQuiet(Client *client)
{
    client->quiet = false;
    if (client->held.size() == 0)
        return;
    send(client, client->held.take());
}

void StageServer::notRelayed(Client *client, const QByteArray &body)
{
    ++client->notRelayed;
    const qint64 now = nowMs();
    if (client->notRelayedLoggedMs >= 0 &&
        now - client->notRelayedLoggedMs < NotRelayedLogIntervalMs)
        return;
    log(QStringLiteral("not relayed from %1 number %2: %3 packet(s) not its own, such as %4")
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
    if (client->quiet) {
        // Held within its own bound; a newcomer is never cut for it.
        client->held.add(bytes);
        return;
    }
    client->link->write(bytes);
    if (client->link->bytesToWrite() > MaxPendingOutput)
        leaveLater(client,
                   QStringLiteral("not reading: more than %1 bytes unsent").arg(MaxPendingOutput));
}

void StageServer::leaveLater(Client *client, const QString &why)
{
    if (client->gone || !client->leaving.isEmpty())
        return;
    client->leaving = why;
    // Gone from the stage at the close; what it sent before is still relayed.
    if (!client->link->isOpen())
        vacate(client, why);
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
        if (client->link->isOpen()) {
            // Still open but leaving for its own fault: nothing more of it is read.
            drop(client, client->leaving);
            continue;
        }
        // Closed: what it sent before it went is relayed within its budget,
        // and it is dropped when that is done.
        readFrom(client);
    }
}

void StageServer::vacate(Client *client, const QString &why)
{
    if (client->number < 0 || client->vacated)
        return;
    client->vacated = true;
    m_numbers[client->number] = nullptr;
    client->newUserDue->stop();
    const QString unrelayed =
        client->notRelayed > 0
            ? QStringLiteral(" (%1 more packet(s) not relayed)").arg(client->notRelayed)
            : QString();
    m_log(QStringLiteral("leave %1 number %2: %3%4")
              .arg(client->peer)
              .arg(client->number)
              .arg(why, unrelayed));
    if (!client->removed)
        noticeLeave(client->name);
    else // an operator's doing: told even when joins and leaves are not
        relay(RelayRules::notice(RelayRules::noticeName(client->name) +
                                 " was removed from the stage"));
}

void StageServer::drop(Client *client, const QString &why, const QByteArray &farewell)
{
    if (client->gone)
        return;
    Group &group = *client->group;
    if (client->number >= 0)
        vacate(client, why);
    else if (!why.startsWith(TcpLink::HandshakeFailed))
        log(QStringLiteral("leave %1: %2").arg(client->peer, why));
    else if (group.handshakeFailureLoggedMs < 0 ||
             nowMs() - group.handshakeFailureLoggedMs >= HandshakeFailureLogIntervalMs) {
        // A scanner tries every port: one line a group every 10 s is enough.
        group.handshakeFailureLoggedMs = nowMs();
        log(QStringLiteral("leave %1: %2").arg(client->peer, why));
    }
    client->gone = true;
    if (client->number < 0) {
        --group.unjoined;
        --m_unjoined;
    }
    if (--group.connections == 0)
        group.emptySinceMs = nowMs();
    client->link->disconnect(this);
    for (QTimer *timer : {client->resume, client->deadline, client->quietEnd, client->newUserDue})
        timer->stop();
    if (farewell.isEmpty() || !client->link->isOpen()) {
        client->link->abort();
        client->link->deleteLater();
    } else {
        closeGently(client->link, farewell);
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
