// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

enum class PacketKind
{
    ClientNumber,
    NewUser,
    Action,
    Chat,
    Unknown
};

// Rules for text read from the stage server. A read is cut into pieces, each
// piece a packet, and each piece is recognised by its leading characters.
namespace ReceivedText {

inline constexpr qsizetype MaxClientNumberLength = 13;

// The non-empty pieces of a text, in order: the text split at every 0x00,
// and a client number packet (which comes without a terminator) ended after
// its digits, so that whatever follows them is a piece of its own. Linear in
// the length of the text.
QStringList pieces(QStringView text);
void forEachPiece(QStringView text, const std::function<void(QStringView)> &take);
// How long the client number packet at the start of the text is, its
// digits included; 0 when the text does not start with one that has digits.
qsizetype numberLength(QStringView text);
// Exact, case-sensitive tests of the leading characters.
PacketKind kind(QStringView piece);
// The digits after "ClientNumber" and any blanks, at most 13 of them; empty
// when there are none.
QString clientNumber(QStringView piece);

} // namespace ReceivedText
