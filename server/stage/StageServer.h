// SPDX-License-Identifier: MIT
#pragma once

#include "net/Protocol.h"
#include "server/carriers/Entrance.h"
#include "server/carriers/Link.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/BanList.h"
#include "server/rules/LookAlike.h"
#include "server/rules/ServerSettings.h"
#include "server/rules/StageFigures.h"
#include "server/stage/Admission.h"
#include "server/stage/Farewells.h"
#include "server/stage/StageClient.h"
#include "server/stage/StageConnections.h"
#include "server/stage/StageLog.h"
#include "server/stage/StageNotices.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <vector>

// The stage server. Clients join with 0x0A name 0x00 and get "ClientNumber"
// and one digit back; everyone already joined gets "NewUser" 0x00. A 0x02
// packet of a joined client goes to every joined client, the sender too,
// without its marker, when it is one of the sender's own in the shape its
// own client sends. Only joined clients hold one of the ten places;
// connections that have not joined wait in a small pool of their own. Every
// address group has budgets for packets, bytes, joins and connects that
// outlive its connections, so reconnecting refills nothing. Bounded: 4 KiB a
// packet (a longer one is skipped, and its sender told), 64 KiB without a
// terminator, 1 MiB of unsent output a client, 64 KiB held for a client.
class StageServer : public QObject, public Entrance
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 10;
    // Connections that have not joined, shared fairly by their address
    // groups: at most this many, fewer when the settings say so.
    static constexpr int MaxUnjoined = Admission::MaxWaiting;
    static constexpr int MaxUnjoinedPerGroup = Admission::MaxWaitingPerGroup;
    static constexpr qsizetype MaxPacket = Protocol::MaxPacket;
    static constexpr qint64 MaxPendingOutput = StageConnections::MaxPendingOutput;
    static constexpr qint64 NewUserGapMs = StageClient::NewUserGapMs;

    explicit StageServer(const ServerSettings &settings = {}, QObject *parent = nullptr);
    ~StageServer() override;

    // Spends a connect token of the peer's group: false for a flood or a
    // banned address, which is to be closed unseen. Every door asks it.
    bool admit(const QHostAddress &peer) override;
    // Takes a new connection in, whatever carries it, under the same rules
    // as every other.
    void adopt(Link *link, StageFigures::Carrier carrier) override;
    int connectionCount() const { return m_connections.count(); }
    // Whether someone on the stage has a name of this look-alike form.
    bool isOnStage(const QString &look) const
    {
        return std::any_of(m_numbers.begin(), m_numbers.end(), [&](const Client *client) {
            return client && client->lookAlike() == look;
        });
    }
    int joinedCount() const
    {
        return int(std::count_if(m_numbers.begin(), m_numbers.end(),
                                 [](const Client *client) { return client != nullptr; }));
    }
    // What the stage has done since it started; the doors to it count there too.
    StageCounters &counters() { return m_counters; }
    // The stage's figures now; its port, the page's connections and the
    // process's own are the caller's to fill in.
    StageFigures figures() const;
    // The form in which names count as the same, for every list of names.
    const LookAlike &lookAlike() const { return m_lookAlike; }
    // The address groups of the stage and of every door to it.
    AddressGroups &groups() { return m_groups; }
    // Who may not be on the stage. Anyone on it that the list bans is
    // closed at once, and the others are told.
    void setBans(BanList bans);
    // A log line, unless the log is already busy this second: what peers
    // cause goes through here, so that no crowd can flood the log.
    void log(const QString &line) { m_log.budgeted(line); }
    // Everyone connected, joined first by number, then those waiting
    // (number NoNumber).
    struct Person
    {
        int number;
        QByteArray name;
        QByteArray shownName;
        StageFigures::Carrier carrier;
        QHostAddress address;
        qint64 joinedForMs;
        qint64 packets;
        qint64 bytes;
        bool muted;
    };
    QList<Person> people() const;
    // The operator's hand: each false when nobody has that number.
    bool kick(int number, const QString &reason);
    // Chat lines of theirs are not relayed for `forMs` (none: until
    // unmuted); their steps are. They are told, and told again now and then
    // while they try.
    bool mute(int number, std::optional<qint64> forMs, const QString &reason);
    bool unmute(int number);
    // A notice to everyone on the stage, in the notices' own shape; why
    // not, when the chat rules refuse it.
    std::optional<QByteArray> say(const QString &text);
    // While closed, joins are refused with `word`; those on the stage stay.
    void close(const QByteArray &word) { m_closedWord = word; }
    void open() { m_closedWord.reset(); }
    bool isClosed() const { return m_closedWord.has_value(); }
    static constexpr qint64 MutedToldIntervalMs = 10'000;
    // Where the log lines go; nowhere unless set.
    void setLog(StageLog::Sink sink) { m_log.setSink(std::move(sink)); }

private:
    using Client = StageClient;
    using Then = StageClient::Then;

    void handlePacket(Client *client, const QByteArray &packet);
    void join(Client *client, const QByteArray &name);
    std::optional<std::pair<StageCounters::Refusal, QByteArray>>
    joinRefusal(const QByteArray &name, const QString &look) const;
    void relay(const QByteArray &packet, Then then = Then::Together);
    // A participant's own packet, counted as relayed.
    void relayOwn(const QByteArray &packet, Then then = Then::Together);
    // Frees a closed client's place and number and tells the others; a
    // removal is an operator's doing, told even without notices.
    void vacate(Client *client, const QString &why, const QByteArray &removal);
    qint64 nowMs() const { return m_clock.elapsed(); }
    static QElapsedTimer startedClock()
    {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }

    ServerSettings m_settings;
    QElapsedTimer m_clock = startedClock();
    AddressGroups m_groups;
    StageLog m_log;
    StageCounters m_counters;
    Farewells m_farewells;
    Admission m_admission;
    StageNotices m_notices;
    LookAlike m_lookAlike;
    StageConnections m_connections;
    std::array<Client *, MaxClients> m_numbers{};
    std::optional<QByteArray> m_closedWord;
};
