// SPDX-License-Identifier: MIT
#include "net/ServerAddress.h"

#include <QTest>

// What the user may type as a server address.
class TestServerAddress : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_APPLESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"
