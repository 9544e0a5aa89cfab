// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/TokenBucket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

class QLocalSocket;

// The operator's door: a Unix domain socket, mode 0660, group quandrel-admin
// where that group exists. Whoever connects is checked by the kernel's word
// for it (SO_PEERCRED), not only by the file's mode: root, the server's own
// user and members of quandrel-admin are served, anyone else is told so and
// closed. One command a line, one answer each; everything bounded, so that
// no local user can make the stage wait: a few connections at once, a line
// of ControlCommand::MaxLine, MaxIdleMs to finish a line, a budget of
// commands a second, and an answer that is not read in time closes the
// connection.
class ControlSocket : public QObject
{
public:
    static constexpr int MaxConnections = 4;
    static constexpr int MaxIdleMs = 10'000;
    static constexpr qint64 MaxUnsent = 512 * 1024;
    // Commands a second among all connections, and at once: a local user
    // who floods the socket slows only the socket, never the stage.
    static constexpr double CommandsPerSecond = 200;
    static constexpr double CommandBurst = 50;
    static constexpr const char *AdminGroup = "quandrel-admin";

    struct Peer
    {
        qint64 uid = -1;
        qint64 gid = -1;
        qint64 pid = -1;
    };
    // The answer to one command line from a peer that may give commands.
    using Answer = std::function<QByteArray(const QString &line, const Peer &peer)>;
    using Log = std::function<void(const QString &line)>;

    // The time the budget counts in, in nanoseconds of a monotonic clock.
    using Clock = std::function<qint64()>;
    // `idleMs` to finish a line; `clock` for the budget, a steady one when
    // not given.
    ControlSocket(Answer answer, Log log, int idleMs = MaxIdleMs, Clock clock = {},
                  QObject *parent = nullptr);
    ~ControlSocket() override;
    // Takes the path (a stale socket left there is replaced; anything else
    // is not); false and why when it cannot.
    bool listen(const QString &path, QString *why);

    // Whether a peer may give commands: root, the server's own user, or a
    // member of the admin group (`adminGid`, -1 when it does not exist);
    // `groups` are the peer's groups.
    static bool allows(const Peer &peer, uid_t ownUid, qint64 adminGid,
                       const std::function<bool(qint64 uid, qint64 gid)> &isMember);

private:
    void take();
    void readFrom(QLocalSocket *socket);
    static std::optional<Peer> peerOf(QLocalSocket *socket);
    static bool isInGroup(qint64 uid, qint64 gid);

    QLocalServer m_server;
    QElapsedTimer m_elapsed;
    Clock m_clock;
    const int m_idleMs;
    TokenBucket m_budget{CommandsPerSecond, CommandBurst, 0};
    Answer m_answer;
    Log m_log;
    QString m_path;
    int m_open = 0;
};
