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
class ReceivedText
{
public:
    static constexpr qsizetype MaxClientNumberLength = 13;

    // The non-empty pieces of one read, in order: the read split at every 0x00,
    // and a client number packet (which comes without a terminator) split
    // where the next packet's keyword begins.
    static QStringList pieces(const QString &received);
    // Exact, case-sensitive tests of the leading characters.
    static PacketKind kind(QStringView piece);
    // The characters after "ClientNumber", at most 13 of them.
    static QString clientNumber(QStringView piece);
};
