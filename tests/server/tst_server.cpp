#include "server/StageServer.h"

#include <QTcpSocket>
#include <QTest>
#include <memory>

// The stage server against raw sockets on loopback.
class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<StageServer> server;
    QStringList log;

    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server->port());
        if (!socket->waitForConnected(2000))
            return nullptr;
        return socket;
    }

    // Everything a socket receives until `expected` bytes are in.
    static QByteArray receive(QTcpSocket &socket, qsizetype expected)
    {
        QByteArray got = socket.readAll();
        for (int i = 0; i < 200 && got.size() < expected; ++i) {
            QTest::qWait(10);
            got += socket.readAll();
        }
        return got;
    }

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

private slots:
    void init()
    {
        log.clear();
        server = std::make_unique<StageServer>();
        server->setLog([this](const QString &line) { log.append(line); });
        QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    }
    void cleanup() { server.reset(); }

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
        QCOMPARE(quietFor(*a, 100), QByteArray());
        QCOMPARE(quietFor(*stranger, 10), QByteArray());
        QCOMPARE(server->joinedCount(), 1);
        // A packet split across writes is put back together.
        a->write("\x02[A] - one ");
        a->flush();
        QTest::qWait(20);
        a->write(QByteArray("piece\r\n\0", 8));
        QCOMPARE(receive(*a, 23), QByteArray("[A] - one piece\r\n\0", 18));
    }

    void aLeavingClientsLastPacketsStillGoOut()
    {
        auto a = joined("A", '0');
        QVERIFY(a);
        QByteArray expected;
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
        }
        QByteArray got;
        QTRY_VERIFY((got += a->readAll()).size() >= expected.size());
        got.replace(QByteArray("NewUser\0", 8), QByteArray());
        QCOMPARE(got, expected);
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

    void refusesTheEleventhClient()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < StageServer::MaxClients; ++i) {
            clients.push_back(joined("x", char('0' + i)));
            QVERIFY(clients.back());
        }
        auto eleventh = connectClient();
        QVERIFY(eleventh);
        QTRY_COMPARE(eleventh->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server->connectionCount(), StageServer::MaxClients);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("full")));
        // One leaves: the next one gets in, with the freed number.
        clients[4]->abort();
        QTRY_COMPARE(server->connectionCount(), StageServer::MaxClients - 1);
        QVERIFY(joined("y", '4'));
    }

    void cutsAnUnterminatedFlood()
    {
        auto a = joined("A", '0');
        QVERIFY(a);
        a->write(QByteArray(4096, 'x'));
        QCOMPARE(quietFor(*a, 50), QByteArray());
        QCOMPARE(a->state(), QAbstractSocket::ConnectedState); // 4096 bytes are still allowed
        a->write(QByteArray(2, 'x'));
        QTRY_COMPARE(a->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(server->joinedCount(), 0);
    }

    void cutsAClientThatStopsReading()
    {
        auto reader = joined("R", '0');
        auto sleeper = connectClient();
        QVERIFY(reader && sleeper);
        sleeper->setReadBufferSize(1); // it reads nothing from here on
        sleeper->write("\x0AS\0", 3);
        QTRY_COMPARE(server->joinedCount(), 2);
        QByteArray packet = "\x02[R] - " + QByteArray(4000, 'z') + "\r\n";
        packet.append('\0');
        qint64 received = 0;
        for (int round = 0; round < 400 && server->joinedCount() == 2; ++round) {
            for (int i = 0; i < 16; ++i)
                reader->write(packet);
            reader->flush();
            QTest::qWait(5);
            received += reader->readAll().size();
        }
        QCOMPARE(server->joinedCount(), 1);
        QVERIFY(log.join(u'\n').contains(QStringLiteral("not reading")));
        // The reader kept getting everything meanwhile.
        QVERIFY(received > (1 << 20));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
