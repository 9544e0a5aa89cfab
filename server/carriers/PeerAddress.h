// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/IpAddress.h"

#include <QHostAddress>
#include <QList>
#include <QString>

// Addresses as sockets give them, made into what the rules and the log use.
namespace PeerAddress {

// The sixteen-byte form; an IPv4 peer, also one mapped into IPv6 by a
// dual-stack listener, as the IPv4 address.
IpAddress from(const QHostAddress &address);
// An IPv4-mapped address as the IPv4 address itself.
QHostAddress plain(const QHostAddress &address);
// "192.0.2.7" or "[2001:db8::7]", as a browser writes them.
QString hostText(const QHostAddress &address);
// "192.0.2.7:4000" or "[2001:db8::7]:4000".
QString text(const QHostAddress &address, quint16 port);

// The addresses of this machine's own interfaces.
QList<IpAddress> ownAddresses();

} // namespace PeerAddress
