// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "client/ClientSession.h"
#include "net/ServerAddress.h"
#include "net/Wsk.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

// The client's rules without a window: a session against a scripted server
// on loopback.
class TestSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<ClientSession> session;

    // Connected and joined, with the join packet taken off what the server got.
    void connectAs(const QString &name)
    {
        QVERIFY(session->connectTo(name, QStringLiteral("127.0.0.1")));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
        QVERIFY(server->waitForBytes(name.size() + 2));
        server->received.clear();
    }

    // What the session does with one read, timers run to the end.
    void receive(const QByteArray &bytes)
    {
        server->send(bytes);
        QTRY_VERIFY(!session->lastPiece().isEmpty() || bytes.isEmpty());
        QTest::qWait(20);
        QTRY_VERIFY(!session->Action->isActive() && !session->SendUsersYourData->isActive());
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

    void theNumberIsTheBareDigits()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive("ClientNumber  3[Bob] - hi\r\n");
        QCOMPARE(session->clientNumber(), QStringLiteral("3"));
        QCOMPARE(session->transcript().text().right(14), QStringLiteral("[Bob] - hi\r\n\r\n"));
        session->walk(Direction::Right);
        QCOMPARE(server->take(60), QByteArray("\x02"
                                              "Action3StLeftGimboX1800\0"
                                              "\x02"
                                              "Action3GoRightGimboX1800Y480Z\0",
                                              56));
    }

    void whatFollowsTheDigitsIsItsOwnPiece_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("lastPiece");
        QTest::newRow("text") << QByteArray("ClientNumber8Hi") << "8"
                              << "Hi";
        QTest::newRow("line end") << QByteArray("ClientNumber3\r\n") << "3"
                                  << "\r\n";
        QTest::newRow("terminator") << QByteArray("ClientNumber4\0", 14) << "4"
                                    << "ClientNumber4";
        QTest::newRow("no digits, then a packet") << QByteArray("ClientNumberNewUser\0", 20) << "0"
                                                  << "NewUser";
        QTest::newRow("no digits at all") << QByteArray("ClientNumber") << "0"
                                          << "ClientNumber";
    }
    void whatFollowsTheDigitsIsItsOwnPiece()
    {
        QFETCH(QByteArray, read);
        QFETCH(QString, number);
        QFETCH(QString, lastPiece);
        connectAs(QStringLiteral("Gimbo"));
        receive(read);
        QCOMPARE(session->clientNumber(), number);
        QCOMPARE(session->lastPiece(), lastPiece);
        QCOMPARE(session->numbered(), number != u"0");
    }

    void oneNumberPerConnection()
    {
        connectAs(QStringLiteral("Gimbo"));
        QSignalSpy changes(session.get(), &ClientSession::clientNumberChanged);
        receive("ClientNumber2");
        receive("ClientNumber7"); // any peer can get this relayed to everyone
        QCOMPARE(session->clientNumber(), QStringLiteral("2"));
        QCOMPARE(changes.size(), 1);
        // A new connection takes a new number.
        session->close();
        server = std::make_unique<FakeServer>();
        session->setDefaultPort(server->port());
        connectAs(QStringLiteral("Gimbo"));
        QVERIFY(!session->numbered());
        receive("ClientNumber5");
        QCOMPARE(session->clientNumber(), QStringLiteral("5"));
    }

    void nothingSpeaksBeforeTheNumber()
    {
        connectAs(QStringLiteral("Gimbo"));
        session->walk(Direction::Left);
        session->walk(Direction::Right);
        receive(QByteArray("NewUser\0", 8));
        QTest::qWait(30);
        QCOMPARE(server->received, QByteArray());
        QCOMPARE(session->image(0).Left(), 1800.0f);
        QCOMPARE(session->facing(), Direction::Left);
        // The number brings one presence answer, and steps go out from then on.
        receive("ClientNumber0");
        QCOMPARE(server->take(25), QByteArray("\x02"
                                              "Action0StLeftGimboX1800\0",
                                              25));
        session->walk(Direction::Left);
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action0GoLeftGimboX1800Y480Z\0",
                                              30));
        QCOMPARE(session->image(0).Left(), 1750.0f);
    }

    void theChosenAvatarAndTheReadout()
    {
        QSignalSpy readouts(session.get(), &ClientSession::readoutChanged);
        session->Constant_Timer();
        QCOMPARE(session->readout(), QStringLiteral("1800"));
        session->selectAvatar(u"Jaxorin");
        QCOMPARE(session->code(), QStringLiteral("Jaxo "));
        session->placeImage(3, 900);
        connectAs(QStringLiteral("J"));
        session->selectAvatar(u"Tavro"); // not while connected
        receive("ClientNumber3");
        QTRY_COMPARE(session->readout(), QStringLiteral("900")); // the own image from now on
        QCOMPARE(server->take(24), QByteArray("\x02"
                                              "Action3StLeftJaxo X900\0",
                                              24));
        session->walk(Direction::Right);
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action3GoRightJaxo X900Y480Z\0",
                                              30));
        QTRY_COMPARE(session->readout(), QStringLiteral("950"));
        QCOMPARE(readouts.size(), 3);
    }

    void theNewestQueuedActionsApply()
    {
        connectAs(QStringLiteral("Gimbo"));
        QByteArray read;
        for (int i = 0; i < 5000; ++i)
            read += "Action2GoRightSorraX" + QByteArray::number(100 + i % 1000) + "Y480Z" + '\0';
        read += QByteArray("Action2GoLeftSorraX777Y480Z\0", 28);
        session->receive(QString::fromLatin1(read));
        QCOMPARE(session->queuedActions(), ClientSession::MaxQueuedActions);
        session->Action_Timer();
        QCOMPARE(session->image(2).Left(), 727.0f);
        QCOMPARE(session->image(2).sprite().name, u"SorraLeft");
        QVERIFY(!session->Action->isActive());
    }

    void splittingIsLinear()
    {
        // A megabyte of numbers without digits: every one its own piece,
        // and none of them a number.
        QString read;
        while (read.size() < (1 << 20))
            read += QStringLiteral("ClientNumber");
        session->receive(read);
        QCOMPARE(session->lastPiece(), QStringLiteral("ClientNumber"));
        QVERIFY(!session->numbered());
    }

    void theTranscriptKeepsUp()
    {
        QSignalSpy changes(session.get(), &ClientSession::transcriptChanged);
        QString read;
        for (int i = 0; i < 10000; ++i)
            read += QStringLiteral("[Bob] - line %1\r\n").arg(i) + QChar(0);
        session->receive(read);
        QCOMPARE(changes.size(), 10000);
        const QString &text = session->transcript().text();
        QVERIFY(text.size() <= Transcript::MaxLength);
        QVERIFY(text.endsWith(QStringLiteral("[Bob] - line 9999\r\n\r\n")));
        QCOMPARE(session->lastPiece(), QStringLiteral("[Bob] - line 9999\r\n"));
    }

    void chatThatCannotGoOut()
    {
        QCOMPARE(session->sendChat(QStringLiteral("hi")), ClientSession::ChatResult::Ignored);
        QCOMPARE(session->transcript().text(), QString()); // closed: nothing at all
        session->setDefaultPort(FakeServer().port());      // nobody listens there any more
        QVERIFY(session->connectTo(QStringLiteral("A"), QStringLiteral("127.0.0.1")));
        QCOMPARE(session->sendChat(QStringLiteral("hi")), ClientSession::ChatResult::NotSent);
        QCOMPARE(session->transcript().text(),
                 QStringLiteral("Not sent, the connection is not open: hi\r\n"));
        QTRY_COMPARE(session->State(), int(Wsk::sckError));
        QCOMPARE(session->sendChat(QStringLiteral("again")), ClientSession::ChatResult::NotSent);
    }

    void theServerAddress()
    {
        session->connectTo(QStringLiteral("A"), QStringLiteral("   "));
        QCOMPARE(session->transcript().text(),
                 QStringLiteral("Could not connect: no server address given\r\n"));
        QCOMPARE(session->State(), int(Wsk::sckClosed));
        // A port in the address wins over the default.
        session->setDefaultPort(1);
        QVERIFY(session->connectTo(QStringLiteral("A"),
                                   QStringLiteral("127.0.0.1:%1").arg(server->port())));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
    }

    void addressForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host") << "stage.example.net"
                              << "stage.example.net" << 2579;
        QTest::newRow("host:port") << " 127.0.0.1:3000 "
                                   << "127.0.0.1" << 3000;
        QTest::newRow("[v6]:port") << "[::1]:4000"
                                   << "::1" << 4000;
        QTest::newRow("[v6]") << "[::1]"
                              << "::1" << 2579;
        QTest::newRow("bare v6") << "fe80::1"
                                 << "fe80::1" << 2579;
        QTest::newRow("port 0") << "host:0"
                                << "" << 0;
        QTest::newRow("port too large") << "host:65536"
                                        << "" << 0;
        QTest::newRow("no host") << ":3000"
                                 << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
    }
    void addressForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto parsed = ServerAddress::parse(text, 2579);
        QCOMPARE(parsed.has_value(), !host.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->host, host);
            QCOMPARE(int(parsed->port), port);
        }
    }

    void anEchoDuringThePauseDoesNotStepTwice()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive("ClientNumber0");
        // The server's echo of the step comes in while pending events run.
        session->setPause([this] {
            session->receive(QStringLiteral("Action0GoLeftGimboX1800Y480Z"));
            session->Action_Timer();
        });
        session->walk(Direction::Left);
        QCOMPARE(session->image(0).Left(), 1750.0f);
        session->walk(Direction::Left);
        QCOMPARE(session->image(0).Left(), 1700.0f);
    }

    void thePauseIsTheApplications()
    {
        int pauses = 0;
        session->setPause([&] { ++pauses; });
        connectAs(QStringLiteral("Gimbo")); // after the join packet
        receive("ClientNumber1");
        session->walk(Direction::Right); // no pause after a step to the right
        QCOMPARE(pauses, 1);
        session->walk(Direction::Left);
        QCOMPARE(session->sendChat(QStringLiteral("hi")), ClientSession::ChatResult::Sent);
        QCOMPARE(pauses, 3);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
