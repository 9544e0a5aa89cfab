// SPDX-License-Identifier: MIT
#include "net/Packets.h"

#include "net/PositionText.h"
#include "net/Protocol.h"

using namespace Protocol;

QString Packets::join(const QString &userName)
{
    return QChar(JoinMarker) + userName + QChar(Terminator);
}

QString Packets::chatLine(const QString &userName, const QString &text)
{
    return QChar(RelayMarker) + QStringLiteral("[") + userName + QStringLiteral("] - ") + text +
           QStringLiteral("\r\n") + QChar(Terminator);
}

QString Packets::move(Direction dir, const QString &clientNumber, const QString &code, float x,
                      float y)
{
    const QString word =
        dir == Direction::Left ? QStringLiteral("GoLeft") : QStringLiteral("GoRight");
    return QChar(RelayMarker) + QStringLiteral("Action") + clientNumber + word + code +
           QStringLiteral("X") + PositionText::format(x) + QStringLiteral("Y") +
           PositionText::format(y) + QStringLiteral("Z") + QChar(Terminator);
}

QString Packets::presence(Direction facing, const QString &clientNumber, const QString &code,
                          float x)
{
    const QString word =
        facing == Direction::Left ? QStringLiteral("StLeft") : QStringLiteral("StRight");
    return QChar(RelayMarker) + QStringLiteral("Action") + clientNumber + word + code +
           QStringLiteral("X") + PositionText::format(x) + QChar(Terminator);
}
