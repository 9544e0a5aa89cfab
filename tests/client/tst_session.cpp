// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "client/ClientSession.h"
#include "client/SessionProbe.h"
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
    std::unique_ptr<SessionProbe> probe;

    // Connected and joined, with the join packet taken off what the server got.
    void connectAs(const QString &name)
    {
        QVERIFY(session->connectTo(name, QStringLiteral("127.0.0.1")));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
        QVERIFY(server->waitForBytes(name.size() + 2));
        server->received.clear();
    }

    // What the session does with one read, the work it defers done.
    void receive(const QByteArray &bytes)
    {
        QSignalSpy pieces(session.get(), &ClientSession::lastPieceChanged);
        server->send(bytes);
        QTRY_VERIFY(!pieces.isEmpty());
        QTRY_VERIFY(probe->settled());
    }

    // Nothing went out since the last take: the next bytes are a marker line.
    void nothingSent()
    {
        QCOMPARE(session->sendChat(QStringLiteral(".")), ClientSession::ChatResult::Sent);
        const QByteArray marker = "\x02[" + session->UserName().toLatin1() + "] - .\r\n" + '\0';
        QCOMPARE(server->take(marker.size()), marker);
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        session = std::make_unique<ClientSession>();
        probe = std::make_unique<SessionProbe>(*session);
        session->setDefaultPort(server->port());
    }
    void cleanup()
    {
        probe.reset();
        session.reset();
        server.reset();
    }

    void theNumberIsTheBareDigits()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive(QByteArray("ClientNumber  3[Bob] - hi\r\n\0", 28));
        QCOMPARE(session->numberText(), QStringLiteral("3"));
        QCOMPARE(session->transcript().text().right(14), QStringLiteral("[Bob] - hi\r\n\r\n"));
        session->walk(Direction::Right);
        QCOMPARE(server->take(56), QByteArray("\x02"
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
        QTest::newRow("text") << QByteArray("ClientNumber8Hi\0", 16) << "8"
                              << "Hi";
        QTest::newRow("line end") << QByteArray("ClientNumber3\r\n\0", 16) << "3"
                                  << "\r\n";
        QTest::newRow("terminator") << QByteArray("ClientNumber4\0", 14) << "4"
                                    << "ClientNumber4";
        QTest::newRow("no digits, then a packet") << QByteArray("ClientNumberNewUser\0", 20) << "0"
                                                  << "NewUser";
        QTest::newRow("no digits at all") << QByteArray("ClientNumber\0", 13) << "0"
                                          << "ClientNumber";
    }
    void whatFollowsTheDigitsIsItsOwnPiece()
    {
        QFETCH(QByteArray, read);
        QFETCH(QString, number);
        QFETCH(QString, lastPiece);
        connectAs(QStringLiteral("Gimbo"));
        receive(read);
        QCOMPARE(session->numberText(), number);
        QCOMPARE(session->lastPiece(), lastPiece);
        QCOMPARE(session->numbered(), number != u"0");
    }

    void oneNumberPerConnection()
    {
        connectAs(QStringLiteral("Gimbo"));
        QSignalSpy changes(session.get(), &ClientSession::numberChanged);
        receive("ClientNumber2");
        receive("ClientNumber7"); // any peer can get this relayed to everyone
        QCOMPARE(session->numberText(), QStringLiteral("2"));
        QCOMPARE(session->number(), std::optional<qint64>(2));
        QCOMPARE(session->ownImage(), std::optional<int>(2));
        QCOMPARE(changes.size(), 1);
        // A new connection takes a new number.
        QVERIFY(!session->isClosed());
        session->close();
        QVERIFY(session->isClosed());
        server = std::make_unique<FakeServer>();
        session->setDefaultPort(server->port());
        connectAs(QStringLiteral("Gimbo"));
        QVERIFY(!session->numbered());
        QCOMPARE(session->number(), std::nullopt);
        receive("ClientNumber5");
        QCOMPARE(session->numberText(), QStringLiteral("5"));
    }

    void nothingSpeaksBeforeTheNumber()
    {
        connectAs(QStringLiteral("Gimbo"));
        session->walk(Direction::Left);
        session->walk(Direction::Right);
        receive(QByteArray("NewUser\0", 8));
        nothingSent();
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
        probe->Constant_Timer();
        QCOMPARE(session->readout(), QStringLiteral("1800"));
        session->selectAvatar(u"Jaxorin");
        QCOMPARE(session->code(), QStringLiteral("Jaxo "));
        session->placeImage(0, 900); // the own image while the number is "0"
        QTRY_COMPARE(session->readout(), QStringLiteral("900"));
        connectAs(QStringLiteral("J"));
        session->selectAvatar(u"Tavro"); // not while connected
        receive("ClientNumber3");
        // The own image from now on, where a newcomer's stands.
        QTRY_COMPARE(session->readout(), QStringLiteral("1800"));
        QCOMPARE(server->take(25), QByteArray("\x02"
                                              "Action3StLeftJaxo X1800\0",
                                              25));
        session->walk(Direction::Right);
        QCOMPARE(server->take(31), QByteArray("\x02"
                                              "Action3GoRightJaxo X1800Y480Z\0",
                                              31));
        QTRY_COMPARE(session->readout(), QStringLiteral("1850"));
        QCOMPARE(readouts.size(), 4);
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
        probe->Action_Timer();
        QCOMPARE(session->image(2).Left(), 727.0f);
        QCOMPARE(session->image(2).sprite().name, u"SorraLeft");
        QVERIFY(!probe->Action().isActive());
    }

    void aFullQueueDropsTheOldest()
    {
        // The first packet moves image 5; the rest, more than the queue
        // holds, move image 2. Only the oldest go.
        QByteArray read("Action5GoRightVeck X300Y480Z\0", 29);
        for (qsizetype i = 0; i < ClientSession::MaxQueuedActions; ++i)
            read += QByteArray("Action2StLeftSorraX") + QByteArray::number(100 + i % 900) + '\0';
        session->receive(QString::fromLatin1(read));
        QCOMPARE(session->queuedActions(), ClientSession::MaxQueuedActions);
        probe->Action_Timer();
        QVERIFY(!session->image(5).visible());
        QCOMPARE(session->image(5).Left(), 1800.0f);
        QCOMPARE(session->image(2).Left(),
                 float(100 + (ClientSession::MaxQueuedActions - 1) % 900));
    }

    void theReadoutIsWrittenOncePerChange()
    {
        QSignalSpy readouts(session.get(), &ClientSession::readoutChanged);
        probe->Constant_Timer();
        probe->Constant_Timer();
        QCOMPARE(readouts.size(), 1);
        // An update that leaves the own image where it stands writes nothing.
        session->receive(QStringLiteral("Action0StLeftGimboX1800") + QChar(0));
        probe->Action_Timer();
        QVERIFY(probe->Constant().isActive());
        probe->Constant_Timer();
        QCOMPARE(readouts.size(), 1);
        session->placeImage(0, 1750);
        probe->Constant_Timer();
        QCOMPARE(readouts.size(), 2);
        QCOMPARE(readouts.last().first().toString(), QStringLiteral("1750"));
    }

    void splittingIsLinear()
    {
        // A megabyte of numbers without digits: every one its own piece,
        // and none of them a number.
        QString read;
        while (read.size() < (1 << 20))
            read += QStringLiteral("ClientNumber");
        read += QChar(0);
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
        // Port 0 is any free port to listen on: no server is there.
        session->transcript().setText({});
        session->connectTo(QStringLiteral("A"), QStringLiteral("127.0.0.1:0"));
        QCOMPARE(session->transcript().text(),
                 QStringLiteral("Could not connect: \"127.0.0.1:0\" is not a server address\r\n"));
        QCOMPARE(session->State(), int(Wsk::sckClosed));
        // A port in the address wins over the default.
        session->setDefaultPort(1);
        QVERIFY(session->connectTo(QStringLiteral("A"),
                                   QStringLiteral("127.0.0.1:%1").arg(server->port())));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
    }

    void anEchoDuringThePauseDoesNotStepTwice()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive("ClientNumber0");
        // The server's echo of the step comes in while pending events run.
        session->setPause([this] {
            session->receive(QStringLiteral("Action0GoLeftGimboX1800Y480Z") + QChar(0));
            probe->Action_Timer();
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

    void aStepCannotRunInsideItsOwnPause()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive("ClientNumber0");
        server->take(25); // the presence answer
        int pauses = 0;
        // A second click queued behind the first runs inside its pause.
        session->setPause([&] {
            ++pauses;
            session->walk(Direction::Left);
            session->walk(Direction::Right);
        });
        session->walk(Direction::Left);
        QCOMPARE(pauses, 1);
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action0GoLeftGimboX1800Y480Z\0",
                                              30));
        QCOMPARE(session->image(0).Left(), 1750.0f);
        session->setPause([] {});
        nothingSent();
    }

    void aStepEndsQuietlyWhenTheSessionEndsInItsPause()
    {
        connectAs(QStringLiteral("Gimbo"));
        receive("ClientNumber0");
        QSignalSpy moves(session.get(), &ClientSession::imageChanged);
        session->setPause([this] { session->end(); });
        session->walk(Direction::Left);
        QCOMPARE(moves.size(), 0);
        QCOMPARE(session->image(0).Left(), 1800.0f);
        QVERIFY(!probe->Constant().isActive());
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
