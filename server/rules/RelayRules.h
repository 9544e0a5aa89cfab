// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// What the server relays and what it says itself. Everything here works on
// the raw bytes of the wire (Windows-1252), without the leading marker.
namespace RelayRules {

// The sender name of the server's own notices; no participant may join under it.
inline constexpr char NoticeSender[] = "Quandrel";

inline constexpr qsizetype MaxActionPacket = 40;

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
    QByteArray reason;   // for Refused: why, in plain words for the sender
    QByteArrayView code; // for a relayed Action packet: the sender's wire code
};

// A packet is relayed only in the exact shapes the sender's own client
// sends: a step or presence answer under its own number with a known avatar
// and whole-number positions, or a chat line under its own name (the name it
// joined with, or the one the stage shows) whose text is one line that
// nothing can cut into a second packet or a second speaker. A long text
// travels in pieces (ChatRules::pieces), and each piece is held to these rules.
Verdict judge(QByteArrayView body, int number, QByteArrayView name, QByteArrayView shownName = {});
inline bool isOwnPacket(QByteArrayView body, int number, QByteArrayView name)
{
    return judge(body, number, name).kind == Verdict::Relay;
}
// The text of a chat line "[name] - text" CR LF; nothing when the body is
// not a chat line under that name.
std::optional<QByteArrayView> chatText(QByteArrayView body, QByteArrayView name);
// "[name] - text" CR LF 0x00.
QByteArray chatLine(QByteArrayView name, QByteArrayView text);
// A chat line that judge() let through, as it is relayed: under the shown
// name, in pieces where it is long.
QList<QByteArray> relayedLines(QByteArrayView body, QByteArrayView name, QByteArrayView shownName);
// A presence answer: what every client sends once for each newcomer.
bool isPresenceAnswer(QByteArrayView body);

// The step that takes a leaver's image wholly off the stage at every
// client: a left step from -999 ends at -1049 twips, further left than any
// avatar is wide. `code` is the leaver's own wire code, when known.
QByteArray offStageStep(int number, QByteArrayView code = {});

// A notice as a chat line from the server, terminated: "[Quandrel] - text" CR LF 0x00.
QByteArray notice(QByteArrayView text);

// A user name as it may stand inside a notice: bytes that do not show and
// brackets become "?", and a very long name is shortened.
QByteArray noticeName(QByteArrayView name);

} // namespace RelayRules
