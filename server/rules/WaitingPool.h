// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <list>
#include <optional>
#include <unordered_map>

// Places shared fairly between address groups: the stage's waiting places
// of connections that have not joined yet, and the page's connections. When
// they are full, a newcomer takes the place of one from the wide group (an
// IPv4 /24 or an IPv6 /48, so that one attacker with many addresses counts
// as one) that holds the most of them, the newcomer counted in its own;
// between wide groups that hold as many, the one that has come most often
// of late gives way, and between those the one whose place is oldest.
// Within that wide group, the address group that holds the most gives its
// oldest place. A newcomer whose wide group holds nothing takes a place
// even from an equal: so a crowd reconnecting as fast as its budgets let it
// only ever takes places from itself, and a crowd spread over many wide
// groups, each holding a place and renewing it, gives way to a newcomer that
// comes once. Only an empty pool turns anyone away.
// A choice costs time in proportion to the places, never more, and what is
// remembered of groups without a place is bounded.
class WaitingPool
{
public:
    // How far back coming "of late" reaches: this window and the one before.
    static constexpr qint64 ArrivalWindowMs = 10'000;
    // Wide groups whose arrivals are remembered besides those holding places.
    static constexpr int MaxRemembered = 4096;

    explicit WaitingPool(int capacity) : m_capacity(capacity) {}

    void setCapacity(int capacity) { m_capacity = capacity; }
    bool isFull() const { return size() >= m_capacity; }
    int size() const { return int(m_entries.size()); }
    // A place taken at `nowMs` (a monotonic clock): it counts as an arrival
    // of its wide group.
    void add(quint64 id, const QString &wide, const QString &group, qint64 nowMs = 0);
    void remove(quint64 id);
    // Whose place a newcomer of these groups takes when the pool is full;
    // nothing when it is not full.
    std::optional<quint64> victimFor(const QString &wide, const QString &group,
                                     qint64 nowMs = 0) const;
    // Wide groups whose arrivals are remembered now.
    int remembered() const { return int(m_arrivals.size()); }

private:
    struct Entry
    {
        quint64 id;
        QString wide;
        QString group;
    };
    // Arrivals counted in fixed windows, so that who came once a minute
    // ago and who came once just now count alike.
    struct Arrivals
    {
        qint64 windowStartMs = 0;
        int current = 0;
        int previous = 0;
        int count(qint64 nowMs) const;
        void arrive(qint64 nowMs);
    };
    static QString groupKey(const QString &wide, const QString &group)
    {
        return wide + u'\n' + group;
    }
    int arrivalsOf(const QString &wide, qint64 nowMs) const;
    void forgetArrivals(qint64 nowMs);

    int m_capacity;
    std::list<Entry> m_entries; // oldest first
    std::unordered_map<quint64, std::list<Entry>::iterator> m_byId;
    QHash<QString, int> m_wideCounts;
    QHash<QString, int> m_groupCounts; // by groupKey
    QHash<QString, Arrivals> m_arrivals;
};
