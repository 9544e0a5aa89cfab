// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

namespace {

// One HTTP request on loopback and the whole answer, head and body; empty
// when none came within 5 s.
QByteArray fetch(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    // What came, all of it when the server closed in time.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000));
    return answer + socket.readAll();
}

QByteArray get(quint16 port, const QByteArray &path)
{
    return fetch(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

QByteArray body(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

// The figures a running server serves for its operator's monitor, read
// with Prometheus's own tools.
class TestMetrics : public QObject
{
    Q_OBJECT

private slots:
    void servesValidFiguresThatMove()
    {
        const QString promtool = QStringLiteral(QUANDREL_PROMTOOL);
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")}));
        StagePeer zed(server.port(), QHostAddress(QStringLiteral("127.0.0.5")));
        QCOMPARE(zed.join("Zed Quietly"), 0);
        StagePeer bad(server.port());
        bad.write(QByteArray("\x0A[bracket]\0", 11));
        QVERIFY(bad.waitForClose());

        const QByteArray answer = get(server.metricsPort(), "/metrics");
        QVERIFY2(answer.startsWith("HTTP/1.1 200 OK\r\n"), answer.left(200));
        QVERIFY(answer.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
        const QByteArray text = body(answer);
        const QByteArray stage = "stage=\"" + QByteArray::number(server.port()) + '"';
        QVERIFY2(text.contains("quandrel_places_taken{" + stage + "} 1\n"), text);
        QVERIFY(text.contains("quandrel_joins_total{" + stage + "} 1\n"));
        QVERIFY(text.contains("quandrel_refusals_total{" + stage + ",reason=\"name\"} 1\n"));
        QVERIFY(text.contains("quandrel_connections{" + stage + ",kind=\"tcp\"} 1\n"));
        QVERIFY(text.contains("process_open_fds "));
        // Nobody's name or address.
        QVERIFY(!text.contains("Zed"));
        QVERIFY(!text.contains("127.0.0.5"));

        if (promtool.isEmpty())
            QSKIP("no promtool (scripts/setup.sh test installs Debian's prometheus)");
        QProcess check;
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        QVERIFY(check.waitForStarted());
        check.write(text);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30'000));
        const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said);
    }

    void answersOnlyWhatItServes()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")}));
        const quint16 port = server.metricsPort();
        QVERIFY(get(port, "/").startsWith("HTTP/1.1 404 "));
        QVERIFY(
            fetch(port, "POST /metrics HTTP/1.1\r\nHost: x\r\n\r\n").startsWith("HTTP/1.1 405 "));
        QVERIFY(fetch(port, "nonsense\r\n\r\n").startsWith("HTTP/1.1 400 "));
        const QByteArray head = fetch(port, "HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(head.startsWith("HTTP/1.1 200 ") && head.endsWith("\r\n\r\n"));
        QVERIFY(fetch(port, "GET /metrics HTTP/1.1\r\n" + QByteArray(9000, 'x'))
                    .startsWith("HTTP/1.1 431 "));
        // Connections that never ask hold no place from the monitor: the
        // oldest gives way.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 20; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        QVERIFY(get(port, "/metrics").startsWith("HTTP/1.1 200 "));
    }

    // Debian's Prometheus, on loopback, scrapes two stages and reads back a
    // counter this test moved.
    void prometheusScrapesTwoStages()
    {
        const QString prometheus = QStringLiteral(QUANDREL_PROMETHEUS);
        if (prometheus.isEmpty())
            QSKIP("no prometheus (scripts/setup.sh test installs Debian's)");
        ServerProcess one;
        ServerProcess two;
        for (ServerProcess *s : {&one, &two})
            QVERIFY(s->start({QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")}));

        QTemporaryDir dir;
        QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                     "scrape_configs:\n  - job_name: quandrel\n    static_configs:\n"
                     "      - targets: ['127.0.0.1:" +
                     QByteArray::number(one.metricsPort()) +
                     "', '127.0.0.1:" + QByteArray::number(two.metricsPort()) + "']\n");
        config.close();
        const quint16 web = freePort();
        QProcess monitor;
        monitor.setProcessChannelMode(QProcess::MergedChannels);
        monitor.setStandardOutputFile(dir.filePath(QStringLiteral("prometheus.log")));
        monitor.start(prometheus, {QStringLiteral("--config.file=") + config.fileName(),
                                   QStringLiteral("--storage.tsdb.path=") +
                                       dir.filePath(QStringLiteral("data")),
                                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(web)});
        QVERIFY(monitor.waitForStarted());
        auto stop = qScopeGuard([&] {
            monitor.terminate();
            if (!monitor.waitForFinished(10'000))
                monitor.kill();
        });

        // Three joins on the second stage, none on the first.
        std::vector<std::unique_ptr<StagePeer>> peers;
        for (int i = 0; i < 3; ++i) {
            peers.push_back(std::make_unique<StagePeer>(two.port()));
            QCOMPARE(peers.back()->join("P" + QByteArray::number(i)), i);
        }
        // What Prometheus holds of quandrel_joins_total, by stage.
        auto joins = [&] {
            const QByteArray answer = get(web, "/api/v1/query?query=quandrel_joins_total");
            const QJsonObject json = QJsonDocument::fromJson(body(answer)).object();
            QMap<QString, double> byStage;
            for (const QJsonValue &series : json[u"data"][u"result"].toArray()) {
                byStage[series[u"metric"][u"stage"].toString()] =
                    series[u"value"][1].toString().toDouble();
            }
            return byStage;
        };
        const QString first = QString::number(one.port());
        const QString second = QString::number(two.port());
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const auto seen = joins();
                         return seen.value(second) == 3 && seen.contains(first) &&
                                seen.value(first) == 0;
                     },
                     60'000),
                 qPrintable(QString::fromUtf8(body(get(web, "/api/v1/targets")))));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
