// SPDX-License-Identifier: MIT
#include "server/stage/StageServer.h"

#include "net/ActionView.h"
#include "net/PacketBytes.h"

#include "chat/ChatRules.h"
#include "net/Cp1252.h"
#include "net/Protocol.h"
#include "server/carriers/PeerAddress.h"
#include "server/rules/LogText.h"
#include "server/rules/NameRules.h"
#include "server/rules/RelayRules.h"

StageServer::StageServer(const ServerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings),
      m_groups(settings, [this] { return m_clock.nsecsElapsed(); }),
      m_log(m_groups, settings.summaryIntervalMs), m_farewells([this] { return nowMs(); }),
      m_admission(m_settings, m_groups, m_counters, m_log, m_farewells, [this] { return nowMs(); }),
      m_notices(
          settings.notices, [this] { return nowMs(); },
          [this](const QByteArray &notice, const std::optional<QByteArray> &notTo) {
              for (Client *client : m_numbers) {
                  if (client && (!notTo || RelayRules::noticeName(client->shownName()) != *notTo))
                      client->send(notice, Then::Apart); // a leaver's step off may follow
              }
          }),
      m_connections(
          m_settings, m_groups, m_admission, m_counters, m_log, m_farewells,
          [this] { return nowMs(); }, this)
{
    m_groups.setOwnAddresses(PeerAddress::ownAddresses());
    m_admission.setGiveWay([this](quint64 serial) { return m_connections.giveWay(serial); });
    m_connections.setStage(
        {[this](Client *client, const QByteArray &packet) { handlePacket(client, packet); },
         [this](Client *client, const QString &why, const QByteArray &removal) {
             vacate(client, why, removal);
         }});
}

StageServer::~StageServer() = default;

bool StageServer::admit(const QHostAddress &peer)
{
    return m_admission.admit(peer);
}

void StageServer::adopt(Link *link, StageFigures::Carrier carrier)
{
    m_connections.adopt(link, carrier);
}

void StageServer::handlePacket(Client *client, const QByteArray &packet)
{
    client->countIn(packet.size() + 1);
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
        RelayRules::judge(body, client->number(), client->name(), client->shownName());
    switch (verdict.kind) {
    case RelayRules::Verdict::Relay:
        if (ActionView::isAction(body)) {
            // A closed client's last steps go out only while nobody else
            // has its number.
            if (m_numbers[client->number()] == client || !m_numbers[client->number()]) {
                client->setWireCode(verdict.code);
                relayOwn(body + '\0');
            }
        } else if (client->isMuted(nowMs())) {
            if (client->mayTellMuted(nowMs(), MutedToldIntervalMs))
                client->send(RelayRules::notice("Not sent: the operator has muted you"));
        } else {
            // The pieces of a long line, each read on its own.
            const QList<QByteArray> lines =
                RelayRules::relayedLines(body, client->name(), client->shownName());
            for (qsizetype i = 0; i < lines.size(); ++i)
                relayOwn(lines[i], i + 1 < lines.size() ? Then::Apart : Then::Together);
        }
        break;
    case RelayRules::Verdict::Refused:
        m_counters.refused(StageCounters::Refusal::Shape);
        client->send(RelayRules::notice(verdict.reason));
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
    if (m_closedWord)
        return std::pair(Refusal::Closed, *m_closedWord);
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
        // A full or closed stage is nobody's fault: whoever fills it, or the
        // operator who closes it, would otherwise make everyone who comes
        // after ban themselves by trying.
        const QString why =
            refusal->first == StageCounters::Refusal::Full
                ? QStringLiteral("the stage is full, for %1").arg(LogText::quoted(name))
            : refusal->first == StageCounters::Refusal::Closed
                ? QStringLiteral("the stage is closed, for %1").arg(LogText::quoted(name))
                : QStringLiteral("refused name %1: %2")
                      .arg(LogText::quoted(name), LogText::escaped(refusal->second, 200));
        m_connections.drop(client, why, RelayRules::notice(refusal->second));
        return;
    }
    int number = 0;
    while (number < MaxClients && m_numbers[number])
        ++number;
    m_admission.leave({client->sharedGroup(), client->serial()});
    const QByteArray shown = NameRules::shownName(
        name, [this](QByteArrayView candidate) { return isOnStage(m_lookAlike.of(candidate)); });
    client->join(number, name, shown, shown == name ? look : m_lookAlike.of(shown));
    m_numbers[number] = client;
    ++m_counters.joins;
    for (Client *other : m_numbers) {
        if (other && other != client)
            other->announceNewcomer();
    }
    m_notices.joined(shown);
    QString line = QStringLiteral("join %1 as %2 %3")
                       .arg(client->peer())
                       .arg(number)
                       .arg(LogText::quoted(name));
    if (shown != name)
        line += QStringLiteral(" shown as ") + LogText::quoted(shown);
    m_log.always(line);
    if (client->isListening())
        client->output().sendAlone(PacketBytes::clientNumber(number), m_settings.newcomerQuietMs);
    if (shown != name)
        client->send(RelayRules::notice(NameRules::shownNotice(name, shown)));
}

void StageServer::setBans(BanList bans)
{
    m_admission.setBans(std::move(bans));
    const BanList &list = m_admission.bans();
    const int removed = m_connections.remove([&](const Client &client) -> std::optional<QString> {
        if (list.bansAddress(PeerAddress::from(client.link()->peerAddress())))
            return QStringLiteral("removed: its address is banned");
        if (client.hasJoined() && list.bansName(m_lookAlike.of(client.name())))
            return QStringLiteral("removed: its name is banned");
        return std::nullopt;
    });
    for (int i = 0; i < removed; ++i)
        m_counters.refused(StageCounters::Refusal::Ban);
}

void StageServer::relay(const QByteArray &packet, Then then)
{
    for (Client *client : m_numbers) {
        if (client)
            client->send(packet, then);
    }
}

void StageServer::relayOwn(const QByteArray &packet, Then then)
{
    ++m_counters.relayedPackets;
    m_counters.relayedBytes += packet.size();
    relay(packet, then);
}

void StageServer::vacate(Client *client, const QString &why, const QByteArray &removal)
{
    const int number = client->number();
    if (m_numbers[number] != client)
        return;
    m_numbers[number] = nullptr;
    ++m_counters.leaves;
    client->stopAnnouncing();
    m_log.left(*client, why);
    if (removal.isEmpty())
        m_notices.left(client->shownName());
    else
        relay(RelayRules::notice(RelayRules::noticeName(client->shownName()) + ' ' + removal),
              Then::Apart);
    // After every packet of its own, and only while the number is free: the
    // leaver's image leaves every stage.
    relay(RelayRules::offStageStep(number, client->wireCode()));
}

StageFigures StageServer::figures() const
{
    StageFigures figures;
    figures.placesTaken = joinedCount();
    figures.places = MaxClients;
    figures.counters = m_counters;
    m_connections.addFigures(figures);
    figures.addressGroups = qint64(m_groups.size());
    figures.logLinesLeftOut = m_log.leftOutInAll();
    return figures;
}

QList<StageServer::Person> StageServer::people() const
{
    QList<Person> people;
    m_connections.forEach([&](const Client &client) {
        people.append({client.number(), client.name(), client.shownName(), client.carrier(),
                       client.link()->peerAddress(),
                       client.hasJoined() ? nowMs() - client.joinedMs() : 0, client.packetsIn(),
                       client.bytesIn(), client.isMuted(nowMs())});
    });
    std::sort(people.begin(), people.end(), [](const Person &a, const Person &b) {
        return unsigned(a.number) < unsigned(b.number); // the waiting last
    });
    return people;
}

bool StageServer::kick(int number, const QString &reason)
{
    Client *client = m_numbers.at(number);
    if (!client)
        return false;
    m_connections.drop(client, QStringLiteral("removed by the operator: ") + reason, {},
                       QByteArrayLiteral("left the stage (removed by the operator)"));
    return true;
}

bool StageServer::mute(int number, std::optional<qint64> forMs, const QString &reason)
{
    Client *client = m_numbers.at(number);
    if (!client)
        return false;
    client->mute(forMs ? std::optional(nowMs() + *forMs) : std::nullopt);
    QByteArray word = "The operator has muted you: your lines are not shown to anyone";
    if (!reason.isEmpty())
        word += " (" + Cp1252::encode(reason) + ')';
    client->send(RelayRules::notice(word));
    client->mayTellMuted(nowMs(), MutedToldIntervalMs);
    return true;
}

bool StageServer::unmute(int number)
{
    Client *client = m_numbers.at(number);
    if (!client || !client->isMuted(nowMs()))
        return false;
    client->unmute();
    client->send(RelayRules::notice("The operator has unmuted you"));
    return true;
}

std::optional<QByteArray> StageServer::say(const QString &text)
{
    const QByteArray bytes = Cp1252::encode(text);
    if (auto refusal = ChatRules::refusal(bytes))
        return refusal;
    const QList<QByteArrayView> pieces = ChatRules::pieces(bytes);
    for (const QByteArrayView piece : pieces)
        relay(RelayRules::notice(piece), Then::Apart);
    return std::nullopt;
}
