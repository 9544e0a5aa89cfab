#include "net/ReceivedText.h"

#include <array>

namespace {

constexpr QStringView kClientNumber = u"ClientNumber";
constexpr QStringView kNewUser = u"NewUser";
constexpr QStringView kAction = u"Action";
constexpr QStringView kChat = u"[";

// Where the next packet begins inside the tail of a client number packet.
qsizetype nextKeyword(QStringView piece)
{
    qsizetype best = -1;
    for (QStringView keyword : std::array{kClientNumber, kNewUser, kAction, kChat}) {
        const qsizetype at = piece.indexOf(keyword, kClientNumber.size());
        if (at >= 0 && (best < 0 || at < best))
            best = at;
    }
    return best;
}

} // namespace

QStringList ReceivedText::pieces(const QString &received)
{
    QStringList out;
    for (QStringView piece : QStringView(received).split(QChar(0), Qt::SkipEmptyParts)) {
        while (piece.startsWith(kClientNumber)) {
            const qsizetype next = nextKeyword(piece);
            if (next < 0)
                break;
            out.append(piece.left(next).toString());
            piece = piece.mid(next);
        }
        out.append(piece.toString());
    }
    return out;
}

PacketKind ReceivedText::kind(QStringView piece)
{
    if (piece.startsWith(kClientNumber))
        return PacketKind::ClientNumber;
    if (piece.startsWith(kNewUser))
        return PacketKind::NewUser;
    if (piece.startsWith(kAction))
        return PacketKind::Action;
    if (piece.startsWith(kChat))
        return PacketKind::Chat;
    return PacketKind::Unknown;
}

QString ReceivedText::clientNumber(QStringView piece)
{
    return piece.mid(kClientNumber.size(), MaxClientNumberLength).toString();
}
