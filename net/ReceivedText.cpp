// SPDX-License-Identifier: MIT
#include "net/ReceivedText.h"

#include "net/Digits.h"
#include "net/Protocol.h"

#include <algorithm>

namespace {

// Where the digits of a client number packet begin: after the keyword and blanks.
qsizetype digitsStart(QStringView piece)
{
    qsizetype at = Protocol::ClientNumber.size();
    while (at < piece.size() && piece[at] == u' ')
        ++at;
    return at;
}

qsizetype digitsLength(QStringView piece, qsizetype start)
{
    return std::min(Digits::leading(piece.mid(start)), ReceivedText::MaxClientNumberLength);
}

} // namespace

QStringList ReceivedText::pieces(const QString &received)
{
    QStringList out;
    for (QStringView piece : QStringView(received).split(QChar(0), Qt::SkipEmptyParts)) {
        // Every turn takes at least the keyword off the front: linear.
        while (piece.startsWith(Protocol::ClientNumber)) {
            const qsizetype start = digitsStart(piece);
            const qsizetype end = start + digitsLength(piece, start);
            out.append(piece.left(end).toString());
            piece = piece.mid(end);
        }
        if (!piece.isEmpty())
            out.append(piece.toString());
    }
    return out;
}

PacketKind ReceivedText::kind(QStringView piece)
{
    if (piece.startsWith(Protocol::ClientNumber))
        return PacketKind::ClientNumber;
    if (piece.startsWith(Protocol::NewUser))
        return PacketKind::NewUser;
    if (piece.startsWith(Protocol::Action))
        return PacketKind::Action;
    if (piece.startsWith(Protocol::ChatStart))
        return PacketKind::Chat;
    return PacketKind::Unknown;
}

QString ReceivedText::clientNumber(QStringView piece)
{
    if (!piece.startsWith(Protocol::ClientNumber))
        return {};
    const qsizetype start = digitsStart(piece);
    return piece.mid(start, digitsLength(piece, start)).toString();
}
