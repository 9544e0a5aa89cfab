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

void ReceivedText::forEachPiece(QStringView text, const std::function<void(QStringView)> &take)
{
    for (QStringView piece : text.split(QChar(0), Qt::SkipEmptyParts)) {
        // Every turn takes at least the keyword off the front: linear.
        while (piece.startsWith(Protocol::ClientNumber)) {
            const qsizetype start = digitsStart(piece);
            const qsizetype end = start + digitsLength(piece, start);
            take(piece.left(end));
            piece = piece.mid(end);
        }
        if (!piece.isEmpty())
            take(piece);
    }
}

QStringList ReceivedText::pieces(QStringView text)
{
    QStringList out;
    forEachPiece(text, [&out](QStringView piece) { out.append(piece.toString()); });
    return out;
}

qsizetype ReceivedText::numberLength(QStringView text)
{
    if (!text.startsWith(Protocol::ClientNumber))
        return 0;
    const qsizetype start = digitsStart(text);
    const qsizetype digits = digitsLength(text, start);
    return digits > 0 ? start + digits : 0;
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
