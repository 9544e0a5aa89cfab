// SPDX-License-Identifier: MIT
#pragma once

#include "net/PacketFramer.h"
#include "server/ServerSettings.h"
#include "server/TokenBucket.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;
class QTimer;

// The stage server. Clients join with 0x0A name 0x00 and get "ClientNumber"
// and one digit back; everyone already joined gets "NewUser" 0x00. A 0x02
// packet of a joined client goes to every joined client, the sender too,
// without its marker, when it is one of the sender's own: a step under its
// own number or a chat line under its own name. Nobody can hold a place
// without joining, take more than a few places from one address, or make the
// others spend more than its packet budget. Bounded: ten clients, 4 KiB a
// packet, 1 MiB of unsent output a client.
class StageServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 10;
    static constexpr qsizetype MaxPacket = 4096;
    static constexpr qint64 MaxPendingOutput = 1 << 20;
    // A newcomer is sent nothing else for this long after its number, so that
    // the number, which has no terminator, arrives on its own.
    static constexpr int NewcomerQuietMs = 250;
    // How often one client's packets that are not relayed are logged.
    static constexpr qint64 NotRelayedLogIntervalMs = 10'000;

    explicit StageServer(const ServerSettings &settings = {}, QObject *parent = nullptr);
    ~StageServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int connectionCount() const;
    int joinedCount() const;
    // Where the log lines go; nowhere unless set.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

private:
    struct Client
    {
        Client(QTcpSocket *socket, const TokenBucket &budget) : socket(socket), budget(budget) {}

        QTcpSocket *socket;
        PacketFramer framer{MaxPacket};
        std::optional<QByteArray> waiting; // framed, waiting for its budget
        TokenBucket budget;
        // Its timers belong to its socket and stop when it is dropped, so that
        // none of them fires for a client that is gone.
        QTimer *resume = nullptr;   // reads on when the budget has refilled
        QTimer *deadline = nullptr; // ends a connection that does not join
        QTimer *quietEnd = nullptr; // ends the newcomer's quiet time
        int number = -1;            // -1 until joined
        QByteArray name;
        QString peer;
        QString group;   // what the per-address limit counts; empty when exempt
        QString leaving; // why it is to be dropped, once its input is read
        bool gone = false;
        bool quiet = false; // a newcomer whose number is still travelling alone
        QByteArray held;    // what it is sent meanwhile
        int notRelayed = 0; // since the last log line about them
        qint64 notRelayedLoggedMs = -1;
    };

    void onNewConnection();
    void refuse(QTcpSocket *socket, const QString &peer, const QByteArray &notice,
                const QString &why);
    // Handles the client's packets as far as its budget allows.
    void readFrom(Client *client);
    void handlePacket(Client *client, const QByteArray &packet);
    void join(Client *client, const QByteArray &name);
    void notRelayed(Client *client, const QByteArray &body);
    void relay(const QByteArray &packet);
    void send(Client *client, const QByteArray &bytes);
    void endQuiet(Client *client);
    // Drops a client once every packet it sent before it went is relayed; it
    // is sent nothing more meanwhile.
    void leaveLater(Client *client, const QString &why);
    void finishLeaving();
    // Ends the connection; with a farewell, the client is sent it first.
    void drop(Client *client, const QString &why, const QByteArray &farewell = {});
    void purge();
    QTimer *timerFor(Client *client, int ms, void (StageServer::*slot)(Client *));
    void joinDeadline(Client *client);
    static void closeGently(QTcpSocket *socket, const QByteArray &farewell);

    ServerSettings m_settings;
    QTcpServer m_server;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::array<Client *, MaxClients> m_numbers{};
    QHash<QString, int> m_perGroup;
    std::function<void(const QString &)> m_log;
    bool m_leaveQueued = false;
    bool m_purgeQueued = false;
};
