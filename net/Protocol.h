// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QLatin1StringView>
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

// Plain ASCII, so that text (QString) and bytes (see bytes()) both use them.
inline constexpr QLatin1StringView ClientNumber{"ClientNumber"};
inline constexpr QLatin1StringView NewUser{"NewUser"};
inline constexpr QLatin1StringView Action{"Action"};
inline constexpr QLatin1StringView ChatStart{"["};
inline constexpr QLatin1StringView ChatSeparator{"] - "}; // between the name and the text
inline constexpr QLatin1StringView LineEnd{"\r\n"};

// The commands of Action packets: a step, or a presence answer.
inline constexpr QLatin1StringView GoLeft{"GoLeft"};
inline constexpr QLatin1StringView GoRight{"GoRight"};
inline constexpr QLatin1StringView StLeft{"StLeft"};
inline constexpr QLatin1StringView StRight{"StRight"};
inline constexpr QLatin1StringView XMark{"X"};
inline constexpr QLatin1StringView YMark{"Y"};
inline constexpr QLatin1StringView ZMark{"Z"};

// A keyword as the wire's bytes.
constexpr QByteArrayView bytes(QLatin1StringView word)
{
    return QByteArrayView(word.data(), word.size());
}

} // namespace Protocol
