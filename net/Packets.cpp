// SPDX-License-Identifier: MIT
#include "net/Packets.h"

#include "net/PositionText.h"
#include "net/Protocol.h"

using namespace Protocol;

namespace {

// "Action" n word code "X" x: what a step and a presence answer begin with.
QString actionHead(QStringView word, const QString &clientNumber, const QString &code, float x)
{
    QString packet;
    packet.reserve(40);
    packet += QChar(RelayMarker);
    packet += Action;
    packet += clientNumber;
    packet += word;
    packet += code;
    packet += XMark;
    packet += PositionText::format(x);
    return packet;
}

} // namespace

QString Packets::join(const QString &userName)
{
    return QChar(JoinMarker) + userName + QChar(Terminator);
}

QString Packets::chatLine(const QString &userName, const QString &text)
{
    QString packet;
    packet.reserve(userName.size() + text.size() + 9);
    packet += QChar(RelayMarker);
    packet += ChatStart;
    packet += userName;
    packet += ChatSeparator;
    packet += text;
    packet += LineEnd;
    packet += QChar(Terminator);
    return packet;
}

QString Packets::move(Direction dir, const QString &clientNumber, const QString &code, float x,
                      float y)
{
    QString packet = actionHead(dir == Direction::Left ? GoLeft : GoRight, clientNumber, code, x);
    packet += YMark;
    packet += PositionText::format(y);
    packet += ZMark;
    packet += QChar(Terminator);
    return packet;
}

QString Packets::presence(Direction facing, const QString &clientNumber, const QString &code,
                          float x)
{
    QString packet =
        actionHead(facing == Direction::Left ? StLeft : StRight, clientNumber, code, x);
    packet += QChar(Terminator);
    return packet;
}
