// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

/*
    Quandrel wire format
    ====================

    One TCP connection per client, to the stage server on port 2579. Everything
    on it is 8-bit text in Windows-1252, one byte per character (see Cp1252).

    Client to server. Every packet is written with one send, starts with a
    marker byte and ends with the terminator 0x00. Position 0 is the marker,
    so position k here is position k (counted from 1) at a receiver once the
    server has stripped the marker.

        join        0x0A name 0x00                          name may be empty
        chat line   0x02 "[" name "] - " text CR LF 0x00    text sent unchanged
        move        0x02 "Action" n dir code "X" x "Y" y "Z" 0x00
        presence    0x02 "Action" n st  code "X" x 0x00     no "Y", no "Z"

    where n is the own client number as shown, dir is "GoLeft" or "GoRight",
    st is "StLeft" or "StRight", code is the 5-character avatar code
    ("Tavro", "Gimbo", "Nubo ", "Sorra", "Veck ", "Jaxo ": four-letter codes
    carry a trailing blank) and x, y are the image's left and top edges in
    twips before the step, as PositionText writes them.

        0x02 "Action3GoLeftGimboX1200Y480Z" 0x00      client 3 steps left
        0x02 "Action7GoRightNubo X850Y480Z" 0x00      note the blank in "Nubo "
        0x02 "Action3StRightGimboX1800" 0x00          presence answer
        0x02 "[Ann] - hi" 0x0D 0x0A 0x00              14 bytes

    Server to client. No marker; packets that the server terminates end with
    0x00, but the server writes the client number without one.

        "ClientNumber" digit                 the receiver's own number, 0..9
        "NewUser" ... 0x00                   someone joined: answer with presence
        "Action" ... 0x00                    a relayed move or presence answer
        "[" name "] - " text CR LF 0x00      a relayed chat line

    A receiver reads an Action packet by fixed positions from 1: the client
    number at 7; the direction word at 8-13 ("GoLeft", "StLeft") or 8-14
    ("GoRight", "StRight"); the code at 14-18 or 15-19; "X" at 19 or 20; then
    x, 1 to 4 characters, up to the "Y".

    TCP is a byte stream, so a read may hold several packets or part of one.
    ReceivedStream keeps what follows the last terminator of a read for the
    next one, and ReceivedText splits the text at its terminators (and after
    a client number, which has none); each piece is handed on in order.
*/

enum class Direction
{
    Left,
    Right
};

namespace Packets {

QString join(const QString &userName);
QString chatLine(const QString &userName, const QString &text);
QString move(Direction dir, const QString &clientNumber, const QString &code, float x, float y);
QString presence(Direction facing, const QString &clientNumber, const QString &code, float x);

} // namespace Packets
