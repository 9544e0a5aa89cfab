// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <functional>

// Puts the server's stream back into packets. TCP keeps no packet
// boundaries: on a real network one packet can come in two reads and one
// read can end inside a packet. What follows the last 0x00 of a read waits
// for the next read, up to the largest packet there is; a longer run is
// dropped and the stream picks up again after its next 0x00. A tail that is
// a whole packet by itself needs no terminator: a client number once its
// digits are in, and exactly "NewUser".
class ReceivedStream
{
public:
    static constexpr qsizetype MaxCarried = 4096;

    // Every piece this read completes, in order (see ReceivedText::pieces).
    void feed(QStringView read, const std::function<void(QStringView)> &take);
    // A new connection: nothing of the old one is carried over.
    void reset();
    qsizetype carried() const { return m_carried.size(); }

private:
    QString m_carried;
    bool m_skipping = false; // dropping the rest of an overlong packet
};
