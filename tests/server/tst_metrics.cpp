// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"
#include "TestCertificates.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <algorithm>
#include <map>
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
    return fetch(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

QByteArray body(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// The value of one sample, named with its labels; -1 when there is none.
double figure(const QByteArray &text, const QByteArray &sample)
{
    const qsizetype at = text.indexOf('\n' + sample + ' ');
    if (at < 0)
        return -1;
    const qsizetype start = at + 1 + sample.size() + 1;
    return text.mid(start, text.indexOf('\n', start) - start).toDouble();
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

    // Each carrier and each reason a door to the stage can refuse for, as
    // the operator sees them.
    void everyCarrierAndReasonIsCounted()
    {
        TestCertificates certificates;
        QVERIFY(certificates.ok());
        QTemporaryDir dir;
        QFile bans(dir.filePath(QStringLiteral("bans")));
        QVERIFY(bans.open(QIODevice::WriteOnly));
        bans.write("127.0.0.9\nname:Mallory\n");
        bans.close();
        // The stage inside TLS on a server of its own: with a certificate,
        // the page is served over HTTPS too.
        ServerProcess encrypted;
        QVERIFY(encrypted.start({"--metrics-listen", "127.0.0.1:0", "--no-web", "--tls-cert",
                                 certificates.pem("good"), "--tls-key", certificates.key("good")}));
        QSslSocket tls;
        QSslConfiguration trust = tls.sslConfiguration();
        trust.addCaCertificate(certificates.authority());
        tls.setSslConfiguration(trust);
        tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), encrypted.tlsPort());
        QVERIFY(tls.waitForEncrypted(5000));
        const QByteArray tlsStage = "{stage=\"" + QByteArray::number(encrypted.port()) + '"';
        QTRY_COMPARE(figure(body(get(encrypted.metricsPort(), "/metrics")),
                            "quandrel_connections" + tlsStage + ",kind=\"tls\"}"),
                     1.0);

        ServerProcess server;
        QVERIFY(server.start({"--metrics-listen", "127.0.0.1:0", "--ban-file", bans.fileName(),
                              "--max-per-address", "1", "--connect-rate", "0.01", "--connect-burst",
                              "2"}));
        const QByteArray stage = "{stage=\"" + QByteArray::number(server.port()) + '"';
        // What the figures should say: every reason and kind, step by step,
        // so that a refusal counted under another reason shows.
        std::map<QByteArray, double> want;
        for (const char *reason : {"name", "full", "shape", "budget", "waiting_pool", "ban",
                                   "cross_site", "flood", "cross_protocol"})
            want["quandrel_refusals_total" + stage + ",reason=\"" + reason + "\"}"] = 0;
        for (const char *kind : {"tcp", "tls", "websocket", "page"})
            want["quandrel_connections" + stage + ",kind=\"" + kind + "\"}"] = 0;
        QByteArray text;
        auto as = [&](const char *family, const char *label, const char *value, double now) {
            want[QByteArray(family) + stage + ',' + label + "=\"" + value + "\"}"] = now;
            return QTest::qWaitFor(
                [&] {
                    text = body(get(server.metricsPort(), "/metrics"));
                    return std::all_of(want.begin(), want.end(), [&](const auto &w) {
                        return figure(text, w.first) == w.second;
                    });
                },
                5000);
        };
        auto refused = [&](const char *reason, double now) {
            return as("quandrel_refusals_total", "reason", reason, now);
        };
        auto open = [&](const char *kind, double now) {
            return as("quandrel_connections", "kind", kind, now);
        };
        const auto shown = [&text] {
            return text.sliced(text.indexOf("# HELP quandrel_refusals"));
        };

        StagePeer plain(server.port());
        QCOMPARE(plain.join("Plain"), 0);
        QVERIFY2(open("tcp", 1), shown());
        QWebSocket web;
        web.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stage").arg(server.webPort())));
        QTRY_COMPARE_WITH_TIMEOUT(web.state(), QAbstractSocket::ConnectedState, 5000);
        QVERIFY2(open("websocket", 1), shown());
        QTcpSocket page;
        page.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(page.waitForConnected(5000));
        QVERIFY2(open("page", 1), shown());

        // From one address: the first stays, the second is over the group's
        // connections, the third over its connects.
        const QHostAddress crowd(QStringLiteral("127.0.0.3"));
        StagePeer first(server.port(), crowd);
        QVERIFY(first.isConnected());
        QVERIFY2(open("tcp", 2), shown());
        StagePeer second(server.port(), crowd);
        QVERIFY(second.waitForClose());
        QVERIFY2(refused("budget", 1), shown());
        StagePeer third(server.port(), crowd);
        QVERIFY(third.waitForClose());
        QVERIFY2(refused("flood", 1), shown());
        StagePeer banned(server.port(), QHostAddress(QStringLiteral("127.0.0.9")));
        QVERIFY(banned.waitForClose());
        QVERIFY2(refused("ban", 1), shown());
        StagePeer mallory(server.port());
        mallory.write(QByteArray("\x0AMallory\0", 9));
        QVERIFY(mallory.waitForClose());
        QVERIFY2(refused("ban", 2), shown());
        const QByteArray upgrade = "GET /stage HTTP/1.1\r\nConnection: Upgrade\r\n"
                                   "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(server.webPort()) + "\r\n";
        QVERIFY(fetch(server.webPort(), upgrade + host + "Origin: http://evil.example\r\n\r\n")
                    .startsWith("HTTP/1.1 403"));
        QVERIFY2(refused("cross_site", 1), shown());
        QVERIFY(fetch(server.webPort(), "GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n")
                    .startsWith("HTTP/1.1 421"));
        QVERIFY2(refused("shape", 1), shown());
        StagePeer browser(server.port());
        browser.write("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QVERIFY(browser.waitForClose());
        QVERIFY2(refused("cross_protocol", 1), shown());
    }

    void answersOnlyWhatItServes()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")}));
        const quint16 port = server.metricsPort();
        QVERIFY(get(port, "/").startsWith("HTTP/1.1 404 "));
        QVERIFY(fetch(port, "POST /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                    .startsWith("HTTP/1.1 405 "));
        QVERIFY(fetch(port, "nonsense\r\n\r\n").startsWith("HTTP/1.1 400 "));
        // Only its own names: a hostile name pointed at it reads nothing.
        for (const QByteArray host : {"evil.example", "127.0.0.1.evil.example", ""})
            QVERIFY2(fetch(port, "GET /metrics HTTP/1.1\r\nHost: " + host + "\r\n\r\n")
                         .startsWith("HTTP/1.1 421 "),
                     host);
        QVERIFY(fetch(port, "GET /metrics HTTP/1.1\r\nHost: localhost:" + QByteArray::number(port) +
                                "\r\n\r\n")
                    .startsWith("HTTP/1.1 200 "));
        const QByteArray head = fetch(port, "HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
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
