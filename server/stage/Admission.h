// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/Link.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/BanList.h"
#include "server/rules/ServerSettings.h"
#include "server/rules/StageCounters.h"
#include "server/rules/WaitingPool.h"

#include <QHostAddress>
#include <functional>
#include <memory>
#include <optional>

class Farewells;
class StageLog;

// Who comes in at the stage's doors and waits to join: bans at the door,
// the connect budget, the connections an address group may hold and have
// waiting, and the waiting places, shared fairly by the address groups.
// What it turns away is closed with a word; it never holds a connection.
class Admission
{
public:
    // Connections that have not joined: at most this many, fewer when the
    // settings say so, and this many a group.
    static constexpr int MaxWaiting = 32;
    static constexpr int MaxWaitingPerGroup = 2;

    // Ends the waiting connection of this serial to make room for a
    // newcomer; false when there is none such.
    using GiveWay = std::function<bool(quint64 serial)>;

    Admission(const ServerSettings &settings, AddressGroups &groups, StageCounters &counters,
              StageLog &log, Farewells &farewells, std::function<qint64()> nowMs);

    void setBans(BanList bans) { m_bans = std::move(bans); }
    const BanList &bans() const { return m_bans; }
    void setGiveWay(GiveWay giveWay) { m_giveWay = std::move(giveWay); }

    // Before a socket exists: false for a banned address or a flood, which
    // is closed unseen.
    bool admit(const QHostAddress &peer);

    // A connection that has its socket, to wait for its join.
    struct Seat
    {
        std::shared_ptr<AddressGroup> group;
        quint64 serial = 0; // its waiting place
    };
    // Its seat, or nothing when it is turned away (closed with a word).
    // `peer` names it in the log.
    std::optional<Seat> seat(Link *link, const QString &peer);
    // It joined or left: its waiting place is free.
    void leave(const Seat &seat);

private:
    void refuse(Link *link, AddressGroup &group, const QString &peer, const QString &why,
                StageCounters::Refusal reason,
                const QByteArray &notice = "Too many connections from your address");
    bool makeRoom(const QString &wide, const QString &group);

    const ServerSettings &m_settings;
    AddressGroups &m_groups;
    StageCounters &m_counters;
    StageLog &m_log;
    Farewells &m_farewells;
    std::function<qint64()> m_nowMs;
    BanList m_bans;
    WaitingPool m_waiting;
    GiveWay m_giveWay;
    quint64 m_serial = 0;
};
