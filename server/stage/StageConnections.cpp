// SPDX-License-Identifier: MIT
#include "server/stage/StageConnections.h"

#include "net/Protocol.h"
#include "server/carriers/PeerAddress.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/RelayRules.h"
#include "server/stage/Admission.h"
#include "server/stage/Farewells.h"
#include "server/stage/StageLog.h"

#include <QTimer>

StageConnections::StageConnections(const ServerSettings &settings, AddressGroups &groups,
                                   Admission &admission, StageCounters &counters, StageLog &log,
                                   Farewells &farewells, std::function<qint64()> nowMs,
                                   QObject *parent)
    : QObject(parent), m_settings(settings), m_groups(groups), m_admission(admission),
      m_counters(counters), m_log(log), m_farewells(farewells), m_nowMs(std::move(nowMs))
{}

StageConnections::~StageConnections()
{
    for (auto &client : m_clients) {
        if (!client->isGone())
            client->link()->disconnect(this);
    }
}

bool StageConnections::adopt(Link *link, StageFigures::Carrier carrier)
{
    link->setParent(this);
    QString peer = PeerAddress::text(link->peerAddress(), link->peerPort());
    if (!link->kind().isEmpty())
        peer.prepend(link->kind() + u' ');
    const auto seat = m_admission.seat(link, peer);
    if (!seat)
        return false;
    Client::Hooks hooks;
    hooks.nowMs = m_nowMs;
    hooks.write = [this](Client &client, const QByteArray &packet) {
        write(&client, packet);
    };
    hooks.readOn = [this](Client &client) {
        readFrom(&client);
    };
    hooks.deadline = [this](Client &client) {
        if (client.phase() == Client::Phase::Waiting) {
            m_counters.refused(StageCounters::Refusal::WaitingPool);
            drop(&client,
                 QStringLiteral("no join within %1 s").arg(m_settings.joinTimeoutMs / 1000.0));
        } else if (client.phase() == Client::Phase::Draining) {
            drop(&client, client.why() + QStringLiteral(" (what it sent after %1 s not relayed)")
                                             .arg(Client::MaxDrainMs / 1000.0));
        }
    };
    const std::shared_ptr<AddressGroup> group = seat->group;
    auto owned = std::make_unique<Client>(link, group, peer, carrier, seat->serial,
                                          Protocol::MaxPacket, std::move(hooks));
    Client *client = owned.get();
    link->setSpend([this, group](int packets, qint64 bytes) {
        return group->spendNow(m_groups.nowNs(), packets, bytes);
    });
    connect(link, &Link::readyRead, this, [this, client] { readFrom(client); });
    connect(link, &Link::closed, this,
            [this, client] { leaveLater(client, QStringLiteral("disconnected")); });
    connect(link, &Link::failed, this, [this, client](Link::Failure failure, const QString &why) {
        leaveLater(client, why, failure);
    });
    client->awaitJoin(m_settings.joinTimeoutMs);
    m_clients.push_back(std::move(owned));
    m_log.budgeted(QStringLiteral("connect %1").arg(peer));
    // What came with the upgrade already waits.
    if (link->bytesAvailable() > 0)
        client->readSoon();
    return true;
}

bool StageConnections::giveWay(quint64 serial)
{
    for (const auto &client : m_clients) {
        if (client->serial() == serial && !client->isGone() && !client->hasJoined()) {
            drop(client.get(), QStringLiteral("gave its waiting place to a newcomer"));
            return true;
        }
    }
    return false;
}

void StageConnections::readFrom(Client *client)
{
    using Kind = Client::Input::Kind;
    for (;;) {
        const Client::Input input = client->take(m_groups.nowNs());
        switch (input.kind) {
        case Kind::Packet:
            m_stage.packet(client, input.packet);
            continue;
        case Kind::Overlong:
            m_counters.refused(StageCounters::Refusal::Shape);
            client->send(RelayRules::notice("Not sent: a packet holds at most " +
                                            QByteArray::number(Protocol::MaxPacket) + " bytes"));
            continue;
        case Kind::Later:
            return;
        case Kind::Nothing:
            break;
        case Kind::NotStage:
            // Nothing of it counts: a request's body or a handshake's bytes
            // are no packets of anyone's. Whoever sent it may have been made
            // to by a page elsewhere, so it is no ban's business.
            m_counters.refused(StageCounters::Refusal::CrossProtocol);
            drop(client, QStringLiteral("not a stage client: it sent %1")
                             .arg(QLatin1String(FirstBytes::describe(input.spoke))));
            return;
        case Kind::Overflowed:
            m_counters.refused(StageCounters::Refusal::Shape);
            drop(client, QStringLiteral("more than %1 bytes without a terminator")
                             .arg(PacketFramer::DefaultMaxRun));
            return;
        case Kind::DrainSpent:
            drop(client, client->why() + QStringLiteral(" (what it sent past %1 bytes not relayed)")
                                             .arg(Client::MaxDrainBytes));
            return;
        }
        break;
    }
    if (client->phase() == Client::Phase::Leaving || client->phase() == Client::Phase::Draining)
        drop(client, client->why());
}

void StageConnections::write(Client *client, const QByteArray &packet)
{
    // What is held for a client counts against its own bound there, not here.
    m_counters.sentBytes += packet.size();
    client->link()->write(packet);
    if (client->link()->bytesToWrite() > MaxPendingOutput)
        leaveLater(client,
                   QStringLiteral("not reading: more than %1 bytes unsent").arg(MaxPendingOutput));
}

void StageConnections::leaveLater(Client *client, const QString &why, Link::Failure failure)
{
    // Once closed, what it sent before is still relayed, within a bound,
    // under its own name, which nobody else takes meanwhile; then it leaves
    // the stage, its leave notice after its last line.
    if (!client->leave(why, failure))
        return;
    if (!m_leaveQueued) {
        m_leaveQueued = true;
        QTimer::singleShot(0, this, &StageConnections::finishLeaving);
    }
}

void StageConnections::finishLeaving()
{
    m_leaveQueued = false;
    // By index: dropping only marks clients, and nobody connects meanwhile.
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Client *client = m_clients[i].get();
        if (client->isGone() || client->isListening())
            continue;
        if (client->link()->isOpen())
            drop(client, client->why()); // its own fault: nothing more of it is read
        else
            readFrom(client); // dropped once its last packets are relayed
    }
}

void StageConnections::drop(Client *client, const QString &why, const QByteArray &farewell,
                            const QByteArray &removal)
{
    if (client->isGone())
        return;
    if (client->hasJoined()) {
        m_stage.vacate(client, why, removal);
    } else {
        m_log.dropped(*client, why, m_nowMs());
        m_admission.leave({client->sharedGroup(), client->serial()});
    }
    client->end();
    m_groups.closed(client->group(), false);
    Link *link = client->link();
    link->disconnect(this);
    if (farewell.isEmpty() || !link->isOpen()) {
        link->abort();
        link->deleteLater();
    } else {
        m_farewells.closeAfter(link, farewell);
    }
    if (!m_purgeQueued) {
        m_purgeQueued = true;
        QTimer::singleShot(0, this, &StageConnections::purge);
    }
}

int StageConnections::remove(const std::function<std::optional<QString>(const Client &)> &why)
{
    int removed = 0;
    // By index: dropping only marks clients.
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Client *client = m_clients[i].get();
        if (client->isGone())
            continue;
        if (const std::optional<QString> reason = why(*client)) {
            drop(client, *reason, {}, QByteArrayLiteral("was removed from the stage"));
            ++removed;
        }
    }
    return removed;
}

void StageConnections::purge()
{
    m_purgeQueued = false;
    std::erase_if(m_clients, [](const auto &client) { return client->isGone(); });
}

void StageConnections::forEach(const std::function<void(const Client &)> &each) const
{
    for (const auto &client : m_clients) {
        if (!client->isGone())
            each(*client);
    }
}

int StageConnections::count() const
{
    return int(std::count_if(m_clients.begin(), m_clients.end(),
                             [](const auto &client) { return !client->isGone(); }));
}

void StageConnections::addFigures(StageFigures &figures) const
{
    for (const auto &client : m_clients) {
        if (client->isGone())
            continue;
        ++figures.connections[std::size_t(client->carrier())];
        figures.heldBytes += client->output().heldBytes();
    }
}
