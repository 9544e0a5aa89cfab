// SPDX-License-Identifier: MIT
#include "server/BanList.h"

#include "net/Cp1252.h"
#include "server/NameRules.h"

namespace {

constexpr QLatin1StringView NamePrefix("name:");

// An IPv4 peer may come mapped into IPv6; it is banned as the IPv4 address.
QHostAddress plain(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

BanList BanList::parse(QByteArrayView text, QList<Problem> *problems)
{
    BanList list;
    int number = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QString line = QString::fromUtf8(text.sliced(start, end - start));
        start = end + 1;
        ++number;
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const auto problem = [&](const QString &why) {
            if (problems)
                problems->append({number, why});
        };
        if (line.startsWith(NamePrefix, Qt::CaseInsensitive)) {
            const QString look = NameRules::lookAlike(Cp1252::encode(line.mid(NamePrefix.size())));
            if (look.isEmpty())
                problem(QStringLiteral("\"name:\" without a name"));
            else
                list.m_names.insert(look);
            continue;
        }
        if (line.contains(u'/')) {
            const auto subnet = QHostAddress::parseSubnet(line);
            if (subnet.first.isNull() || subnet.second < 0)
                problem(QStringLiteral("\"%1\" is not an address prefix").arg(line.left(100)));
            else
                list.m_subnets.append({plain(subnet.first), subnet.second});
            continue;
        }
        const QHostAddress address(line);
        if (address.isNull()) {
            problem(QStringLiteral("\"%1\" is not an address, a prefix or name:NAME")
                        .arg(line.left(100)));
            continue;
        }
        const QHostAddress one = plain(address);
        list.m_subnets.append({one, one.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128});
    }
    return list;
}

bool BanList::bansAddress(const QHostAddress &address) const
{
    const QHostAddress peer = plain(address);
    for (const auto &[subnet, length] : m_subnets) {
        if (peer.isInSubnet(subnet, length))
            return true;
    }
    return false;
}

bool BanList::bansName(const QString &lookAlike) const
{
    return m_names.contains(lookAlike);
}
