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
// packets until nothing is held. A release ends after a few packets (after
// MaxPaced for a newcomer, whose whole view of the stage is held): what is
// held then goes at once, so that on a stage busier than the pace nothing
// waits long, no client stays paced for good, and one that does not read
// is still found out.
class PacedOutput
{
public:
    using Write = std::function<void(const QByteArray &packet)>;
    static constexpr int GapMs = 2;
    // Packets a release writes paced at most: 100 ms of them after a
    // newcomer's quiet time, 16 ms after a gap.
    static constexpr int MaxPaced = 50;
    static constexpr int MaxPacedAfterGap = 8;

    PacedOutput();
    void setWrite(Write write) { m_write = std::move(write); }

    // Written now, or held while the output is paced.
    void send(const QByteArray &packet);
    // Nothing else reaches the client for `quietMs` after this packet,
    // however much is held meanwhile (within HeldOutput's bound).
    void sendAlone(const QByteArray &packet, int quietMs);
    // The next packet follows this one GapMs later at the soonest.
    void sendThenGap(const QByteArray &packet);
    // No more writes: the client is gone.
    void stop();
    qsizetype heldBytes() const { return m_held.size(); }

private:
    void pause(int ms, int maxPaced);
    void writeNext();
    void writeAll();

    Write m_write;
    HeldOutput m_held;
    QTimer m_next;
    bool m_paced = false;
    bool m_alone = false; // the packet before must still be alone
    int m_released = 0;   // paced writes since the output was last paused
    int m_maxPaced = MaxPaced;
    bool m_stopped = false;
};
