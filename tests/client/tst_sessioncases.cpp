// SPDX-License-Identifier: MIT
#include "CaseFile.h"
#include "FakeServer.h"
#include "client/ClientSession.h"
#include "client/SessionProbe.h"
#include "net/Cp1252.h"
#include "net/Wsk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <memory>

// The session's rules as data (tests/cases/session.json): what the server
// sends and what the user does, step by step, and what the session sends
// back and shows. Any client of the stage can run the same cases.
class TestSessionCases : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<ClientSession> session;

    static QByteArray bytes(const QJsonValue &value) { return CaseFile::bytes(value); }

    // Closes the connection and opens a new one to the same server.
    void reconnect()
    {
        const int before = server->connections();
        session->close();
        QTRY_COMPARE(session->State(), int(Wsk::sckClosed));
        QVERIFY(session->connectTo(QStringLiteral("Gimbo"), QStringLiteral("127.0.0.1")));
        QTRY_VERIFY(server->connections() > before);
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
        QCOMPARE(server->take(7), QByteArray("\x0AGimbo\0", 7));
    }

    void nothingSent()
    {
        QCOMPARE(session->sendChat(QStringLiteral(".")), ClientSession::ChatResult::Sent);
        const QByteArray marker("\x02[Gimbo] - .\r\n\0", 15);
        QCOMPARE(server->take(marker.size()), marker);
    }

    // What the event loop would do next: each armed timer ticks once.
    void tick()
    {
        const SessionProbe probe(*session);
        if (probe.Action().isActive())
            probe.Action_Timer();
        if (probe.SendUsersYourData().isActive())
            probe.SendUsersYourData_Timer();
        if (probe.Constant().isActive())
            probe.Constant_Timer();
    }

    void act(const QJsonObject &step)
    {
        if (step[u"reconnect"].toBool())
            reconnect();
        if (step.contains(u"place")) {
            const QJsonArray place = step[u"place"].toArray();
            session->placeImage(place[0].toInt(), float(place[1].toDouble()));
        }
        for (int n = 0; step.contains(u"receive") && n < step[u"times"].toInt(1); ++n) {
            session->receive(Cp1252::decode(bytes(step[u"receive"])));
            tick();
        }
        if (step.contains(u"walk"))
            session->walk(step[u"walk"].toString() == u"left" ? Direction::Left : Direction::Right);
        if (step.contains(u"chat"))
            session->sendChat(CaseFile::text(step[u"chat"]));
        if (step.contains(u"ignoreClient"))
            session->ignoreClient(step[u"ignoreClient"].toInt());
        if (step.contains(u"ignoreSpeaker"))
            session->ignoreSpeaker(step[u"ignoreSpeaker"].toString());
        if (step.contains(u"stopIgnoring"))
            session->stopIgnoring(step[u"stopIgnoring"].toInt());
    }

    void check(const QJsonObject &step)
    {
        if (step.contains(u"refusal")) // before a probe line clears it
            QCOMPARE(session->chatRefusal(), step[u"refusal"].toString());
        if (step.contains(u"sent")) {
            const QByteArray sent = bytes(step[u"sent"]);
            if (sent.isEmpty())
                nothingSent();
            else
                QCOMPARE(server->take(sent.size()), sent);
        }
        if (step.contains(u"number"))
            QCOMPARE(session->numberText(), step[u"number"].toString());
        if (step.contains(u"own"))
            QCOMPARE(session->image(session->numberText().toInt()).Left(),
                     float(step[u"own"].toDouble()));
        if (step.contains(u"facing"))
            QCOMPARE(session->facing() == Direction::Left ? QStringLiteral("left")
                                                          : QStringLiteral("right"),
                     step[u"facing"].toString());
        if (step.contains(u"transcriptEnds"))
            QVERIFY2(session->transcript().text().endsWith(step[u"transcriptEnds"].toString()),
                     qPrintable(session->transcript().text().right(40)));
        if (step.contains(u"transcriptLength"))
            QCOMPARE(session->transcript().text().size(), step[u"transcriptLength"].toInteger());
        if (step.contains(u"ignored")) {
            QStringList ignored;
            for (const IgnoreList::Entry &entry : session->ignoring().entries())
                ignored << IgnoreList::describe(entry);
            QCOMPARE(ignored, step[u"ignored"].toVariant().toStringList());
        }
        if (step.contains(u"heard"))
            QCOMPARE(session->ignoring().heard(), step[u"heard"].toVariant().toStringList());
        const QJsonObject shown = step[u"shown"].toObject();
        for (auto it = shown.begin(); it != shown.end(); ++it)
            QCOMPARE(session->shownImage(it.key().toInt()).visible(), it.value().toBool());
        const QJsonObject images = step[u"images"].toObject();
        for (auto it = images.begin(); it != images.end(); ++it) {
            const AvatarImage &image = session->image(it.key().toInt());
            const QJsonObject want = it.value().toObject();
            QCOMPARE(image.Left(), float(want[u"left"].toDouble()));
            QCOMPARE(image.Top(), float(want[u"top"].toDouble()));
            QCOMPARE(image.visible(), want[u"visible"].toBool());
            QCOMPARE(image.sprite().name.toString(), want[u"sprite"].toString());
        }
    }

private slots:
    void cases_data()
    {
        const QJsonArray cases = CaseFile::load(QStringLiteral("session.json"))[u"cases"].toArray();
        QVERIFY(!cases.isEmpty());
        QTest::addColumn<QJsonArray>("steps");
        for (const QJsonValue &c : cases)
            QTest::newRow(qPrintable(c[u"name"].toString())) << c[u"steps"].toArray();
    }
    void cases()
    {
        QFETCH(QJsonArray, steps);
        server = std::make_unique<FakeServer>();
        session = std::make_unique<ClientSession>();
        session->setDefaultPort(server->port());
        QVERIFY(session->connectTo(QStringLiteral("Gimbo"), QStringLiteral("127.0.0.1")));
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(session->State(), int(Wsk::sckConnected));
        QCOMPARE(server->take(7), QByteArray("\x0AGimbo\0", 7));
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QJsonObject step = steps[i].toObject();
            act(step);
            check(step);
            if (QTest::currentTestFailed()) {
                qWarning("in step %lld", static_cast<long long>(i + 1));
                return;
            }
        }
        session.reset();
        server.reset();
    }
};

QTEST_GUILESS_MAIN(TestSessionCases)
#include "tst_sessioncases.moc"
