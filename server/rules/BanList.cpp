// SPDX-License-Identifier: MIT
#include "server/rules/BanList.h"

#include <algorithm>
#include <functional>

void BanList::addPrefix(const IpAddress &address, int bits)
{
    bits = std::clamp(bits, 0, 128);
    if (!m_prefixes[bits].insert(address.prefix(bits)).second)
        return;
    ++m_prefixCount;
    if (!m_lengths.contains(bits)) {
        m_lengths.append(bits);
        std::sort(m_lengths.begin(), m_lengths.end(), std::greater<>());
    }
}

void BanList::addName(const QString &lookAlike)
{
    m_names.insert(lookAlike);
}

bool BanList::bansAddress(const IpAddress &address) const
{
    return std::any_of(m_lengths.begin(), m_lengths.end(),
                       [&](int bits) { return m_prefixes[bits].contains(address.prefix(bits)); });
}

bool BanList::bansName(const QString &lookAlike) const
{
    return m_names.contains(lookAlike);
}
