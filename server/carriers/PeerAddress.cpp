// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"

#include <QNetworkInterface>

namespace PeerAddress {

QHostAddress plain(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

IpAddress from(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return IpAddress::fromV4(v4);
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    IpAddress::Bytes bytes{};
    for (int i = 0; i < 16; ++i)
        bytes[i] = v6.c[i];
    return IpAddress(bytes);
}

QString hostText(const QHostAddress &address)
{
    const QHostAddress a = plain(address);
    return a.protocol() == QAbstractSocket::IPv4Protocol ? a.toString()
                                                         : u'[' + a.toString() + u']';
}

QString text(const QHostAddress &address, quint16 port)
{
    return hostText(address) + u':' + QString::number(port);
}

QList<IpAddress> ownAddresses()
{
    QList<IpAddress> own;
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        own.append(from(address));
    return own;
}

} // namespace PeerAddress
