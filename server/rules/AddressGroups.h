// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/AddressGroup.h"
#include "server/rules/IpAddress.h"
#include "server/rules/ServerSettings.h"

#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <utility>

// Every address group the stage and its page know, under one set of budgets.
// A group is one IPv4 address or one IPv6 /64; a link-local IPv6 address, or
// one in a /64 the server itself is on, counts alone; 127.0.0.1 and ::1 get a
// group for each connection, which nobody else shares. A group is remembered
// for a minute after its last connection closed and then starts afresh;
// past a bound on their number, those without a connection are forgotten
// early rather than memory spent on addresses without end.
class AddressGroups
{
public:
    static constexpr qint64 RememberMs = 60'000;
    static constexpr std::size_t MaxRemembered = 4096;

    // Nanoseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    struct Refusals
    {
        int connections = 0; // refused in all
        int groups = 0;      // from this many groups
        int most = 0;        // from the busiest group
        QString busiest;     // its key
    };

    AddressGroups(const ServerSettings &settings, Clock clock);

    // The /64s of the server's own IPv6 addresses: peers there count alone.
    void setOwnAddresses(const QList<IpAddress> &own);
    // What a group is known by in the log; empty for the machine's own users.
    QString keyOf(const IpAddress &peer) const;
    // The wider group that shares the waiting places: an IPv4 /24 or an IPv6
    // /48 (the peer's own group where that counts per address); empty for
    // the machine's own users.
    QString wideKeyOf(const IpAddress &peer) const;
    // The wide group and the group by which the peer shares fair places
    // (WaitingPool); the machine's own users share one, "local", where the
    // oldest gives way.
    std::pair<QString, QString> placeKeysOf(const IpAddress &peer) const;
    // The peer's group, made when it is not remembered.
    std::shared_ptr<AddressGroup> groupFor(const IpAddress &peer);
    // The peer's group when it is remembered; nothing for the machine's own.
    const AddressGroup *find(const IpAddress &peer) const;
    // A connection of the group opened or closed; `page` for HTTP to the page.
    void opened(AddressGroup &group, bool page);
    void closed(AddressGroup &group, bool page);
    // A connection of the group was refused: counted for the summary, and
    // the group is remembered for a minute from now, as after any close.
    void refused(AddressGroup &group);
    // The refusals since the last call, and none counted from now on.
    Refusals takeRefusals();
    std::size_t size() const { return m_groups.size(); }
    qint64 nowNs() const { return m_clock(); }

private:
    bool isForgotten(const AddressGroup &group, qint64 nowMs) const;
    void forget(qint64 nowMs, bool early);

    ServerSettings m_settings;
    Clock m_clock;
    QList<IpAddress> m_ownPrefixes;
    std::map<QString, std::shared_ptr<AddressGroup>> m_groups;
    qint64 m_sweptMs = 0;
};
