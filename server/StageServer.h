#pragma once

#include "net/PacketFramer.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

// The stage server. Clients join with 0x0A name 0x00 and get "ClientNumber"
// and one digit back; everyone already joined gets "NewUser" 0x00. Every
// 0x02 packet of a joined client goes to every joined client, the sender
// too, without its marker. Bounded: ten clients, 4 KiB a packet, 1 MiB of
// unsent output a client.
class StageServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 10;
    static constexpr qsizetype MaxPacket = 4096;
    static constexpr qint64 MaxPendingOutput = 1 << 20;

    explicit StageServer(QObject *parent = nullptr);
    ~StageServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int connectionCount() const;
    int joinedCount() const;
    // Where the connect, join and leave lines go; stderr unless replaced.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

private:
    struct Client
    {
        QTcpSocket *socket = nullptr;
        PacketFramer framer{MaxPacket};
        int number = -1; // -1 until joined
        QString peer;
        QString leaving; // why it is to be dropped, once its input is read
        bool gone = false;
    };

    void onNewConnection();
    void onReadyRead(Client *client);
    void handlePacket(Client *client, const QByteArray &packet);
    void join(Client *client, const QByteArray &name);
    void relay(const QByteArray &packet);
    void send(Client *client, const QByteArray &bytes);
    // Drops a client at the next turn of the event loop, after relaying every
    // packet it sent before it went; it is sent nothing more meanwhile.
    void leaveLater(Client *client, const QString &why);
    void finishLeaving();
    void drop(Client *client, const QString &why);
    void purge();

    QTcpServer m_server;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::array<Client *, MaxClients> m_numbers{};
    std::function<void(const QString &)> m_log;
    bool m_leaveQueued = false;
    bool m_purgeQueued = false;
};
