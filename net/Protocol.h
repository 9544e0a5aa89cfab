// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>
#include <QtGlobal>

// The fixed words of the wire: markers, packet keywords and the port. The
// layout of every packet is described in Packets.h.
namespace Protocol {

inline constexpr quint16 DefaultPort = 2579;
// The longest packet a server takes, marker included, terminator not.
inline constexpr qsizetype MaxPacket = 4096;

inline constexpr char16_t JoinMarker = 0x0A;
inline constexpr char16_t RelayMarker = 0x02;
inline constexpr char16_t Terminator = 0x00;

inline constexpr QStringView ClientNumber = u"ClientNumber";
inline constexpr QStringView NewUser = u"NewUser";
inline constexpr QStringView Action = u"Action";
inline constexpr QStringView ChatStart = u"[";
inline constexpr QStringView ChatSeparator = u"] - "; // between the name and the text
inline constexpr QStringView LineEnd = u"\r\n";

// The direction words of Action packets: a step, or a presence answer.
inline constexpr QStringView GoLeft = u"GoLeft";
inline constexpr QStringView GoRight = u"GoRight";
inline constexpr QStringView StLeft = u"StLeft";
inline constexpr QStringView StRight = u"StRight";
inline constexpr QStringView XMark = u"X";
inline constexpr QStringView YMark = u"Y";
inline constexpr QStringView ZMark = u"Z";

} // namespace Protocol
