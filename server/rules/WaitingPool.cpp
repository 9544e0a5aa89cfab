// SPDX-License-Identifier: MIT
#include "server/rules/WaitingPool.h"

void WaitingPool::add(quint64 id, const QString &wide, const QString &group)
{
    remove(id);
    m_byId[id] = m_entries.insert(m_entries.end(), Entry{id, wide, group});
    ++m_wideCounts[wide];
    ++m_groupCounts[groupKey(wide, group)];
}

void WaitingPool::remove(quint64 id)
{
    const auto found = m_byId.find(id);
    if (found == m_byId.end())
        return;
    const Entry &entry = *found->second;
    if (--m_wideCounts[entry.wide] == 0)
        m_wideCounts.remove(entry.wide);
    const QString key = groupKey(entry.wide, entry.group);
    if (--m_groupCounts[key] == 0)
        m_groupCounts.remove(key);
    m_entries.erase(found->second);
    m_byId.erase(found);
}

std::optional<quint64> WaitingPool::victimFor(const QString &wide, const QString &group) const
{
    if (!isFull() || m_entries.empty())
        return std::nullopt;
    // The wide group that holds the most, with the newcomer in its own; a
    // tie goes to the newcomer's own, and between others to the one whose
    // place is oldest.
    QString victimWide = wide;
    int most = m_wideCounts.value(wide) + 1;
    for (const Entry &entry : m_entries) {
        const int count = m_wideCounts.value(entry.wide);
        if (count > most) {
            most = count;
            victimWide = entry.wide;
        }
    }
    // Within it, the address group that holds the most, likewise.
    const bool own = victimWide == wide;
    QString victimGroup = own ? group : QString();
    int mostInGroup = own ? m_groupCounts.value(groupKey(wide, group)) + 1 : 0;
    for (const Entry &entry : m_entries) {
        if (entry.wide != victimWide)
            continue;
        const int count = m_groupCounts.value(groupKey(victimWide, entry.group));
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
