// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/IpAddress.h"

#include <QSet>
#include <QString>
#include <array>
#include <unordered_set>

// Who may not be on the stage: address prefixes and names. Names are kept
// in their look-alike form, so that "Tr0ll" is banned with "Troll". A lookup
// costs one hash lookup for each prefix length in use, however long the
// list.
class BanList
{
public:
    // `bits` of the sixteen-byte form (an IPv4 /24 is a /120 there).
    void addPrefix(const IpAddress &address, int bits);
    // `lookAlike` as NameRules::lookAlike gives it.
    void addName(const QString &lookAlike);

    bool bansAddress(const IpAddress &address) const;
    bool bansName(const QString &lookAlike) const;
    qsizetype size() const { return m_prefixCount + m_names.size(); }

private:
    std::array<std::unordered_set<IpAddress>, 129> m_prefixes; // by length
    QList<int> m_lengths;                                      // those in use, longest first
    qsizetype m_prefixCount = 0;
    QSet<QString> m_names;
};
