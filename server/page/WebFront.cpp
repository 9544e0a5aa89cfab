// SPDX-License-Identifier: MIT
#include "server/page/WebFront.h"

#include "server/carriers/AdmittingServer.h"
#include "server/carriers/PeerAddress.h"
#include "server/carriers/WebSocketLink.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/LogText.h"
#include "server/stage/StageServer.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace {

constexpr auto StagePath = "/stage";

// Only this server's own origin, no inline script or style, no frames.
constexpr auto Policy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                        "img-src 'self'; connect-src 'self'; base-uri 'none'; "
                        "form-action 'none'; frame-ancestors 'none'";

QByteArray typeOf(const QString &path)
{
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".gif", "image/gif"},
    };
    for (const auto &[suffix, type] : types) {
        if (path.endsWith(QLatin1String(suffix)))
            return type;
    }
    return "application/octet-stream";
}

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
    case 426:
        return "Upgrade Required";
    case 421:
        return "Misdirected Request";
    case 429:
        return "Too Many Requests";
    default:
        return "Error";
    }
}

// "host:port" of a URL or a Host header, with the scheme's port when it names none.
QString hostAndPort(const QUrl &url)
{
    const int fallback = url.scheme() == u"https" || url.scheme() == u"wss" ? 443 : 80;
    return url.host().toLower() + u':' + QString::number(url.port(fallback));
}

} // namespace

WebFront::WebFront(StageServer &stage, QObject *parent)
    : QAbstractHttpServer(parent), m_stage(stage)
{
    // Every file the page needs, read once: nothing is ever read from disk.
    for (QDirIterator it(QStringLiteral(":/web"), QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        File entry{file.readAll(), typeOf(path), {}};
        entry.etag =
            '"' + QCryptographicHash::hash(entry.body, QCryptographicHash::Sha1).toHex().left(16) +
            '"';
        m_files.insert(path.mid(5), entry); // without ":/web"
    }
    if (auto index = m_files.constFind(QStringLiteral("/index.html")); index != m_files.cend())
        m_files.insert(QStringLiteral("/"), *index);
    if (auto icon = m_files.constFind(QStringLiteral("/icon.png")); icon != m_files.cend())
        m_files.insert(QStringLiteral("/favicon.ico"), *icon);

    auto *listener = new AdmittingServer(this);
    // A group at its bound is turned away before Qt makes a socket of it.
    listener->setAdmit([this](const QHostAddress &peer) {
        if (!hasRoomFor(peer)) {
            m_stage.counters().refused(StageCounters::Refusal::Budget);
            return false;
        }
        return m_stage.admit(peer) && makeRoomFor(peer);
    });
    listener->setNotice([this](const QString &line) { m_stage.log(line); });
    listener->setPrepare([this](QTcpSocket *socket) { prepare(socket); });
    m_listener = listener;
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebFront::upgraded);
}

WebFront::~WebFront() = default;

bool WebFront::listen(const QHostAddress &address, quint16 port)
{
    if (!m_listener->listen(address, port))
        return false;
    bind(m_listener);
    return true;
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

void WebFront::setHostNames(const QStringList &names)
{
    m_hostNames.clear();
    for (const QString &name : names)
        m_hostNames.insert(name.toLower());
}

bool WebFront::isOwnHost(const QByteArray &host) const
{
    if (m_hostNames.isEmpty())
        return true;
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(host), QUrl::StrictMode);
    QString name = url.host().toLower();
    if (name.endsWith(u'.'))
        name.chop(1); // the root: "localhost." is "localhost"
    return url.isValid() && url.path().isEmpty() && url.userInfo().isEmpty() && !name.isEmpty() &&
           m_hostNames.contains(name);
}

void WebFront::prepare(QTcpSocket *socket)
{
    AddressGroups &groups = m_stage.groups();
    forget(socket); // a socket gone without a word left its entry behind
    Connection &connection = m_connections[socket];
    connection.socket = socket;
    connection.serial = ++m_serial;
    connection.group = groups.groupFor(PeerAddress::from(socket->peerAddress()));
    groups.opened(*connection.group, true);
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    // Answers go out in several writes (head, then body): without this,
    // each would wait for the browser's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A request larger than this stops being read and is closed below; the
    // kernel holds back the rest.
    socket->setReadBufferSize(MaxRequest);
    connection.deadline = std::make_unique<QTimer>();
    connection.deadline->setSingleShot(true);
    connect(connection.deadline.get(), &QTimer::timeout, this, [this, socket] { expire(socket); });
    connection.deadline->start(m_requestTimeoutMs);
    // Connected before the request parser, so it sees what came before the
    // parser takes it.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        const auto found = m_connections.find(socket);
        if (found == m_connections.end())
            return;
        found->second.requestBytes += socket->bytesAvailable();
        if (found->second.requestBytes >= MaxRequest)
            QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
    });
}

void WebFront::forget(QTcpSocket *socket)
{
    if (const auto found = m_connections.find(socket); found != m_connections.end()) {
        m_stage.groups().closed(*found->second.group, true);
        m_connections.erase(found);
    }
}

void WebFront::expire(QTcpSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    // Once an upgrade has begun, Qt no longer tells of the socket's end: the
    // slot is given back here, whatever becomes of the socket.
    if (QTcpSocket *alive = found->second.socket)
        alive->abort();
    forget(socket);
}

bool WebFront::makeRoomFor(const QHostAddress &peer)
{
    if (std::ssize(m_connections) < m_maxConnections)
        return true;
    // Full: the oldest connection of the group that holds the most goes,
    // when that is more than the newcomer's group would hold.
    const AddressGroup *own = m_stage.groups().find(PeerAddress::from(peer));
    const int ownCount = (own ? own->pageConnections : 0) + 1;
    QTcpSocket *oldest = nullptr;
    const Connection *chosen = nullptr;
    for (const auto &[socket, connection] : m_connections) {
        const int count = connection.group->pageConnections;
        if (count <= ownCount || !connection.socket)
            continue;
        if (!chosen || count > chosen->group->pageConnections ||
            (count == chosen->group->pageConnections && connection.serial < chosen->serial)) {
            chosen = &connection;
            oldest = socket;
        }
    }
    if (!chosen)
        return false;
    expire(oldest);
    return true;
}

bool WebFront::hasRoomFor(const QHostAddress &peer) const
{
    const AddressGroup *group = m_stage.groups().find(PeerAddress::from(peer));
    return !group || group->pageConnections < MaxConnectionsPerGroup;
}

bool WebFront::sameOrigin(const QByteArray &origin, const QByteArray &host)
{
    if (origin.isEmpty())
        return true;
    const QUrl from(QString::fromLatin1(origin), QUrl::StrictMode);
    const QUrl to(QStringLiteral("http://") + QString::fromLatin1(host), QUrl::StrictMode);
    if (!from.isValid() || from.host().isEmpty() || !to.isValid() || to.host().isEmpty())
        return false;
    if (from.scheme() != u"http" && from.scheme() != u"https")
        return false;
    QUrl target = to;
    target.setScheme(from.scheme());
    return hostAndPort(from) == hostAndPort(target);
}

bool WebFront::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // A whole request came: the next one has its own time and bytes.
    Connection *connection = nullptr;
    if (const auto found = m_connections.find(socket); found != m_connections.end()) {
        connection = &found->second;
        connection->requestBytes = 0;
        if (connection->deadline)
            connection->deadline->start(m_requestTimeoutMs);
    }

    const bool upgrade = !request.value("upgrade").isEmpty();
    const bool exempt = PeerAddress::from(request.remoteAddress()).isLocalHost();
    if (!exempt && connection && !connection->group->requests.tryTake(m_stage.groups().nowNs())) {
        refuse(request, socket, 429);
        return true;
    }
    if (!isOwnHost(request.value("host"))) {
        refuse(request, socket, 421);
        return true;
    }
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        refuse(request, socket, 405);
        return true;
    }
    const QString path = request.url().path();
    if (path == QLatin1String(StagePath)) {
        if (!upgrade || request.value("upgrade").toLower() != "websocket") {
            answer(request, socket, 426);
            return true;
        }
        if (!sameOrigin(request.value("origin"), request.value("host"))) {
            m_stage.log(QStringLiteral("refused ws %1: the page of another site, %2")
                            .arg(request.remoteAddress().toString(),
                                 LogText::escaped(request.value("origin"), 200)));
            refuse(request, socket, 403);
            return true;
        }
        // Let through: the stage takes it over once the upgrade is done. Until
        // then the request's deadline and read bound hold, whatever line ended
        // the header: the WebSocket handshake reads the request again.
        if (connection)
            connection->upgrading = true;
        return true;
    }
    if (upgrade) {
        refuse(request, socket, 404);
        return true;
    }
    const auto found = m_files.constFind(path);
    if (found == m_files.cend()) {
        answer(request, socket, 404);
        return true;
    }
    if (request.value("if-none-match") == found->etag)
        answer(request, socket, 304, &*found);
    else
        answer(request, socket, 200, &*found);
    return true;
}

void WebFront::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    answer(request, socket, 404);
}

void WebFront::answer(const QHttpServerRequest &request, QTcpSocket *socket, int status,
                      const File *file)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(status));
    QByteArray body = status == 200 && file ? file->body : QByteArray();
    if (status >= 400)
        body = QByteArray::number(status) + ' ' + reasonOf(status) + '\n';
    responder.writeHeader("Content-Type",
                          file && status < 400 ? file->type : "text/plain; charset=utf-8");
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Content-Security-Policy", Policy);
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("Cross-Origin-Resource-Policy", "same-origin");
    if (file) {
        // Kept, but asked after each time: a server upgrade shows at once.
        responder.writeHeader("Cache-Control", "no-cache");
        responder.writeHeader("ETag", file->etag);
    } else {
        responder.writeHeader("Cache-Control", "no-store");
    }
    if (status == 405)
        responder.writeHeader("Allow", "GET, HEAD");
    if (status == 426)
        responder.writeHeader("Upgrade", "websocket");
    if (status == 429)
        responder.writeHeader("Retry-After", "1");
    if (request.method() == QHttpServerRequest::Method::Head)
        body.clear();
    responder.writeBody(body);
}

void WebFront::refuse(const QHttpServerRequest &request, QTcpSocket *socket, int status)
{
    using Refusal = StageCounters::Refusal;
    m_stage.counters().refused(status == 429   ? Refusal::Budget
                               : status == 403 ? Refusal::CrossSite
                                               : Refusal::Shape);
    answer(request, socket, status);
    // The connection ends here: nothing more of it is read or upgraded.
    socket->flush();
    socket->disconnectFromHost();
    socket->abort();
    forget(socket);
}

void WebFront::upgraded()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            continue;
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
        m_stage.adopt(new WebSocketLink(std::move(socket), transport),
                      StageFigures::Carrier::WebSocket);
    }
}
