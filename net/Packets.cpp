// SPDX-License-Identifier: MIT
#include "net/Packets.h"

#include "net/Cp1252.h"
#include "net/PacketBytes.h"
#include "net/PositionText.h"
#include "net/Protocol.h"

#include <optional>

using namespace Protocol;

namespace {

// A packet a client sends: marker, body, terminator, as text.
QString framed(char16_t marker, const QByteArray &body)
{
    return QChar(marker) + Cp1252::decode(body) + QChar(Terminator);
}

QString action(ActionView::Command command, const QString &clientNumber, const QString &code,
               float x, std::optional<float> y = std::nullopt)
{
    return framed(RelayMarker,
                  PacketBytes::action(Cp1252::encode(clientNumber), command, Cp1252::encode(code),
                                      PositionText::format(x).toLatin1(),
                                      y ? PositionText::format(*y).toLatin1() : QByteArray()));
}

} // namespace

QString Packets::join(const QString &userName)
{
    return framed(JoinMarker, Cp1252::encode(userName));
}

QString Packets::chatLine(const QString &userName, const QString &text)
{
    return framed(RelayMarker,
                  PacketBytes::chatLine(Cp1252::encode(userName), Cp1252::encode(text)));
}

QString Packets::move(Direction dir, const QString &clientNumber, const QString &code, float x,
                      float y)
{
    using C = ActionView::Command;
    return action(dir == Direction::Left ? C::GoLeft : C::GoRight, clientNumber, code, x, y);
}

QString Packets::presence(Direction facing, const QString &clientNumber, const QString &code,
                          float x)
{
    using C = ActionView::Command;
    return action(facing == Direction::Left ? C::StLeft : C::StRight, clientNumber, code, x);
}
