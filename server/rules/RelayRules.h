// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// What the server relays and what it says itself. Everything here works on
// the raw bytes of the wire (Windows-1252), without the leading marker.
namespace RelayRules {

// The sender name of the server's own notices; no participant may join under it.
inline constexpr char NoticeSender[] = "Quandrel";

inline constexpr qsizetype MaxActionPacket = 40;
inline constexpr qsizetype MaxChatText = 400;

// What becomes of a relay packet.
struct Verdict
{
    enum Kind
    {
        Relay,
        NotOwn, // not one the sender's own client sends: dropped and logged
        Refused // the sender's own line, but one that could pass for another
    };
    Kind kind = NotOwn;
    QByteArray reason; // for Refused: why, in plain words for the sender
};

// A packet is relayed only in the exact shapes the sender's own client
// sends: a step or presence answer under its own number with a known avatar
// and whole-number positions, or a chat line under its own name whose text
// is one line that nothing can cut into a second packet or a second speaker.
Verdict judge(QByteArrayView body, int number, QByteArrayView name);
inline bool isOwnPacket(QByteArrayView body, int number, QByteArrayView name)
{
    return judge(body, number, name).kind == Verdict::Relay;
}
// A presence answer: what every client sends once for each newcomer.
bool isPresenceAnswer(QByteArrayView body);

// A notice as a chat line from the server, terminated: "[Quandrel] - text" CR LF 0x00.
QByteArray notice(QByteArrayView text);

// A user name as it may stand inside a notice: bytes that do not show and
// brackets become "?", and a very long name is shortened.
QByteArray noticeName(QByteArrayView name);

} // namespace RelayRules
