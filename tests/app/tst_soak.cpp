// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "ServerProcess.h"
#include "app/ImageControl.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>
#include <sys/socket.h>

// Long runs and faults against the real server binary, loopback only.
class TestSoak : public QObject
{
    Q_OBJECT

    // One connection of the soak: what it sent and what it got, by sender.
    struct Session
    {
        int id = 0;
        bool permanent = false;
        bool aborted = false;
        std::unique_ptr<QTcpSocket> socket;
        QByteArray buffer;
        int number = -1;
        int seq = 0;
        QList<QByteArray> sent;
        std::map<int, QList<QByteArray>> got;
    };

    std::map<int, std::unique_ptr<Session>> sessions; // every session ever, by id
    QList<Session *> live;                            // joined or joining, by slot
    QStringList faults;
    int nextId = 0;

    Session *open(bool permanent, quint16 port)
    {
        auto session = std::make_unique<Session>();
        session->id = nextId++;
        session->permanent = permanent;
        session->socket = std::make_unique<QTcpSocket>();
        Session *s = session.get();
        QObject::connect(s->socket.get(), &QTcpSocket::connected, s->socket.get(),
                         [s] { s->socket->write('\x0A' + name(s) + '\0'); });
        QObject::connect(s->socket.get(), &QTcpSocket::readyRead, s->socket.get(),
                         [this, s] { take(s); });
        s->socket->connectToHost(QHostAddress::LocalHost, port);
        sessions[s->id] = std::move(session);
        return s;
    }

    // Chat lines carry the session's id as the name it joined under.
    static QByteArray name(const Session *s) { return 's' + QByteArray::number(s->id); }

    void take(Session *s)
    {
        s->buffer += s->socket->readAll();
        if (s->number < 0) {
            if (s->buffer.startsWith("[Quandrel] - The stage is full")) {
                s->buffer.clear(); // places still held by those leaving
                return;
            }
            if (s->buffer.size() < 13)
                return;
            if (!s->buffer.startsWith("ClientNumber"))
                faults << QStringLiteral("session %1 got no number first").arg(s->id);
            s->number = s->buffer[12] - '0';
            s->buffer.remove(0, 13);
            for (Session *other : live) {
                if (other != s && other->number == s->number)
                    faults << QStringLiteral("number %1 given twice").arg(s->number);
            }
        }
        qsizetype end;
        while ((end = s->buffer.indexOf('\0')) >= 0) {
            const QByteArray packet = s->buffer.left(end);
            s->buffer.remove(0, end + 1);
            // Notices, and the step that takes a leaver off the stage.
            if (packet == "NewUser" || packet.startsWith("[Quandrel] - ") ||
                packet.contains("X-999Y"))
                continue;
            s->got[senderOf(packet)].append(packet);
        }
    }

    static int senderOf(const QByteArray &packet)
    {
        if (packet.startsWith("[s"))
            return packet.mid(2, packet.indexOf(']') - 2).toInt();
        const qsizetype y = packet.indexOf('Y');
        return packet.mid(y + 1, packet.indexOf('Z') - y - 1).toInt();
    }

    void sendFrom(Session *s, bool chat)
    {
        const QByteArray seq = QByteArray::number(s->seq++);
        const QByteArray id = QByteArray::number(s->id);
        const QByteArray relayed =
            chat ? "[" + name(s) + "] - line " + seq + "\r\n"
                 : "Action" + QByteArray::number(s->number) + "GoLeftGimboX" + seq + "Y" + id + "Z";
        s->socket->write('\x02' + relayed + '\0');
        s->sent.append(relayed);
    }

    // Packets that are not the forger's own: another's number, another's
    // name, a second line inside a chat line, a client number. None of them
    // may reach anyone.
    void forgeFrom(Session *s, QRandomGenerator &random)
    {
        const Session *victim =
            live[(live.indexOf(s) + 1 + random.bounded(int(live.size()) - 1)) % live.size()];
        const QByteArray id = QByteArray::number(s->id);
        const QList<QByteArray> forged = {
            "Action" + QByteArray::number((s->number + 1) % 10) + "GoLeftGimboX1Y" + id + "Z",
            "[" + name(victim) + "] - forged\r\n",
            "[" + name(s) + "] - one\r\n[" + name(victim) + "] - two\r\n",
            "ClientNumber" + QByteArray::number(random.bounded(10)),
        };
        s->socket->write('\x02' + forged[random.bounded(int(forged.size()))] + '\0');
    }

    void leave(Session *s)
    {
        live.removeOne(s);
        if (s->socket->bytesToWrite() == 0 && QRandomGenerator::global()->bounded(5) == 0) {
            s->aborted = true; // reset: what the server had not read yet may be lost
            s->socket->abort();
        } else {
            // Graceful: done sending, reading on until the server closes. A
            // client that closed outright while relays still came in would
            // have its own system reset the connection and throw away what
            // it had not sent yet, which no server can help.
            const auto halfClose = [s] {
                ::shutdown(int(s->socket->socketDescriptor()), SHUT_WR);
            };
            if (s->socket->bytesToWrite() == 0)
                halfClose();
            else
                QObject::connect(s->socket.get(), &QTcpSocket::bytesWritten, s->socket.get(),
                                 [s, halfClose] {
                                     if (s->socket->bytesToWrite() == 0)
                                         halfClose();
                                 });
        }
    }

    // What a receiver got of a sender: the sender's packets in order, from
    // the first (`whole`) or from some point on, of which only steps may be
    // missing: a client held back for a moment gets only the newest step of
    // each sender. With `whole`, nothing at the end is missing, and the
    // sender's last step came unless the step that took it off the stage,
    // when it left, superseded it.
    static bool isThinned(const QList<QByteArray> &got, const QList<QByteArray> &sent, bool whole,
                          bool stayed = true)
    {
        qsizetype at = whole || got.isEmpty() ? 0 : sent.indexOf(got.first());
        if (at < 0)
            return false;
        for (const QByteArray &packet : got) {
            for (; at < sent.size() && sent[at] != packet; ++at) {
                if (!sent[at].startsWith("Action"))
                    return false; // a line is never left out
            }
            if (at++ == sent.size())
                return false;
        }
        if (!whole)
            return true;
        const auto lastStep = std::find_if(
            sent.rbegin(), sent.rend(), [](const QByteArray &p) { return p.startsWith("Action"); });
        const bool onlyStepsAtTheEnd =
            std::all_of(sent.begin() + at, sent.end(),
                        [](const QByteArray &p) { return p.startsWith("Action"); });
        return onlyStepsAtTheEnd && (!stayed || lastStep == sent.rend() || got.contains(*lastStep));
    }

    void settle(int quietMs, int maxMs)
    {
        QElapsedTimer total;
        total.start();
        qint64 last = -1;
        QElapsedTimer quiet;
        quiet.start();
        while (total.elapsed() < maxMs) {
            qint64 count = 0;
            for (auto &[id, s] : sessions)
                for (auto &[sender, packets] : s->got)
                    count += packets.size();
            if (count != last) {
                last = count;
                quiet.restart();
            } else if (quiet.elapsed() > quietMs) {
                return;
            }
            QTest::qWait(20);
        }
    }

private slots:
    void tenClientsJoinWalkChatAndLeave()
    {
        // A budget that the churners stay under and the flooder does not.
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--rate"), QStringLiteral("500"),
                              QStringLiteral("--burst"), QStringLiteral("200")}));
        for (int i = 0; i < 5; ++i) {
            Session *s = open(true, server.port());
            live.append(s);
            QTRY_VERIFY(s->number >= 0);
            QCOMPARE(s->number, i);
        }
        Session *flooder = live[3];
        Session *forger = live[4];
        int floods = 0;
        QRandomGenerator random(42);
        qint64 residentMid = -1;
        QElapsedTimer clock;
        clock.start();
        QTimer ticker;
        ticker.setInterval(2);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (residentMid < 0 && clock.elapsed() > 10000)
                residentMid = server.residentKiB();
            if (floods < 2 && clock.elapsed() > 5000 + floods * 10000) {
                ++floods; // far over its budget at once: read later, never lost
                for (int i = 0; i < 1500; ++i)
                    sendFrom(flooder, true);
                return;
            }
            if (live.size() < 10 && random.bounded(10) == 0) {
                live.append(open(false, server.port()));
                return;
            }
            Session *s = live[random.bounded(int(live.size()))];
            if (s->number < 0 || s->socket->state() != QAbstractSocket::ConnectedState)
                return;
            const int roll = random.bounded(100);
            if (s == forger && roll < 50)
                forgeFrom(s, random);
            else if (roll < 45)
                sendFrom(s, false);
            else if (roll < 95 || s->permanent)
                sendFrom(s, true);
            else
                leave(s);
        });
        ticker.start();
        QEventLoop run; // QTest::qWait would sleep between rounds and slow the ticker
        QTimer::singleShot(30000, &run, &QEventLoop::quit);
        run.exec();
        ticker.stop();
        settle(300, 10000);
        for (Session *s : QList<Session *>(live)) {
            if (!s->permanent)
                leave(s);
        }
        settle(300, 3000);

        const auto cleanup = qScopeGuard([this] {
            live.clear();
            sessions.clear();
        });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        qint64 packets = 0;
        for (auto &[id, sender] : sessions) {
            packets += sender->sent.size();
            for (auto &[rid, receiver] : sessions) {
                const QList<QByteArray> &got = receiver->got[id];
                if (receiver->permanent && !sender->aborted)
                    QVERIFY2(isThinned(got, sender->sent, true, sender->permanent),
                             qPrintable(QStringLiteral("session %1 to %2: %3 of %4")
                                            .arg(id)
                                            .arg(rid)
                                            .arg(got.size())
                                            .arg(sender->sent.size())));
                else
                    QVERIFY(isThinned(got, sender->sent, false));
            }
        }
        QVERIFY(sessions.size() > 20);
        QVERIFY(packets > 5000);
        qInfo("%zu sessions, %lld packets sent", sessions.size(), packets);

        // Everyone but the five first has gone: the lowest free number is 5 again.
        Session *late = open(false, server.port());
        live.append(late);
        QTRY_VERIFY(late->number >= 0);
        QCOMPARE(late->number, 5);
        QVERIFY(server.log().contains(QStringLiteral("not relayed from")));

        const qint64 residentEnd = server.residentKiB();
        qInfo("server resident memory: %lld KiB at 10 s, %lld KiB at the end", residentMid,
              residentEnd);
        QVERIFY(residentMid > 0);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer holds freed memory back in quarantine
        QVERIFY(residentEnd <= residentMid + 1024);
#endif
    }

    void resetAndHalfClosedConnectionsAreCleanedUp()
    {
        ServerProcess server;
        QVERIFY(server.start());
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 10; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(socket->waitForConnected(2000));
            socket->write("\x0Ax" + QByteArray::number(i) + '\0');
            QTRY_VERIFY(socket->bytesAvailable() >= 13);
            clients.push_back(std::move(socket));
        }
        for (int i = 0; i < 5; ++i) { // reset
            const linger hard{1, 0};
            setsockopt(int(clients[i]->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                       sizeof hard);
            clients[i]->abort();
        }
        for (int i = 5; i < 8; ++i) // half-closed: done writing, still reading
            ::shutdown(int(clients[i]->socketDescriptor()), SHUT_WR);
        QTest::qWait(200);
        // Eight places are free again, and the lowest numbers come back first.
        QList<QByteArray> numbers;
        std::vector<std::unique_ptr<QTcpSocket>> more;
        for (int i = 0; i < 8; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(socket->waitForConnected(2000));
            socket->write("\x0Ay" + QByteArray::number(i) + '\0');
            QTRY_VERIFY(socket->bytesAvailable() >= 13);
            numbers.append(socket->read(13));
            more.push_back(std::move(socket));
        }
        QCOMPARE(numbers.first(), QByteArray("ClientNumber0"));
        QCOMPARE(numbers.last(), QByteArray("ClientNumber7"));
        QTcpSocket eleventh;
        eleventh.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(eleventh.waitForConnected(2000));
        eleventh.write(QByteArray("\x0Az\0", 3));
        QTRY_COMPARE(eleventh.state(), QAbstractSocket::UnconnectedState);
    }

    void aMegabyteWithoutTerminatorIsCutWhileOthersGoOn()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QTcpSocket flood;
        QTcpSocket other;
        for (QTcpSocket *s : {&flood, &other}) {
            s->connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(s->waitForConnected(2000));
            s->write(s == &other ? QByteArray("\x0Ax\0", 3)
                                 : QByteArray("\x0A"
                                              "f\0",
                                              3));
            QTRY_VERIFY(s->bytesAvailable() >= 13);
            s->readAll();
        }
        flood.write(QByteArray(1 << 20, 'x'));
        QTRY_COMPARE(flood.state(), QAbstractSocket::UnconnectedState);
        other.readAll();
        other.write(QByteArray("\x02[x] - still here\r\n\0", 20));
        QByteArray got;
        QTRY_VERIFY((got += other.readAll()).endsWith(QByteArray("[x] - still here\r\n\0", 19)));
    }

    void clientOutlivesItsServer()
    {
        ServerProcess server;
        QVERIFY(server.start());
        frmMain form;
        form.session().setDefaultPort(server.port());
        form.setEndProgram([] {});
        form.Form_Load();
        form.show();
        form.cmdConnection_Click();
        QTRY_VERIFY(form.session().numbered());
        server.kill();
        QTRY_VERIFY2(
            form.txtOutput->Text().contains(QStringLiteral("The connection to 127.0.0.1 ended")),
            qPrintable(form.txtOutput->Text() + QString::number(form.session().State())));
        QVERIFY(form.session().State() == Wsk::sckClosing ||
                form.session().State() == Wsk::sckError);
        form.cmdLeft_Click();
        form.txtInput->setText(QStringLiteral("anyone?"));
        form.txtInput_KeyPress(13);
        form.mnuDisconnect_Click();
        QCOMPARE(form.session().State(), 0);
    }

    void clientTakesAMegabyteOfRandomBytes()
    {
        FakeServer fake;
        frmMain form;
        form.session().setDefaultPort(fake.port());
        form.setEndProgram([] {});
        form.Form_Load();
        form.cmdConnection_Click();
        QVERIFY(fake.waitForClient());
        QTRY_COMPARE(form.session().State(), 7);
        QRandomGenerator random(1);
        QByteArray junk(1 << 20, Qt::Uninitialized);
        for (char &c : junk)
            c = char(random.bounded(256));
        fake.send(junk);
        QTest::qWait(500);
        QVERIFY(form.session().queuedActions() <= ClientSession::MaxQueuedActions);
        QTRY_VERIFY(SessionProbe(form.session()).settled());
        // Still listening, and still right.
        fake.send(QByteArray("\0Action6GoLeftSorraX900Y480Z\0", 29));
        QTRY_COMPARE(form.imgClient[6]->pictureName(), QStringLiteral("SorraLeft"));
        QCOMPARE(form.imgClient[6]->Left(), 850.0f);
        QVERIFY(form.txtOutput->Text().size() <= 10000);
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
