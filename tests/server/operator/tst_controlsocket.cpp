// SPDX-License-Identifier: MIT
#include "server/operator/ControlSocket.h"

#include <QTest>

// Who may give the operator's commands, by the credentials the kernel
// gives for the peer.
class TestControlSocket : public QObject
{
    Q_OBJECT

    using Peer = ControlSocket::Peer;

private slots:
    void whoMayCommand_data()
    {
        QTest::addColumn<qint64>("uid");
        QTest::addColumn<qint64>("gid");
        QTest::addColumn<qint64>("adminGid"); // -1: no such group
        QTest::addColumn<bool>("member");     // of the admin group, by the group list
        QTest::addColumn<bool>("allowed");
        // The server runs as uid 990.
        QTest::newRow("root") << 0LL << 0LL << -1LL << false << true;
        QTest::newRow("the server's user") << 990LL << 990LL << -1LL << false << true;
        QTest::newRow("a stranger") << 1000LL << 1000LL << 120LL << false << false;
        QTest::newRow("admin, primary group") << 1000LL << 120LL << 120LL << false << true;
        QTest::newRow("admin, supplementary") << 1000LL << 1000LL << 120LL << true << true;
        QTest::newRow("no admin group") << 1000LL << 1000LL << -1LL << true << false;
        QTest::newRow("no credentials") << -1LL << -1LL << 120LL << true << false;
    }
    void whoMayCommand()
    {
        QFETCH(qint64, uid);
        QFETCH(qint64, gid);
        QFETCH(qint64, adminGid);
        QFETCH(bool, member);
        QFETCH(bool, allowed);
        const auto isMember = [&](qint64, qint64 group) {
            return member && group == adminGid;
        };
        QCOMPARE(ControlSocket::allows(Peer{uid, gid, 1234}, 990, adminGid, isMember), allowed);
    }
};

QTEST_GUILESS_MAIN(TestControlSocket)
#include "tst_controlsocket.moc"
