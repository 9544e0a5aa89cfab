// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>
#include <QtGlobal>

// The fixed words of the wire: markers, packet keywords and the port. The
// layout of every packet is described in Packets.h.
namespace Protocol {

inline constexpr quint16 DefaultPort = 2579;

inline constexpr char16_t JoinMarker = 0x0A;
inline constexpr char16_t RelayMarker = 0x02;
inline constexpr char16_t Terminator = 0x00;

inline constexpr QStringView ClientNumber = u"ClientNumber";
inline constexpr QStringView NewUser = u"NewUser";
inline constexpr QStringView Action = u"Action";
inline constexpr QStringView ChatStart = u"[";

} // namespace Protocol
