// SPDX-License-Identifier: MIT
#include "server/stage/Admission.h"

#include "server/carriers/PeerAddress.h"
#include "server/rules/RelayRules.h"
#include "server/stage/Farewells.h"
#include "server/stage/StageLog.h"

#include <algorithm>

Admission::Admission(const ServerSettings &settings, AddressGroups &groups, StageCounters &counters,
                     StageLog &log, Farewells &farewells, std::function<qint64()> nowMs)
    : m_settings(settings), m_groups(groups), m_counters(counters), m_log(log),
      m_farewells(farewells), m_nowMs(std::move(nowMs)),
      m_waiting(std::clamp(settings.waitingPlaces, 1, MaxWaiting))
{}

bool Admission::admit(const QHostAddress &peer)
{
    const IpAddress address = PeerAddress::from(peer);
    if (m_bans.bansAddress(address)) {
        m_counters.refused(StageCounters::Refusal::Ban);
        m_log.budgeted(QStringLiteral("refused %1: banned").arg(PeerAddress::hostText(peer)));
        return false;
    }
    if (address.isLocalHost())
        return true;
    AddressGroup &group = *m_groups.groupFor(address);
    if (group.connects.tryTake(m_groups.nowNs()))
        return true;
    // A flood: closed at once, nothing kept but the counts.
    m_groups.refused(group);
    m_counters.refused(StageCounters::Refusal::Flood);
    return false;
}

std::optional<Admission::Seat> Admission::seat(Link *link, const QString &peer)
{
    const IpAddress address = PeerAddress::from(link->peerAddress());
    const bool exempt = address.isLocalHost();
    const QString key = m_groups.keyOf(address);
    std::shared_ptr<AddressGroup> group = m_groups.groupFor(address);
    if (!exempt && m_settings.maxPerAddress > 0 && group->connections >= m_settings.maxPerAddress) {
        refuse(link, *group, peer,
               QStringLiteral("%1 connections from %2 already").arg(group->connections).arg(key),
               StageCounters::Refusal::Budget);
        return std::nullopt;
    }
    if (!exempt && group->unjoined >= MaxWaitingPerGroup) {
        refuse(link, *group, peer,
               QStringLiteral("%1 connections from %2 waiting to join already")
                   .arg(group->unjoined)
                   .arg(key),
               StageCounters::Refusal::Budget);
        return std::nullopt;
    }
    const auto [wide, place] = m_groups.placeKeysOf(address);
    if (!makeRoom(wide, place)) {
        refuse(link, *group, peer, QStringLiteral("the waiting places are full"),
               StageCounters::Refusal::WaitingPool, "The stage is busy: try again in a moment");
        return std::nullopt;
    }
    m_groups.opened(*group, false);
    ++group->unjoined;
    const Seat seat{group, ++m_serial};
    m_waiting.add(seat.serial, wide, place, m_nowMs());
    return seat;
}

void Admission::leave(const Seat &seat)
{
    --seat.group->unjoined;
    m_waiting.remove(seat.serial);
}

bool Admission::makeRoom(const QString &wide, const QString &group)
{
    if (!m_waiting.isFull())
        return true;
    const auto victim = m_waiting.victimFor(wide, group, m_nowMs());
    if (!victim || !m_giveWay || !m_giveWay(*victim))
        return false;
    m_counters.refused(StageCounters::Refusal::WaitingPool);
    return true;
}

void Admission::refuse(Link *link, AddressGroup &group, const QString &peer, const QString &why,
                       StageCounters::Refusal reason, const QByteArray &notice)
{
    m_groups.refused(group);
    m_counters.refused(reason);
    m_log.budgeted(QStringLiteral("refused %1: %2").arg(peer, why));
    m_farewells.closeAfter(link, RelayRules::notice(notice));
}
