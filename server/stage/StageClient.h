// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/StageFigures.h"

#include "net/PacketFramer.h"
#include "server/carriers/Link.h"
#include "server/rules/AddressGroup.h"
#include "server/stage/PacedOutput.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

// One participant's connection as the stage keeps it. Its phase says what
// the stage may still do with it:
//
//   Waiting ──join──> OnStage
//      │                 │
//      ├── its fault, still open ──> Leaving ──> Gone   (dropped at the next turn)
//      ├── closed by the peer ─────> Draining ─> Gone   (its last packets relayed first)
//      └── dropped at once ───────────────────> Gone
//
// Only Waiting and OnStage are sent anything. A joined client keeps its place,
// number and name while Draining, for at most a second and a bound of bytes,
// and frees them once Gone; a Draining client may still join with a join it
// sent before it closed, and leaves once what it sent is relayed.
class StageClient
{
public:
    enum class Phase
    {
        Waiting,
        OnStage,
        Leaving,
        Draining,
        Gone
    };
    static constexpr int NoNumber = -1;
    // A client gets at most one "NewUser" in this time; later ones merge.
    static constexpr qint64 NewUserGapMs = 500;

    // Every move a client may make, and no other.
    static bool mayMove(Phase from, Phase to);

    StageClient(Link *link, std::shared_ptr<AddressGroup> group, QString peer, qsizetype maxPacket);

    Phase phase() const { return m_phase; }
    void moveTo(Phase to);
    // Once it is gone, none of its timers may fire.
    void stopTimers();
    bool isGone() const { return m_phase == Phase::Gone; }
    // Whether it is sent what the stage says: neither leaving nor gone.
    bool isListening() const { return m_phase == Phase::Waiting || m_phase == Phase::OnStage; }
    // Joined at some time: it holds its place and number until it is
    // closed, and a join that came before its close still counts.
    bool hasJoined() const { return number != NoNumber; }
    // Tells it that someone joined: at once, or with the "NewUser" already
    // due, or once NewUserGapMs have passed since the last one.
    void announceNewcomer(qint64 nowMs);
    // Each "NewUser" owes the stage one presence answer, which is free.
    void sendNewUser(qint64 nowMs);

    Link *const link;
    quint64 serial = 0; // its place in the waiting pool
    const std::shared_ptr<AddressGroup> group;
    const QString peer; // as the log names it
    StageFigures::Carrier carrier = StageFigures::Carrier::Tcp;
    // Its first bytes until they tell what it speaks; nothing of them is
    // framed before.
    QByteArray opening;
    bool speaksStage = false;
    PacketFramer framer;
    std::optional<PacketFramer::Frame> waiting; // framed, waiting for its budget
    QTimer resume;                              // reads on when the budget has refilled
    QTimer deadline;                            // ends a connection that does not join
    QTimer newUserDue;                          // sends a "NewUser" merged with others
    PacedOutput output;                         // everything it is sent goes through here
    int number = NoNumber;
    QByteArray name;
    QByteArray shownName; // as the stage shows it: distinct from every other's
    QString lookAlike;    // of the shown name
    QByteArray wireCode;  // of its avatar, once a step of its own has told it
    QString why;          // why it leaves, once it does
    Link::Failure failure = Link::Failure::Broken;
    qint64 lastNewUserMs;
    int freeAnswers = 0;  // presence answers owed for "NewUser" packets it got
    int notRelayed = 0;   // since the last log line about them
    qint64 drainLeft = 0; // bytes it may still have relayed once Draining
    qint64 notRelayedLoggedMs = -1;

private:
    Phase m_phase = Phase::Waiting;
};
