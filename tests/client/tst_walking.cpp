// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "client/ClientSession.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QTest>
#include <QTimer>
#include <memory>

// Walking the own avatar and answering newcomers, by the session's rules:
// what goes out, where the images stand, which way the avatar faces.
class TestWalking : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<ClientSession> session;

    // Connected with this number, the presence answer it brings taken away.
    void connectAs(const QByteArray &number)
    {
        QVERIFY(session->connectTo(QStringLiteral("Gimbo"), QStringLiteral("127.0.0.1")));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
        QVERIFY(server->waitForBytes(1));
        server->send("ClientNumber" + number);
        QTRY_VERIFY(session->numbered());
        QCOMPARE(session->numberText(), QString::fromLatin1(number));
        if (number.toInt() <= 20)
            QTRY_VERIFY(server->received.contains("Action" + number + "StLeftGimboX1800"));
        server->received.clear();
    }

    // Nothing went out since the last take: the next bytes are a marker line.
    void nothingSent()
    {
        QCOMPARE(session->sendChat(QStringLiteral(".")), ClientSession::ChatResult::Sent);
        const QByteArray marker("\x02[Gimbo] - .\r\n\0", 15);
        QCOMPARE(server->take(marker.size()), marker);
    }

    bool noImageMoved() const
    {
        for (int i = 0; i < StageRules::ImageCount; ++i) {
            if (session->image(i).Left() != 1800.0f)
                return false;
        }
        return true;
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        session = std::make_unique<ClientSession>();
        session->setDefaultPort(server->port());
    }
    void cleanup()
    {
        session.reset();
        server.reset();
    }

    void walkingWhileClosedDoesNothing()
    {
        session->walk(Direction::Right);
        session->walk(Direction::Left);
        QCOMPARE(session->facing(), Direction::Left);
        QCOMPARE(session->image(0).Left(), 1800.0f);
        session->walk(Direction::Right);
        QCOMPARE(session->facing(), Direction::Left);
    }

    void limits()
    {
        connectAs("0");
        const AvatarImage &own = session->image(0);
        session->placeImage(0, 100);
        session->walk(Direction::Left);
        QCOMPARE(server->take(29), QByteArray("\x02"
                                              "Action0GoLeftGimboX100Y480Z\0",
                                              29));
        QCOMPARE(own.Left(), 50.0f);
        session->walk(Direction::Right); // turns and steps back to 100
        QCOMPARE(server->take(29), QByteArray("\x02"
                                              "Action0GoRightGimboX50Y480Z\0",
                                              29));
        session->walk(Direction::Left);
        QCOMPARE(server->take(29), QByteArray("\x02"
                                              "Action0GoLeftGimboX100Y480Z\0",
                                              29));
        QCOMPARE(own.Left(), 50.0f);
        session->walk(Direction::Right);
        QCOMPARE(server->take(29), QByteArray("\x02"
                                              "Action0GoRightGimboX50Y480Z\0",
                                              29));
        session->placeImage(0, 2150);
        session->walk(Direction::Right); // at 2150: only the facing changes
        nothingSent();
        QCOMPARE(session->facing(), Direction::Right);
        session->placeImage(0, 50);
        session->walk(Direction::Left); // at 50: only the facing changes
        nothingSent();
        QCOMPARE(own.Left(), 50.0f);
        QCOMPARE(session->facing(), Direction::Left);

        session->placeImage(0, 2100);
        session->walk(Direction::Right);
        QCOMPARE(server->take(31), QByteArray("\x02"
                                              "Action0GoRightGimboX2100Y480Z\0",
                                              31));
        QCOMPARE(own.Left(), 2150.0f);
        session->walk(Direction::Left);
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action0GoLeftGimboX2150Y480Z\0",
                                              30));
        session->placeImage(0, 2150);
        session->walk(Direction::Right); // at 2150: only the facing changes...
        nothingSent();
        QCOMPARE(own.Left(), 2150.0f);
        QCOMPARE(session->facing(), Direction::Right);
        // ...and the next presence answer reports it.
        server->send(QByteArray("NewUser\0", 8));
        QCOMPARE(server->take(26), QByteArray("\x02"
                                              "Action0StRightGimboX2150\0",
                                              26));
    }

    void clientNumberThatNamesNoImage()
    {
        connectAs("42");
        SessionProbe probe(*session);
        session->walk(Direction::Left);
        session->walk(Direction::Right);
        nothingSent();
        QVERIFY(noImageMoved());
        server->send(QByteArray("NewUser\0", 8));
        QTRY_COMPARE(session->LastPacket(), QStringLiteral("NewUser"));
        QTRY_VERIFY(probe.settled());
        nothingSent(); // no position to report
        // A later number on the same connection changes nothing.
        server->send("ClientNumber12");
        QTRY_COMPARE(session->lastPiece(), QStringLiteral("ClientNumber12"));
        QTRY_VERIFY(probe.settled());
        QCOMPARE(session->numberText(), QStringLiteral("42"));
        nothingSent();
    }

    void twoDigitNumberGoesOutAsItStands()
    {
        connectAs("12");
        session->walk(Direction::Left);
        QCOMPARE(server->take(31), QByteArray("\x02"
                                              "Action12GoLeftGimboX1800Y480Z\0",
                                              31));
    }

    void presenceAnswerDoesNotMoveAnything()
    {
        connectAs("5");
        server->send(QByteArray("NewUser\0", 8));
        QCOMPARE(server->take(25), QByteArray("\x02"
                                              "Action5StLeftGimboX1800\0",
                                              25));
        QVERIFY(noImageMoved());
        session->close();
        SessionProbe probe(*session);
        probe.SendUsersYourData().start(); // closed at the tick: nothing, and the timer stops
        QTRY_VERIFY(!probe.SendUsersYourData().isActive());
        QVERIFY(server->received.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWalking)
#include "tst_walking.moc"
