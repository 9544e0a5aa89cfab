// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// What the server relays and what it says itself. Everything here works on
// the raw bytes of the wire (Windows-1252), without the leading marker.
namespace RelayRules {

// The sender name of the server's own notices; no participant may join under it.
inline constexpr char NoticeSender[] = "Quandrel";

// A packet is relayed only when it is one the sender's own client sends: a
// step or presence answer under its own number, or a chat line under its own
// name that is one line (nothing in it can pose as a second line).
bool isOwnPacket(QByteArrayView body, int number, QByteArrayView name);

// Names that would let a participant pose as the server: the notice sender in
// any letter case, with or without blanks around it or a "]" after it.
bool isReservedName(QByteArrayView name);

// A notice as a chat line from the server, terminated: "[Quandrel] - text" CR LF 0x00.
QByteArray notice(QByteArrayView text);

// A user name as it may stand inside a notice: control bytes become "?", and
// a very long name is shortened.
QByteArray noticeName(QByteArrayView name);

// The group an address counts against for the per-address limit: the address
// itself for IPv4 (also when mapped into IPv6), its /64 for IPv6.
QString addressGroup(const QHostAddress &address);

// The machine's own users, who may open as many connections as there are places.
bool isExemptAddress(const QHostAddress &address);

} // namespace RelayRules
