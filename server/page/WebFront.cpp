// SPDX-License-Identifier: MIT
#include "server/page/WebFront.h"

#include "server/carriers/AdmittingServer.h"
#include "server/carriers/Entrance.h"
#include "server/carriers/PeerAddress.h"
#include "server/carriers/WebSocketLink.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/LogText.h"
#include "server/rules/StageCounters.h"

#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

constexpr auto StagePath = "/stage";

// Only this server's own origin, no inline script or style, no frames.
constexpr auto Policy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                        "img-src 'self'; connect-src 'self'; base-uri 'none'; "
                        "form-action 'none'; frame-ancestors 'none'";

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 421:
        return "Misdirected Request";
    case 426:
        return "Upgrade Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

} // namespace

WebFront::WebFront(Entrance &entrance, AddressGroups &groups, StageCounters &counters, Log log,
                   QObject *parent)
    : QObject(parent), m_entrance(entrance), m_groups(groups), m_counters(counters),
      m_log(std::move(log)), m_webSockets(new QWebSocketServer(
                                 QStringLiteral("Quandrel"), QWebSocketServer::NonSecureMode, this))
{
    auto *listener = new AdmittingServer(this);
    // A group at its bound is turned away before Qt makes a socket of it.
    listener->setAdmit([this](const QHostAddress &peer) {
        if (!hasRoomFor(peer)) {
            m_counters.refused(StageCounters::Refusal::Budget);
            return false;
        }
        return m_entrance.admit(peer) && makeRoomFor(peer);
    });
    listener->setNotice([this](const QString &line) { m_log(line); });
    listener->setPrepare([this](QTcpSocket *socket) { prepare(socket); });
    m_listener = listener;
    connect(listener, &QTcpServer::newConnection, this, &WebFront::accept);
    // The request's own deadline bounds the handshake; Qt's would be a second one.
    m_webSockets->setHandshakeTimeout(-1);
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &WebFront::upgraded);
}

WebFront::~WebFront()
{
    // The sockets go with the listener; nothing is to be counted for them.
    for (auto &[socket, connection] : m_connections)
        socket->disconnect(this);
}

bool WebFront::listen(const QHostAddress &address, quint16 port)
{
    return m_listener->listen(address, port);
}

void WebFront::setTls(const QSslConfiguration &configuration)
{
    m_listener->setTls(configuration);
}

bool WebFront::isTls() const
{
    return m_listener->isTls();
}

quint16 WebFront::port() const
{
    return m_listener->serverPort();
}

QString WebFront::errorString() const
{
    return m_listener->errorString();
}

void WebFront::accept()
{
    while (m_listener->nextPendingConnection()) {
        // Each was prepared as it was taken.
    }
}

void WebFront::prepare(QTcpSocket *socket)
{
    AddressGroups &groups = m_groups;
    forget(socket); // a socket gone without a word left its entry behind
    const IpAddress peer = PeerAddress::from(socket->peerAddress());
    Connection &connection = m_connections[socket];
    connection.socket = socket;
    connection.serial = ++m_serial;
    connection.group = groups.groupFor(peer);
    groups.opened(*connection.group, true);
    const auto [wide, group] = groups.placeKeysOf(peer);
    m_places.add(connection.serial, wide, group, groups.nowNs() / 1'000'000);
    m_bySerial[connection.serial] = socket;
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    // Until it is a WebSocket the socket is ours to end: once it has, or
    // the handshake turned it down, it goes.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_connections.count(socket) > 0) {
            forget(socket);
            socket->deleteLater();
        }
    });
    // Answers go out in several writes (head, then body): without this,
    // each would wait for the browser's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A request larger than this stops being read and is refused below;
    // the kernel holds back the rest.
    socket->setReadBufferSize(MaxRequest);
    connection.deadline = std::make_unique<QTimer>();
    connection.deadline->setSingleShot(true);
    connect(connection.deadline.get(), &QTimer::timeout, this, [this, socket] { expire(socket); });
    connection.deadline->start(m_requestTimeoutMs);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this, [this, socket] { readFrom(socket); }, Qt::QueuedConnection);
}

void WebFront::readFrom(QTcpSocket *socket)
{
    for (;;) {
        const auto found = m_connections.find(socket);
        if (found == m_connections.end() || found->second.upgrading)
            return; // gone, or Qt's handshake reads it now
        Connection &connection = found->second;
        // Read within a transaction: the bytes stay in the socket, so that
        // an upgrade's request is there again for the WebSocket handshake.
        // Each byte is read once, as it comes.
        if (!socket->isTransactionStarted()) {
            socket->startTransaction();
            connection.sinceFirstByte.start();
        }
        const auto state = connection.reader.append(socket->read(socket->bytesAvailable()));
        if (state == HttpRequestReader::State::Reading)
            return;
        socket->rollbackTransaction();
        if (state == HttpRequestReader::State::TooLarge) {
            refuse(socket, nullptr, 431);
            return;
        }
        const qsizetype headLength = connection.reader.headLength();
        const auto request = HttpRequest::parse(connection.reader.head());
        connection.reader.reset();
        if (!request) {
            refuse(socket, nullptr, 400);
            return;
        }
        if (!serve(socket, connection, *request, headLength) || socket->bytesAvailable() <= 0)
            return;
    }
}

bool WebFront::serve(QTcpSocket *socket, Connection &connection, const HttpRequest &request,
                     qsizetype headLength)
{
    // A whole request came: the next one has its own time.
    connection.deadline->start(m_requestTimeoutMs);

    const bool upgrade = request.has("upgrade");
    const bool exempt = PeerAddress::from(socket->peerAddress()).isLocalHost();
    if (!exempt && !connection.group->requests.tryTake(m_groups.nowNs())) {
        refuse(socket, &request, 429);
        return false;
    }
    // A body is nobody's business here, and would be read as a request.
    if (request.announcesBody()) {
        refuse(socket, &request, request.method == "GET" || request.method == "HEAD" ? 400 : 405);
        return false;
    }
    if (!m_hosts.isOwnHost(request.field("host"))) {
        refuse(socket, &request, 421);
        return false;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        refuse(socket, &request, 405);
        return false;
    }
    const QByteArray path = request.path();
    if (path == StagePath) {
        if (!upgrade || request.field("upgrade").toLower() != "websocket") {
            socket->skip(headLength);
            answer(socket, &request, 426);
            return request.keepsAlive();
        }
        if (!HostPolicy::sameOrigin(request.field("origin"), request.field("host"))) {
            m_log(QStringLiteral("refused ws %1: the page of another site, %2")
                      .arg(PeerAddress::plain(socket->peerAddress()).toString(),
                           LogText::escaped(request.field("origin"), 200)));
            refuse(socket, &request, 403);
            return false;
        }
        // The handshake reads lines ended CR LF and nothing else.
        if (!request.crlf) {
            refuse(socket, &request, 400);
            return false;
        }
        // One deadline from its first byte to the WebSocket.
        const qint64 spent = connection.sinceFirstByte.elapsed();
        if (spent >= MaxUpgradeMs) {
            refuse(socket, &request, 408);
            return false;
        }
        connection.deadline->start(int(std::min<qint64>(MaxUpgradeMs - spent, m_requestTimeoutMs)));
        // Let through: the request is still unread in the socket, and the
        // deadline holds until the stage takes the WebSocket over.
        connection.upgrading = true;
        m_webSockets->handleConnection(socket);
        return false;
    }
    socket->skip(headLength);
    if (upgrade) {
        refuse(socket, &request, 404);
        return false;
    }
    const PageFiles::File *file = m_files.find(path);
    if (!file)
        answer(socket, &request, 404);
    else if (request.field("if-none-match") == file->etag)
        answer(socket, &request, 304, file);
    else
        answer(socket, &request, 200, file);
    return request.keepsAlive();
}

void WebFront::forget(QTcpSocket *socket)
{
    if (const auto found = m_connections.find(socket); found != m_connections.end()) {
        m_groups.closed(*found->second.group, true);
        m_places.remove(found->second.serial);
        m_bySerial.erase(found->second.serial);
        m_connections.erase(found);
    }
}

void WebFront::expire(QTcpSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    QPointer<QTcpSocket> alive = found->second.socket;
    forget(socket);
    if (alive) {
        alive->abort();
        alive->deleteLater();
    }
}

bool WebFront::makeRoomFor(const QHostAddress &peer)
{
    if (!m_places.isFull())
        return true;
    const auto [wide, group] = m_groups.placeKeysOf(PeerAddress::from(peer));
    const auto victim = m_places.victimFor(wide, group, m_groups.nowNs() / 1'000'000);
    if (!victim)
        return false;
    if (const auto found = m_bySerial.find(*victim); found != m_bySerial.end())
        expire(found->second);
    return true;
}

bool WebFront::hasRoomFor(const QHostAddress &peer) const
{
    const AddressGroup *group = m_groups.find(PeerAddress::from(peer));
    return !group || group->pageConnections < MaxConnectionsPerGroup;
}

void WebFront::answer(QTcpSocket *socket, const HttpRequest *request, int status,
                      const PageFiles::File *file, bool closing)
{
    QByteArray body = status == 200 && file ? file->body : QByteArray();
    if (status >= 400)
        body = QByteArray::number(status) + ' ' + reasonOf(status) + '\n';
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonOf(status) + "\r\n";
    const auto field = [&head](const QByteArray &name, const QByteArray &value) {
        head += name + ": " + value + "\r\n";
    };
    field("Content-Type", file && status < 400 ? file->type : "text/plain; charset=utf-8");
    field("Content-Length", QByteArray::number(body.size()));
    field("Content-Security-Policy", Policy);
    field("X-Content-Type-Options", "nosniff");
    field("Referrer-Policy", "no-referrer");
    field("Cross-Origin-Resource-Policy", "same-origin");
    if (file) {
        // Kept, but asked after each time: a server upgrade shows at once.
        field("Cache-Control", "no-cache");
        field("ETag", file->etag);
    } else {
        field("Cache-Control", "no-store");
    }
    if (status == 405)
        field("Allow", "GET, HEAD");
    if (status == 426)
        field("Upgrade", "websocket");
    if (status == 429)
        field("Retry-After", "1");
    const bool keepAlive = !closing && request && request->keepsAlive();
    if (!keepAlive)
        field("Connection", "close");
    head += "\r\n";
    if (request && request->method == "HEAD")
        body.clear();
    socket->write(head + body);
    if (!keepAlive)
        socket->disconnectFromHost();
}

void WebFront::refuse(QTcpSocket *socket, const HttpRequest *request, int status)
{
    using Refusal = StageCounters::Refusal;
    m_counters.refused(status == 429   ? Refusal::Budget
                       : status == 403 ? Refusal::CrossSite
                                       : Refusal::Shape);
    answer(socket, request, status, nullptr, true);
    // The connection ends here: nothing more of it is read or upgraded.
    socket->flush();
    forget(socket);
    socket->abort();
    socket->deleteLater();
}

void WebFront::upgraded()
{
    while (m_webSockets->hasPendingConnections()) {
        std::unique_ptr<QWebSocket> socket(m_webSockets->nextPendingConnection());
        if (!socket)
            continue;
        socket->setParent(nullptr); // the link owns it
        // The HTTP connection it was counts no more: it is a participant now.
        QTcpSocket *transport = nullptr;
        for (auto &[key, connection] : m_connections) {
            if (connection.upgrading && connection.socket &&
                connection.socket->peerPort() == socket->peerPort() &&
                connection.socket->peerAddress() == socket->peerAddress()) {
                transport = connection.socket;
                forget(key);
                break;
            }
        }
        m_entrance.adopt(new WebSocketLink(std::move(socket), transport),
                         StageFigures::Carrier::WebSocket);
    }
}
