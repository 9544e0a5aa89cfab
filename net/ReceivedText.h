// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

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

// The non-empty pieces of one read, in order: the read split at every 0x00,
// and a client number packet (which comes without a terminator) ended after
// its digits, so that whatever follows them is a piece of its own. Linear in
// the length of the read.
QStringList pieces(const QString &received);
// Exact, case-sensitive tests of the leading characters.
PacketKind kind(QStringView piece);
// The digits after "ClientNumber" and any blanks, at most 13 of them; empty
// when there are none.
QString clientNumber(QStringView piece);

} // namespace ReceivedText
