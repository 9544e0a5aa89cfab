// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/StageFigures.h"

#include "net/PacketFramer.h"
#include "server/carriers/Link.h"
#include "server/rules/AddressGroup.h"
#include "server/rules/FirstBytes.h"
#include "server/stage/PacedOutput.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <functional>
#include <limits>
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
    // What a client that has closed may still have relayed of what it sent
    // before, and for how long: then it leaves, whatever is left.
    static constexpr qint64 MaxDrainBytes = 64 * 1024;
    static constexpr int MaxDrainMs = 1000;

    // What the client's owner does for it.
    struct Hooks
    {
        std::function<qint64()> nowMs;
        // Every packet the client is sent, as it goes out.
        std::function<void(StageClient &client, const QByteArray &packet)> write;
        // Its budget has refilled: its input may be read on.
        std::function<void(StageClient &client)> readOn;
        // It neither joined in time nor, once Draining, finished in time.
        std::function<void(StageClient &client)> deadline;
    };

    // What its input holds next, read as far as its budgets allow.
    struct Input
    {
        enum class Kind
        {
            Packet,     // `packet`, its budget spent
            Overlong,   // a packet past the bound, skipped
            Later,      // over budget: read on once readOn is called
            Nothing,    // nothing more has come
            NotStage,   // its first bytes are another protocol's: `spoke`
            Overflowed, // a run past the bound without a terminator
            DrainSpent  // Draining, and past what it may still have relayed
        };
        Kind kind = Kind::Nothing;
        QByteArray packet;
        FirstBytes::Kind spoke = FirstBytes::Kind::Undecided;
    };

    // Apart: nothing else reaches the client in the same read as this packet
    // (PacedOutput::GapMs after it), for a client that takes each read as one
    // packet and must see this one and the next.
    enum class Then
    {
        Together,
        Apart
    };

    // Every move a client may make, and no other.
    static bool mayMove(Phase from, Phase to);

    StageClient(Link *link, std::shared_ptr<AddressGroup> group, QString peer,
                StageFigures::Carrier carrier, quint64 serial, qsizetype maxPacket,
                Hooks hooks = {});
    StageClient(const StageClient &) = delete;
    StageClient &operator=(const StageClient &) = delete;

    Phase phase() const { return m_phase; }
    bool isGone() const { return m_phase == Phase::Gone; }
    // Whether it is sent what the stage says: neither leaving nor gone.
    bool isListening() const { return m_phase == Phase::Waiting || m_phase == Phase::OnStage; }
    // Joined at some time: it holds its place and number until it is
    // closed, and a join that came before its close still counts.
    bool hasJoined() const { return m_number != NoNumber; }

    // Waits for its join until `ms` have passed.
    void awaitJoin(int ms) { m_deadline.start(ms); }
    // Reads its next input at the next turn.
    void readSoon() { m_resume.start(0); }
    Input take(qint64 nowNs);
    // Takes a place on the stage under its shown name.
    void join(int number, QByteArray name, QByteArray shownName, QString lookAlike);
    // Its own fault while still open (Leaving), or closed by its peer
    // (Draining); nothing more is sent to it. False if it was not listening.
    bool leave(const QString &why, Link::Failure failure);
    // Nothing more of it happens: none of its timers fires, nothing is written.
    void end();
    // A step of its own told its avatar's wire code.
    void setWireCode(QByteArrayView code) { m_wireCode = code.toByteArray(); }

    // Tells it that someone joined: at once, or with the "NewUser" already
    // due, or once NewUserGapMs have passed since the last one.
    void announceNewcomer();
    void stopAnnouncing() { m_newUserDue.stop(); }
    // Sent unless it is no longer listening.
    void send(const QByteArray &packet, Then then = Then::Together);
    PacedOutput &output() { return m_output; }
    const PacedOutput &output() const { return m_output; }

    // What it sent and the stage took, once it joined.
    void countIn(qsizetype bytes)
    {
        ++m_packetsIn;
        m_bytesIn += bytes;
    }
    qint64 packetsIn() const { return m_packetsIn; }
    qint64 bytesIn() const { return m_bytesIn; }
    qint64 joinedMs() const { return m_joinedMs; }
    // Its lines are not relayed until `untilMs` (none: until unmuted).
    void mute(std::optional<qint64> untilMs) { m_mutedUntilMs = untilMs.value_or(NeverMs); }
    void unmute() { m_mutedUntilMs = -1; }
    bool isMuted(qint64 nowMs) const { return m_mutedUntilMs > nowMs; }
    // Whether to tell it once more that its lines are not relayed: at most
    // once every `intervalMs`.
    bool mayTellMuted(qint64 nowMs, qint64 intervalMs)
    {
        if (m_mutedToldMs >= 0 && nowMs - m_mutedToldMs < intervalMs)
            return false;
        m_mutedToldMs = nowMs;
        return true;
    }

    // Counts a packet that is not its own; gives the count to log once
    // `intervalMs` have passed since the last, and starts counting again.
    std::optional<int> countNotRelayed(qint64 nowMs, qint64 intervalMs);
    int notRelayedSinceLogged() const { return m_notRelayed; }

    Link *link() const { return m_link; }
    AddressGroup &group() const { return *m_group; }
    const std::shared_ptr<AddressGroup> &sharedGroup() const { return m_group; }
    const QString &peer() const { return m_peer; } // as the log names it
    StageFigures::Carrier carrier() const { return m_carrier; }
    quint64 serial() const { return m_serial; } // its place in the waiting pool
    int number() const { return m_number; }
    const QByteArray &name() const { return m_name; }
    const QByteArray &shownName() const { return m_shownName; } // distinct from every other's
    const QString &lookAlike() const { return m_lookAlike; }    // of the shown name
    const QByteArray &wireCode() const { return m_wireCode; }
    const QString &why() const { return m_why; } // why it leaves, once it does
    Link::Failure failure() const { return m_failure; }

private:
    void moveTo(Phase to);
    void sendNewUser();
    // Spends its budget for the frame; false when it must wait.
    bool withinBudget(const PacketFramer::Frame &frame, qint64 nowNs);
    // Reads what has come into the framer; false when nothing more came
    // or the input is decided not to be the stage's.
    std::optional<Input> readIn();

    Link *const m_link;
    const std::shared_ptr<AddressGroup> m_group;
    const QString m_peer;
    const StageFigures::Carrier m_carrier;
    const quint64 m_serial;
    Hooks m_hooks;
    Phase m_phase = Phase::Waiting;
    // Its first bytes until they tell what it speaks; nothing of them is
    // framed before.
    QByteArray m_opening;
    bool m_speaksStage = false;
    PacketFramer m_framer;
    std::optional<PacketFramer::Frame> m_waiting; // framed, waiting for its budget
    QTimer m_resume;                              // reads on when the budget has refilled
    QTimer m_deadline;                            // ends a connection that does not join
    QTimer m_newUserDue;                          // sends a "NewUser" merged with others
    PacedOutput m_output;                         // everything it is sent goes through here
    int m_number = NoNumber;
    QByteArray m_name;
    QByteArray m_shownName;
    QString m_lookAlike;
    QByteArray m_wireCode; // of its avatar, once a step of its own has told it
    QString m_why;
    Link::Failure m_failure = Link::Failure::Broken;
    qint64 m_lastNewUserMs;
    int m_freeAnswers = 0;  // presence answers owed for "NewUser" packets it got
    int m_notRelayed = 0;   // since the last log line about them
    qint64 m_drainLeft = 0; // bytes it may still have relayed once Draining
    qint64 m_notRelayedLoggedMs = -1;
    static constexpr qint64 NeverMs = std::numeric_limits<qint64>::max();
    qint64 m_joinedMs = 0;
    qint64 m_packetsIn = 0;
    qint64 m_bytesIn = 0;
    qint64 m_mutedUntilMs = -1;
    qint64 m_mutedToldMs = -1;
};
