// SPDX-License-Identifier: MIT
#pragma once

#include "net/PacketFramer.h"
#include "server/AdmittingServer.h"
#include "server/BanList.h"
#include "server/HeldOutput.h"
#include "server/Link.h"
#include "server/NoticeBatch.h"
#include "server/ServerSettings.h"
#include "server/TokenBucket.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Link;

// The stage server. Clients join with 0x0A name 0x00 and get "ClientNumber"
// and one digit back; everyone already joined gets "NewUser" 0x00. A 0x02
// packet of a joined client goes to every joined client, the sender too,
// without its marker, when it is one of the sender's own in the shape its
// own client sends. Only joined clients hold one of the ten places;
// connections that have not joined wait in a small pool of their own. Every
// address group has budgets for packets, bytes, joins and connects that
// outlive its connections, so reconnecting refills nothing. Bounded: 4 KiB a
// packet, 1 MiB of unsent output a client, 64 KiB held for a newcomer.
class StageServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 10;
    static constexpr int MaxUnjoined = 32;
    static constexpr int MaxUnjoinedPerGroup = 2;
    static constexpr qsizetype MaxPacket = 4096;
    static constexpr qint64 MaxPendingOutput = 1 << 20;
    // A newcomer is sent nothing else for this long after its number, so that
    // the number, which has no terminator, arrives on its own.
    static constexpr int NewcomerQuietMs = 250;
    // A client gets at most one "NewUser" in this time; later ones merge.
    static constexpr qint64 NewUserGapMs = 500;
    // How long an address group's budgets are remembered after it left.
    static constexpr qint64 RememberGroupMs = 60'000;
    // At most this many groups are remembered; past it, those without a
    // connection are forgotten early.
    static constexpr std::size_t MaxRememberedGroups = 4096;
    // How often failed TLS handshakes from one address group are logged.
    static constexpr qint64 HandshakeFailureLogIntervalMs = 10'000;
    // How often one client's packets that are not relayed are logged.
    static constexpr qint64 NotRelayedLogIntervalMs = 10'000;
    static constexpr std::size_t MaxFarewells = 64;

    explicit StageServer(const ServerSettings &settings = {}, QObject *parent = nullptr);
    ~StageServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    // The stage inside TLS, on a port of its own, with the same places and rules.
    bool listenTls(const QHostAddress &address, quint16 port,
                   const QSslConfiguration &configuration);
    // A new certificate for new connections; those open keep theirs.
    void setTls(const QSslConfiguration &configuration) { m_tlsServer.setTls(configuration); }
    quint16 tlsPort() const { return m_tlsServer.serverPort(); }
    QString tlsErrorString() const { return m_tlsServer.errorString(); }
    // Spends a connect token of the peer's group: false for a flood, which
    // is to be closed unseen. Every listener of the stage asks it.
    bool admit(const QHostAddress &peer);
    // Takes a new connection in, whatever carries it, under the same rules
    // as every other.
    void adopt(Link *link);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int connectionCount() const;
    int joinedCount() const;
    // Who may not be on the stage. Anyone on it that the list bans is
    // closed at once, and the others are told.
    void setBans(BanList bans);
    // A log line, unless the log is already busy this second: what peers
    // cause goes through here, so that no crowd can flood the log.
    void log(const QString &line);
    // Where the log lines go; nowhere unless set.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

private:
    // One address group's budgets and counts; an exempt connection has one
    // of its own.
    struct Group
    {
        explicit Group(const ServerSettings &s, qint64 nowNs);

        TokenBucket packets;
        TokenBucket bytes;
        TokenBucket joins;
        TokenBucket connects;
        int connections = 0;
        int unjoined = 0;
        qint64 emptySinceMs = -1;
        int refused = 0; // connections refused since the last summary
        qint64 handshakeFailureLoggedMs = -1;
    };

    struct Client
    {
        Link *link;
        std::shared_ptr<Group> group;
        PacketFramer framer{MaxPacket};
        std::optional<QByteArray> waiting; // framed, waiting for its budget
        // Its timers belong to its socket and stop when it is dropped, so that
        // none of them fires for a client that is gone.
        QTimer *resume = nullptr;   // reads on when the budget has refilled
        QTimer *deadline = nullptr; // ends a connection that does not join
        QTimer *quietEnd = nullptr; // ends the newcomer's quiet time
        QTimer *newUserDue = nullptr;
        int number = -1; // -1 until joined
        QByteArray name;
        QString lookAlike;
        QString peer;
        QString leaving; // why it is to be dropped, once its input is read
        bool gone = false;
        bool vacated = false; // closed: its place and number are free again
        bool quiet = false;   // a newcomer whose number is still travelling alone
        bool removed = false; // closed by a ban
        HeldOutput held;      // what it is sent meanwhile
        qint64 lastNewUserMs = -NewUserGapMs;
        int freeAnswers = 0; // presence answers owed for "NewUser" packets it got
        int notRelayed = 0;  // since the last log line about them
        qint64 notRelayedLoggedMs = -1;
    };

    void takeConnections(AdmittingServer &server);
    std::shared_ptr<Group> groupFor(const QString &key);
    void refuse(Link *link, Group &group, const QString &peer, const QByteArray &notice,
                const QString &why);
    // Handles the client's packets as far as its budgets allow.
    void readFrom(Client *client);
    bool withinBudget(Client *client, const QByteArray &packet);
    void handlePacket(Client *client, const QByteArray &packet);
    void join(Client *client, const QByteArray &name);
    void notRelayed(Client *client, const QByteArray &body);
    void relay(const QByteArray &packet);
    void send(Client *client, const QByteArray &bytes);
    void endQuiet(Client *client);
    void announceNewcomer(Client *to);
    void sendNewUser(Client *to);
    void noticeJoin(Client *newcomer);
    void noticeLeave(const QByteArray &name);
    void flushNotices();
    // Drops a client once every packet it sent before it went is relayed; it
    // is sent nothing more meanwhile.
    void leaveLater(Client *client, const QString &why);
    void finishLeaving();
    // Frees a closed client's place and number and tells the others.
    void vacate(Client *client, const QString &why);
    // Ends the connection; with a farewell, the client is sent it first.
    void drop(Client *client, const QString &why, const QByteArray &farewell = {});
    void closeOldestUnjoined();
    void purge();
    QTimer *timerFor(Client *client, int ms, void (StageServer::*slot)(Client *));
    void joinDeadline(Client *client);
    void closeGently(Link *link, const QByteArray &farewell);
    void sweepFarewells();
    void summarize();
    qint64 nowMs() const { return m_clock.elapsed(); }

    ServerSettings m_settings;
    BanList m_bans;
    AdmittingServer m_server;
    AdmittingServer m_tlsServer;
    QElapsedTimer m_clock;
    QList<QHostAddress> m_ownAddresses;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::array<Client *, MaxClients> m_numbers{};
    std::map<QString, std::shared_ptr<Group>> m_groups;
    int m_unjoined = 0;
    std::deque<std::pair<QPointer<Link>, qint64>> m_farewells; // with their deadlines
    QTimer m_farewellSweep;
    QTimer m_summary;
    NoticeBatch m_joinNotices{"joined the stage"};
    NoticeBatch m_leaveNotices{"left the stage"};
    QTimer m_noticeFlush;
    TokenBucket m_logBudget;
    qint64 m_logSuppressed = 0;
    std::function<void(const QString &)> m_log;
    bool m_leaveQueued = false;
    bool m_purgeQueued = false;
};
