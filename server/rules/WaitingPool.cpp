// SPDX-License-Identifier: MIT
#include "server/rules/WaitingPool.h"

#include <algorithm>

void WaitingPool::add(quint64 id, const QString &wide, const QString &group)
{
    m_entries.push_back({id, wide, group});
}

void WaitingPool::remove(quint64 id)
{
    std::erase_if(m_entries, [id](const Entry &entry) { return entry.id == id; });
}

int WaitingPool::countOf(const QString &wide, const QString *group) const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry &entry) {
        return entry.wide == wide && (!group || entry.group == *group);
    }));
}

std::optional<quint64> WaitingPool::victimFor(const QString &wide, const QString &group) const
{
    if (!isFull() || m_entries.empty())
        return std::nullopt;
    // The pool holds a few dozen at most: counting by scanning is enough.
    // The wide group that holds the most, with the newcomer in its own; a
    // tie goes to the newcomer's own.
    QString victimWide = wide;
    int most = countOf(wide) + 1;
    for (const Entry &entry : m_entries) {
        const int count = countOf(entry.wide);
        if (count > most) {
            most = count;
            victimWide = entry.wide;
        }
    }
    // Within it, the address group that holds the most, likewise.
    const bool own = victimWide == wide;
    QString victimGroup = own ? group : QString();
    int mostInGroup = own ? countOf(wide, &group) + 1 : 0;
    for (const Entry &entry : m_entries) {
        if (entry.wide != victimWide)
            continue;
        const int count = countOf(victimWide, &entry.group);
        if (count > mostInGroup) {
            mostInGroup = count;
            victimGroup = entry.group;
        }
    }
    // The oldest of that group. When it is the newcomer's own and holds none
    // yet, every other holds no more than the newcomer would: it waits nowhere.
    for (const Entry &entry : m_entries) {
        if (entry.wide == victimWide && entry.group == victimGroup)
            return entry.id;
    }
    return std::nullopt;
}
