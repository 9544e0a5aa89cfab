// SPDX-License-Identifier: MIT
#include "server/carriers/StageDoor.h"
#include "server/stage/StageServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <numeric>
#include <sys/socket.h>

// The stage server against raw sockets on loopback.
class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<StageServer> server;
    std::unique_ptr<StageDoor> door;
    QStringList log;

    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, door->port());
        if (!socket->waitForConnected(2000))
            return nullptr;
        return socket;
    }

    // Everything a socket receives until `expected` bytes are in; less when
    // they do not come within 2 s, which the caller's comparison shows.
    static QByteArray receive(QTcpSocket &socket, qsizetype expected)
    {
        QByteArray got = socket.readAll();
        for (int i = 0; i < 200 && got.size() < expected; ++i) {
            QTest::qWait(10);
            got += socket.readAll();
        }
        return got;
    }

    // What everyone still on the stage gets once B, client 1, has left.
    static QByteArray bStepsOff() { return QByteArray("Action1GoLeftGimboX-999Y480Z\0", 29); }

    static QByteArray quietFor(QTcpSocket &socket, int ms)
    {
        QTest::qWait(ms);
        return socket.readAll();
    }

    std::unique_ptr<QTcpSocket> joined(const QByteArray &name, char expectedNumber)
    {
        auto socket = connectClient();
        socket->write("\x0A" + name + '\0');
        const QByteArray reply = receive(*socket, 13);
        if (reply != QByteArray("ClientNumber") + expectedNumber) {
            qWarning() << "join reply" << reply;
            return nullptr;
        }
        return socket;
    }

    // A fresh server with a packet budget and no notices.
    void restartWithBudget(double rate, double burst)
    {
        ServerSettings settings;
        settings.notices = false;
        settings.rate = rate;
        settings.burst = burst;
        settings.byteRate = settings.joinRate = settings.connectRate = 0;
        door.reset(); // it hands connections to the server it was made for
        server = std::make_unique<StageServer>(settings);
        server->setLog([this](const QString &line) { log.append(line); });
        door = std::make_unique<StageDoor>(*server);
        QVERIFY(door->listen(QHostAddress::LocalHost, 0));
    }

    // `count` chat lines of B as sent (first) and as relayed (second).
    static std::pair<QByteArray, QByteArray> chatBurst(int count, qsizetype padding = 0)
    {
        std::pair<QByteArray, QByteArray> burst;
        for (int i = 0; i < count; ++i) {
            const QByteArray line =
                "[B] - " + QByteArray::number(i) + QByteArray(padding, 'b') + "\r\n";
            burst.first += '\x02' + line + '\0';
            burst.second += line + '\0';
        }
        return burst;
    }

private slots:
    void init()
    {
        log.clear();
        // The relay alone: no notices, no budget, unless a test asks for them.
        ServerSettings settings;
        settings.notices = false;
        settings.rate = settings.byteRate = settings.joinRate = settings.connectRate = 0;
        door.reset(); // it hands connections to the server it was made for
        server = std::make_unique<StageServer>(settings);
        server->setLog([this](const QString &line) { log.append(line); });
        door = std::make_unique<StageDoor>(*server);
        QVERIFY(door->listen(QHostAddress::LocalHost, 0));
    }
    void cleanup()
    {
        door.reset();
        server.reset();
    }

    void joinNumbersAndAnnouncesToTheOthersOnly()
    {
        auto a = joined("Gimbo", '0');
        QVERIFY(a);
        auto b = joined("Nubo ", '1');
        QVERIFY(b);
        QCOMPARE(receive(*a, 8), QByteArray("NewUser\0", 8));
        QCOMPARE(quietFor(*b, 50), QByteArray()); // the newcomer is not told of itself
        QCOMPARE(server->joinedCount(), 2);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("as 1 \"Nubo \"")));
    }

    // What the operator's figures count: joins, leaves, relayed packets
    // once each however many they reach, and refusals by their reason.
    void figuresCountWhatHappened()
    {
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        const QByteArray step("Action0GoLeftGimboX1800Y480Z\0", 29);
        a->write('\x02' + step);
        QCOMPARE(receive(*b, 29), step);
        b->write(QByteArray("\x02"
                            "Action0StLeftGimboX1\0",
                            22)); // A's number: not B's own
        auto c = connectClient();
        c->write(QByteArray("\x0A[C]\0", 5));
        QTRY_COMPARE(server->figures().counters.refusals[std::size_t(StageCounters::Refusal::Name)],
                     1);
        QTRY_COMPARE(
            server->figures().counters.refusals[std::size_t(StageCounters::Refusal::Shape)], 1);
        b->disconnectFromHost();
        QTRY_COMPARE(server->figures().counters.leaves, 1);
        // C was refused with a word: its connection counts until it is closed.
        QTRY_COMPARE(server->figures().connections[std::size_t(StageFigures::Carrier::Tcp)], 1);
        const StageFigures figures = server->figures();
        // Its port is the host's to fill in, which listens (tst_metrics).
        QCOMPARE(figures.placesTaken, 1);
        QCOMPARE(figures.counters.joins, 2);
        QCOMPARE(figures.counters.relayedPackets, 1);
        QCOMPARE(figures.counters.relayedBytes, 29);
        QCOMPARE(figures.connections[std::size_t(StageFigures::Carrier::Tcp)], 1);
        QCOMPARE(figures.connections[std::size_t(StageFigures::Carrier::WebSocket)], 0);
        // The step to A and B, B's leaving step to A, and at least A's NewUser.
        // A's packets are spaced apart, so some may still be held here.
        QTRY_VERIFY(server->figures().counters.sentBytes >= 3 * 29 + 8);
    }

    void relaysToEveryoneWithoutTheMarker()
    {
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        receive(*a, 8);
        a->write(QByteArray("\x02"
                            "Action0GoLeftGimboX1800Y480Z\0",
                            30));
        const QByteArray expected("Action0GoLeftGimboX1800Y480Z\0", 29);
        QCOMPARE(receive(*a, 29), expected);
        QCOMPARE(receive(*b, 29), expected);
        // Two packets in one write come out as two packets, in order.
        b->write(QByteArray("\x02[B] - hi\r\n\0\x02"
                            "Action1StLeftNubo X50\0",
                            35));
        const QByteArray both("[B] - hi\r\n\0Action1StLeftNubo X50\0", 33);
        QCOMPARE(receive(*a, 33), both);
        QCOMPARE(receive(*b, 33), both);
    }

    void dropsWhatItDoesNotKnow()
    {
        auto stranger = connectClient();
        auto a = joined("A", '0');
        QVERIFY(stranger && a);
        stranger->write(QByteArray("\x02"
                                   "Action5GoLeftGimboX1Y1Z\0",
                                   25));          // not joined
        a->write(QByteArray("\x07hello\0\0", 8)); // unknown marker, empty packet
        a->write(QByteArray("\x0A"
                            "again\0",
                            7)); // second join
        // A packet split across writes is put back together, and it is the
        // first thing anyone gets.
        a->write("\x02[A] - one ");
        a->flush();
        QTRY_COMPARE(server->connectionCount(), 2);
        a->write(QByteArray("piece\r\n\0", 8));
        QCOMPARE(receive(*a, 18), QByteArray("[A] - one piece\r\n\0", 18));
        QCOMPARE(quietFor(*stranger, 10), QByteArray());
        QCOMPARE(server->joinedCount(), 1);
    }

    void aLeavingClientsLastPacketsStillGoOut()
    {
        auto a = joined("A", '0');
        QVERIFY(a);
        QByteArray expected;
        QByteArray got;
        const QByteArray newUser("NewUser\0", 8);
        for (int round = 0; round < 40; ++round) {
            auto b = joined("B", '1');
            QVERIFY(b);
            QByteArray burst;
            for (int i = 0; i < 8; ++i) {
                const QByteArray line =
                    "[B] - " + QByteArray::number(round) + "." + QByteArray::number(i) + "\r\n";
                burst += '\x02' + line + '\0';
                expected += line + '\0';
            }
            b->write(burst);
            b->disconnectFromHost(); // sends everything, then closes
            QTRY_COMPARE(server->joinedCount(), 1);
            // B's image leaves the stage after all of B's lines, before the
            // next B takes the number.
            expected += bStepsOff();
            QTRY_VERIFY((got += a->readAll()).size() - got.count(newUser) * 8 >= expected.size());
        }
        got.replace(newUser, QByteArray());
        QCOMPARE(got, expected);
    }

    void aLargeBurstBeforeClosingIsRelayedWhole()
    {
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        receive(*a, 8);
        QByteArray burst;
        QByteArray expected;
        for (int i = 0; i < 1500; ++i) {
            const QByteArray line =
                "[B] - " + QByteArray::number(i) + QByteArray(296, 'b') + "\r\n";
            burst += '\x02' + line + '\0';
            expected += line + '\0';
        }
        b->write(burst); // about 450 KB
        // Done sending and reading on: a client that closed outright while
        // its own packets came back would make its system reset the
        // connection and throw away what it had not sent yet.
        QTRY_COMPARE(b->bytesToWrite(), 0);
        ::shutdown(int(b->socketDescriptor()), SHUT_WR);
        QByteArray got;
        expected += bStepsOff();
        QTRY_VERIFY_WITH_TIMEOUT((got += a->readAll()).size() >= expected.size(), 10000);
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
        QTRY_COMPARE(server->joinedCount(), 1);
    }

    void aBurstWaitingForItsBudgetSurvivesAReset()
    {
        restartWithBudget(100, 10);
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        receive(*a, 8);
        const auto [burst, expected] = chatBurst(100);
        b->write(burst);
        QTRY_COMPARE(b->bytesToWrite(), 0);
        b->abort(); // gone for good: whatever reaches it now is answered with a reset
        a->write(QByteArray("\x02[A] - anyone?\r\n\0", 17));
        QByteArray got;
        const QByteArray gone = bStepsOff();
        QTRY_VERIFY_WITH_TIMEOUT((got += a->readAll()).size() >= expected.size() + 16 + 29, 10000);
        got.replace(QByteArray("[A] - anyone?\r\n\0", 16), QByteArray());
        QCOMPARE(got, expected + gone);
    }

    void aLeavingClientIsSentNothingMore()
    {
        // With a budget, most of B's burst is relayed after B has gone.
        restartWithBudget(400, 20);
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        receive(*a, 8);
        const auto [burst, expected] = chatBurst(200);
        b->write(burst);
        b->flush();
        // B goes once the first of its lines is back.
        QByteArray toB;
        QTRY_VERIFY(!(toB += b->readAll()).isEmpty());
        ::shutdown(int(b->socketDescriptor()), SHUT_WR); // done sending, still reading
        QByteArray toA;
        const QByteArray gone = bStepsOff();
        QTRY_VERIFY_WITH_TIMEOUT((toA += a->readAll()).size() >= expected.size() + 29, 10000);
        QCOMPARE(toA, expected + gone);
        QTRY_VERIFY((toB += b->readAll(), b->state() == QAbstractSocket::UnconnectedState));
        toB += b->readAll();
        QVERIFY(!toB.isEmpty());
        QVERIFY(toB.size() < expected.size() / 2);
        QVERIFY(expected.startsWith(toB));
    }

    void logLinesShowNamesSafely()
    {
        // A name that cannot join still shows in the log, as text on one line.
        auto eve = connectClient();
        QVERIFY(eve);
        eve->write(QByteArray("\x0A"
                              "Eve\x85\x81\n[x] \"q\" \\ \x7F\x9B\xA0\xAD\0",
                              22));
        QTRY_COMPARE(eve->state(), QAbstractSocket::UnconnectedState);
        const QString line = log.filter(QStringLiteral("refused name")).value(0);
        QVERIFY2(line.contains(QStringLiteral(
                     "\"Eve\u2026\\x81\\x0a[x] \\\"q\\\" \\\\ \\x7f\u203a\\xa0\\xad\"")),
                 qPrintable(line));
        QVERIFY(!line.contains(u'\n'));
    }

    void reusesTheNumberOfAClientThatLeft()
    {
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        auto c = joined("C", '2');
        QVERIFY(a && b && c);
        b->abort();
        b.reset();
        QTRY_COMPARE(server->joinedCount(), 2);
        auto d = joined("D", '1');
        QVERIFY(d);
        auto e = joined("E", '3');
        QVERIFY(e);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("number 1")));
    }

    // The tenth place is a place like any other: its steps, presence answers
    // and chat lines reach everyone.
    void theLastNumberStepsAndChats()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < StageServer::MaxClients; ++i) {
            clients.push_back(joined("x" + QByteArray::number(i), char('0' + i)));
            QVERIFY(clients.back());
        }
        QTest::qWait(StageServer::NewUserGapMs + ServerSettings().newcomerQuietMs);
        for (auto &client : clients)
            client->readAll();
        const QByteArray packets[] = {"Action9GoRightNubo X900Y480Z", "Action9StLeftNubo X900",
                                      "[x9] - from the last place\r\n"};
        for (const QByteArray &packet : packets) {
            clients[9]->write('\x02' + packet + '\0');
            QCOMPARE(receive(*clients[0], packet.size() + 1), packet + '\0');
            QCOMPARE(receive(*clients[9], packet.size() + 1), packet + '\0');
        }
    }

    // Bytes are a budget of their own: a group over it waits, one within it
    // does not, and nothing is lost.
    void aGroupOverItsByteBudgetIsPaused()
    {
        ServerSettings settings;
        settings.notices = false;
        settings.rate = settings.joinRate = settings.connectRate = 0;
        settings.byteRate = 2000;
        settings.byteBurst = 2000;
        door.reset(); // it hands connections to the server it was made for
        server = std::make_unique<StageServer>(settings);
        door = std::make_unique<StageDoor>(*server);
        QVERIFY(door->listen(QHostAddress::LocalHost, 0));
        auto a = joined("A", '0');
        auto b = joined("B", '1');
        QVERIFY(a && b);
        receive(*a, 8);
        // Within the budget: 1,000 bytes come back at once.
        const auto [small, smallExpected] = chatBurst(4, 240);
        b->write(small);
        QCOMPARE(receive(*a, smallExpected.size()), smallExpected);
        // Over it: of 8,000 bytes, about the remaining 1,000 at once, the rest
        // at 2,000 a second.
        const auto [large, expected] = chatBurst(32, 240);
        b->write(large);
        const QByteArray early = quietFor(*a, 300);
        QVERIFY2(early.size() <= 2200, QByteArray::number(early.size()));
        QByteArray got = early;
        QTRY_VERIFY_WITH_TIMEOUT((got += a->readAll()).size() >= expected.size(), 8000);
        QCOMPARE(got, expected);
    }

    void refusesTheEleventhClient()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < StageServer::MaxClients; ++i) {
            clients.push_back(joined("x" + QByteArray::number(i), char('0' + i)));
            QVERIFY(clients.back());
        }
        auto eleventh = connectClient();
        QVERIFY(eleventh);
        eleventh->write(QByteArray("\x0Az\0", 3));
        QCOMPARE(receive(*eleventh, 60),
                 QByteArray("[Quandrel] - The stage is full: 10 of 10 places are taken\r\n\0", 60));
        QTRY_COMPARE(eleventh->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server->connectionCount(), StageServer::MaxClients);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("full")));
        const auto &refusals = server->figures().counters.refusals;
        QCOMPARE(refusals[std::size_t(StageCounters::Refusal::Full)], 1);
        QCOMPARE(std::accumulate(refusals.begin(), refusals.end(), qint64(0)), 1);
        // One leaves: the next one gets in, with the freed number.
        clients[4]->abort();
        QTRY_COMPARE(server->connectionCount(), StageServer::MaxClients - 1);
        QVERIFY(joined("y", '4'));
    }

    void aFullWaitingPoolClosesItsOldest()
    {
        std::vector<std::unique_ptr<QTcpSocket>> waiting;
        for (int i = 0; i < StageServer::MaxUnjoined; ++i) {
            waiting.push_back(connectClient());
            QVERIFY(waiting.back());
        }
        QTRY_COMPARE(server->connectionCount(), StageServer::MaxUnjoined);
        auto newest = connectClient();
        QVERIFY(newest);
        QTRY_COMPARE(waiting.front()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(waiting.back()->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(
            server->figures().counters.refusals[std::size_t(StageCounters::Refusal::WaitingPool)],
            1);
        // The newest still joins, and takes a place the waiting ones never held.
        newest->write(QByteArray("\x0An\0", 3));
        QCOMPARE(receive(*newest, 13), QByteArray("ClientNumber0"));
        QCOMPARE(server->joinedCount(), 1);
    }

    void cutsAnUnterminatedFlood()
    {
        auto a = joined("A", '0');
        QVERIFY(a);
        a->write(QByteArray(64 * 1024, 'x'));
        QCOMPARE(quietFor(*a, 50), QByteArray());
        QCOMPARE(a->state(), QAbstractSocket::ConnectedState); // 64 KiB are still allowed
        a->write(QByteArray(2, 'x'));
        QTRY_COMPARE(a->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(server->joinedCount(), 0);
    }

    void cutsAClientThatStopsReading()
    {
        auto sleeper = joined("S", '0');
        auto reader = joined("R", '1');
        QVERIFY(reader && sleeper);
        // Past its first moments as a newcomer, the sleeper stops reading.
        QCOMPARE(receive(*sleeper, 8), QByteArray("NewUser\0", 8));
        sleeper->setReadBufferSize(1);
        // Once it is marked as leaving, nothing more is queued for it.
        QPointer<QTcpSocket> toSleeper;
        for (QTcpSocket *socket : server->findChildren<QTcpSocket *>()) {
            if (socket->peerPort() == sleeper->localPort())
                toSleeper = socket;
        }
        QVERIFY(toSleeper);
        qint64 queuedAtCut = -1;
        server->setLog([&](const QString &line) {
            log.append(line);
            if (line.contains(QStringLiteral("not reading")) && toSleeper)
                queuedAtCut = toSleeper->bytesToWrite();
        });
        QByteArray packet = "\x02[R] - " + QByteArray(400, 'z') + "\r\n";
        packet.append('\0');
        qint64 received = 0;
        for (int round = 0; round < 400 && server->joinedCount() == 2; ++round) {
            for (int i = 0; i < 160; ++i)
                reader->write(packet);
            reader->flush();
            QTest::qWait(5);
            received += reader->readAll().size();
        }
        QCOMPARE(server->joinedCount(), 1);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("not reading")));
        QVERIFY(queuedAtCut > StageServer::MaxPendingOutput);
        QVERIFY(queuedAtCut <= StageServer::MaxPendingOutput + packet.size());
        // The reader kept getting everything meanwhile.
        QVERIFY(received > (1 << 20));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
