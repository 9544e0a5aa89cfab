// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/HeldOutput.h"

#include <QByteArray>
#include <QTimer>
#include <functional>

// Everything a client is sent, one packet a write. A client that takes each
// read as one packet needs some packets to reach it alone: its client
// number, which has no terminator, and "NewUser", which it answers. After
// such a packet nothing is written for a while; what the stage says
// meanwhile is held (see HeldOutput) and then written with GapMs between
// packets until nothing is held. Where the stage says more than that pace
// carries, the rest goes at once, so that nothing waits long and a client
// that does not read is still found out.
class PacedOutput
{
public:
    using Write = std::function<void(const QByteArray &packet)>;
    static constexpr int GapMs = 2;
    // Packets held at most while they go out paced: 100 ms of them.
    static constexpr qsizetype MaxPaced = 50;

    PacedOutput();
    void setWrite(Write write) { m_write = std::move(write); }

    // Written now, or held while the output is paced.
    void send(const QByteArray &packet);
    // Nothing else reaches the client for `quietMs` after this packet,
    // however much is held meanwhile (within HeldOutput's bound).
    void sendAlone(const QByteArray &packet, int quietMs);
    // The next packet follows this one GapMs later at the soonest.
    void sendThenGap(const QByteArray &packet) { sendAlone(packet, GapMs); }
    // No more writes: the client is gone.
    void stop();
    qsizetype heldBytes() const { return m_held.size(); }

private:
    void writeNext();
    void writeAll();

    Write m_write;
    HeldOutput m_held;
    QTimer m_next;
    bool m_paced = false;
    bool m_alone = false; // the packet before must still be alone
    bool m_stopped = false;
};
