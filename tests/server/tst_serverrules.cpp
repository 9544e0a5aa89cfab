// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <vector>

// The rules that keep one participant from spoiling the stage, against the
// real server binary on loopback.
class TestServerRules : public QObject
{
    Q_OBJECT

    static QByteArray notice(const QByteArray &text) { return "[Quandrel] - " + text + "\r\n"; }

    static QByteArray chat(const QByteArray &name, int i)
    {
        return '[' + name + "] - line " + QByteArray::number(i) + "\r\n";
    }

private slots:
    void silentConnectionsLoseTheirPlaceJoinedOnesKeepIt()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--join-timeout"), QStringLiteral("0.5")}));
        StagePeer watcher(server.port());
        QCOMPARE(watcher.join("Watcher"), 0);
        StagePeer silent(server.port());
        StagePeer trickle(server.port()); // a join that never completes
        QTimer drip;
        QObject::connect(&drip, &QTimer::timeout, [&] { trickle.write("x"); });
        trickle.write("\x0A");
        drip.start(50);
        QVERIFY(silent.waitForClose());
        QVERIFY(trickle.waitForClose());
        // The watcher joined before both and said nothing since: it stays.
        QVERIFY(watcher.isConnected());
        watcher.send("[Watcher] - still here\r\n");
        QVERIFY(watcher.waitForPackets(1));
        QCOMPARE(watcher.packets().last(), QByteArray("[Watcher] - still here\r\n"));
        QVERIFY(server.log().contains(QStringLiteral("no join within 0.5 s")));
        // Their places are free again.
        std::vector<std::unique_ptr<StagePeer>> others;
        for (int i = 1; i < 10; ++i) {
            others.push_back(std::make_unique<StagePeer>(server.port()));
            QCOMPARE(others.back()->join("x" + QByteArray::number(i)), i);
        }
    }

    void placesPerAddress()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--max-per-address"), QStringLiteral("2")}));
        const QHostAddress two(QStringLiteral("127.0.0.2"));
        StagePeer first(server.port(), two);
        StagePeer second(server.port(), two);
        QCOMPARE(first.join("a"), 0);
        QCOMPARE(second.join("b"), 1);
        StagePeer third(server.port(), two);
        QVERIFY(third.waitForClose());
        QCOMPARE(third.packets(),
                 QList<QByteArray>{notice("Too many connections from your address")});
        // Another address has its own places, and the machine's own user is exempt.
        StagePeer other(server.port(), QHostAddress(QStringLiteral("127.0.0.3")));
        QCOMPARE(other.join("c"), 2);
        std::vector<std::unique_ptr<StagePeer>> local;
        for (int i = 0; i < 3; ++i) {
            local.push_back(std::make_unique<StagePeer>(server.port()));
            QCOMPARE(local.back()->join("l" + QByteArray::number(i)), 3 + i);
        }
        // A connection that has not joined counts as well; a freed place comes back.
        StagePeer waiting(server.port(), two);
        QVERIFY(waiting.waitForClose());
        second.socket().abort();
        QVERIFY(QTest::qWaitFor(
            [&] { return first.packets().contains(notice("b left the stage")); }, 3000));
        StagePeer again(server.port(), two);
        QCOMPARE(again.join("d"), 1);
    }

    void onlyOwnPacketsAreRelayed()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        StagePeer ann(server.port());
        StagePeer bob(server.port());
        QCOMPARE(ann.join("Ann"), 0);
        QCOMPARE(bob.join("Bob"), 1);
        QVERIFY(ann.waitForPackets(1));
        const QList<QByteArray> forged = {
            "ClientNumber7",
            "NewUser",
            "Action1GoLeftGimboX1800Y480Z", // Bob's number
            "Action",
            "[Bob] - hi\r\n",                          // Bob's name
            "[Ann] - hi\r\n[Bob] - a second line\r\n", // a line break inside
            "[Ann] - no line end",
            "[Ann]- hi\r\n",
            "[Quandrel] - Bob left the stage\r\n",
            "hello",
        };
        const QList<QByteArray> own = {
            "Action0GoLeftGimboX1800Y480Z",
            "Action0StRightNubo X1750",
            "[Ann] - hi\r\n",
            "[Ann] - quoting [Bob] is fine\r\n",
        };
        for (const QByteArray &packet : forged)
            ann.send(packet);
        ann.write(QByteArray("\x0A"
                             "Again\0",
                             7)); // a second join
        for (const QByteArray &packet : own)
            ann.send(packet);
        QVERIFY(bob.waitForPackets(own.size()));
        QCOMPARE(bob.packets(), own);
        // Her own line that hides a second one is not sent, and she is told.
        const QList<QByteArray> toAnn =
            QList<QByteArray>{"NewUser", notice("Not sent: a line cannot hold a line break")} + own;
        QVERIFY(ann.waitForPackets(toAnn.size()));
        QCOMPARE(ann.packets(), toAnn);

        // Nobody may pose as the server.
        StagePeer impostor(server.port());
        impostor.write(QByteArray("\x0A quandrel \0", 12));
        QVERIFY(impostor.waitForClose());
        QCOMPARE(impostor.packets().value(0),
                 notice("The name  quandrel  is kept for the stage's own notices"));

        // Logged once, with the count, and the rest when Ann leaves.
        ann.socket().abort();
        QTRY_VERIFY(server.log().contains(QStringLiteral("(8 more packet(s) not relayed)")));
        QCOMPARE(server.log().count(QStringLiteral("not relayed from")), 1);
        // And her avatar, the Nubo of her last step, steps off Bob's stage.
        QVERIFY(bob.waitForPackets(own.size() + 1));
        QCOMPARE(bob.packets(), own + QList<QByteArray>{"Action0GoLeftNubo X-999Y480Z"});
    }

    void aFloodIsReadLaterNotLost()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--rate"), QStringLiteral("200"),
                              QStringLiteral("--burst"), QStringLiteral("100"),
                              QStringLiteral("--no-notices")}));
        StagePeer flooder(server.port());
        StagePeer other(server.port());
        QCOMPARE(flooder.join("F"), 0);
        QCOMPARE(other.join("O"), 1);
        QVERIFY(flooder.waitForPackets(1));
        constexpr int Count = 1000;
        QByteArray burst;
        QList<QByteArray> expected;
        for (int i = 0; i < Count; ++i) {
            expected.append(chat("F", i));
            burst += '\x02' + expected.last() + '\0';
        }
        flooder.write(burst);
        QVERIFY(other.waitForPackets(1));
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        // Well into the flood, another client's line overtakes it.
        QVERIFY(other.waitForPackets(300, 10000));
        other.send("[O] - ping\r\n");
        QVERIFY(QTest::qWaitFor([&] { return other.packets().contains("[O] - ping\r\n"); }, 5000));
        QVERIFY(other.packets().size() < Count);
        QVERIFY(other.waitForPackets(Count + 1, 20000));
        const qint64 spread = sinceFirst.elapsed();
        QVERIFY(flooder.waitForPackets(1 + Count + 1, 5000));
        QList<QByteArray> seen = other.packets();
        seen.removeOne("[O] - ping\r\n");
        QCOMPARE(seen, expected);
        seen = flooder.packets().mid(1);
        seen.removeOne("[O] - ping\r\n");
        QCOMPARE(seen, expected);
        // Beyond the burst, no faster than 200 a second.
        QVERIFY2(spread >= (Count - 100) * 1000 / 200 * 9 / 10,
                 qPrintable(QString::number(spread)));
    }

    void noticesTellTheStage()
    {
        ServerProcess server;
        QVERIFY(server.start());
        StagePeer ann(server.port());
        QCOMPARE(ann.join("Ann"), 0);
        // Ann talks all the time; the newcomer's number still arrives alone.
        QTimer talk;
        int said = 0;
        QObject::connect(&talk, &QTimer::timeout, [&] { ann.send(chat("Ann", said++)); });
        talk.start(2);
        QTcpSocket bob;
        bob.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(bob.waitForConnected(3000));
        bob.write("\x0A"
                  "B\xE9ob\0",
                  6);
        QTRY_VERIFY(bob.bytesAvailable() >= 13);
        QCOMPARE(bob.readAll(), QByteArray("ClientNumber1"));
        QVERIFY(QTest::qWaitFor([&] { return bob.bytesAvailable() > 0; }, 3000));
        QVERIFY(bob.readAll().startsWith("[Ann] - line ")); // and no notice of itself
        talk.stop();
        QVERIFY(QTest::qWaitFor(
            [&] { return ann.packets().contains(notice("B\xE9ob joined the stage")); }, 3000));
        const QList<QByteArray> &seen = ann.packets();
        QVERIFY(seen.indexOf(notice("B\xE9ob joined the stage")) > seen.indexOf("NewUser"));
        bob.abort();
        QVERIFY(QTest::qWaitFor(
            [&] { return ann.packets().contains(notice("B\xE9ob left the stage")); }, 3000));

        std::vector<std::unique_ptr<StagePeer>> more;
        for (int i = 1; i < 10; ++i) {
            more.push_back(std::make_unique<StagePeer>(server.port()));
            QCOMPARE(more.back()->join("x" + QByteArray::number(i)), i);
        }
        StagePeer eleventh(server.port());
        eleventh.write(QByteArray("\x0Ay\0", 3));
        QVERIFY(eleventh.waitForClose());
        QCOMPARE(eleventh.packets(),
                 QList<QByteArray>{notice("The stage is full: 10 of 10 places are taken")});

        ServerProcess quiet;
        QVERIFY(quiet.start({QStringLiteral("--no-notices")}));
        StagePeer a(quiet.port());
        QCOMPARE(a.join("A"), 0);
        auto b = std::make_unique<StagePeer>(quiet.port());
        QCOMPARE(b->join("B"), 1);
        b.reset();
        QVERIFY(a.waitForPackets(2));
        a.send("[A] - done\r\n");
        QVERIFY(a.waitForPackets(3));
        QCOMPARE(a.packets(),
                 (QList<QByteArray>{"NewUser", "Action1GoLeftGimboX-999Y480Z", "[A] - done\r\n"}));
    }

    void aLogNobodyReadsStopsNothing()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--log-summary"), QStringLiteral("1")}, fds[1]));
        ::close(fds[1]);
        QByteArray logged;
        const auto readSome = [&](int ms) {
            pollfd pfd{fds[0], POLLIN, 0};
            if (::poll(&pfd, 1, ms) <= 0)
                return false;
            char chunk[65536];
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            if (n > 0)
                logged.append(chunk, n);
            return n > 0;
        };
        static const QRegularExpression listening(QStringLiteral(
            "^quandrel-server: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z listening on "
            "127\\.0\\.0\\.1 port (\\d+)\n"));
        QVERIFY(QTest::qWaitFor([&] { return readSome(10) && logged.contains('\n'); }, 5000));
        const auto match = listening.match(QString::fromUtf8(logged));
        QVERIFY2(match.hasMatch(), logged.constData());
        const auto port = quint16(match.captured(1).toUInt());

        // From here on nobody reads the log, while far more is logged than it holds.
        for (int i = 0; i < 6000; ++i) {
            QTcpSocket brief;
            brief.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(brief.waitForConnected(3000));
            brief.abort();
        }
        // Once the server has seen every brief connection go, two clients talk.
        std::unique_ptr<StagePeer> a, b;
        QVERIFY(QTest::qWaitFor(
            [&] {
                a = std::make_unique<StagePeer>(port);
                return a->join("A") == 0;
            },
            10000));
        b = std::make_unique<StagePeer>(port);
        QCOMPARE(b->join("B"), 1);
        for (int i = 0; i < 20; ++i)
            a->send(chat("A", i));
        QVERIFY(b->waitForPackets(20));
        QCOMPARE(b->packets().last(), chat("A", 19));

        // Read again: the log goes on, and says what it left out: the lines
        // over its budget in its summary, or, where even that found the pipe
        // full, the lines the pipe did not take, with the next line written
        // (C's join makes one).
        while (readSome(50)) {
        }
        StagePeer c(port);
        QCOMPARE(c.join("C"), 2);
        QVERIFY(QTest::qWaitFor(
            [&] {
                readSome(10);
                return logged.contains("log lines left out") ||
                       logged.contains("log lines dropped: standard error was not read");
            },
            5000));
        // Far fewer lines than events: the log takes at most 50 a second.
        QVERIFY2(logged.count('\n') < 6000, qPrintable(QString::number(logged.count('\n'))));
        for (const QByteArray &line : logged.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(line.startsWith("quandrel-server: "), line.constData());
        }
        ::close(fds[0]);
    }
};

QTEST_GUILESS_MAIN(TestServerRules)
#include "tst_serverrules.moc"
