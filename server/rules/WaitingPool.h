// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <list>
#include <optional>
#include <unordered_map>

// Places shared fairly between address groups: the stage's waiting places
// of connections that have not joined yet, and the page's connections. When
// they are full, a newcomer takes the place of one from the wide group that
// holds the most of them (an IPv4 /24 or an IPv6 /48, so that one attacker
// with many addresses counts as one), and within it from the address group
// that holds the most, the oldest of those. The newcomer's own groups count
// with it, and a tie goes against them: nobody can take a place from a group
// that holds no more than its own, so a crowd reconnecting as fast as it is
// closed only ever takes places from itself, and a newcomer whose groups hold
// nothing while every other holds one is turned away.
// A choice costs time in proportion to the places, never more.
class WaitingPool
{
public:
    explicit WaitingPool(int capacity) : m_capacity(capacity) {}

    void setCapacity(int capacity) { m_capacity = capacity; }
    bool isFull() const { return size() >= m_capacity; }
    int size() const { return int(m_entries.size()); }
    void add(quint64 id, const QString &wide, const QString &group);
    void remove(quint64 id);
    // Whose place a newcomer of these groups takes when the pool is full;
    // nothing when it takes nobody's and is to be turned away.
    std::optional<quint64> victimFor(const QString &wide, const QString &group) const;

private:
    struct Entry
    {
        quint64 id;
        QString wide;
        QString group;
    };
    static QString groupKey(const QString &wide, const QString &group)
    {
        return wide + u'\n' + group;
    }

    int m_capacity;
    std::list<Entry> m_entries; // oldest first
    std::unordered_map<quint64, std::list<Entry>::iterator> m_byId;
    QHash<QString, int> m_wideCounts;
    QHash<QString, int> m_groupCounts; // by groupKey
};
