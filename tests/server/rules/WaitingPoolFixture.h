// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/PeerAddress.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/WaitingPool.h"

#include <QHostAddress>
#include <map>
#include <optional>

// A waiting pool as the tests fill it: addresses in, and who holds a place.
struct WaitingPoolFixture
{
    static constexpr int Capacity = 32;
    WaitingPool pool{Capacity};
    AddressGroups groups{ServerSettings{}, [] {
                             return qint64(0);
                         }};
    quint64 next = 0;
    std::map<quint64, QString> who; // id to address

    std::map<QString, std::pair<QString, QString>> keys; // address to wide and group

    // A newcomer from `address`: its id, or nothing when turned away;
    // whoever gave way is gone from `who`.
    std::optional<quint64> arrive(const QString &address, qint64 nowMs = 0)
    {
        auto known = keys.find(address);
        if (known == keys.end()) {
            const IpAddress ip = PeerAddress::from(QHostAddress(address));
            known = keys.emplace(address, std::pair(groups.wideKeyOf(ip), groups.keyOf(ip))).first;
        }
        const auto &[wide, group] = known->second;
        if (pool.isFull()) {
            const auto victim = pool.victimFor(wide, group, nowMs);
            if (!victim)
                return std::nullopt;
            pool.remove(*victim);
            who.erase(*victim);
        }
        pool.add(++next, wide, group, nowMs);
        who[next] = address;
        return next;
    }
    int held(const QString &address) const
    {
        return int(std::count_if(who.begin(), who.end(),
                                 [&](const auto &e) { return e.second == address; }));
    }
};
