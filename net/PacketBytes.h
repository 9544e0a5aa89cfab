// SPDX-License-Identifier: MIT
#pragma once

#include "net/ActionView.h"

#include <QByteArray>
#include <QByteArrayView>

// Every packet's bytes, built in one place (the layout is in Packets.h):
// the bodies without marker or terminator, which the sender adds.
namespace PacketBytes {

// "Action" n command code "X" x, and for a step "Y" y "Z". `number` is the
// sender's number as it stands in the packet.
QByteArray action(QByteArrayView number, ActionView::Command command, QByteArrayView code,
                  QByteArrayView x, QByteArrayView y = {});
// "[" name "] - " text CR LF.
QByteArray chatLine(QByteArrayView name, QByteArrayView text);
// "ClientNumber" and the number, which has no terminator.
QByteArray clientNumber(int number);

} // namespace PacketBytes
