// SPDX-License-Identifier: MIT
#include "server/operator/ControlSocket.h"

#include "server/rules/ControlCommand.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

ControlSocket::ControlSocket(Answer answer, Log log, int idleMs, Clock clock, QObject *parent)
    : QObject(parent), m_clock(std::move(clock)), m_idleMs(idleMs), m_answer(std::move(answer)),
      m_log(std::move(log))
{
    m_elapsed.start();
    if (!m_clock)
        m_clock = [this] {
            return m_elapsed.nsecsElapsed();
        };
    m_server.setMaxPendingConnections(MaxConnections);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlSocket::take);
}

ControlSocket::~ControlSocket()
{
    // Its connections go with the listener, after this object's own
    // members: none of them may count itself out of a count already gone.
    for (QLocalSocket *socket : m_server.findChildren<QLocalSocket *>())
        socket->disconnect(this);
    if (!m_path.isEmpty())
        QLocalServer::removeServer(m_path);
}

bool ControlSocket::listen(const QString &path, QString *why)
{
    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        struct stat st;
        const bool isSocket =
            ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
        if (!isSocket) {
            *why = QStringLiteral("%1 exists and is no socket").arg(path);
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(200)) {
            *why = QStringLiteral("another server answers on %1").arg(path);
            return false;
        }
        QLocalServer::removeServer(path);
    }
    m_server.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!m_server.listen(path)) {
        *why = m_server.errorString();
        return false;
    }
    m_path = path;
    const QByteArray file = QFile::encodeName(path);
    if (const group *admin = ::getgrnam(AdminGroup)) {
        if (::chown(file.constData(), uid_t(-1), admin->gr_gid) != 0)
            m_log(QStringLiteral("control socket %1: cannot give it to group %2: %3")
                      .arg(path, QLatin1StringView(AdminGroup),
                           QString::fromLocal8Bit(strerror(errno))));
    }
    ::chmod(file.constData(), 0660);
    return true;
}

bool ControlSocket::allows(const Peer &peer, uid_t ownUid, qint64 adminGid,
                           const std::function<bool(qint64, qint64)> &isMember)
{
    if (peer.uid < 0)
        return false;
    if (peer.uid == 0 || peer.uid == qint64(ownUid))
        return true;
    return adminGid >= 0 && (peer.gid == adminGid || isMember(peer.uid, adminGid));
}

bool ControlSocket::isInGroup(qint64 uid, qint64 gid)
{
    const passwd *user = ::getpwuid(uid_t(uid));
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(std::size_t(std::min(count, 65536)));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(std::size_t(count));
    return std::find(groups.begin(), groups.end(), gid_t(gid)) != groups.end();
}

std::optional<ControlSocket::Peer> ControlSocket::peerOf(QLocalSocket *socket)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0)
        return std::nullopt;
    return Peer{credentials.uid, credentials.gid, credentials.pid};
}

void ControlSocket::take()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        const std::optional<Peer> peer = peerOf(socket);
        const group *admin = ::getgrnam(AdminGroup);
        const qint64 adminGid = admin ? qint64(admin->gr_gid) : -1;
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peer || !allows(*peer, ::geteuid(), adminGid, &ControlSocket::isInGroup)) {
            const QString who =
                peer ? QStringLiteral("uid %1").arg(peer->uid) : QStringLiteral("unknown");
            m_log(QStringLiteral("control: refused %1: neither root, the server's user nor in %2")
                      .arg(who, QLatin1StringView(AdminGroup)));
            socket->write(QStringLiteral("error: refused: %1 is neither root, the server's own "
                                         "user nor a member of %2\n\n")
                              .arg(who, QLatin1StringView(AdminGroup))
                              .toUtf8());
            socket->disconnectFromServer();
            continue;
        }
        if (m_open >= MaxConnections) {
            socket->write("error: busy: too many control connections at once\n\n");
            socket->disconnectFromServer();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->callOnTimeout(socket, [socket] { socket->abort(); });
        idle->start(m_idleMs);
        socket->setProperty("uid", peer->uid);
        socket->setProperty("gid", peer->gid);
        socket->setProperty("pid", peer->pid);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
            idle->start(m_idleMs);
            readFrom(socket);
        });
        readFrom(socket);
    }
}

void ControlSocket::readFrom(QLocalSocket *socket)
{
    while (socket->state() == QLocalSocket::ConnectedState) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() >= ControlCommand::MaxLine) {
                socket->write(QByteArrayLiteral("error: the line is longer than ") +
                              QByteArray::number(ControlCommand::MaxLine - 1) + " bytes\n\n");
                socket->disconnectFromServer();
            }
            return;
        }
        // Over the budget, the line waits in its socket until the budget
        // has room again.
        const qint64 nowNs = m_clock();
        if (!m_budget.tryTake(nowNs)) {
            if (!socket->property("resuming").toBool()) {
                socket->setProperty("resuming", true);
                const int ms = int(m_budget.nsUntil(nowNs) / 1'000'000) + 1;
                QTimer::singleShot(ms, socket, [this, socket] {
                    socket->setProperty("resuming", false);
                    readFrom(socket);
                });
            }
            return;
        }
        QByteArray line = socket->readLine(ControlCommand::MaxLine + 1);
        if (!line.endsWith('\n')) {
            socket->write(QByteArrayLiteral("error: the line is longer than ") +
                          QByteArray::number(ControlCommand::MaxLine - 1) + " bytes\n\n");
            socket->disconnectFromServer();
            return;
        }
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        const Peer peer{socket->property("uid").toLongLong(), socket->property("gid").toLongLong(),
                        socket->property("pid").toLongLong()};
        socket->write(m_answer(QString::fromUtf8(line), peer));
        // A peer that does not read what it asked for gets no more.
        if (socket->bytesToWrite() > MaxUnsent) {
            socket->abort();
            return;
        }
    }
}
