// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/AddressGroup.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <unordered_map>

class AdmittingServer;
class QSslConfiguration;
class QTcpSocket;
class StageServer;

// The stage in a browser: serves the page from the resources compiled into
// the server, and hands "/stage" WebSocket upgrades to the stage as clients
// like any other. Only its own files, only GET and HEAD; every answer
// forbids other origins, inline script and sniffing. Bounded: a connection
// must send a whole request within the request time and within the read
// buffer, and every address group has a request budget.
class WebFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
    static constexpr qint64 MaxRequest = 16 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 10'000;
    // HTTP connections open at a time from one address group.
    static constexpr int MaxConnectionsPerGroup = 16;

    explicit WebFront(StageServer &stage, QObject *parent = nullptr);
    ~WebFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    // HTTPS, and the stage's WebSocket inside it, for connections from now on.
    void setTls(const QSslConfiguration &configuration);
    bool isTls() const;
    quint16 port() const;
    QString errorString() const;
    // HTTP connections at once, from every group together; past it, a
    // newcomer takes the place of the oldest of the group that holds the most.
    void setMaxConnections(int count) { m_maxConnections = count; }
    // HTTP connections open now, upgrades under way among them.
    int connectionCount() const { return int(m_connections.size()); }
    // How long a connection may take to send a whole request, and an upgrade
    // to become a WebSocket.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    // The names the page answers to (addresses too); a request that names
    // another host in its Host header is answered 421 and never upgraded,
    // so that a hostile name pointed at this server serves nobody's page.
    // Empty: any name.
    void setHostNames(const QStringList &names);
    // Whether a Host header names this server.
    bool isOwnHost(const QByteArray &host) const;

    // Whether an upgrade from a browser page comes from this server's own
    // page: its Origin names the same host and port as its Host. A request
    // without Origin comes from a program, not a page, and is let in.
    static bool sameOrigin(const QByteArray &origin, const QByteArray &host);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct File
    {
        QByteArray body;
        QByteArray type;
        QByteArray etag;
    };
    // What the front keeps of one HTTP connection while it holds one of its
    // group's page connections: until its socket goes, or it becomes a
    // WebSocket and counts on the stage instead.
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        std::shared_ptr<AddressGroup> group;
        std::unique_ptr<QTimer> deadline; // a whole request, or a whole upgrade, in time
        qint64 requestBytes = 0;          // of the request being read
        bool upgrading = false;           // let through to the WebSocket handshake
        quint64 serial = 0;               // the order they came in
    };

    void prepare(QTcpSocket *socket);
    bool hasRoomFor(const QHostAddress &peer) const;
    bool makeRoomFor(const QHostAddress &peer);
    void forget(QTcpSocket *socket);
    void expire(QTcpSocket *socket);
    void answer(const QHttpServerRequest &request, QTcpSocket *socket, int status,
                const File *file = nullptr);
    void refuse(const QHttpServerRequest &request, QTcpSocket *socket, int status);
    void upgraded();

    StageServer &m_stage;
    AdmittingServer *m_listener;
    QHash<QString, File> m_files;
    std::unordered_map<QTcpSocket *, Connection> m_connections;
    QSet<QString> m_hostNames;
    int m_maxConnections = 4096;
    quint64 m_serial = 0;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
};
