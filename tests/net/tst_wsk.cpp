// SPDX-License-Identifier: MIT
#include "net/Wsk.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// The socket's state numbers and events against a real listener on loopback.
class TestWsk : public QObject
{
    Q_OBJECT

    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort(); // closed again when probe goes
    }

    // Connects to a listener on loopback; the server side of the connection, or
    // nullptr when it did not come up.
    static QTcpSocket *openTo(QTcpServer &server, Wsk &wsk)
    {
        wsk.setRemoteHost(QStringLiteral("127.0.0.1"));
        wsk.setRemotePort(server.serverPort());
        wsk.Connect();
        const bool up = QTest::qWaitFor(
            [&] { return wsk.State() == Wsk::sckConnected && server.hasPendingConnections(); });
        return up ? server.nextPendingConnection() : nullptr;
    }

private slots:
    void startsClosedAndSendsNothing()
    {
        Wsk wsk;
        QCOMPARE(wsk.State(), 0);
        QCOMPARE(wsk.RemotePort(), quint16(2579));
        QVERIFY(wsk.RemoteHost().endsWith(QStringLiteral(".example.net")));
        QVERIFY(!wsk.SendData(QStringLiteral("\x02hello")));
        QCOMPARE(wsk.GetData(), QString());
        wsk.Close();
        QCOMPARE(wsk.State(), 0);
    }

    void refusedConnectLeavesErrorState()
    {
        Wsk wsk;
        QSignalSpy connected(&wsk, &Wsk::ConnectEvent);
        QSignalSpy dropped(&wsk, &Wsk::Dropped);
        wsk.setRemoteHost(QStringLiteral("127.0.0.1"));
        wsk.setRemotePort(closedPort());
        wsk.Connect();
        QCOMPARE(wsk.State(), 6);
        QVERIFY(!wsk.SendData(QStringLiteral("x"))); // connecting: nothing goes out
        QTRY_COMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().at(0).toBool(), false);
        QVERIFY(!dropped.first().at(1).toString().isEmpty());
        QCOMPARE(wsk.State(), 9);
        QCOMPARE(connected.size(), 0);
        QVERIFY(!wsk.SendData(QStringLiteral("x")));
        wsk.Close();
        QCOMPARE(wsk.State(), 0);
    }

    void connectSendReceiveAndServerClose()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Wsk wsk;
        QSignalSpy connected(&wsk, &Wsk::ConnectEvent);
        QSignalSpy arrived(&wsk, &Wsk::DataArrival);
        QSignalSpy dropped(&wsk, &Wsk::Dropped);
        QTcpSocket *peer = openTo(server, wsk);
        QVERIFY(peer);
        QCOMPARE(connected.size(), 1);
        QCOMPARE(wsk.State(), 7);

        QVERIFY(wsk.SendData(QStringLiteral("\x02\u20ACr\u00E9\u4E2D") + QChar(0)));
        QByteArray got;
        QTRY_VERIFY((got += peer->readAll()).size() >= 6);
        QCOMPARE(got, QByteArray("\x02\x80r\xE9?\x00", 6));

        peer->write("ClientNumber3\xE9");
        QTRY_VERIFY(!arrived.isEmpty());
        QCOMPARE(wsk.GetData(), QStringLiteral("ClientNumber3\u00E9"));

        peer->disconnectFromHost();
        QTRY_COMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().at(0).toBool(), true);
        QCOMPARE(wsk.State(), 8); // closing until the user disconnects
        QVERIFY(!wsk.SendData(QStringLiteral("x")));
        wsk.Close();
        QCOMPARE(wsk.State(), 0);
        QCOMPARE(dropped.size(), 1);
    }

    void aFloodIsReadInTurns()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Wsk wsk;
        QTcpSocket *peer = openTo(server, wsk);
        QVERIFY(peer);
        const QByteArray flood(3 * Wsk::MaxRead + 5, 'f');
        peer->write(flood);
        qint64 total = 0;
        int reads = 0;
        connect(&wsk, &Wsk::DataArrival, this, [&] {
            const QString got = wsk.GetData();
            QVERIFY(got.size() <= Wsk::MaxRead);
            total += got.size();
            ++reads;
        });
        QTRY_COMPARE(total, flood.size());
        QVERIFY(reads >= 4);
    }

    void closeDropsAnOpenConnection()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Wsk wsk;
        QSignalSpy connected(&wsk, &Wsk::ConnectEvent);
        QSignalSpy dropped(&wsk, &Wsk::Dropped);
        QTcpSocket *peer = openTo(server, wsk);
        QVERIFY(peer);
        QCOMPARE(connected.size(), 1);
        QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
        wsk.Close();
        QCOMPARE(wsk.State(), 0);
        QTRY_COMPARE(peerGone.size(), 1);
        QCOMPARE(peer->readAll(), QByteArray());
        QCOMPARE(dropped.size(), 0); // the user's own close is no failure
        // And the socket can connect again.
        wsk.Connect();
        QTRY_COMPARE(connected.size(), 2);
        QCOMPARE(wsk.State(), 7);
    }

    void unresolvableHostIsAnError()
    {
        Wsk wsk;
        QSignalSpy dropped(&wsk, &Wsk::Dropped);
        wsk.setRemoteHost(QString());
        wsk.Connect();
        QTRY_COMPARE(dropped.size(), 1);
        QCOMPARE(wsk.State(), 9);
    }
};

QTEST_GUILESS_MAIN(TestWsk)
#include "tst_wsk.moc"
