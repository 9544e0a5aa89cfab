// SPDX-License-Identifier: MIT
#include "server/rules/AddressGroups.h"

#include <QByteArray>

namespace {

constexpr qint64 NsPerMs = 1'000'000;

QString hex(const IpAddress &address, int bytes)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(address.bytes().data()), bytes).toHex());
}

} // namespace

AddressGroups::AddressGroups(const ServerSettings &settings, Clock clock)
    : m_settings(settings), m_clock(std::move(clock))
{}

void AddressGroups::setOwnAddresses(const QList<IpAddress> &own)
{
    m_ownPrefixes.clear();
    for (const IpAddress &address : own) {
        if (!address.isV4())
            m_ownPrefixes.append(address.prefix(64));
    }
}

QString AddressGroups::keyOf(const IpAddress &peer) const
{
    if (peer.isLocalHost())
        return {};
    if (peer.isV4()) {
        const auto &b = peer.bytes();
        return QStringLiteral("%1.%2.%3.%4").arg(b[12]).arg(b[13]).arg(b[14]).arg(b[15]);
    }
    // Link-local peers, and peers on a LAN the server is on, share one /64
    // with every other machine there: each counts on its own.
    if (peer.isLinkLocal() || m_ownPrefixes.contains(peer.prefix(64)))
        return hex(peer, 16);
    return hex(peer, 8) + QStringLiteral("::/64");
}

QString AddressGroups::wideKeyOf(const IpAddress &peer) const
{
    if (peer.isLocalHost())
        return {};
    if (peer.isV4()) {
        const auto &b = peer.bytes();
        return QStringLiteral("%1.%2.%3.0/24").arg(b[12]).arg(b[13]).arg(b[14]);
    }
    if (peer.isLinkLocal() || m_ownPrefixes.contains(peer.prefix(64)))
        return keyOf(peer);
    return hex(peer, 6) + QStringLiteral("::/48");
}

std::pair<QString, QString> AddressGroups::placeKeysOf(const IpAddress &peer) const
{
    if (peer.isLocalHost())
        return {QStringLiteral("local"), QStringLiteral("local")};
    return {wideKeyOf(peer), keyOf(peer)};
}

std::shared_ptr<AddressGroup> AddressGroups::groupFor(const IpAddress &peer)
{
    const qint64 nowNs = m_clock();
    const qint64 nowMs = nowNs / NsPerMs;
    const QString key = keyOf(peer);
    if (key.isEmpty())
        return std::make_shared<AddressGroup>(m_settings, nowNs);
    if (nowMs - m_sweptMs >= RememberMs / 4)
        forget(nowMs, false);
    auto found = m_groups.find(key);
    if (found != m_groups.end() && !isForgotten(*found->second, nowMs))
        return found->second;
    if (found == m_groups.end() && m_groups.size() >= MaxRemembered)
        forget(nowMs, true);
    auto group = std::make_shared<AddressGroup>(m_settings, nowNs);
    group->closedMs = nowMs;
    m_groups.insert_or_assign(key, group);
    return group;
}

const AddressGroup *AddressGroups::find(const IpAddress &peer) const
{
    const QString key = keyOf(peer);
    if (key.isEmpty())
        return nullptr;
    const auto found = m_groups.find(key);
    return found == m_groups.end() || isForgotten(*found->second, m_clock() / NsPerMs)
               ? nullptr
               : found->second.get();
}

void AddressGroups::opened(AddressGroup &group, bool page)
{
    ++(page ? group.pageConnections : group.connections);
}

void AddressGroups::closed(AddressGroup &group, bool page)
{
    --(page ? group.pageConnections : group.connections);
    if (!group.isOpen())
        group.closedMs = m_clock() / NsPerMs;
}

void AddressGroups::refused(AddressGroup &group)
{
    ++group.refused;
    if (!group.isOpen())
        group.closedMs = m_clock() / NsPerMs;
}

bool AddressGroups::isForgotten(const AddressGroup &group, qint64 nowMs) const
{
    return !group.isOpen() && nowMs - group.closedMs >= RememberMs;
}

void AddressGroups::forget(qint64 nowMs, bool early)
{
    m_sweptMs = nowMs;
    std::erase_if(m_groups, [&](const auto &entry) {
        const AddressGroup &group = *entry.second;
        // A group still held by a connection's owner is not forgotten under it.
        return entry.second.use_count() == 1 &&
               (early ? !group.isOpen() : isForgotten(group, nowMs));
    });
}

AddressGroups::Refusals AddressGroups::takeRefusals()
{
    Refusals r;
    for (auto &[key, group] : m_groups) {
        if (group->refused == 0)
            continue;
        r.connections += group->refused;
        ++r.groups;
        if (group->refused > r.most) {
            r.most = group->refused;
            r.busiest = key;
        }
        group->refused = 0;
    }
    return r;
}
