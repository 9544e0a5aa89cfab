// SPDX-License-Identifier: MIT
#include "net/PacketBytes.h"

#include "net/Protocol.h"

namespace PacketBytes {

namespace {

QLatin1StringView commandWord(ActionView::Command command)
{
    switch (command) {
    case ActionView::Command::GoLeft:
        return Protocol::GoLeft;
    case ActionView::Command::GoRight:
        return Protocol::GoRight;
    case ActionView::Command::StLeft:
        return Protocol::StLeft;
    case ActionView::Command::StRight:
        return Protocol::StRight;
    }
    return Protocol::GoLeft;
}

} // namespace

QByteArray action(QByteArrayView number, ActionView::Command command, QByteArrayView code,
                  QByteArrayView x, QByteArrayView y)
{
    const bool step =
        command == ActionView::Command::GoLeft || command == ActionView::Command::GoRight;
    QByteArray packet;
    packet.reserve(40);
    packet += Protocol::bytes(Protocol::Action);
    packet += number;
    packet += Protocol::bytes(commandWord(command));
    packet += code;
    packet += Protocol::bytes(Protocol::XMark);
    packet += x;
    if (step) {
        packet += Protocol::bytes(Protocol::YMark);
        packet += y;
        packet += Protocol::bytes(Protocol::ZMark);
    }
    return packet;
}

QByteArray chatLine(QByteArrayView name, QByteArrayView text)
{
    QByteArray line;
    line.reserve(name.size() + text.size() + 8);
    line += Protocol::bytes(Protocol::ChatStart);
    line += name;
    line += Protocol::bytes(Protocol::ChatSeparator);
    line += text;
    line += Protocol::bytes(Protocol::LineEnd);
    return line;
}

QByteArray clientNumber(int number)
{
    return Protocol::bytes(Protocol::ClientNumber).toByteArray() + QByteArray::number(number);
}

} // namespace PacketBytes
