// SPDX-License-Identifier: MIT
#include "server/rules/WaitingPool.h"

#include <tuple>

int WaitingPool::Arrivals::count(qint64 nowMs) const
{
    const qint64 age = nowMs - windowStartMs;
    if (age >= 2 * ArrivalWindowMs)
        return 0;
    return age >= ArrivalWindowMs ? current : current + previous;
}

void WaitingPool::Arrivals::arrive(qint64 nowMs)
{
    const qint64 age = nowMs - windowStartMs;
    if (age >= ArrivalWindowMs) {
        previous = age >= 2 * ArrivalWindowMs ? 0 : current;
        current = 0;
        windowStartMs = nowMs - age % ArrivalWindowMs;
    }
    ++current;
}

void WaitingPool::add(quint64 id, const QString &wide, const QString &group, qint64 nowMs)
{
    remove(id);
    m_byId[id] = m_entries.insert(m_entries.end(), Entry{id, wide, group});
    ++m_wideCounts[wide];
    ++m_groupCounts[groupKey(wide, group)];
    if (!m_arrivals.contains(wide) && m_arrivals.size() >= MaxRemembered)
        forgetArrivals(nowMs);
    auto &arrivals = m_arrivals[wide];
    if (arrivals.current == 0 && arrivals.previous == 0)
        arrivals.windowStartMs = nowMs;
    arrivals.arrive(nowMs);
}

void WaitingPool::forgetArrivals(qint64 nowMs)
{
    // Once in so many arrivals: first those that count for nothing now,
    // then, if a crowd of wide groups still fills the memory, every one
    // that holds no place.
    for (auto it = m_arrivals.begin(); it != m_arrivals.end();) {
        if (it->count(nowMs) == 0 && !m_wideCounts.contains(it.key()))
            it = m_arrivals.erase(it);
        else
            ++it;
    }
    if (m_arrivals.size() < MaxRemembered / 2)
        return;
    for (auto it = m_arrivals.begin(); it != m_arrivals.end();) {
        if (!m_wideCounts.contains(it.key()))
            it = m_arrivals.erase(it);
        else
            ++it;
    }
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

int WaitingPool::arrivalsOf(const QString &wide, qint64 nowMs) const
{
    const auto found = m_arrivals.constFind(wide);
    return found == m_arrivals.cend() ? 0 : found->count(nowMs);
}

std::optional<quint64> WaitingPool::victimFor(const QString &wide, const QString &group,
                                              qint64 nowMs) const
{
    if (!isFull() || m_entries.empty())
        return std::nullopt;
    // The wide group that gives way: the one holding the most (the
    // newcomer's own counting it), then the one that came most often of
    // late (the newcomer's own counting this arrival), then the one whose
    // place is oldest; entries are oldest first, so the first of equals
    // wins. The newcomer's own only when it holds a place already.
    const int ownHeld = m_wideCounts.value(wide);
    QString victimWide;
    std::tuple<int, int> best{-1, -1};
    if (ownHeld > 0) {
        victimWide = wide;
        best = {ownHeld + 1, arrivalsOf(wide, nowMs) + 1};
    }
    for (const Entry &entry : m_entries) {
        if (entry.wide == wide || entry.wide == victimWide)
            continue;
        const std::tuple<int, int> key{m_wideCounts.value(entry.wide),
                                       arrivalsOf(entry.wide, nowMs)};
        if (key > best) {
            best = key;
            victimWide = entry.wide;
        }
    }
    // Within it, the address group that holds the most, the newcomer counted
    // in its own; a tie goes against the newcomer's own, which gives its
    // oldest when it holds any.
    const bool own = victimWide == wide;
    QString victimGroup;
    int mostInGroup = 0;
    if (own && m_groupCounts.value(groupKey(wide, group)) > 0) {
        victimGroup = group;
        mostInGroup = m_groupCounts.value(groupKey(wide, group)) + 1;
    }
    for (const Entry &entry : m_entries) {
        if (entry.wide != victimWide)
            continue;
        const int count = m_groupCounts.value(groupKey(victimWide, entry.group));
        if (count > mostInGroup) {
            mostInGroup = count;
            victimGroup = entry.group;
        }
    }
    for (const Entry &entry : m_entries) {
        if (entry.wide == victimWide && entry.group == victimGroup)
            return entry.id;
    }
    return std::nullopt;
}
