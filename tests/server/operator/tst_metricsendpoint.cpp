// SPDX-License-Identifier: MIT
#include "server/operator/MetricsEndpoint.h"

#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <vector>

// What any peer can make the figures' endpoint keep or do: one answer a
// connection, a few connections, each for a short time.
class TestMetricsEndpoint : public QObject
{
    Q_OBJECT

    static constexpr int TimeoutMs = 300;
    int asked = 0;
    QByteArray figures;
    std::unique_ptr<MetricsEndpoint> endpoint;

    std::unique_ptr<QTcpSocket> connectToIt()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, endpoint->port());
        return socket->waitForConnected(2000) ? std::move(socket) : nullptr;
    }
    static bool closedByTheServer(QTcpSocket &socket, int ms)
    {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                               ms);
    }

private slots:
    void init()
    {
        asked = 0;
        figures = "x_total 1\n";
        endpoint = std::make_unique<MetricsEndpoint>(
            [this] {
                ++asked;
                return figures;
            },
            TimeoutMs);
        QVERIFY(endpoint->listen(QHostAddress::LocalHost, 0));
    }
    void cleanup() { endpoint.reset(); }

    void answersOnceAConnection()
    {
        auto socket = connectToIt();
        QVERIFY(socket);
        const QByteArray request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
        socket->write(request + request + request);
        QVERIFY(closedByTheServer(*socket, 2000));
        const QByteArray answer = socket->readAll();
        QCOMPARE(answer.count("HTTP/1.1 200 OK"), 1);
        QVERIFY(answer.endsWith("\r\n\r\nx_total 1\n"));
        QCOMPARE(asked, 1);
        QTRY_COMPARE(endpoint->openConnections(), 0);
    }

    // A peer that does not read its answer cannot ask again meanwhile.
    void asksForTheFiguresOnceForAPeerThatDoesNotRead()
    {
        figures = QByteArray(16 * 1024 * 1024, 'x'); // more than the kernel buffers
        auto socket = connectToIt();
        QVERIFY(socket);
        const QByteArray request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
        socket->write(request);
        QTRY_COMPARE(asked, 1);
        for (int i = 0; i < 5; ++i) {
            socket->write(request);
            socket->flush();
            QTest::qWait(20);
        }
        QCOMPARE(asked, 1);
    }

    void closesASilentConnectionInTime()
    {
        auto socket = connectToIt();
        QVERIFY(socket);
        socket->write("GET /metr"); // and no more
        QVERIFY(closedByTheServer(*socket, TimeoutMs + 2000));
        QTRY_COMPARE(endpoint->openConnections(), 0);
        QCOMPARE(asked, 0);
    }

    // The newest gets in; the oldest is closed to make room.
    void keepsAFewConnectionsAtATime()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < MetricsEndpoint::MaxConnections + 4; ++i) {
            idle.push_back(connectToIt());
            QVERIFY(idle.back());
        }
        for (int i = 0; i < 4; ++i)
            QVERIFY2(closedByTheServer(*idle[i], 1000), qPrintable(QString::number(i)));
        QCOMPARE(endpoint->openConnections(), MetricsEndpoint::MaxConnections);
        QCOMPARE(idle.back()->state(), QAbstractSocket::ConnectedState);
    }

    void refusesARequestTooLargeToRead()
    {
        auto socket = connectToIt();
        QVERIFY(socket);
        socket->write("GET /metrics HTTP/1.1\r\n" + QByteArray(MetricsEndpoint::MaxRequest, 'x'));
        QVERIFY(closedByTheServer(*socket, 2000));
        QVERIFY(socket->readAll().startsWith("HTTP/1.1 431 "));
        QCOMPARE(asked, 0);
    }

    // An orchestrator's probes: answered whatever host they name, without
    // asking for the figures; ready only while the stage takes joins.
    void answersProbes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("notReady");
        QTest::addColumn<QByteArray>("answer"); // its start, and its body
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("alive") << QByteArray("GET /healthz HTTP/1.1\r\nHost: 10.1.2.3:9601\r\n\r\n")
                               << QString() << QByteArray("HTTP/1.1 200 OK") << QByteArray("ok\n");
        QTest::newRow("alive while closed")
            << QByteArray("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n") << QStringLiteral("closed")
            << QByteArray("HTTP/1.1 200 OK") << QByteArray("ok\n");
        QTest::newRow("ready") << QByteArray("GET /readyz HTTP/1.1\r\nHost: 10.1.2.3\r\n\r\n")
                               << QString() << QByteArray("HTTP/1.1 200 OK")
                               << QByteArray("ready\n");
        QTest::newRow("closed") << QByteArray("GET /readyz HTTP/1.1\r\nHost: x\r\n\r\n")
                                << QStringLiteral("the operator has closed the stage")
                                << QByteArray("HTTP/1.1 503 Service Unavailable")
                                << QByteArray("not ready: the operator has closed the stage\n");
        QTest::newRow("HEAD") << QByteArray("HEAD /readyz HTTP/1.1\r\nHost: x\r\n\r\n") << QString()
                              << QByteArray("HTTP/1.1 200 OK") << QByteArray();
        QTest::newRow("no POST") << QByteArray("POST /readyz HTTP/1.1\r\nHost: x\r\n\r\n")
                                 << QString() << QByteArray("HTTP/1.1 405 ")
                                 << QByteArray("Only GET and HEAD.\n");
    }
    void answersProbes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, notReady);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, body);
        endpoint->setHostNames({QStringLiteral("x")});
        endpoint->setReadiness([&] { return notReady; });
        auto socket = connectToIt();
        QVERIFY(socket);
        socket->write(request);
        QVERIFY(closedByTheServer(*socket, 2000));
        const QByteArray got = socket->readAll();
        QVERIFY2(got.startsWith(answer), got.constData());
        QVERIFY2(got.endsWith("\r\n\r\n" + body), got.constData());
        QCOMPARE(asked, 0);
    }
};

QTEST_GUILESS_MAIN(TestMetricsEndpoint)
#include "tst_metricsendpoint.moc"
