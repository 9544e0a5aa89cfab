// SPDX-License-Identifier: MIT
#include "server/stage/StageServer.h"

#include "net/ActionView.h"
#include "net/PacketBytes.h"

#include "net/Protocol.h"
#include "server/carriers/PeerAddress.h"
#include "server/rules/FirstBytes.h"
#include "server/rules/LogText.h"
#include "server/rules/NameRules.h"
#include "server/rules/RelayRules.h"

#include <QTcpSocket>

namespace {

constexpr qint64 ReadChunk = 64 * 1024;

} // namespace

StageServer::StageServer(const ServerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings),
      m_groups(settings, [this] { return m_clock.nsecsElapsed(); }),
      m_log(m_groups, settings.summaryIntervalMs), m_farewells([this] { return nowMs(); }),
      m_admission(m_settings, m_groups, m_counters, m_log, m_farewells, [this] { return nowMs(); }),
      m_notices(
          settings.notices, [this] { return nowMs(); },
          [this](const QByteArray &notice, const std::optional<QByteArray> &notTo) {
              for (Client *client : m_numbers) {
                  if (client && (!notTo || RelayRules::noticeName(client->shownName) != *notTo))
                      send(client, notice, Then::Apart); // a leaver's step off may follow
              }
          })
{
    m_groups.setOwnAddresses(PeerAddress::ownAddresses());
    m_admission.setGiveWay([this](quint64 serial) { return giveWay(serial); });
}

StageServer::~StageServer()
{
    for (auto &client : m_clients) {
        if (!client->isGone())
            client->link->disconnect(this);
    }
}

bool StageServer::admit(const QHostAddress &peer)
{
    return m_admission.admit(peer);
}

void StageServer::adopt(Link *link, StageFigures::Carrier carrier)
{
    link->setParent(this);
    QString peer = PeerAddress::text(link->peerAddress(), link->peerPort());
    if (!link->kind().isEmpty())
        peer.prepend(link->kind() + u' ');
    const auto seat = m_admission.seat(link, peer);
    if (!seat)
        return;
    const std::shared_ptr<AddressGroup> group = seat->group;

    auto client = std::make_unique<Client>(link, group, peer, MaxPacket);
    Client *raw = client.get();
    raw->carrier = carrier;
    raw->output.setWrite([this, raw](const QByteArray &packet) { write(raw, packet); });
    raw->serial = seat->serial;
    link->setSpend([this, group](int packets, qint64 bytes) {
        return group->spendNow(m_groups.nowNs(), packets, bytes);
    });
    connect(&raw->resume, &QTimer::timeout, this, [this, raw] { readFrom(raw); });
    connect(&raw->deadline, &QTimer::timeout, this, [this, raw] {
        if (raw->phase() == Phase::Waiting) {
            m_counters.refused(StageCounters::Refusal::WaitingPool);
            drop(raw, QStringLiteral("no join within %1 s").arg(m_settings.joinTimeoutMs / 1000.0));
        } else if (raw->phase() == Phase::Draining) {
            drop(raw, raw->why + QStringLiteral(" (what it sent after %1 s not relayed)")
                                     .arg(MaxDrainMs / 1000.0));
        }
    });
    connect(&raw->newUserDue, &QTimer::timeout, this, [this, raw] { raw->sendNewUser(nowMs()); });
    connect(link, &Link::readyRead, this, [this, raw] { readFrom(raw); });
    connect(link, &Link::closed, this,
            [this, raw] { leaveLater(raw, QStringLiteral("disconnected")); });
    connect(link, &Link::failed, this, [this, raw](Link::Failure failure, const QString &why) {
        leaveLater(raw, why, failure);
    });
    raw->deadline.start(m_settings.joinTimeoutMs);
    m_clients.push_back(std::move(client));
    log(QStringLiteral("connect %1").arg(peer));
    // What came with the upgrade already waits.
    if (link->bytesAvailable() > 0)
        raw->resume.start(0);
}

bool StageServer::giveWay(quint64 serial)
{
    for (const auto &client : m_clients) {
        if (client->serial == serial && !client->isGone() && !client->hasJoined()) {
            drop(client.get(), QStringLiteral("gave its waiting place to a newcomer"));
            return true;
        }
    }
    return false;
}

void StageServer::readFrom(Client *client)
{
    while (!client->isGone()) {
        if (!client->waiting)
            client->waiting = client->framer.next();
        if (client->waiting) {
            if (!withinBudget(client, *client->waiting))
                return;
            const PacketFramer::Frame frame = *std::exchange(client->waiting, std::nullopt);
            if (client->phase() == Phase::Draining) {
                client->drainLeft -= frame.size() + 1;
                if (client->drainLeft < 0) {
                    drop(client, client->why + QStringLiteral(" (what it sent past %1 bytes "
                                                              "not relayed)")
                                                   .arg(MaxDrainBytes));
                    return;
                }
            }
            if (frame.overlong > 0) {
                m_counters.refused(StageCounters::Refusal::Shape);
                send(client, RelayRules::notice("Not sent: a packet holds at most " +
                                                QByteArray::number(MaxPacket) + " bytes"));
            } else {
                handlePacket(client, frame.packet);
            }
            continue;
        }
        if (client->framer.overflowed()) {
            m_counters.refused(StageCounters::Refusal::Shape);
            drop(client, QStringLiteral("more than %1 bytes without a terminator")
                             .arg(PacketFramer::DefaultMaxRun));
            return;
        }
        if (client->link->bytesAvailable() <= 0)
            break;
        QByteArray bytes = client->link->read(ReadChunk);
        if (!client->speaksStage) {
            client->opening += bytes;
            const FirstBytes::Kind kind = FirstBytes::of(client->opening);
            if (kind == FirstBytes::Kind::Undecided)
                continue;
            if (kind != FirstBytes::Kind::Stage) {
                // Nothing of it counts: a request's body or a handshake's
                // bytes are no packets of anyone's. Whoever sent it may have
                // been made to by a page elsewhere, so it is no ban's business.
                m_counters.refused(StageCounters::Refusal::CrossProtocol);
                drop(client, QStringLiteral("not a stage client: it sent %1")
                                 .arg(QLatin1String(FirstBytes::describe(kind))));
                return;
            }
            client->speaksStage = true;
            bytes = std::exchange(client->opening, {});
        }
        client->framer.append(bytes);
    }
    if (client->phase() == Phase::Leaving || client->phase() == Phase::Draining)
        drop(client, client->why);
}

bool StageServer::withinBudget(Client *client, const PacketFramer::Frame &frame)
{
    const QByteArray &packet = frame.packet;
    // The presence answer a "NewUser" asks for is free: a crowd coming and
    // going cannot spend the budgets of those already on the stage.
    if (client->freeAnswers > 0 && client->hasJoined() &&
        packet.startsWith(char(Protocol::RelayMarker)) &&
        RelayRules::isPresenceAnswer(QByteArrayView(packet).sliced(1))) {
        --client->freeAnswers;
        return true;
    }
    const bool joining = !client->hasJoined() && packet.startsWith(char(Protocol::JoinMarker));
    const qint64 wait = client->group->spend(m_groups.nowNs(), frame.size() + 1, joining);
    // Over budget: the packet and what follows wait, the rest in its own
    // socket, until the budget refills; nothing is lost and nobody else
    // waits for it.
    if (wait > 0 && !client->resume.isActive())
        client->resume.start(int(wait / 1'000'000) + 1);
    return wait == 0;
}

void StageServer::handlePacket(Client *client, const QByteArray &packet)
{
    if (packet.isEmpty())
        return;
    // A join that came before its sender closed still counts, so that what
    // it said after it is relayed.
    if (packet.front() == char(Protocol::JoinMarker) && !client->hasJoined()) {
        join(client, packet.mid(1));
        return;
    }
    if (packet.front() != char(Protocol::RelayMarker) || !client->hasJoined())
        return; // unknown markers, packets before the join, a second join
    const QByteArray body = packet.mid(1);
    const RelayRules::Verdict verdict =
        RelayRules::judge(body, client->number, client->name, client->shownName);
    switch (verdict.kind) {
    case RelayRules::Verdict::Relay:
        // A closed client's last steps go out only while nobody else has its number.
        if (!ActionView::isAction(body)) {
            // The pieces of a long line, each read on its own.
            const QList<QByteArray> lines =
                RelayRules::relayedLines(body, client->name, client->shownName);
            for (qsizetype i = 0; i < lines.size(); ++i)
                relayOwn(lines[i], i + 1 < lines.size() ? Then::Apart : Then::Together);
        } else if (m_numbers[client->number] == client || !m_numbers[client->number]) {
            client->wireCode = verdict.code.toByteArray();
            relayOwn(body + '\0');
        }
        break;
    case RelayRules::Verdict::Refused:
        m_counters.refused(StageCounters::Refusal::Shape);
        send(client, RelayRules::notice(verdict.reason));
        break;
    case RelayRules::Verdict::NotOwn:
        m_counters.refused(StageCounters::Refusal::Shape);
        m_log.notRelayed(*client, body, nowMs());
        break;
    }
}

std::optional<std::pair<StageCounters::Refusal, QByteArray>>
StageServer::joinRefusal(const QByteArray &name, const QString &look) const
{
    using Refusal = StageCounters::Refusal;
    if (auto refusal = NameRules::refusal(name, m_lookAlike))
        return std::pair(Refusal::Name, *refusal);
    if (m_admission.bans().bansName(look))
        return std::pair(Refusal::Ban, QByteArray("You cannot join this stage"));
    if (joinedCount() >= MaxClients)
        return std::pair(Refusal::Full, "The stage is full: " + QByteArray::number(MaxClients) +
                                            " of " + QByteArray::number(MaxClients) +
                                            " places are taken");
    return std::nullopt;
}

void StageServer::join(Client *client, const QByteArray &name)
{
    const QString look = m_lookAlike.of(name);
    if (const auto refusal = joinRefusal(name, look)) {
        m_counters.refused(refusal->first);
        // A full stage is nobody's fault: whoever fills it would otherwise
        // make everyone who comes after ban themselves by trying.
        const QString why =
            refusal->first == StageCounters::Refusal::Full
                ? QStringLiteral("the stage is full, for %1").arg(LogText::quoted(name))
                : QStringLiteral("refused name %1: %2")
                      .arg(LogText::quoted(name), LogText::escaped(refusal->second, 200));
        drop(client, why, RelayRules::notice(refusal->second));
        return;
    }
    int number = 0;
    while (number < MaxClients && m_numbers[number])
        ++number;
    m_admission.leave({client->group, client->serial});
    // A Draining client's deadline is its drain's: it still holds.
    if (client->phase() == Phase::Waiting) {
        client->deadline.stop();
        client->moveTo(Phase::OnStage);
    }
    const QByteArray shown = NameRules::shownName(
        name, [this](QByteArrayView candidate) { return isOnStage(m_lookAlike.of(candidate)); });
    client->number = number;
    client->name = name;
    client->shownName = shown;
    client->lookAlike = shown == name ? look : m_lookAlike.of(shown);
    m_numbers[number] = client;
    ++m_counters.joins;
    for (Client *other : m_numbers) {
        if (other && other != client)
            other->announceNewcomer(nowMs());
    }
    m_notices.joined(shown);
    QString line =
        QStringLiteral("join %1 as %2 %3").arg(client->peer).arg(number).arg(LogText::quoted(name));
    if (shown != name)
        line += QStringLiteral(" shown as ") + LogText::quoted(shown);
    m_log.always(line);
    if (client->isListening())
        client->output.sendAlone(PacketBytes::clientNumber(number), m_settings.newcomerQuietMs);
    if (shown != name)
        send(client, RelayRules::notice(NameRules::shownNotice(name, shown)));
}

void StageServer::setBans(BanList bans)
{
    m_admission.setBans(std::move(bans));
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Client *client = m_clients[i].get();
        if (client->isGone())
            continue;
        const bool byAddress =
            m_admission.bans().bansAddress(PeerAddress::from(client->link->peerAddress()));
        if (byAddress ||
            (client->hasJoined() && m_admission.bans().bansName(m_lookAlike.of(client->name)))) {
            m_counters.refused(StageCounters::Refusal::Ban);
            drop(client,
                 byAddress ? QStringLiteral("removed: its address is banned")
                           : QStringLiteral("removed: its name is banned"),
                 {}, true);
        }
    }
}

void StageServer::relay(const QByteArray &packet, Then then)
{
    for (Client *client : m_numbers) {
        if (client)
            send(client, packet, then);
    }
}

void StageServer::relayOwn(const QByteArray &packet, Then then)
{
    ++m_counters.relayedPackets;
    m_counters.relayedBytes += packet.size();
    relay(packet, then);
}

void StageServer::send(Client *client, const QByteArray &packet, Then then)
{
    if (!client->isListening())
        return;
    if (then == Then::Apart)
        client->output.sendThenGap(packet);
    else
        client->output.send(packet);
}

void StageServer::write(Client *client, const QByteArray &packet)
{
    // What is held for a client counts against its own bound there, not here.
    m_counters.sentBytes += packet.size();
    client->link->write(packet);
    if (client->link->bytesToWrite() > MaxPendingOutput)
        leaveLater(client,
                   QStringLiteral("not reading: more than %1 bytes unsent").arg(MaxPendingOutput));
}

void StageServer::leaveLater(Client *client, const QString &why, Link::Failure failure)
{
    if (!client->isListening())
        return;
    client->why = why;
    client->failure = failure;
    if (client->link->isOpen()) {
        client->moveTo(Phase::Leaving);
    } else {
        // What it sent before its close is still relayed, within a bound,
        // under its own name, which nobody else takes meanwhile; then it
        // leaves the stage, its leave notice after its last line.
        client->moveTo(Phase::Draining);
        client->drainLeft = MaxDrainBytes;
        client->deadline.start(MaxDrainMs);
    }
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
        if (client->isGone() || client->isListening())
            continue;
        if (client->link->isOpen())
            drop(client, client->why); // its own fault: nothing more of it is read
        else
            readFrom(client); // dropped once its last packets are relayed
    }
}

void StageServer::vacate(Client *client, const QString &why, bool removed)
{
    if (!client->hasJoined() || m_numbers[client->number] != client)
        return;
    m_numbers[client->number] = nullptr;
    ++m_counters.leaves;
    client->newUserDue.stop();
    m_log.left(*client, why);
    if (!removed)
        m_notices.left(client->shownName);
    else
        relay(RelayRules::notice(RelayRules::noticeName(client->shownName) +
                                 " was removed from the stage"),
              Then::Apart);
}

void StageServer::drop(Client *client, const QString &why, const QByteArray &farewell, bool removed)
{
    if (client->isGone())
        return;
    if (client->hasJoined()) {
        vacate(client, why, removed);
        // After every packet of its own, and only while the number is free:
        // the leaver's image leaves every stage.
        if (!m_numbers[client->number])
            relay(RelayRules::offStageStep(client->number, client->wireCode));
    } else
        m_log.dropped(*client, why, nowMs());
    if (!client->hasJoined()) {
        m_admission.leave({client->group, client->serial});
    }
    client->moveTo(Phase::Gone);
    m_groups.closed(*client->group, false);
    client->link->disconnect(this);
    client->stopTimers();
    if (farewell.isEmpty() || !client->link->isOpen()) {
        client->link->abort();
        client->link->deleteLater();
    } else {
        m_farewells.closeAfter(client->link, farewell);
    }
    if (!m_purgeQueued) {
        m_purgeQueued = true;
        QTimer::singleShot(0, this, &StageServer::purge);
    }
}

void StageServer::purge()
{
    m_purgeQueued = false;
    std::erase_if(m_clients, [](const auto &client) { return client->isGone(); });
}

StageFigures StageServer::figures() const
{
    StageFigures figures;
    figures.placesTaken = joinedCount();
    figures.places = MaxClients;
    figures.counters = m_counters;
    for (const auto &client : m_clients) {
        if (client->isGone())
            continue;
        ++figures.connections[std::size_t(client->carrier)];
        figures.heldBytes += client->output.heldBytes();
    }
    figures.addressGroups = qint64(m_groups.size());
    figures.logLinesLeftOut = m_log.leftOutInAll();
    return figures;
}
