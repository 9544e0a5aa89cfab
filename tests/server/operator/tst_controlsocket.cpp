// SPDX-License-Identifier: MIT
#include "server/operator/ControlSocket.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

// Who may give the operator's commands, by the credentials the kernel
// gives for the peer; and the socket's bounds, in process.
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

    void answersEachLineInTurnWithItsCaller()
    {
        QTemporaryDir dir;
        QList<Peer> callers;
        ControlSocket control(
            [&](const QString &line, const Peer &peer) {
                callers.append(peer);
                return "ok: " + line.toUtf8() + "\n\n";
            },
            [](const QString &) {});
        QString why;
        QVERIFY2(control.listen(dir.filePath(QStringLiteral("control")), &why), qPrintable(why));
        QVERIFY(!control.listen(dir.filePath(QStringLiteral("control")), &why)); // taken
        QLocalSocket socket;
        socket.connectToServer(dir.filePath(QStringLiteral("control")));
        QVERIFY(socket.waitForConnected());
        socket.write("who\r\nstatus\n");
        QByteArray answers;
        QTRY_VERIFY((answers += socket.readAll()).count("\n\n") == 2);
        QCOMPARE(answers, QByteArray("ok: who\n\nok: status\n\n"));
        QCOMPARE(callers.size(), 2);
        QCOMPARE(callers.front().uid, qint64(::geteuid()));
        QCOMPARE(callers.front().pid, qint64(::getpid()));
    }

    void itsBoundsHold()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("control"));
        ControlSocket control([](const QString &, const Peer &) { return QByteArray("ok\n\n"); },
                              [](const QString &) {});
        QString why;
        QVERIFY(control.listen(path, &why));
        // A line past the bound is answered with why, and the connection closed.
        QLocalSocket longLine;
        longLine.connectToServer(path);
        QVERIFY(longLine.waitForConnected());
        longLine.write(QByteArray(2000, 'w'));
        QTRY_COMPARE(longLine.state(), QLocalSocket::UnconnectedState);
        QVERIFY(longLine.readAll().startsWith("error: the line is longer than 1023 bytes"));
        // A few at a time; the next is told it is busy.
        std::vector<std::unique_ptr<QLocalSocket>> open;
        for (int i = 0; i < ControlSocket::MaxConnections; ++i) {
            open.push_back(std::make_unique<QLocalSocket>());
            open.back()->connectToServer(path);
            QVERIFY(open.back()->waitForConnected());
            open.back()->write("who\n");
            QTRY_VERIFY(open.back()->bytesAvailable() > 0);
        }
        QLocalSocket oneTooMany;
        oneTooMany.connectToServer(path);
        QVERIFY(oneTooMany.waitForConnected());
        QTRY_COMPARE(oneTooMany.state(), QLocalSocket::UnconnectedState);
        QVERIFY(oneTooMany.readAll().startsWith("error: busy"));
        // Once one goes, there is room again.
        open.front()->disconnectFromServer();
        open.erase(open.begin());
        // The server's side of the one that went closes at its own turn:
        // until then a newcomer may still be told it is busy, and tries again.
        std::unique_ptr<QLocalSocket> next;
        QByteArray got;
        const auto served = [&] {
            if (!next || next->state() == QLocalSocket::UnconnectedState) {
                next = std::make_unique<QLocalSocket>();
                next->connectToServer(path);
                next->write("who\n");
                got.clear();
            }
            got += next->readAll();
            return got == "ok\n\n";
        };
        QTRY_VERIFY(served());
    }

    void aLineNotFinishedInTimeIsClosed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("control"));
        ControlSocket control([](const QString &, const Peer &) { return QByteArray("ok\n\n"); },
                              [](const QString &) {}, 200);
        QString why;
        QVERIFY(control.listen(path, &why));
        QLocalSocket slow;
        slow.connectToServer(path);
        QVERIFY(slow.waitForConnected());
        slow.write("wh");
        QTRY_COMPARE(slow.state(), QLocalSocket::UnconnectedState);
    }

    // A caller that asks and never reads is let go, not written for.
    void anAnswerNotReadClosesTheConnection()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("control"));
        int answered = 0;
        ControlSocket control(
            [&](const QString &, const Peer &) {
                ++answered;
                return QByteArray(100 * 1024, 'a') + "\n\n";
            },
            [](const QString &) {});
        QString why;
        QVERIFY(control.listen(path, &why));
        QLocalSocket deaf;
        deaf.setReadBufferSize(1);
        deaf.connectToServer(path);
        QVERIFY(deaf.waitForConnected());
        deaf.write(QByteArray("who\n").repeated(20));
        QTRY_COMPARE(deaf.state(), QLocalSocket::UnconnectedState);
        QVERIFY(answered < 20);
    }

    // Commands past the budget wait in their socket until it has room.
    void theBudgetHoldsCommandsBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("control"));
        int answered = 0;
        int looked = 0; // at the clock: each time the budget is asked
        qint64 nowNs = 0;
        ControlSocket control(
            [&](const QString &, const Peer &) {
                ++answered;
                return QByteArray("ok\n\n");
            },
            [](const QString &) {}, ControlSocket::MaxIdleMs,
            [&] {
                ++looked;
                return nowNs;
            });
        QString why;
        QVERIFY(control.listen(path, &why));
        QLocalSocket eager;
        eager.connectToServer(path);
        QVERIFY(eager.waitForConnected());
        eager.write(QByteArray("who\n").repeated(100));
        QTRY_COMPARE(answered, int(ControlSocket::CommandBurst));
        // Asked again and again while the clock stands: nothing more.
        const int before = looked;
        QTRY_VERIFY(looked > before + 3);
        QCOMPARE(answered, int(ControlSocket::CommandBurst));
        nowNs += 1'000'000'000; // a second's budget
        QTRY_COMPARE(answered, 100);
    }
};

QTEST_GUILESS_MAIN(TestControlSocket)
#include "tst_controlsocket.moc"
