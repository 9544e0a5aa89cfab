// SPDX-License-Identifier: MIT
#pragma once

#include "server/page/PageFiles.h"
#include "server/rules/AddressGroup.h"
#include "server/rules/HostPolicy.h"
#include "server/rules/HttpRequest.h"
#include "server/rules/WaitingPool.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <unordered_map>

class AdmittingServer;
class QSslConfiguration;
class QTcpSocket;
class QWebSocketServer;
class AddressGroups;
class Entrance;
struct StageCounters;

// The stage in a browser: serves the page's files and hands "/stage"
// WebSocket upgrades to the stage as clients like any other. It reads HTTP
// itself, on sockets of its own listener, and gives an upgrade's socket to
// the WebSocket handshake only once the request has passed every check: the
// socket stays ours until it is a WebSocket, on every Qt. Only its own
// files, only GET and HEAD; every answer forbids other origins, inline
// script and sniffing. Bounded: a connection must send a whole request
// within the request time and MaxRequest bytes, an upgrade must become a
// WebSocket within the same time, every address group has a request budget
// and a bound on its connections, and all of them share fair places.
class WebFront : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxRequest = 16 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 10'000;
    // HTTP connections open at a time from one address group.
    static constexpr int MaxConnectionsPerGroup = 16;
    // From the first byte of an upgrade request to the WebSocket.
    static constexpr int MaxUpgradeMs = 1000;

    using Log = std::function<void(const QString &line)>;

    // Hands its WebSockets to `entrance`, under the stage's address groups,
    // counting in its counters; what peers cause goes to `log`, which is
    // budgeted.
    WebFront(Entrance &entrance, AddressGroups &groups, StageCounters &counters, Log log,
             QObject *parent = nullptr);
    ~WebFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    // HTTPS, and the stage's WebSocket inside it, for connections from now on.
    void setTls(const QSslConfiguration &configuration);
    bool isTls() const;
    quint16 port() const;
    QString errorString() const;
    // HTTP connections at once, from every group together; past it, a
    // newcomer takes the place of one from the groups that hold the most.
    void setMaxConnections(int count) { m_places.setCapacity(count); }
    // HTTP connections open now, upgrades under way among them.
    int connectionCount() const { return int(m_connections.size()); }
    // How long a connection may take to send a whole request, and an upgrade
    // to become a WebSocket.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    // The names the page answers to; see HostPolicy.
    void setHostNames(const QStringList &names) { m_hosts.setHostNames(names); }

private:
    // What the front keeps of one HTTP connection while it holds one of its
    // group's page connections: until its socket goes, or it becomes a
    // WebSocket and counts on the stage instead.
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        std::shared_ptr<AddressGroup> group;
        std::unique_ptr<QTimer> deadline; // a whole request, or a whole upgrade, in time
        HttpRequestReader reader{MaxRequest};
        QElapsedTimer sinceFirstByte; // of the request being read
        bool upgrading = false;       // handed to the WebSocket handshake
        quint64 serial = 0;           // its place among the page's connections
    };

    void accept();
    void prepare(QTcpSocket *socket);
    void readFrom(QTcpSocket *socket);
    // Answers one request; false when the connection has ended or is no
    // longer read here.
    bool serve(QTcpSocket *socket, Connection &connection, const HttpRequest &request,
               qsizetype headLength);
    bool hasRoomFor(const QHostAddress &peer) const;
    bool makeRoomFor(const QHostAddress &peer);
    void forget(QTcpSocket *socket);
    void expire(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const HttpRequest *request, int status,
                const PageFiles::File *file = nullptr, bool closing = false);
    void refuse(QTcpSocket *socket, const HttpRequest *request, int status);
    void upgraded();

    Entrance &m_entrance;
    AddressGroups &m_groups;
    StageCounters &m_counters;
    Log m_log;
    AdmittingServer *m_listener;
    QWebSocketServer *m_webSockets;
    PageFiles m_files;
    HostPolicy m_hosts;
    WaitingPool m_places{4096};
    std::unordered_map<QTcpSocket *, Connection> m_connections;
    std::unordered_map<quint64, QTcpSocket *> m_bySerial;
    quint64 m_serial = 0;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
};
