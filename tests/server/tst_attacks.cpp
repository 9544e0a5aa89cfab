// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <memory>
#include <vector>

// Attacks with a few connections, crafted names and several source addresses
// (bound in 127.0.0.0/8), against the real server binary. Each is bounded in
// time; each must fail to forge, lock out, cut or flood.
class TestAttacks : public QObject
{
    Q_OBJECT

    static QHostAddress from(int last)
    {
        return QHostAddress(QStringLiteral("127.0.0.%1").arg(last));
    }
    static QByteArray notice(const QByteArray &text) { return "[Quandrel] - " + text + "\r\n"; }

    // Runs `attack` again and again for `ms`.
    template <typename Attack> static int repeatFor(int ms, Attack attack)
    {
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        while (clock.elapsed() < ms) {
            attack(rounds++);
            QCoreApplication::processEvents();
        }
        return rounds;
    }

    static int count(const QList<QByteArray> &packets, QByteArrayView prefix)
    {
        return int(std::count_if(packets.begin(), packets.end(),
                                 [prefix](const QByteArray &p) { return p.startsWith(prefix); }));
    }

private slots:
    void namesCannotForgeOrImpersonate()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        StagePeer victim(server.port());
        QCOMPARE(victim.join("Victim"), 0);
        const QList<QByteArray> names = {
            "Alice] - bye\r\n[Quandrel] - Alice was banned\r\n[Bob",
            "Quan\xAD"
            "drel",
            "QuandreI",
            "Quandrel\xA0",
            "\x01Quandrel",
            "Quandrel 2",
            "Quandrel\xB2",
            "Quandrel\xB9",
            "Quandre\xA6",
        };
        int last = 2;
        for (const QByteArray &name : names) {
            StagePeer attacker(server.port(), from(last++));
            QCOMPARE(attacker.join(name), -1);
            QVERIFY(attacker.waitForClose());
            QVERIFY2(attacker.packets().value(0).startsWith("[Quandrel] - The name "),
                     attacker.packets().value(0).constData());
        }
        // The victim saw nothing of them, and still speaks alone under its name.
        victim.send("[Victim] - still me\r\n");
        QVERIFY(victim.waitForPackets(1));
        QCOMPARE(victim.packets(), QList<QByteArray>{"[Victim] - still me\r\n"});
        // Nor can its own lines hold another speaker, however the "] - " is
        // written, or bytes that do not show.
        const QList<QByteArray> forged = {
            "x [Bob]\xA0-\xA0I owe you",
            "x [Bob]  - I owe you",
            "x [Bob] \x96 I owe you",
            "x [Bob] -\xA0I owe you",
            "x [Bob]\xA0- I owe you",
            QByteArray(300, ' ') + "[Bob] \x97 hi",
            "a\x0B"
            "b",
            "a\x0C b",
            "a\x1C\x1D\x1E b",
        };
        for (const QByteArray &text : forged)
            victim.send("[Victim] - " + text + "\r\n");
        QVERIFY(victim.waitForPackets(1 + forged.size()));
        for (qsizetype i = 1; i <= forged.size(); ++i)
            QVERIFY2(victim.packets().at(i).startsWith("[Quandrel] - Not sent: "),
                     victim.packets().at(i).constData());
        const qsizetype answered = victim.packets().size();
        victim.send("[Victim] - still me\r\n");
        QVERIFY(victim.waitForPackets(answered + 1));

        // Names like the victim's join, but never speak as the victim.
        for (const QByteArray &name : {QByteArray("victim"), QByteArray("V1ct1m")}) {
            const qsizetype seen = victim.packets().size();
            auto lookAlike = std::make_unique<StagePeer>(server.port(), from(last++));
            QCOMPARE(lookAlike->join(name), 1);
            QVERIFY(lookAlike->waitForPackets(1));
            QCOMPARE(lookAlike->packets().value(0),
                     "[Quandrel] - Someone called " + name +
                         " is already here: the stage knows you as " + name + " 2\r\n");
            lookAlike->send("[Victim] - it is me\r\n"); // not its own name: dropped
            lookAlike->send("[" + name + "] - hi\r\n");
            const QByteArray line = "[" + name + " 2] - hi\r\n";
            QVERIFY(QTest::qWaitFor([&] { return victim.packets().contains(line); }, 3000));
            lookAlike.reset();
            QVERIFY(QTest::qWaitFor(
                [&] { return victim.packets().endsWith("Action1GoLeftGimboX-999Y480Z"); }, 3000));
            QList<QByteArray> got = victim.packets().mid(seen);
            got.removeAll("NewUser"); // the second one comes later, merged
            QCOMPARE(got, (QList<QByteArray>{line, "Action1GoLeftGimboX-999Y480Z"}));
        }
    }

    // A page of any site can make its visitors' browsers POST to the stage
    // port, and a TLS client may knock on it by mistake: neither joins nor
    // says anything, whatever packets its bytes hold, and the log says what
    // it was without a word a ban could hang on.
    void onlyStageClientsSpeakOnTheStagePort()
    {
        ServerProcess server;
        QVERIFY(server.start());
        StagePeer observer(server.port());
        QCOMPARE(observer.join("Observer"), 0);
        const QByteArray body("x\0\nVisitor\0\x02[Visitor] - sent by another site\r\n\0", 45);
        const QByteArray post =
            "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) +
            "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n\r\n" + body;
        // A ClientHello whose supported groups hold 00 0a 00 16: a
        // terminator, a join with no name, another terminator.
        const QByteArray hello("\x16\x03\x01\x00\x2e\x01\x00\x00\x2a\x03\x03"
                               "0123456789abcdef0123456789abcdef"
                               "\x00\x0a\x00\x16\x00\x0a\x00\x16\x00",
                               52);
        for (const QByteArray &bytes : {post, post.toLower(), hello}) {
            StagePeer visitor(server.port(), from(7));
            // Cut anywhere, as a network may.
            visitor.write(bytes.left(3));
            QTest::qWait(20);
            visitor.write(bytes.mid(3));
            QVERIFY(visitor.waitForClose());
        }
        QTRY_COMPARE(server.log().count(u"not a stage client"), 3);
        QVERIFY(server.log().contains(u"not a stage client: it sent an HTTP request"));
        QVERIFY(server.log().contains(u"not a stage client: it sent a TLS handshake"));
        QVERIFY2(!server.log().contains(u"join 127.0.0.7"), qPrintable(server.log()));
        // Nobody joined and nothing was said: the observer's next packet is
        // a newcomer's own.
        StagePeer next(server.port());
        QCOMPARE(next.join("Next"), 1);
        QVERIFY(observer.waitForPackets(1));
        QCOMPARE(observer.packets().first(), QByteArray("NewUser"));
    }

    void unjoinedConnectionsCannotLockTheStage()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--join-timeout"), QStringLiteral("5")}));
        // Ten connections that never join, from three addresses, reconnecting when closed.
        std::vector<std::unique_ptr<StagePeer>> squatters;
        const auto squat = [&](int) {
            std::erase_if(squatters, [](const auto &s) { return !s->isConnected(); });
            for (int address : {2, 3, 4}) {
                if (std::count_if(squatters.begin(), squatters.end(), [&](const auto &s) {
                        return s->socket().localAddress() == from(address);
                    }) < 4)
                    squatters.push_back(std::make_unique<StagePeer>(server.port(), from(address)));
            }
        };
        repeatFor(300, squat);
        // Every real user gets in while places are free.
        std::vector<std::unique_ptr<StagePeer>> users;
        for (int i = 0; i < 9; ++i) {
            squat(0);
            users.push_back(std::make_unique<StagePeer>(server.port(), from(10 + i)));
            QCOMPARE(users.back()->join("user" + QByteArray::number(i)), i);
        }
    }

    // Forty addresses of one /24 each keep two silent connections and
    // reconnect whenever one is closed, within their budgets: newcomers from
    // elsewhere who join a round trip after connecting still get in.
    void aChurningCrowdCannotCrowdOutNewcomers()
    {
        ServerProcess server;
        QVERIFY(server.start());
        std::vector<std::unique_ptr<StagePeer>> crowd;
        const auto churn = [&](int) {
            std::erase_if(crowd, [](const auto &s) { return !s->isConnected(); });
            for (int a = 1; a <= 40; ++a) {
                const QHostAddress address(QStringLiteral("127.0.5.%1").arg(a));
                const auto held = std::count_if(crowd.begin(), crowd.end(), [&](const auto &s) {
                    return s->socket().localAddress() == address;
                });
                for (auto i = held; i < 2; ++i)
                    crowd.push_back(std::make_unique<StagePeer>(server.port(), address));
            }
        };
        repeatFor(500, churn);
        int joined = 0;
        for (int i = 0; i < 8; ++i) {
            StagePeer newcomer(server.port(),
                               QHostAddress(QStringLiteral("127.0.9.%1").arg(i + 1)));
            repeatFor(250, churn); // the newcomer's round trip
            joined += newcomer.join("newcomer" + QByteArray::number(i)) >= 0 ? 1 : 0;
        }
        QCOMPARE(joined, 8);
    }

    void reconnectingRefillsNoBudget()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        StagePeer observer(server.port());
        QCOMPARE(observer.join("Observer"), 0);
        QElapsedTimer clock;
        clock.start();
        // Connect, join, send 100 lines, close: again and again from one address.
        repeatFor(3000, [&](int round) {
            StagePeer flooder(server.port(), from(2));
            const QByteArray name = "f" + QByteArray::number(round);
            QByteArray lines;
            for (int i = 0; i < 100; ++i)
                lines += "\x02[" + name + "] - " + QByteArray::number(i) + "\r\n" + '\0';
            flooder.write('\x0A' + name + '\0' + lines);
            QTest::qWait(20);
            flooder.socket().abort();
        });
        QVERIFY(observer.waitForPackets(1));
        QTest::qWait(1000); // what was read before the last close still trickles in
        const double seconds = clock.elapsed() / 1000.0;
        const int relayed = count(observer.packets(), "[f");
        // One group's budget: a burst of 100 and 50 a second, however often it reconnects.
        QVERIFY2(relayed <= 100 + 50 * seconds + 10,
                 qPrintable(QStringLiteral("%1 lines in %2 s").arg(relayed).arg(seconds)));
    }

    void joinChurnCostsTheStageNothing()
    {
        ServerProcess server;
        QVERIFY(server.start());
        StagePeer observer(server.port());
        QCOMPARE(observer.join("Observer"), 0);
        QElapsedTimer clock;
        clock.start();
        // Connect, join, close, as fast as it goes, from 200 addresses.
        int joins = 0;
        const int rounds = repeatFor(3000, [&](int round) {
            StagePeer churn(server.port(), from(2 + round % 200));
            joins += churn.join("c" + QByteArray::number(round)) >= 0 ? 1 : 0;
            churn.socket().abort();
        });
        const double seconds = clock.elapsed() / 1000.0;
        const QList<QByteArray> seen = observer.packets();
        const int newUsers = count(seen, "NewUser");
        const int notices = count(seen, "[Quandrel] - ");
        QVERIFY2(newUsers <= seconds * 2 + 2, qPrintable(QString::number(newUsers)));
        QVERIFY2(notices <= seconds * 4 + 4, qPrintable(QString::number(notices)));
        // The presence answers it owes cost it nothing: its step goes out at once.
        for (int i = 0; i < newUsers; ++i)
            observer.send("Action0StLeftGimboX1800");
        observer.send("Action0GoLeftGimboX1800Y480Z");
        QVERIFY(QTest::qWaitFor(
            [&] { return observer.packets().contains("Action0GoLeftGimboX1800Y480Z"); }, 2000));
        qInfo("%d churn rounds, %d joins, %d NewUser and %d notices in %.1f s", rounds, joins,
              newUsers, notices, seconds);
        QVERIFY(joins > 100);
    }

    void newcomersAndSlowReadersAreNotCut()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        // Three joined attackers answer every newcomer with all their budget allows.
        std::vector<std::unique_ptr<StagePeer>> attackers;
        for (int i = 0; i < 3; ++i) {
            attackers.push_back(std::make_unique<StagePeer>(server.port(), from(2 + i)));
            QCOMPARE(attackers.back()->join("a" + QByteArray::number(i)), i);
        }
        const QByteArray text(400, 'z');
        const auto answer = [&] {
            for (std::size_t i = 0; i < attackers.size(); ++i) {
                QByteArray burst;
                for (int k = 0; k < 100; ++k)
                    burst +=
                        "\x02[a" + QByteArray::number(qsizetype(i)) + "] - " + text + "\r\n" + '\0';
                attackers[i]->write(burst);
            }
        };
        answer();
        StagePeer newcomer(server.port(), from(9));
        newcomer.socket().setReadBufferSize(4096);
        QCOMPARE(newcomer.join("New"), 3);
        answer();
        // The newcomer reads slowly, about 100 kB a second, for two seconds.
        qint64 got = 0;
        repeatFor(2000, [&](int) {
            got += newcomer.socket().read(1000).size();
            QTest::qWait(10);
        });
        QVERIFY(newcomer.isConnected());
        QVERIFY(got > 0);
        QVERIFY(!server.log().contains(QStringLiteral("not reading")));
    }

    void aConnectionFloodDoesNotStopTheStage()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--log-summary"), QStringLiteral("1")}));
        StagePeer a(server.port());
        StagePeer b(server.port());
        QCOMPARE(a.join("A"), 0);
        QCOMPARE(b.join("B"), 1);
        const qint64 before = server.residentKiB();
        int sent = 0;
        repeatFor(3000, [&](int round) {
            QTcpSocket flood;
            flood.bind(from(3));
            flood.connectToHost(QHostAddress::LocalHost, server.port());
            flood.waitForConnected(1000);
            flood.abort();
            if (round % 50 == 0)
                a.send("[A] - " + QByteArray::number(sent++) + "\r\n");
        });
        // Every line of the stage arrived meanwhile.
        QVERIFY(QTest::qWaitFor([&] { return count(b.packets(), "[A] - ") == sent; }, 5000));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return server.log().contains(QStringLiteral("connections refused from 127.0.0.3"));
            },
            3000));
        QVERIFY2(
            server.residentKiB() < 2 * before,
            qPrintable(
                QStringLiteral("%1 KiB, %2 KiB before").arg(server.residentKiB()).arg(before)));
        // The log stayed short: a summary instead of a line a connection.
        QVERIFY(server.log().count(u'\n') < 1000);
    }

    void closingLeavesAtOnce()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--rate"), QStringLiteral("10"),
                              QStringLiteral("--burst"), QStringLiteral("1")}));
        StagePeer observer(server.port());
        QCOMPARE(observer.join("Observer"), 0);
        StagePeer leaver(server.port(), from(2));
        QCOMPARE(leaver.join("Leaver"), 1);
        QByteArray lines;
        for (int i = 0; i < 20; ++i)
            lines += "\x02[Leaver] - " + QByteArray::number(i) + "\r\n" + '\0';
        leaver.write(lines);
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        leaver.socket().disconnectFromHost();
        // What it sent before its close goes out for a second at the most,
        // in order, at its budget; then the notice, after its last line.
        QVERIFY(QTest::qWaitFor(
            [&] { return observer.packets().contains(notice("Leaver left the stage")); }, 3000));
        QVERIFY2(clock.elapsed() < 1500, QByteArray::number(clock.elapsed()));
        QTest::qWait(300);
        const QList<QByteArray> seen = observer.packets();
        const qsizetype left = seen.indexOf(notice("Leaver left the stage"));
        QList<QByteArray> relayed = seen;
        relayed.removeIf([](const QByteArray &p) { return !p.startsWith("[Leaver] - "); });
        QVERIFY(relayed.size() >= 5 && relayed.size() < 20);
        for (qsizetype i = 0; i < relayed.size(); ++i)
            QCOMPARE(relayed.at(i), "[Leaver] - " + QByteArray::number(i) + "\r\n");
        QCOMPARE(seen.lastIndexOf(relayed.last()) < left, true);
    }

    // A leaver's words end with it: a name taken again while it drains is
    // shown apart, and nothing under the leaver's name comes after its
    // notice, however much it had sent.
    void aLeaverCannotSpeakForWhoeverComesNext()
    {
        ServerProcess server;
        QVERIFY(server.start());
        StagePeer observer(server.port());
        QCOMPARE(observer.join("Observer"), 0);
        StagePeer attacker(server.port(), from(2));
        QCOMPARE(attacker.join("Bob"), 1);
        const QByteArray line =
            "\x02[Bob] - please send the file to my new address\r\n" + QByteArray(1, '\0');
        attacker.socket().setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4 << 20);
        attacker.write(line.repeated(20'000)); // about a megabyte
        attacker.socket().waitForBytesWritten(3000);
        attacker.socket().disconnectFromHost();
        StagePeer bob(server.port(), from(3));
        QCOMPARE(bob.join("Bob"), 2);
        QVERIFY(QTest::qWaitFor(
            [&] { return observer.packets().contains(notice("Bob left the stage")); }, 3000));
        QTest::qWait(500);
        const QList<QByteArray> seen = observer.packets();
        const qsizetype left = seen.indexOf(notice("Bob left the stage"));
        qsizetype relayedBytes = 0;
        for (qsizetype i = 0; i < seen.size(); ++i) {
            if (!seen[i].startsWith("[Bob] - "))
                continue;
            QVERIFY2(i < left, "a line under the leaver's name after it left");
            relayedBytes += seen[i].size() + 1;
        }
        QVERIFY2(relayedBytes <= 64 * 1024, QByteArray::number(relayedBytes));
        QVERIFY2(server.log().contains(u"join 127.0.0.3:") &&
                     server.log().contains(u"shown as \"Bob 2\""),
                 qPrintable(server.log()));
    }

    void numbersOnTheCommandLineAreStrict_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("named");
        QTest::newRow("join-timeout nan") << QStringList{"--join-timeout", "nan"} << "join-timeout";
        QTest::newRow("max-per-address nan")
            << QStringList{"--max-per-address", "nan"} << "max-per-address";
        QTest::newRow("rate nan") << QStringList{"--rate", "nan"} << "rate";
        QTest::newRow("port nan") << QStringList{"--port", "nan"} << "port";
        QTest::newRow("port 2579.9") << QStringList{"--port", "2579.9"} << "port";
        QTest::newRow("count 2.5") << QStringList{"--max-per-address", "2.5"} << "max-per-address";
        QTest::newRow("inf") << QStringList{"--byte-rate", "inf"} << "byte-rate";
        QTest::newRow("unit") << QStringList{"--join-timeout", "10s"} << "join-timeout";
    }
    void numbersOnTheCommandLineAreStrict()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, named);
        QProcess server;
        server.start(QStringLiteral(QUANDREL_SERVER), options);
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitCode(), 2);
        const QString error = QString::fromUtf8(server.readAllStandardError());
        QVERIFY2(error.contains(QStringLiteral("--") + named), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestAttacks)
#include "tst_attacks.moc"
